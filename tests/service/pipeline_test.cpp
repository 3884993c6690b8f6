// The per-file pipeline against a real loopback service: checks before reading, retries and their
// back-off, stop reasons, cancellation, and the exact form that reaches the server.
#include <chrono>
#include <thread>

#include "batch_fixture.h"
#include "core/fileutils.h"

namespace batch_test {
namespace {

using Clock = std::chrono::steady_clock;

HttpReply dropped() {
    HttpReply r;
    r.drop = true;
    return r;
}

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PipelineTest : public EngineTest {
protected:
    UploadOutcome send(const std::string& path, const BatchUploader::Options& o) {
        return uploader.process_one(path, fileutils::base_name(path), 1, 1, o, rec.callbacks());
    }
};

TEST(PipelineDefaults, BackoffTableIsTwoEightThirtySeconds) {
    EXPECT_EQ(cfg::RETRY_BACKOFF_MS, (std::vector<int>{2000, 8000, 30000}));
    BatchUploader::Options o;
    EXPECT_EQ(o.backoff_ms, cfg::RETRY_BACKOFF_MS);
    EXPECT_EQ(o.delay_between_files_ms, 500);
    EXPECT_EQ(o.max_attempts, 3);
    EXPECT_EQ(o.max_file_bytes, 52428800u);
}

TEST_F(PipelineTest, ThreeNetworkFailuresRetryTwiceThenFail) {
    server.fail_next(3, dropped());
    auto o = options();
    o.backoff_ms = {10, 1999};  // whole seconds, rounded down
    const auto start = Clock::now();
    const UploadOutcome out = send(make_file("doc.pdf", 10), o);
    EXPECT_GE(ms_since(start), 2000);  // both waits were served

    EXPECT_EQ(out.result, OutcomeKind::Failed);
    EXPECT_EQ(out.attempts, 3);
    EXPECT_EQ(out.status, "failed");
    EXPECT_EQ(out.error.rfind("rede: ", 0), 0u) << out.error;
    ASSERT_EQ(rec.logs.size(), 4u);
    EXPECT_EQ(rec.logs[0], "[ENVIO] [1/1] doc.pdf (10 B)");
    EXPECT_EQ(rec.logs[1], "[RETRY] [1/1] " + out.error + " — nova tentativa em 0s (2/3)");
    EXPECT_EQ(rec.logs[2], "[RETRY] [1/1] " + out.error + " — nova tentativa em 1s (3/3)");
    EXPECT_EQ(rec.logs[3], "[ERRO] [1/1] doc.pdf — " + out.error);
    EXPECT_EQ(submissions().size(), 3u);
}

// The product's table: the 2 s wait is served, and the batch is cancelled once the 8 s wait is
// announced, so the test costs 2 s instead of 10.
TEST_F(PipelineTest, DefaultTableAnnouncesTwoThenEightSeconds) {
    server.fail_next(100, dropped());
    BatchCallbacks c = rec.callbacks();
    c.log = [&](const std::string& line) {
        rec.logs.push_back(line);
        if (line.find("(3/3)") != std::string::npos) uploader.cancel_requested.store(true);
    };
    auto o = options();
    o.backoff_ms = cfg::RETRY_BACKOFF_MS;
    const auto start = Clock::now();
    const UploadOutcome out = uploader.process_one(make_file("doc.pdf", 10), "doc.pdf", 2, 4, o, c);
    EXPECT_GE(ms_since(start), 2000);
    EXPECT_LT(ms_since(start), 7000);
    ASSERT_EQ(rec.logs.size(), 3u);
    EXPECT_EQ(rec.logs[1].rfind("[RETRY] [2/4] rede: ", 0), 0u) << rec.logs[1];
    EXPECT_NE(rec.logs[1].find(" — nova tentativa em 2s (2/3)"), std::string::npos) << rec.logs[1];
    EXPECT_NE(rec.logs[2].find(" — nova tentativa em 8s (3/3)"), std::string::npos) << rec.logs[2];
    EXPECT_EQ(out.attempts, 2);
    EXPECT_EQ(out.status, "cancelled");
}

TEST_F(PipelineTest, UnavailableThenSuccessKeepsFirstError) {
    server.fail_next(1, json_reply(503, "{\"error\":\"ocupado\"}"));
    const UploadOutcome out = send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(out.result, OutcomeKind::Success);
    EXPECT_EQ(out.attempts, 2);
    EXPECT_EQ(out.error, "HTTP 503 — ocupado");
    EXPECT_EQ(out.task_id, "t-1");
    EXPECT_EQ(out.status, "pending");
    EXPECT_EQ(out.response.get_string("taskId", ""), "t-1");
    ASSERT_EQ(rec.logs.size(), 3u);
    EXPECT_EQ(rec.logs[1], "[RETRY] [1/1] HTTP 503 — ocupado — nova tentativa em 0s (2/3)");
    EXPECT_EQ(rec.logs[2], "[OK] [1/1] task t-1 (pending)");
}

TEST_F(PipelineTest, SuccessWithoutStatusHasNoParenthesis) {
    server.handle("POST", "/api/operations",
                  [](const HttpRequest&) { return json_reply(202, "{\"taskId\":\"abc\",\"status\":\"\"}"); });
    const UploadOutcome out = send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(out.result, OutcomeKind::Success);
    EXPECT_EQ(out.status, "");
    EXPECT_EQ(rec.logs.back(), "[OK] [1/1] task abc");
}

// Failures that end the file at once, whatever attempts are left.
struct FinalFailure {
    const char* label;
    int status;
    const char* body;
    const char* error;
    const char* outcome_status;
    const char* stop_reason;
};

class FinalFailureTest : public PipelineTest, public ::testing::WithParamInterface<FinalFailure> {};

TEST_P(FinalFailureTest, OneAttemptAndTheRightStop) {
    const FinalFailure& c = GetParam();
    server.handle("POST", "/api/operations", [&](const HttpRequest&) { return json_reply(c.status, c.body); });
    const UploadOutcome out = send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(out.result, OutcomeKind::Failed);
    EXPECT_EQ(out.attempts, 1);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.status, c.outcome_status);
    EXPECT_EQ(uploader.stop_reason, c.stop_reason);
    EXPECT_EQ(submissions().size(), 1u);
    EXPECT_EQ(rec.logs.back(), std::string("[ERRO] [1/1] doc.pdf — ") + c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FinalFailureTest,
    ::testing::Values(
        FinalFailure{"NotFound", 404, "{\"error\":\"rota\"}", "HTTP 404 — rota", "failed", ""},
        FinalFailure{"InvalidKey", 401, "{\"error\":\"chave\"}", "HTTP 401 — chave", "failed",
                     "API Key inválida ou desativada — verifique a chave."},
        FinalFailure{"NoCreditsWithMessage", 402, "{\"error\":\"Saldo esgotado\",\"required\":5,\"remaining\":2}",
                     "HTTP 402 — Saldo esgotado (necessário 5, disponível 2)", "failed",
                     "Saldo esgotado (necessário 5, disponível 2)"},
        FinalFailure{"NoCreditsWithoutMessage", 402, "{}", "HTTP 402", "failed",
                     "Créditos insuficientes para esta operação."},
        FinalFailure{"FailedTask", 500, "{\"taskId\":\"t-9\",\"status\":\"failed\",\"errorMessage\":\"página ilegível\"}",
                     "HTTP 400 — página ilegível", "failed", ""},
        FinalFailure{"FailedTaskStillPending", 409, "{\"taskId\":\"t-8\",\"status\":\"pending\"}", "HTTP 400",
                     "pending", ""},
        FinalFailure{"NoTaskId", 200, "{\"status\":\"pending\"}", "resposta inválida: resposta sem taskId",
                     "pending", ""}),
    [](const ::testing::TestParamInfo<FinalFailure>& i) { return std::string(i.param.label); });

TEST_F(PipelineTest, FailedSynchronousTaskKeepsTaskAndAnswer) {
    server.handle("POST", "/api/operations", [](const HttpRequest&) {
        return json_reply(422, "{\"taskId\":\"t-9\",\"status\":\"failed\",\"errorMessage\":\"página ilegível\"}");
    });
    auto o = options();
    o.await_result = true;
    const UploadOutcome out = send(make_file("doc.pdf", 10), o);
    EXPECT_EQ(out.task_id, "t-9");
    EXPECT_EQ(out.response.get_string("errorMessage", ""), "página ilegível");
    ASSERT_EQ(submissions().size(), 1u);
    EXPECT_NE(submissions()[0].body.find("name=\"awaitResult\"\r\n\r\ntrue\r\n"), std::string::npos);
}

TEST_F(PipelineTest, RetryableFailureStopsRetryingAtMaxAttempts) {
    server.fail_next(100, json_reply(429, "{}"));
    auto o = options();
    o.max_attempts = 5;
    o.backoff_ms = {1};
    const UploadOutcome out = send(make_file("doc.pdf", 10), o);
    EXPECT_EQ(out.attempts, 5);
    EXPECT_EQ(out.error, "HTTP 429");
    EXPECT_EQ(rec.logs[4], "[RETRY] [1/1] HTTP 429 — nova tentativa em 0s (5/5)");
}

TEST_F(PipelineTest, NoAttemptsAllowedSendsNothing) {
    auto o = options();
    o.max_attempts = 0;
    const UploadOutcome out = send(make_file("doc.pdf", 10), o);
    EXPECT_EQ(out.result, OutcomeKind::Failed);
    EXPECT_EQ(out.status, "failed");
    EXPECT_EQ(out.attempts, 0);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(rec.logs, (std::vector<std::string>{"[ENVIO] [1/1] doc.pdf (10 B)"}));
    EXPECT_EQ(server.request_count(), 0u);
}

TEST_F(PipelineTest, CancelDuringThirtySecondBackoffEndsPromptly) {
    server.fail_next(100, json_reply(503, "{}"));
    auto o = options();
    o.backoff_ms = {30000, 30000, 30000};
    const std::string path = make_file("doc.pdf", 10);
    UploadOutcome out;
    std::thread worker([&] { out = send(path, o); });
    const auto wait_start = Clock::now();
    while (!rec.logged_prefix("[RETRY]") && ms_since(wait_start) < 20000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well inside the wait
    const auto cancelled_at = Clock::now();
    uploader.cancel_requested.store(true);
    worker.join();
    EXPECT_LT(ms_since(cancelled_at), 3000);  // about one 100 ms slice; generous for slow machines
    EXPECT_EQ(out.result, OutcomeKind::Skipped);
    EXPECT_EQ(out.status, "cancelled");
    EXPECT_EQ(out.error, "cancelado antes do envio");
    EXPECT_EQ(out.attempts, 1);
    EXPECT_EQ(rec.log_copy().back(), "[RETRY] [1/1] HTTP 503 — nova tentativa em 30s (2/3)");
}

TEST_F(PipelineTest, CancelBeforeFirstAttemptSendsNothing) {
    uploader.cancel_requested.store(true);
    const UploadOutcome out = send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(out.result, OutcomeKind::Skipped);
    EXPECT_EQ(out.status, "cancelled");
    EXPECT_EQ(out.attempts, 0);
    EXPECT_EQ(server.request_count(), 0u);
}

// Files refused before any request; a file of exactly the limit is sent.
struct SizeCase {
    const char* label;
    long long size;  // -1: no file at all, -2: a folder
    OutcomeKind result;
    const char* error;
};

class SizeTest : public PipelineTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeTest, LimitAndEmptiness) {
    const SizeCase& c = GetParam();
    std::string path = dir.file("doc.pdf");
    if (c.size >= 0) path = make_file("doc.pdf", static_cast<size_t>(c.size));
    if (c.size == -2) {
        path = dir.file("pasta");
        ASSERT_TRUE(fileutils::create_directory(path));
    }
    auto o = options();
    o.max_file_bytes = 1000;
    const UploadOutcome out = send(path, o);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.attempts, c.result == OutcomeKind::Success ? 1 : 0);
    if (c.result == OutcomeKind::Skipped) {
        EXPECT_EQ(out.status, "skipped");
        EXPECT_EQ(rec.logs, (std::vector<std::string>{"[PULADO] [1/1] " + fileutils::base_name(path) +
                                                      " — " + c.error}));
        EXPECT_EQ(server.request_count(), 0u);
    } else {
        ASSERT_EQ(submissions().size(), 1u);
        EXPECT_NE(submissions()[0].body.find(std::string(1000, 'x')), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SizeTest,
    ::testing::Values(SizeCase{"ExactlyTheLimit", 1000, OutcomeKind::Success, ""},
                      SizeCase{"OneByteMore", 1001, OutcomeKind::Skipped, "excede o limite de 1000 B (tem 1001 B)"},
                      SizeCase{"Empty", 0, OutcomeKind::Skipped, "arquivo vazio ou inacessível"},
                      SizeCase{"Missing", -1, OutcomeKind::Skipped, "arquivo vazio ou inacessível"},
                      SizeCase{"Folder", -2, OutcomeKind::Skipped, "arquivo vazio ou inacessível"}),
    [](const ::testing::TestParamInfo<SizeCase>& i) { return std::string(i.param.label); });

// The form on the wire, byte for byte, with a non-ASCII name and content that looks like framing.
TEST_F(PipelineTest, MultipartBodyIsExactOnEveryAttempt) {
    server.fail_next(1, json_reply(500, "{}"));
    const std::string name = "relatório ção — 1.pdf";
    std::string content = "%PDF-1.4\r\n--";
    content += std::string("\0\x01\xff\r\n", 5);
    const std::string path = dir.file(name);
    testing_support::write_text(path, content);

    const UploadOutcome out = send(path, options());
    ASSERT_EQ(out.result, OutcomeKind::Success);
    const auto posts = submissions();
    ASSERT_EQ(posts.size(), 2u);
    for (const auto& req : posts) {
        EXPECT_EQ(req.target, "/api/operations");
        EXPECT_EQ(req.header("x-api-key"), "chave-teste");
        const std::string type = req.header("Content-Type");
        const std::string prefix = "multipart/form-data; boundary=";
        ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
        const std::string b = type.substr(prefix.size());
        const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"awaitResult\"\r\n\r\nfalse\r\n" +
                                     "--" + b + "\r\nContent-Disposition: form-data; name=\"operation\"\r\n\r\nocr\r\n" +
                                     "--" + b + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name +
                                     "\"\r\nContent-Type: application/pdf\r\n\r\n" + content + "\r\n--" + b + "--\r\n";
        EXPECT_EQ(req.body, expected);
    }
}

TEST_F(PipelineTest, WorksWithoutCallbacks) {
    server.fail_next(1, json_reply(503, "{}"));
    const std::string path = make_file("doc.pdf", 10);
    const UploadOutcome out = uploader.process_one(path, "doc.pdf", 1, 1, options(), BatchCallbacks{});
    EXPECT_EQ(out.result, OutcomeKind::Success);
    EXPECT_EQ(out.attempts, 2);
}

}  // namespace
}  // namespace batch_test
