// One exchange against a real loopback server: what goes on the wire, what comes back, and each
// way an exchange fails without an answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "support/test_server.h"

using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;

namespace {

class HttpClientTest : public ::testing::Test {
protected:
    http::Response get(const std::string& target, int timeout = 10, std::map<std::string, std::string> headers = {}) {
        return client.request("GET", server.url() + target, headers, {}, timeout);
    }
    testing_support::TestServer server;
    http::Client client;
};

// Any status comes back with its body untouched and no error; the answer's fields under lower-case
// names, values trimmed (the pipeline reads "retry-after" there); an interim answer's fields do not
// leak into the final one's.
TEST_F(HttpClientTest, StatusBodyAndHeadersComeBack) {
    const std::string page = "<html><body>502 Bad Gateway \xC3\xA7</body></html>";
    for (int status : {200, 401, 502}) {
        HttpReply reply = testing_support::text_reply(status, page, "text/html");
        reply.headers.push_back({"Retry-After", "  120 "});
        server.fail_next(1, reply);
        const auto r = get("/s");
        EXPECT_EQ(std::to_string(r.status) + " " + r.body + " [" + r.error + "]", std::to_string(status) + " " + page + " []");
        EXPECT_EQ(r.headers.count("retry-after") ? r.headers.at("retry-after") : "(missing)", "120");
    }
    std::map<std::string, std::string> h;
    http::add_header_lines(h, "HTTP/1.1 100 Continue\r\nX-Old: 1\r\n\r\n");
    http::add_header_lines(h, "HTTP/1.1 429 Too Many\r\nRETRY-after:\t7\r\nno colon here\r\n: empty name\r\n");
    EXPECT_EQ(h, (std::map<std::string, std::string>{{"retry-after", "7"}}));
}

TEST_F(HttpClientTest, SendsOurHeadersOnlyAndNoBodyForGet) {
    get("/api/operations", 10, {{"x-api-key", "k\xC3\xA9y-1"}, {"x-empty", ""}});
    const HttpRequest req = server.requests().at(0);
    EXPECT_EQ(req.method + " " + req.target, "GET /api/operations");
    EXPECT_EQ(req.header("x-api-key") + "|" + req.header("User-Agent") + "|" + req.header("Host"),
              "k\xC3\xA9y-1|DorvaneClient/1.0|127.0.0.1:" + std::to_string(server.port()));
    EXPECT_TRUE(req.has_header("x-empty"));
    EXPECT_FALSE(req.has_header("Expect") || req.has_header("Content-Type"));
    EXPECT_EQ(req.body, "");
}

// The body goes out in pieces so that its progress can be reported: the pieces must add up to the
// body in order, and the reports must climb to the body's size.
TEST_F(HttpClientTest, PostBodyArrivesWholeAndReportsItsProgress) {
    std::vector<uint8_t> body(2 * 1024 * 1024);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7);
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    {
        const http::UploadProgressScope scope([&](uint64_t sent, uint64_t total) { reports.emplace_back(sent, total); });
        EXPECT_EQ(client.request("POST", server.url() + "/p", {{"Content-Type", "application/x-mine"}}, body, 10).status, 404);
    }
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LT(reports.front().first, body.size());
    EXPECT_EQ(reports.back().first, body.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].second, body.size());
        EXPECT_GE(reports[i].first, i > 0 ? reports[i - 1].first : 0u);
    }
    const HttpRequest req = server.requests().at(0);
    EXPECT_EQ(req.header("Content-Type"), "application/x-mine");
    EXPECT_TRUE(req.body == std::string(body.begin(), body.end()));
}

// Status 0 and the step that failed; a dropped POST is not sent a second time, an unsafe header
// sends nothing at all.
TEST_F(HttpClientTest, ExchangesWithoutAnAnswer) {
    HttpReply slow = json_reply(200, "{}"), drop;
    slow.delay_ms = 6000;
    drop.drop = true;
    const std::string refused = "http://127.0.0.1:" + std::to_string(testing_support::unused_port()) + "/x";
    const struct {
        const char* method;
        std::string url;
        std::map<std::string, std::string> headers;
        HttpReply* fault;
        std::string error;  // a prefix when it ends in "(error "
        size_t requests;
    } rows[] = {
        {"GET", refused, {}, nullptr, "Send failed (error ", 0},
        {"GET", "", {}, nullptr, "Connection failed", 0},
        {"GET", "127.0.0.1/x", {}, nullptr, "Connection failed", 0},
        {"GET", "/slow", {}, &slow, "Receive failed (error ", 1},
        {"POST", "/p", {}, &drop, "Receive failed (error ", 1},
        {"GET", "/h", {{"x-api-key", "abc\r\nX-Injected: 1"}}, nullptr, "Invalid request header", 0},
        {"GET", "/h", {{"x-api-key", std::string("abc\0def", 7)}}, nullptr, "Invalid request header", 0},
        {"GET", "/h", {{"x-api:key", "abc"}}, nullptr, "Invalid request header", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error + " " + row.url);
        if (row.fault) server.fail_next(1, *row.fault);
        const size_t before = server.request_count();
        const auto started = std::chrono::steady_clock::now();
        const std::string url = row.url.empty() || row.url[0] != '/' ? row.url : server.url() + row.url;
        const bool post = std::string(row.method) == "POST";
        const auto r = client.request(row.method, url, row.headers, post ? std::vector<uint8_t>{1, 2, 3} : std::vector<uint8_t>{}, 1);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5500));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.error.substr(0, row.error.size()), row.error);
        EXPECT_EQ(r.error.back(), row.error.back() == ' ' ? ')' : row.error.back());
        EXPECT_EQ(server.request_count() - before, row.requests);
    }
}

// A cut body comes back as far as read; a body over the size limit, or one that trickles past the
// exchange's bound, is a transport failure.
TEST_F(HttpClientTest, CutOversizedAndTricklingBodies) {
    HttpReply cut = json_reply(200, std::string(1000, 'a')), at_limit, over_limit, trickle;
    cut.cut_at = 300;
    at_limit.stream_bytes = http::MAX_RESPONSE_BYTES;
    over_limit.stream_bytes = http::MAX_RESPONSE_BYTES + 1;
    trickle.trickle_ms = 200;
    const struct { HttpReply reply; int timeout; int status; std::string error; size_t size; } rows[] = {
        {cut, 60, 200, "", 300},
        {at_limit, 60, 200, "", http::MAX_RESPONSE_BYTES},
        {over_limit, 60, 0, "Response too large (more than 64 MB)", 0},
        {trickle, 1, 0, "Exchange timed out (more than 4 s)", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        server.fail_next(1, row.reply);
        const auto started = std::chrono::steady_clock::now();
        const auto r = get("/big", row.timeout);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.error, row.error);
        EXPECT_EQ(r.body.size(), row.size);
        if (row.timeout == 1) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3500));
        }
    }
}

// A 3xx comes back as its status: following it would send the API key to another origin.
TEST_F(HttpClientTest, RedirectIsNotFollowed) {
    testing_support::TestServer elsewhere;
    HttpReply redirect = json_reply(302, "{}");
    redirect.headers.emplace_back("Location", elsewhere.url() + "/api/operations");
    for (const char* method : {"GET", "POST"}) {
        server.fail_next(1, redirect);
        const auto r = client.request(method, server.url() + "/api/operations", {{"x-api-key", "secret"}}, {'a'}, 5);
        EXPECT_EQ(r.status, 302);
        EXPECT_EQ(r.error, "");
    }
    EXPECT_EQ(elsewhere.request_count(), 0u);
}

}  // namespace
