// The batch loop: callbacks in order, the stop rules, cancellation in the pause, and what the
// results files hold afterwards.
#include <chrono>
#include <thread>

#include "batch_fixture.h"
#include "core/fileutils.h"
#include "core/json.h"
#include "core/sha256.h"

namespace batch_test {
namespace {

using Clock = std::chrono::steady_clock;
using testing_support::read_bytes;

std::string read_text(const std::string& path) {
    const auto b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        out.push_back(text.substr(start, nl - start));
    }
    EXPECT_EQ(start, text.size()) << "last line without a line feed";
    return out;
}

std::string json_twin(const std::string& jsonl) { return jsonl.substr(0, jsonl.size() - 1); }

// "2024-01-31T14:25:01": local time, ISO 8601, no zone.
bool is_local_iso_time(const std::string& s) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd";
    if (s.size() != shape.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (shape[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != shape[i]) return false;
    }
    return true;
}

class BatchRunTest : public EngineTest {
protected:
    std::vector<std::string> make_files(int n) {
        std::vector<std::string> paths;
        for (int i = 1; i <= n; ++i) paths.push_back(make_file("doc" + std::to_string(i) + ".pdf", 10 + i));
        return paths;
    }
};

TEST_F(BatchRunTest, EmptyListLeavesEmptyLogAndNoArray) {
    const auto s = uploader.run({}, options(), rec.callbacks());
    EXPECT_EQ(s.total, 0);
    EXPECT_EQ(s.succeeded + s.failed + s.skipped, 0);
    EXPECT_FALSE(s.cancelled);
    EXPECT_FALSE(s.stopped);
    EXPECT_EQ(rec.progress, (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_TRUE(rec.statuses.empty());
    EXPECT_TRUE(rec.done.empty());
    EXPECT_TRUE(rec.logs.empty());

    const std::string folder = fileutils::join(dir.path(), "dorvane_results");
    ASSERT_EQ(s.results_path.rfind(fileutils::join(folder, "resultados_"), 0), 0u) << s.results_path;
    EXPECT_EQ(s.results_path.size(), fileutils::join(folder, "resultados_20240131_142501.jsonl").size());
    uint64_t size = 1;
    ASSERT_TRUE(fileutils::file_size(s.results_path, size));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(fileutils::exists(json_twin(s.results_path)));
}

TEST_F(BatchRunTest, ThreeFilesReportInOrderAndLeaveBothFiles) {
    const auto paths = make_files(3);
    const auto s = uploader.run(paths, options(), rec.callbacks());
    EXPECT_EQ(s.total, 3);
    EXPECT_EQ(s.succeeded, 3);
    EXPECT_EQ(rec.statuses, (std::vector<std::string>{"Enviando 1/3: doc1.pdf", "Enviando 2/3: doc2.pdf",
                                                      "Enviando 3/3: doc3.pdf"}));
    EXPECT_EQ(rec.progress, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    ASSERT_EQ(rec.done.size(), 3u);
    EXPECT_EQ(rec.done[2].name, "doc3.pdf");

    const auto lines = lines_of(read_text(s.results_path));
    ASSERT_EQ(lines.size(), 3u);
    // The fingerprint follows the original fields, in its own order, and names the bytes sent.
    const std::string content = read_text(paths[0]);
    const std::string head = "{\"attempts\":1,\"file\":" + json::stringify(json::Value(paths[0])) +
                             ",\"response\":{\"status\":\"pending\",\"taskId\":\"t-1\"},\"status\":\"pending\","
                             "\"success\":true,\"taskId\":\"t-1\",\"operation\":\"ocr\",\"size\":" +
                             std::to_string(content.size()) + ",\"sha256\":\"" + sha256::hex(content) + "\",\"sentAt\":\"";
    EXPECT_EQ(lines[0].substr(0, head.size()), head);
    EXPECT_TRUE(is_local_iso_time(json::parse(lines[0]).get_string("sentAt", ""))) << lines[0];
    const json::Value array = json::parse(read_text(json_twin(s.results_path)));
    ASSERT_TRUE(array.is_array());
    ASSERT_EQ(array.as_array().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(array.as_array()[i], json::parse(lines[i]));
        EXPECT_EQ(array.as_array()[i].get_string("file", ""), paths[i]);
    }
    EXPECT_NE(read_text(json_twin(s.results_path)).find("\"taskId\": \"t-1\",\n    \"operation\": \"ocr\",\n    \"size\": "),
              std::string::npos);
}

TEST_F(BatchRunTest, InvalidKeyOnSecondOfFiveStopsTheBatch) {
    server.handle("POST", "/api/operations", [this](const HttpRequest&) {
        if (++accepted == 2) return json_reply(401, "{\"error\":\"chave revogada\"}");
        return json_reply(200, "{\"taskId\":\"t\"}");
    });
    const auto s = uploader.run(make_files(5), options(), rec.callbacks());
    EXPECT_TRUE(s.stopped);
    EXPECT_FALSE(s.cancelled);
    EXPECT_EQ(s.stop_reason, "API Key inválida ou desativada — verifique a chave.");
    EXPECT_EQ(s.succeeded, 1);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(s.succeeded + s.failed + s.skipped, 2);
    EXPECT_EQ(submissions().size(), 2u);
    EXPECT_EQ(rec.logs.back(), "[PARADA] API Key inválida ou desativada — verifique a chave.");
    EXPECT_EQ(rec.statuses.size(), 2u);
    EXPECT_EQ(rec.progress.back(), (std::pair<int, int>{5, 5}));
    EXPECT_EQ(lines_of(read_text(s.results_path)).size(), 2u);
}

TEST_F(BatchRunTest, FailuresAndSkipsDoNotEndTheBatch) {
    server.fail_next(1, json_reply(404, "{}"));
    auto paths = make_files(2);
    paths.insert(paths.begin() + 1, dir.file("ausente.pdf"));
    const auto s = uploader.run(paths, options(), rec.callbacks());
    EXPECT_EQ(s.total, 3);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(s.skipped, 1);
    EXPECT_EQ(s.succeeded, 1);
    const auto lines = lines_of(read_text(s.results_path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "{\"attempts\":0,\"error\":\"arquivo vazio ou inacessível\",\"file\":" +
                            json::stringify(json::Value(paths[1])) +
                            ",\"status\":\"skipped\",\"success\":false,\"taskId\":\"\",\"operation\":\"ocr\"}");
}

TEST_F(BatchRunTest, CancelDuringPauseEndsItPromptly) {
    auto o = options();
    o.delay_between_files_ms = 60000;
    const auto paths = make_files(3);
    dorvane::BatchUploader::Summary s;
    std::thread worker([&] { s = uploader.run(paths, o, rec.callbacks()); });
    const auto start = Clock::now();
    while (accepted.load() < 1 && Clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cancelled_at = Clock::now();
    uploader.cancel_requested.store(true);
    worker.join();
    EXPECT_LT(Clock::now() - cancelled_at, std::chrono::seconds(3));
    EXPECT_TRUE(s.cancelled);
    EXPECT_EQ(s.succeeded, 1);
    EXPECT_EQ(s.succeeded + s.failed + s.skipped, 1);
    EXPECT_EQ(rec.logs.back(), "[CANCELADO] Envio interrompido pelo usuário.");
    EXPECT_EQ(rec.progress.back(), (std::pair<int, int>{3, 3}));
}

TEST_F(BatchRunTest, CancelBeforeRunIsDiscarded) {
    uploader.cancel_requested.store(true);
    const auto s = uploader.run(make_files(2), options(), rec.callbacks());
    EXPECT_FALSE(s.cancelled);
    EXPECT_EQ(s.succeeded, 2);
}

// A results folder that cannot be made: the window's batch warns and sends anyway, the command
// line's (require_results_file) sends nothing. Neither reports the missing file as saved.
TEST_F(BatchRunTest, UnwritableResultsFolderWarnsOrRefuses) {
    for (const bool required : {false, true}) {
        SCOPED_TRACE(required);
        Recorder r;
        BatchUploader u{&client};
        const std::string blocker = make_file("bloqueio", 1);  // a file where a folder should be
        auto o = options();
        o.results_dir = blocker;
        o.require_results_file = required;
        const size_t before = submissions().size();
        const auto s = u.run(make_files(2), o, r.callbacks());
        EXPECT_EQ(s.results_path.rfind(fileutils::join(fileutils::join(blocker, "dorvane_results"), "resultados_"), 0),
                  0u);
        EXPECT_FALSE(fileutils::exists(s.results_path));
        EXPECT_FALSE(s.results_saved);
        EXPECT_FALSE(s.results_error.empty());
        EXPECT_EQ(s.refused, required);
        EXPECT_EQ(s.succeeded, required ? 0 : 2);
        EXPECT_EQ(submissions().size() - before, required ? 0u : 2u);
        if (!required) {
            ASSERT_FALSE(r.logs.empty());
            EXPECT_EQ(r.logs[0], "[AVISO] Não foi possível criar o arquivo de resultados em " + s.results_path);
        }
    }
}

}  // namespace
}  // namespace batch_test
