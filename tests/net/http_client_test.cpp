#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "support/test_server.h"

using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::TestServer;

namespace {

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

class HttpClientTest : public ::testing::Test {
protected:
    http::Response get(const std::string& target, int timeout = 10, std::map<std::string, std::string> headers = {}) {
        return client.request("GET", server.url() + target, headers, {}, timeout);
    }
    TestServer server;
    http::Client client;
};

// Every status comes back with its body untouched (an HTML error page included) and no error.
TEST_F(HttpClientTest, StatusesComeBackWithBodyAndNoError) {
    const std::string page = "<html><body>502 Bad Gateway \xC3\xA7</body></html>";
    for (int status : {200, 202, 401, 404, 500, 503, 502}) {
        SCOPED_TRACE(status);
        const std::string body = status == 502 ? page : "{\"status\":" + std::to_string(status) + "}";
        server.handle("GET", "/s", [&](const HttpRequest&) {
            return status == 502 ? testing_support::text_reply(502, page, "text/html") : json_reply(status, body);
        });
        const auto r = get("/s");
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.body, body);
        EXPECT_EQ(r.error, "");
    }
}

// The pipeline paces its retries by the answer's Retry-After: the fields must reach the caller
// under lower-case names, value trimmed, on both back ends.
TEST_F(HttpClientTest, AnswerHeadersComeBackUnderLowerCaseNames) {
    server.handle("GET", "/busy", [](const HttpRequest&) {
        HttpReply reply = json_reply(503, "{}");
        reply.headers.push_back({"Retry-After", "  120 "});
        reply.headers.push_back({"X-Pace", "Sun, 06 Nov 1994 08:49:37 GMT"});
        return reply;
    });
    const auto r = get("/busy");
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.headers.count("retry-after") ? r.headers.at("retry-after") : "(missing)", "120");
    EXPECT_EQ(r.headers.count("x-pace") ? r.headers.at("x-pace") : "(missing)", "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(r.headers.count("content-type"), 1u);
}

// An interim answer's fields must not leak into the final one.
TEST(HttpHeaderLines, StatusLineStartsAnewAndBlanksAreTrimmed) {
    std::map<std::string, std::string> h;
    http::add_header_lines(h, "HTTP/1.1 100 Continue\r\nX-Old: 1\r\n\r\n");
    http::add_header_lines(h, "HTTP/1.1 429 Too Many\r\nRETRY-after:\t7\r\nno colon here\r\n: empty name\r\n");
    const std::map<std::string, std::string> expected = {{"retry-after", "7"}};
    EXPECT_EQ(h, expected);
}

TEST_F(HttpClientTest, SendsOurHeadersAndNoBodyForGet) {
    const auto r = get("/api/operations", 10, {{"x-api-key", "k\xC3\xA9y-1"}});
    EXPECT_EQ(r.status, 404);
    ASSERT_EQ(server.request_count(), 1u);
    const HttpRequest req = server.requests()[0];
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/api/operations");
    EXPECT_EQ(req.header("User-Agent"), "DorvaneClient/1.0");
    EXPECT_EQ(req.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_FALSE(req.has_header("Expect"));
    EXPECT_FALSE(req.has_header("Content-Type"));
    EXPECT_EQ(req.body, "");
    const std::string cl = req.header("Content-Length");
    EXPECT_TRUE(cl.empty() || cl == "0") << cl;
    // An empty value is still sent.
    get("/k", 10, {{"x-api-key", ""}});
    ASSERT_EQ(server.request_count(), 2u);
    EXPECT_TRUE(server.requests()[1].has_header("x-api-key"));
    EXPECT_EQ(server.requests()[1].header("x-api-key"), "");
}

// The body goes out in pieces so that its progress can be reported: the pieces must add up to the
// body in order, and the reports must climb to the body's size (a long upload that shows no bytes
// moving looks hung).
TEST_F(HttpClientTest, PostBodyArrivesWholeInOneRequestAndReportsItsProgress) {
    std::vector<uint8_t> body(2 * 1024 * 1024);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7);
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    http::Response r;
    {
        const http::UploadProgressScope scope([&](uint64_t sent, uint64_t total) { reports.emplace_back(sent, total); });
        r = client.request("POST", server.url() + "/p", {{"Content-Type", "application/x-mine"}}, body, 10);
    }
    EXPECT_EQ(r.status, 404);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LT(reports.front().first, body.size());
    EXPECT_EQ(reports.back().first, body.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].second, body.size());
        EXPECT_GE(reports[i].first, i > 0 ? reports[i - 1].first : 0u);
    }
    ASSERT_EQ(server.request_count(), 1u);
    const HttpRequest req = server.requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.header("Content-Type"), "application/x-mine");
    EXPECT_FALSE(req.has_header("Expect"));
    EXPECT_TRUE(req.body == std::string(body.begin(), body.end()));
}

TEST_F(HttpClientTest, RefusedConnectionFailsAtSendStep) {
    const auto r = client.request("GET", "http://127.0.0.1:" + std::to_string(testing_support::unused_port()) + "/x",
                                  {}, {}, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.error, "Send failed (error ")) << r.error;
    EXPECT_EQ(r.error.back(), ')');
    EXPECT_EQ(r.body, "");
}

TEST_F(HttpClientTest, UnsplittableUrlFailsAtConnect) {
    for (const char* url : {"", "127.0.0.1/x", "not a url"}) {
        SCOPED_TRACE(url);
        const auto r = client.request("GET", url, {}, {}, 5);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error, "Connection failed");
    }
}

TEST_F(HttpClientTest, LateAnswerTimesOutAtReceiveStep) {
    HttpReply slow = json_reply(200, "{}");
    slow.delay_ms = 6000;
    server.fail_next(1, slow);
    const auto started = std::chrono::steady_clock::now();
    const auto r = get("/slow", 1);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.error, "Receive failed (error ")) << r.error;
    EXPECT_LT(elapsed, std::chrono::milliseconds(5500));
}

TEST_F(HttpClientTest, DroppedConnectionFailsAtReceiveStepAndIsNotResent) {
    HttpReply drop;
    drop.drop = true;
    server.fail_next(1, drop);
    const auto r = client.request("POST", server.url() + "/p", {}, {1, 2, 3}, 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.error, "Receive failed (error ")) << r.error;
    EXPECT_EQ(server.request_count(), 1u);
}

// A cut body comes back as far as read; a body over the size limit is a transport failure.
TEST_F(HttpClientTest, CutAndOversizedBodies) {
    HttpReply cut = json_reply(200, std::string(1000, 'a')), at_limit, over_limit;
    cut.cut_at = 300;
    at_limit.stream_bytes = http::MAX_RESPONSE_BYTES;
    over_limit.stream_bytes = http::MAX_RESPONSE_BYTES + 1;
    const struct {
        const char* name;
        HttpReply reply;
        int status;
        std::string error;
        std::string body;  // checked when the size is small
        size_t size;
    } rows[] = {
        {"cut body", cut, 200, "", std::string(300, 'a'), 300},
        {"at the limit", at_limit, 200, "", "", http::MAX_RESPONSE_BYTES},
        {"over the limit", over_limit, 0, "Response too large (more than 64 MB)", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.fail_next(1, row.reply);
        const auto r = get("/big", 60);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.error, row.error);
        ASSERT_EQ(r.body.size(), row.size);
        if (row.size < 1000) {
            EXPECT_EQ(r.body, row.body);
        }
    }
}

TEST_F(HttpClientTest, TricklingBodyEndsAtTheExchangeBound) {
    HttpReply trickle;
    trickle.trickle_ms = 200;
    server.fail_next(1, trickle);
    const auto started = std::chrono::steady_clock::now();
    const auto r = get("/trickle", 1);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "Exchange timed out (more than 4 s)");
    EXPECT_EQ(r.body, "");
    EXPECT_GE(elapsed, std::chrono::milliseconds(3500));
    EXPECT_LT(elapsed, std::chrono::seconds(30));
}

TEST_F(HttpClientTest, RedirectIsNotFollowedAndKeyStaysHome) {
    TestServer elsewhere;
    HttpReply redirect = json_reply(302, "{}");
    redirect.headers.emplace_back("Location", elsewhere.url() + "/api/operations");
    for (const bool post : {false, true}) {
        server.fail_next(1, redirect);
        const auto r = client.request(post ? "POST" : "GET", server.url() + "/api/operations",
                                      {{"x-api-key", "secret"}}, post ? std::vector<uint8_t>{'a'} : std::vector<uint8_t>{}, 5);
        EXPECT_EQ(r.status, 302);
        EXPECT_EQ(r.error, "");
    }
    EXPECT_EQ(elsewhere.request_count(), 0u);
}

}  // namespace

namespace {

TEST(HttpClientHeaders, LineBreaksInHeadersAreRefusedBeforeAnythingIsSent) {
    struct Row {
        const char* name;
        std::string key;
        std::string value;
    };
    const Row rows[] = {
        {"lf in value", "x-api-key", "abc\nX-Injected: 1"},
        {"crlf in value", "x-api-key", "abc\r\nX-Injected: 1"},
        {"nul in value", "x-api-key", std::string("abc\0def", 7)},
        {"colon in name", "x-api:key", "abc"},
        {"empty name", "", "abc"},
    };
    TestServer server;
    http::Client client;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto r = client.request("GET", server.url() + "/h", {{row.key, row.value}}, {}, 5);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error, "Invalid request header");
    }
    EXPECT_EQ(server.request_count(), 0u);
    EXPECT_TRUE(http::headers_are_safe({{"x-api-key", "k\xC3\xA9y \t-1"}, {"Content-Type", ""}}));
}

}  // namespace
