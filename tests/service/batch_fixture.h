// Shared ground for the batch engine tests: a loopback service that accepts submissions, a temp
// folder, callbacks that record what the engine reports, and a wait that records instead of sleeping.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "service/api_client.h"
#include "service/batch_uploader.h"
#include "support/support.h"
#include "support/test_server.h"

namespace batch_test {

using dorvane::BatchCallbacks;
using dorvane::BatchUploader;
using dorvane::OutcomeKind;
using dorvane::UploadOutcome;
using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;

// Result, status, attempts and error of an outcome, to compare at once.
inline std::string brief(const UploadOutcome& o) {
    static const char* const kinds[] = {"ok", "falhou", "pulado"};
    return std::string(kinds[static_cast<int>(o.result)]) + " " + o.status + " " + std::to_string(o.attempts) + " " + o.error;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        client.set_credentials(server.url(), "chave-teste");
        server.handle("POST", "/api/operations", [this](const HttpRequest&) {
            return json_reply(200, "{\"taskId\":\"t-" + std::to_string(++accepted) + "\",\"status\":\"pending\"}");
        });
    }
    // The product's defaults, except the pause between files, and waits that only record.
    BatchUploader::Options options() {
        BatchUploader::Options o;
        o.operation_code = "ocr";
        o.results_dir = dir.path();
        o.delay_between_files_ms = 0;
        o.wait = [this](int ms, const std::atomic<bool>&) { add(waits, ms); };
        return o;
    }
    BatchCallbacks callbacks() {
        BatchCallbacks c;
        c.log = [this](const std::string& s) { add(logs, s); };
        c.status = [this](const std::string& s) { add(statuses, s); };
        c.progress = [this](int d, int t) { add(progress, std::to_string(d) + "/" + std::to_string(t)); };
        return c;
    }
    template <class T>
    void add(std::vector<T>& list, const T& item) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(item);
    }
    std::string make_file(const std::string& name, size_t size, char fill = 'x') {
        testing_support::write_text(dir.file(name), std::string(size, fill));
        return dir.file(name);
    }
    size_t posts() const {
        size_t n = 0;
        for (const auto& r : server.requests()) n += r.method == "POST";
        return n;
    }

    testing_support::TestServer server;
    testing_support::TempDir dir;
    dorvane::ApiClient client;
    BatchUploader uploader{&client};
    std::atomic<int> accepted{0};
    std::mutex mutex;
    std::vector<std::string> logs, statuses, progress;
    std::vector<int> waits;
};

}  // namespace batch_test
