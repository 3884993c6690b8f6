// The service's pacing: Retry-After read in both forms, honoured instead of the back-off step,
// capped, and shared by every worker of a parallel batch.
#include <chrono>

#include "batch_fixture.h"
#include "service/pacing.h"

namespace batch_test {
namespace {

using Clock = std::chrono::steady_clock;

// 1994-11-06 08:49:37 UTC, the example date of RFC 9110.
constexpr int64_t EXAMPLE = 784111777;

TEST(RetryAfter, SecondsAndAllThreeDateForms) {
    const struct { const char* value; int64_t now; int64_t ms; } rows[] = {
        {"3", 0, 3000}, {" 0 ", 0, 0}, {"100000", 0, 300000}, {"99999999999999999999", 0, 300000},
        {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE - 5, 5000}, {"Sunday, 06-Nov-94 08:49:37 GMT", EXAMPLE - 5, 5000},
        {"Sun Nov  6 08:49:37 1994", EXAMPLE - 5, 5000}, {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE + 60, 0},
        {"Sun, 06 Nov 1994 08:49:37 GMT", EXAMPLE - 86400, 300000},
        {"Thu, 29 Feb 2024 23:59:59 GMT", 1709251199 - 1, 1000},  // leap day
        {"-5", 0, -1}, {"1.5", 0, -1}, {"", 0, -1}, {"amanhã", 0, -1}, {"Sun, 32 Nov 1994 08:49:37 GMT", 0, -1},
    };
    for (const auto& r : rows) EXPECT_EQ(dorvane::retry_after_ms(r.value, r.now), r.ms) << r.value;
}

class PacingTest : public EngineTest {
protected:
    // Answers `status` with `retry_after` to the first submission, then accepts; records arrivals.
    void pace_first_with(int status, const std::string& retry_after, int later_delay_ms = 0) {
        server.handle("POST", "/api/operations", [this, status, retry_after, later_delay_ms](const HttpRequest&) {
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.push_back(Clock::now());
            HttpReply reply = json_reply(status, "{\"error\":\"ocupado\"}");
            reply.headers.push_back({"Retry-After", retry_after});
            HttpReply ok = json_reply(200, "{\"taskId\":\"t\"}");
            ok.delay_ms = later_delay_ms;
            return arrivals.size() == 1 ? reply : ok;
        });
    }
    std::vector<Clock::time_point> arrivals;
};

// The service's pause replaces the back-off step (2 s), for a 503 as for a 429.
TEST_F(PacingTest, RetryAfterReplacesTheBackoffStep) {
    pace_first_with(503, "3");
    const auto s = uploader.run({make_file("doc.pdf", 10)}, options(), callbacks());
    EXPECT_EQ(s.succeeded, 1);
    EXPECT_EQ(arrivals.size(), 2u);
    ASSERT_FALSE(waits.empty());  // a wait that does not sleep is asked again before the retry
    EXPECT_GE(waits[0], 2900);
    EXPECT_LE(waits[0], 3000);
    EXPECT_EQ(logs[1], "[RETRY] [1/1] HTTP 503 — ocupado — nova tentativa em 3s (2/3)");
}

// One worker's 429 holds the others too: no submission reaches the service before the pause ends.
TEST_F(PacingTest, ParallelWorkersAllWaitForTheService) {
    pace_first_with(429, "2", 300);  // the first wave answers late, so its workers return after the 429
    auto o = options();
    o.wait = nullptr;
    o.parallel = 3;
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) files.push_back(make_file("doc" + std::to_string(i) + ".pdf", 10 + i));
    const auto s = uploader.run(files, o, callbacks());
    EXPECT_EQ(s.succeeded, 6);
    ASSERT_EQ(arrivals.size(), 7u);
    // Workers already under way when the 429 came may land right after it; everything later waits.
    int early = 0;
    for (size_t i = 1; i < arrivals.size(); ++i) early += arrivals[i] - arrivals[0] < std::chrono::milliseconds(1900);
    EXPECT_LE(early, 2);
}

}  // namespace
}  // namespace batch_test
