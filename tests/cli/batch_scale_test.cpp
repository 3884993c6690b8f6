// `dorvane send` on large batches against the demo service: a batch run again after a stop pays
// only for what was not sent, parallel uploads send every file once, and the service's pacing
// (Retry-After) is honoured. The service's own records are the witness.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/json.h"
#include "core/sha256.h"
#include "files/scan.h"
#include "net/http_client.h"
#include "support/support.h"
#include "support/process.h"

namespace {

using testing_support::bin_path;
using testing_support::DemoService;
using testing_support::RunResult;
using testing_support::TempDir;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        out.push_back(text.substr(start, nl - start));
    }
    return out;
}

std::string read_text(const std::string& path) {
    const auto b = testing_support::read_bytes(path);
    return std::string(b.begin(), b.end());
}

class BatchScaleTest : public ::testing::Test {
protected:
    explicit BatchScaleTest(std::vector<std::string> args = {"--task-ms", "20"}) : service(args) {}

    json::Value control(const std::string& call, const std::string& body = "") {
        const http::Response r =
            body.empty() ? client.request("GET", service.url() + "/__control/" + call, {}, {}, 20)
                         : client.request("POST", service.url() + "/__control/" + call,
                                          {{"Content-Type", "application/json"}},
                                          std::vector<uint8_t>(body.begin(), body.end()), 20);
        EXPECT_EQ(r.status, 200) << call << " " << r.body;
        return r.status == 200 ? json::parse(r.body) : json::Value();
    }
    // The submissions the service received since the last reset, oldest first.
    json::Array submissions() { return control("received").get("submissions").as_array(); }
    std::vector<std::string> accepted_names() {
        std::vector<std::string> names;
        for (const auto& s : submissions()) {
            if (s.get("status").as_number() < 300) names.push_back(s.get_string("filename", ""));
        }
        return names;
    }

    std::vector<std::string> make_docs(int n) {
        std::vector<std::string> paths;
        for (int i = 1; i <= n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "doc%02d.pdf", i);
            paths.push_back(docs.file(name));
            testing_support::write_text(paths.back(), "%PDF-1.4 documento " + std::string(name) + std::string(i * 37, 'x'));
        }
        return paths;
    }

    RunResult send(const std::vector<std::string>& files, std::vector<std::string> extra = {},
                   std::function<bool(int)> on_tick = nullptr) {
        std::vector<std::string> argv = {bin_path("dorvane"), "send",          "--url",    service.url(),
                                         "--key",             "demo-key",      "--operation", "ocr",
                                         "--results-dir",     results.path(), "--pause-ms", "0",
                                         "--yes"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.insert(argv.end(), files.begin(), files.end());
        // Each run gets its own results file: names carry the second they were made.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        return testing_support::run_program(argv, {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}}, 120, on_tick);
    }

    // The records of the newest results file.
    std::vector<json::Value> last_records() {
        std::vector<std::string> names;
        for (const auto& e : fileutils::list_dir(fileutils::join(results.path(), "dorvane_results"))) {
            if (e.name.size() > 6 && e.name.compare(e.name.size() - 6, 6, ".jsonl") == 0) names.push_back(e.name);
        }
        std::sort(names.begin(), names.end());
        std::vector<json::Value> out;
        if (names.empty()) return out;
        for (const auto& l : lines_of(read_text(fileutils::join(fileutils::join(results.path(), "dorvane_results"),
                                                                 names.back())))) {
            out.push_back(json::parse(l));
        }
        return out;
    }

    DemoService service;
    http::Client client;
    TempDir docs;
    TempDir results;
};

// The issue's scenario: credits run out at file 4 of 10; after buying credits the same command
// sends exactly files 4 to 10; a file changed since its upload goes again; --resend sends all.
TEST_F(BatchScaleTest, RunAgainAfterStopPaysOnlyForWhatWasNotSent) {
    const auto files = make_docs(10);
    control("credits", "{\"credits\":3}");
    const RunResult first = send(files);
    EXPECT_EQ(first.exit_code, 2) << first.err;
    std::map<std::string, std::string> first_tasks;
    for (const auto& r : last_records()) {
        if (r.get("success").as_bool()) first_tasks[r.get_string("file", "")] = r.get_string("taskId", "");
    }
    ASSERT_EQ(first_tasks.size(), 3u);

    control("reset", "{\"credits\":100}");
    const RunResult second = send(files, {"--json"});
    EXPECT_EQ(second.exit_code, 0) << second.err;
    const json::Value summary = json::parse(second.out);
    EXPECT_EQ(summary.get("already_sent"), json::Value(3));
    EXPECT_EQ(summary.get("succeeded"), json::Value(7));
    EXPECT_EQ(accepted_names(), (std::vector<std::string>{"doc04.pdf", "doc05.pdf", "doc06.pdf", "doc07.pdf",
                                                          "doc08.pdf", "doc09.pdf", "doc10.pdf"}));
    EXPECT_TRUE(contains(second.err, "3 arquivo(s) já foram enviados para esta operação e serão pulados.")) << second.err;
    EXPECT_TRUE(contains(second.err, "Custo estimado: 7 crédito(s)")) << second.err;
    EXPECT_TRUE(contains(second.err, "[PULADO] [2/10] doc02.pdf — já enviado em ")) << second.err;
    EXPECT_TRUE(contains(second.err, "(task " + first_tasks[files[1]] + ")")) << second.err;
    const auto records = last_records();
    ASSERT_EQ(records.size(), 10u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].get_string("status", ""), "already-sent");
        EXPECT_EQ(records[i].get_string("taskId", ""), first_tasks[files[i]]);
    }

    testing_support::write_text(files[1], read_text(files[1]).replace(10, 1, "#"));  // same size, other bytes
    control("reset", "{\"credits\":100}");
    const RunResult third = send(files);
    EXPECT_EQ(third.exit_code, 0) << third.err;
    EXPECT_EQ(accepted_names(), (std::vector<std::string>{"doc02.pdf"}));

    control("reset", "{\"credits\":100}");
    const RunResult again = send(files, {"--resend"});
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(accepted_names().size(), 10u);
    EXPECT_FALSE(contains(again.err, "já foram enviados")) << again.err;
}

// Twelve files, four at a time, each task taking a second: every file reaches the service once
// and whole, the results log holds twelve strict JSON lines, and the credits add up.
TEST_F(BatchScaleTest, ParallelUploadsSendEveryFileOnceAndWhole) {
    const auto files = make_docs(12);
    control("reset", "{\"credits\":100,\"task_ms\":1000}");
    const RunResult r = send(files, {"--parallel", "4", "--await"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "[FIM] 12 enviado(s), 0 com erro, 0 pulado(s) de 12.")) << r.err;
    std::map<std::string, std::string> digests;
    for (const auto& s : submissions()) {
        EXPECT_EQ(s.get("status").as_number(), 200);
        EXPECT_TRUE(digests.emplace(s.get_string("filename", ""), s.get_string("sha256", "")).second)
            << "sent twice: " << s.get_string("filename", "");
    }
    ASSERT_EQ(digests.size(), 12u);
    for (const auto& f : files) EXPECT_EQ(digests[fileutils::base_name(f)], sha256::hex(read_text(f))) << f;
    EXPECT_EQ(control("received").get("credits").as_number(), 100 - 12);

    const std::string results_dir = fileutils::join(results.path(), "dorvane_results");
    const RunResult strict = testing_support::run_program(
        {"/usr/bin/python3", "-c",
         "import glob,json,sys\n"
         "def no(c): raise ValueError(c)\n"
         "[p] = glob.glob(sys.argv[1] + '/*.jsonl')\n"
         "lines = open(p, encoding='utf-8').read().split('\\n')\n"
         "assert lines[-1] == '', 'last line without a line feed'\n"
         "recs = [json.loads(l, parse_constant=no) for l in lines[:-1]]\n"
         "assert sorted(r['file'] for r in recs) == sorted(sys.argv[2:]), 'files differ'\n"
         "assert all(r['success'] and len(r['sha256']) == 64 for r in recs)\n"
         "print(len(recs))\n",
         results_dir, files[0], files[1], files[2], files[3], files[4], files[5], files[6], files[7], files[8],
         files[9], files[10], files[11]});
    EXPECT_EQ(strict.exit_code, 0) << strict.err;
    EXPECT_EQ(strict.out, "12\n");
}

// Credits for five: the workers stop taking files at the first 402; whatever was started is
// recorded once, nothing else is, and the service charged exactly the files it accepted.
TEST_F(BatchScaleTest, ParallelStopOnNoCreditsStartsNoMoreFiles) {
    const auto files = make_docs(12);
    control("reset", "{\"credits\":5,\"task_ms\":1000}");
    const RunResult r = send(files, {"--parallel", "4", "--await"});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "[PARADA] ")) << r.err;
    const json::Array subs = submissions();
    const auto records = last_records();
    EXPECT_EQ(records.size(), subs.size());
    EXPECT_LT(subs.size(), 12u);
    EXPECT_EQ(accepted_names().size(), 5u);
    EXPECT_EQ(control("received").get("credits").as_number(), 0);
    int succeeded = 0;
    for (const auto& rec : records) succeeded += rec.get("success").as_bool();
    EXPECT_EQ(succeeded, 5);
    EXPECT_TRUE(contains(r.err, "[FIM] 5 enviado(s), " + std::to_string(records.size() - 5) + " com erro, 0 pulado(s) de 12."))
        << r.err;
}

// Ctrl+C with four uploads under way: they finish and are recorded, no other file starts.
TEST_F(BatchScaleTest, ParallelInterruptLetsRunningUploadsFinish) {
    const auto files = make_docs(12);
    control("reset", "{\"credits\":100,\"task_ms\":1000}");
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = send(files, {"--parallel", "4", "--await"}, [&](int pid) {
        if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1100 + 1500)) return false;
        kill(pid, SIGINT);
        return true;
    });
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "[CANCELADO] Envio interrompido pelo usuário.")) << r.err;
    const auto records = last_records();
    const auto accepted = accepted_names();
    EXPECT_EQ(records.size(), accepted.size());
    EXPECT_GE(accepted.size(), 4u);
    EXPECT_LT(accepted.size(), 12u);
    for (const auto& rec : records) EXPECT_TRUE(rec.get("success").as_bool()) << json::stringify(rec);
}

// The whole road of the service's pacing: the demo service's 503 carries Retry-After, the client
// reads it from the answer's headers and waits that long instead of the 2 s back-off step.
TEST_F(BatchScaleTest, ServiceRetryAfterSetsTheWait) {
    const auto files = make_docs(1);
    control("faults", "{\"method\":\"POST\",\"status\":503,\"headers\":{\"Retry-After\":\"3\"}}");
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = send(files);
    const auto took = std::chrono::steady_clock::now() - start - std::chrono::milliseconds(1100);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "] [RETRY] [1/1] HTTP 503 — falha simulada (HTTP 503) — nova tentativa em 3s (2/3)\n"))
        << r.err;
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_EQ(accepted_names().size(), 1u);
}

}  // namespace
