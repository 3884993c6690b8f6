// The per-file pipeline against a real loopback service: checks before reading, retries and their
// back-off, stop reasons, cancellation, and the fingerprint of what was sent.
#include "batch_fixture.h"
#include "core/fileutils.h"
#include "core/sha256.h"

namespace batch_test {
namespace {

HttpReply dropped() {
    HttpReply r;
    r.drop = true;
    return r;
}

class PipelineTest : public EngineTest {
protected:
    UploadOutcome send(const std::string& path, const BatchUploader::Options& o) {
        return uploader.process_one(path, fileutils::base_name(path), 2, 4, o, callbacks());
    }
};

// Network errors, 408, 429 and 5xx are retried after the table's step for that attempt (its last
// step for every later one), as often as allowed; then the file fails with the last error.
TEST_F(PipelineTest, RetriesFollowTheBackoffTable) {
    const struct { HttpReply reply; int max_attempts; std::vector<int> waits; } rows[] = {
        {dropped(), 3, {2000, 8000}}, {json_reply(429, "{}"), 5, {2000, 8000, 30000, 30000}}, {json_reply(408, "{}"), 2, {2000}}};
    for (const auto& row : rows) {
        server.fail_next(100, row.reply);
        logs.clear();
        waits.clear();
        auto o = options();
        o.max_attempts = row.max_attempts;
        const UploadOutcome out = send(make_file("doc.pdf", 10), o);
        EXPECT_EQ(brief(out), "falhou failed " + std::to_string(row.max_attempts) + " " + out.error);
        EXPECT_EQ(waits, row.waits);
        std::vector<std::string> expected = {"[ENVIO] [2/4] doc.pdf (10 B)"};
        for (size_t i = 0; i < row.waits.size(); ++i) {
            expected.push_back("[RETRY] [2/4] " + out.error + " — nova tentativa em " + std::to_string(row.waits[i] / 1000) +
                               "s (" + std::to_string(i + 2) + "/" + std::to_string(row.max_attempts) + ")");
        }
        expected.push_back("[ERRO] [2/4] doc.pdf — " + out.error);
        EXPECT_EQ(logs, expected);
    }
    EXPECT_EQ(posts(), 10u);
}

TEST_F(PipelineTest, SuccessAfterARetryKeepsTheFirstError) {
    server.fail_next(1, json_reply(503, "{\"error\":\"ocupado\"}"));
    const UploadOutcome out = send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(brief(out), "ok pending 2 HTTP 503 — ocupado");
    EXPECT_EQ(out.task_id, "t-1");
    EXPECT_EQ(out.response.get_string("taskId", ""), "t-1");
    EXPECT_EQ(logs.back(), "[OK] [2/4] task t-1 (pending)");
    // No status: no parenthesis; no callbacks at all: no crash.
    server.handle("POST", "/api/operations", [](const HttpRequest&) { return json_reply(202, "{\"taskId\":\"abc\",\"status\":\"\"}"); });
    send(make_file("doc.pdf", 10), options());
    EXPECT_EQ(logs.back(), "[OK] [2/4] task abc");
    EXPECT_EQ(uploader.process_one(dir.file("doc.pdf"), "doc.pdf", 1, 1, options(), {}).result, OutcomeKind::Success);
}

// Failures that end the file at once, whatever attempts are left, and what they do to the batch.
TEST_F(PipelineTest, FinalFailuresTakeOneAttemptAndSetTheStop) {
    const struct { int status; const char *body, *error, *outcome_status, *stop_reason; } rows[] = {
        {404, "{\"error\":\"rota\"}", "HTTP 404 — rota", "failed", ""},
        {401, "{\"error\":\"chave\"}", "HTTP 401 — chave", "failed", "API Key inválida ou desativada — verifique a chave."},
        {402, "{\"error\":\"Saldo esgotado\",\"required\":5,\"remaining\":2}",
         "HTTP 402 — Saldo esgotado (necessário 5, disponível 2)", "failed", "Saldo esgotado (necessário 5, disponível 2)"},
        {402, "{}", "HTTP 402", "failed", "Créditos insuficientes para esta operação."},
        {500, "{\"taskId\":\"t-9\",\"status\":\"failed\",\"errorMessage\":\"ilegível\"}", "HTTP 400 — ilegível", "failed", ""},
        {409, "{\"taskId\":\"t-8\",\"status\":\"pending\"}", "HTTP 400", "pending", ""},
        {200, "{\"status\":\"pending\"}", "resposta inválida: resposta sem taskId", "pending", ""},
    };
    auto o = options();
    o.await_result = true;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        server.fail_next(1, json_reply(row.status, row.body));
        const size_t before = posts();
        BatchUploader fresh{&client};
        const UploadOutcome out = fresh.process_one(make_file("doc.pdf", 10), "doc.pdf", 1, 1, o, callbacks());
        EXPECT_EQ(brief(out), std::string("falhou ") + row.outcome_status + " 1 " + row.error);
        EXPECT_EQ(fresh.stop_reason, row.stop_reason);
        EXPECT_EQ(posts() - before, 1u);
        EXPECT_EQ(logs.back(), std::string("[ERRO] [1/1] doc.pdf — ") + row.error);
        EXPECT_EQ(out.task_id, json::parse(row.body).get_string("taskId", ""));
        EXPECT_NE(server.requests().back().body.find("name=\"awaitResult\"\r\n\r\ntrue\r\n"), std::string::npos);
    }
}

TEST_F(PipelineTest, CancellationAndNoAttemptsSendNothingMore) {
    auto o = options();
    o.max_attempts = 0;
    EXPECT_EQ(brief(send(make_file("doc.pdf", 10), o)), "falhou failed 0 ");
    EXPECT_EQ(logs, (std::vector<std::string>{"[ENVIO] [2/4] doc.pdf (10 B)"}));
    uploader.cancel_requested.store(true);
    EXPECT_EQ(brief(send(dir.file("doc.pdf"), options())), "pulado cancelled 0 cancelado antes do envio");
    EXPECT_EQ(server.request_count(), 0u);

    // Cancelled during the back-off: no second attempt.
    uploader.cancel_requested.store(false);
    server.fail_next(100, json_reply(503, "{}"));
    o = options();
    o.wait = [this](int, const std::atomic<bool>&) { uploader.cancel_requested.store(true); };
    EXPECT_EQ(brief(send(dir.file("doc.pdf"), o)), "pulado cancelled 1 cancelado antes do envio");
    EXPECT_EQ(logs.back(), "[RETRY] [2/4] HTTP 503 — nova tentativa em 2s (2/3)");
}

// Files refused before any request; a file of exactly the limit is sent.
TEST_F(PipelineTest, SizeLimitAndEmptiness) {
    ASSERT_TRUE(fileutils::create_directory(dir.file("pasta")));
    const struct { std::string path; const char* error; } rows[] = {
        {make_file("limite.pdf", 1000), ""},
        {make_file("grande.pdf", 1001), "excede o limite de 1000 B (tem 1001 B)"},
        {make_file("vazio.pdf", 0), "arquivo vazio ou inacessível"},
        {dir.file("ausente.pdf"), "arquivo vazio ou inacessível"},
        {dir.file("pasta"), "arquivo vazio ou inacessível"},
    };
    auto o = options();
    o.max_file_bytes = 1000;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        logs.clear();
        const UploadOutcome out = send(row.path, o);
        EXPECT_EQ(brief(out), *row.error ? std::string("pulado skipped 0 ") + row.error : "ok pending 1 ");
        if (*row.error) {
            EXPECT_EQ(logs, (std::vector<std::string>{"[PULADO] [2/4] " + fileutils::base_name(row.path) + " — " + row.error}));
        }
    }
    EXPECT_EQ(posts(), 1u);
}

// Above 1 MiB the digest is computed beside the first attempt: it must still be the digest of the
// bytes the service received, also when that attempt failed and a retry followed.
TEST_F(PipelineTest, LargeFileRecordsTheDigestOfTheBytesSent) {
    server.fail_next(1, json_reply(503, "{}"));
    const UploadOutcome out = send(make_file("grande.pdf", (3u << 20) + 5, 'g'), options());
    EXPECT_EQ(out.attempts, 2);
    EXPECT_EQ(out.size, (3u << 20) + 5);
    EXPECT_EQ(out.sha256, sha256::hex(std::string((3u << 20) + 5, 'g')));
}

}  // namespace
}  // namespace batch_test
