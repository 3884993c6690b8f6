// The service's pacing: Retry-After read in both forms, honoured instead of the back-off step,
// capped, cancellable, and shared by every worker of a parallel batch. Also the fingerprint of a
// large upload, whose digest is computed while the upload runs.
#include <chrono>
#include <thread>

#include "batch_fixture.h"
#include "core/sha256.h"
#include "service/pacing.h"

namespace batch_test {
namespace {

using Clock = std::chrono::steady_clock;

long long ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

// 1994-11-06 08:49:37 UTC, the example date of RFC 9110.
constexpr int64_t EXAMPLE = 784111777;

TEST(RetryAfter, SecondsAndAllThreeDateForms) {
    struct Row {
        const char* value;
        int64_t now;
        int64_t ms;
    };
    const Row rows[] = {
        {"3", 0, 3000},
        {" 0 ", 0, 0},
        {"100000", 0, 300000},                       // capped
        {"99999999999999999999", 0, 300000},         // too many digits to convert: capped, not wrapped
        {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE - 5, 5000},
        {"Sunday, 06-Nov-94 08:49:37 GMT", EXAMPLE - 5, 5000},
        {"Sun Nov  6 08:49:37 1994", EXAMPLE - 5, 5000},
        {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE + 60, 0},  // already past
        {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE - 86400, 300000},
        {"Thu, 29 Feb 2024 23:59:59 GMT", 1709251199 - 1, 1000},  // leap day
        {"-5", 0, -1},
        {"1.5", 0, -1},
        {"", 0, -1},
        {"amanhã", 0, -1},
        {"Sun, 32 Nov 1994 08:49:37 GMT", 0, -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.value);
        EXPECT_EQ(dorvane::retry_after_ms(r.value, r.now), r.ms);
    }
}

class PacingTest : public EngineTest {
protected:
    // Answers 503 with `retry_after` to the first submission, then accepts; records arrivals.
    void pace_first_with(const std::string& retry_after) {
        server.handle("POST", "/api/operations", [this, retry_after](const HttpRequest&) {
            if (arrive() == 1) {
                HttpReply busy = json_reply(503, "{\"error\":\"ocupado\"}");
                busy.headers.push_back({"Retry-After", retry_after});
                return busy;
            }
            return json_reply(200, "{\"taskId\":\"t\"}");
        });
    }
    // Records an arrival; its 1-based number.
    size_t arrive() {
        std::lock_guard<std::mutex> lock(arrivals_mutex);
        arrivals.push_back(Clock::now());
        return arrivals.size();
    }
    std::mutex arrivals_mutex;
    std::vector<Clock::time_point> arrivals;
};

TEST_F(PacingTest, RetryAfterReplacesTheBackoffStep) {
    pace_first_with("3");
    const auto s = uploader.run({make_file("doc.pdf", 10)}, options(), rec.callbacks());
    EXPECT_EQ(s.succeeded, 1);
    ASSERT_EQ(arrivals.size(), 2u);
    const long long gap = ms_between(arrivals[0], arrivals[1]);
    EXPECT_GE(gap, 2900);
    EXPECT_LT(gap, 4500);
    EXPECT_TRUE(rec.logged_prefix("[RETRY] [1/1] HTTP 503 — ocupado — nova tentativa em 3s (2/3)"));
}

// A service asking for a day must not hold the batch a day, and Ctrl+C / "Cancelar" must end the
// wait as promptly as any other.
TEST_F(PacingTest, HugeRetryAfterIsCappedAndCancellable) {
    pace_first_with("100000");
    BatchUploader::Summary s;
    std::thread worker([&] { s = uploader.run({make_file("doc.pdf", 10)}, options(), rec.callbacks()); });
    const auto start = Clock::now();
    while (!rec.logged_prefix("[RETRY]") && ms_between(start, Clock::now()) < 20000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cancelled_at = Clock::now();
    uploader.cancel_requested.store(true);
    worker.join();
    EXPECT_LT(ms_between(cancelled_at, Clock::now()), 1000);
    EXPECT_TRUE(rec.logged_prefix("[RETRY] [1/1] HTTP 503 — ocupado — nova tentativa em 300s (2/3)"));
    EXPECT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(s.skipped, 1);
}

// One worker's 429 holds the others too: no submission reaches the service before the pause ends.
TEST_F(PacingTest, ParallelWorkersAllWaitForTheService) {
    server.handle("POST", "/api/operations", [this](const HttpRequest&) {
        if (arrive() == 1) {
            HttpReply slow_down = json_reply(429, "{}");
            slow_down.headers.push_back({"Retry-After", "2"});
            return slow_down;
        }
        // The first wave answers late, so its workers come back after the 429 was read.
        HttpReply ok = json_reply(200, "{\"taskId\":\"t\"}");
        ok.delay_ms = 300;
        return ok;
    });
    auto o = options();
    o.parallel = 3;
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) files.push_back(make_file("doc" + std::to_string(i) + ".pdf", 10 + i));
    const auto s = uploader.run(files, o, rec.callbacks());
    EXPECT_EQ(s.succeeded, 6);
    ASSERT_EQ(arrivals.size(), 7u);
    // Workers already under way when the 429 came may land right after it; everything later waits.
    int early = 0;
    for (size_t i = 1; i < arrivals.size(); ++i) early += ms_between(arrivals[0], arrivals[i]) < 1900;
    EXPECT_LE(early, 2);
}

// Above 1 MiB the digest is computed beside the first attempt: it must still be the digest of the
// bytes the service received, also when that attempt failed and a retry followed.
TEST_F(EngineTest, LargeFileRecordsTheDigestOfTheBytesSent) {
    server.fail_next(1, json_reply(503, "{}"));
    const std::string path = make_file("grande.pdf", (3u << 20) + 5, 'g');
    const UploadOutcome out = uploader.process_one(path, "grande.pdf", 1, 1, options(), rec.callbacks());
    EXPECT_EQ(out.result, OutcomeKind::Success);
    EXPECT_EQ(out.attempts, 2);
    EXPECT_EQ(out.size, (3u << 20) + 5);
    EXPECT_EQ(out.sha256, sha256::hex(std::string((3u << 20) + 5, 'g')));
}

}  // namespace
}  // namespace batch_test
