// Shared ground for the batch engine tests: a loopback service that accepts submissions, a temp
// folder for documents and results, and callbacks that record everything the engine reports.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
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

// What the engine reported, guarded because cancellation tests run the engine on a second thread.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> logs;
    std::vector<std::string> statuses;
    std::vector<std::pair<int, int>> progress;
    std::vector<UploadOutcome> done;

    BatchCallbacks callbacks() {
        BatchCallbacks c;
        c.log = [this](const std::string& s) { add(logs, s); };
        c.status = [this](const std::string& s) { add(statuses, s); };
        c.progress = [this](int d, int t) { add(progress, std::make_pair(d, t)); };
        c.file_done = [this](const UploadOutcome& o) { add(done, o); };
        return c;
    }
    template <class T>
    void add(std::vector<T>& list, const T& item) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(item);
    }
    std::vector<std::string> log_copy() {
        std::lock_guard<std::mutex> lock(mutex);
        return logs;
    }
    bool logged_prefix(const std::string& prefix) {
        for (const auto& l : log_copy()) {
            if (l.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    }
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        client.set_credentials(server.url(), "chave-teste");
        server.handle("POST", "/api/operations", [this](const HttpRequest&) {
            const int n = ++accepted;
            return json_reply(200, "{\"taskId\":\"t-" + std::to_string(n) + "\",\"status\":\"pending\"}");
        });
    }

    // Defaults of the product except what makes tests slow or leaves files behind.
    BatchUploader::Options options() const {
        BatchUploader::Options o;
        o.operation_code = "ocr";
        o.results_dir = dir.path();
        o.delay_between_files_ms = 0;
        o.backoff_ms = {10, 20, 30};
        return o;
    }

    std::string make_file(const std::string& name, size_t size, char fill = 'x') {
        const std::string path = dir.file(name);
        testing_support::write_bytes(path, std::vector<uint8_t>(size, static_cast<uint8_t>(fill)));
        return path;
    }

    std::vector<HttpRequest> submissions() const {
        std::vector<HttpRequest> out;
        for (auto& r : server.requests()) {
            if (r.method == "POST") out.push_back(r);
        }
        return out;
    }

    testing_support::TestServer server;
    testing_support::TempDir dir;
    dorvane::ApiClient client;
    BatchUploader uploader{&client};
    Recorder rec;
    std::atomic<int> accepted{0};
};

}  // namespace batch_test
