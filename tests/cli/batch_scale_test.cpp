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
#include "tools/demo_process.h"

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
            body.empty() ? client.request(L"GET", service.url() + "/__control/" + call, {}, {}, 20)
                         : client.request(L"POST", service.url() + "/__control/" + call,
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
    const RunResult second = send(files);
    EXPECT_EQ(second.exit_code, 0) << second.err;
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

}  // namespace
