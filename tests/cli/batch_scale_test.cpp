// `dorvane send` on larger batches against the demo service, whose own records are the witness: a
// batch run again after a stop pays only for what was not sent, and Ctrl+C with parallel uploads
// lets the running ones finish. The engine's rules behind them are tested in tests/service.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/json.h"
#include "net/http_client.h"
#include "support/process.h"
#include "support/support.h"

namespace {

using testing_support::RunResult;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

class BatchScaleTest : public ::testing::Test {
protected:
    BatchScaleTest() : service({"--task-ms", "20"}) {
        for (int i = 1; i <= 12; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "doc%02d.pdf", i);
            files.push_back(docs.file(name));
            testing_support::write_text(files.back(), "%PDF-1.4 " + std::string(name) + std::string(i * 37, 'x'));
        }
    }
    json::Value control(const std::string& call, const std::string& body = "") {
        const http::Response r = client.request(body.empty() ? "GET" : "POST", service.url() + "/__control/" + call,
                                                {{"Content-Type", "application/json"}}, {body.begin(), body.end()}, 20);
        EXPECT_EQ(r.status, 200) << call << " " << r.body;
        return r.status == 200 ? json::parse(r.body) : json::Value();
    }
    // The names of the files the service accepted since the last reset, oldest first.
    std::vector<std::string> accepted() {
        std::vector<std::string> names;
        const json::Array submissions = control("received").get("submissions").as_array();
        for (const auto& s : submissions)
            if (s.get("status").as_number() < 300) names.push_back(s.get_string("filename", ""));
        return names;
    }
    RunResult send(size_t count, std::vector<std::string> args, const std::function<bool(int)>& on_tick = nullptr) {
        args.insert(args.begin(), {testing_support::bin_path("dorvane"), "send", "--url", service.url(), "--key", "demo-key",
                                   "--operation", "ocr", "--results-dir", results.path(), "--pause-ms", "0", "--yes"});
        args.insert(args.end(), files.begin(), files.begin() + static_cast<long>(count));
        return testing_support::run_program(args, {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}}, 120, on_tick);
    }

    testing_support::DemoService service;
    http::Client client;
    testing_support::TempDir docs, results;
    std::vector<std::string> files;
};

// Credits run out at file 4 of 10; after buying credits the same command sends exactly files 4 to
// 10 and says so in the confirmation.
TEST_F(BatchScaleTest, RunAgainAfterStopPaysOnlyForWhatWasNotSent) {
    control("credits", "{\"credits\":3}");
    const RunResult first = send(10, {});
    EXPECT_EQ(first.exit_code, 2) << first.err;
    EXPECT_EQ(accepted().size(), 3u);

    control("reset", "{\"credits\":100}");
    const RunResult second = send(10, {"--json"});
    EXPECT_EQ(second.exit_code, 0) << second.err;
    const json::Value summary = json::parse(second.out);
    EXPECT_EQ(summary.get("already_sent"), json::Value(3));
    EXPECT_EQ(summary.get("succeeded"), json::Value(7));
    EXPECT_EQ(accepted(), (std::vector<std::string>{"doc04.pdf", "doc05.pdf", "doc06.pdf", "doc07.pdf", "doc08.pdf",
                                                    "doc09.pdf", "doc10.pdf"}));
    EXPECT_TRUE(contains(second.err, "3 arquivo(s) já foram enviados para esta operação e serão pulados.")) << second.err;

}

// Ctrl+C with four uploads under way (each task takes a second): they finish and are recorded,
// no other file starts, and the status is 130.
TEST_F(BatchScaleTest, ParallelInterruptLetsRunningUploadsFinish) {
    control("reset", "{\"credits\":100,\"task_ms\":1000}");
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = send(12, {"--parallel", "4", "--await"}, [&](int pid) {
        if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) return false;
        kill(pid, SIGINT);
        return true;
    });
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "] Cancelamento solicitado — aguardando o arquivo atual terminar...\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [CANCELADO] Envio interrompido pelo usuário.\n")) << r.err;
    const size_t at = r.err.find("Resultados salvos em ");
    ASSERT_NE(at, std::string::npos) << r.err;
    const auto log = testing_support::read_bytes(r.err.substr(at + 21, r.err.find('\n', at) - at - 21));
    const auto sent = accepted();
    EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), sent.size());
    EXPECT_GE(sent.size(), 4u);
    EXPECT_LT(sent.size(), 12u);
}

}  // namespace
