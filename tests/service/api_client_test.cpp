#include <gtest/gtest.h>

#include <string>

#include "service/api_client.h"
#include "support/test_server.h"

using dorvane::ApiClient;
using dorvane::ApiError;
using dorvane::Operation;
using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::TestServer;

namespace {

const std::string EM_DASH = " \xE2\x80\x94 ";

http::Response answer(int status, const std::string& body, const std::string& error = "") {
    http::Response r;
    r.status = status;
    r.body = body;
    r.error = error;
    return r;
}

TEST(ApiClientNormalize, Table) {
    const struct {
        const char* input;
        const char* expected;
    } rows[] = {
        {"https://api.example.com", "https://api.example.com"},
        {"https://api.example.com///", "https://api.example.com"},
        {"https://api.example.com/api/operations", "https://api.example.com"},
        {" \t https://api.example.com/api/operations/ \r\n", "https://api.example.com"},
        {"https://api.example.com/api/operations//", "https://api.example.com"},
        {"https://api.example.com//api/operations", "https://api.example.com"},
        {"https://api.example.com/API/operations", "https://api.example.com/API/operations"},
        {"https://api.example.com/v2/", "https://api.example.com/v2"},
        {"/api/operations", "/api/operations"},  // not longer than the suffix: kept
        {"/api/operations/", "/api/operations"},
        {"x/api/operations", "x"},
        {"api.example.com", "api.example.com"},  // no scheme is added
        {" \t\n\v\f\r ", ""},
        {"", ""},
        {"///", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(ApiClient::normalize_base_url(row.input), row.expected);
    }
}

struct ClassifyRow {
    const char* label;
    http::Response response;
    ApiError::Kind kind;
    int32_t status;
    std::string message;
};

TEST(ApiClientClassify, Table) {
    const std::string page = "<html>" + std::string(994, 'p');
    const std::string lt = "<";
    const ClassifyRow rows[] = {
        {"transport text", answer(0, "", "Send failed (error 7)"), ApiError::Network, 0, "Send failed (error 7)"},
        {"no transport text", answer(0, ""), ApiError::Network, 0, "sem resposta"},
        {"status 0 ignores body", answer(0, "{\"error\":\"x\"}"), ApiError::Network, 0, "sem resposta"},
        {"error string", answer(401, "{\"error\":\"Chave inv\xC3\xA1lida\"}"), ApiError::Http, 401,
         "Chave inv\xC3\xA1lida"},
        {"message string", answer(401, "{\"message\":\"m\"}"), ApiError::Http, 401, "m"},
        {"error wins over message", answer(403, "{\"error\":\"e\",\"message\":\"m\"}"), ApiError::Http, 403, "e"},
        {"empty error falls back", answer(400, "{\"error\":\"\",\"message\":\"m\"}"), ApiError::Http, 400, "m"},
        {"error not a string", answer(400, "{\"error\":5,\"message\":\"m\"}"), ApiError::Http, 400, "m"},
        {"neither", answer(404, "{\"detail\":\"d\"}"), ApiError::Http, 404, ""},
        {"not an object", answer(404, "[\"error\"]"), ApiError::Http, 404, ""},
        {"402 with numbers", answer(402, "{\"error\":\"T\",\"required\":5,\"remaining\":2}"), ApiError::Http, 402,
         "T (necess\xC3\xA1rio 5, dispon\xC3\xADvel 2)"},
        {"402 truncates", answer(402, "{\"error\":\"T\",\"required\":5.9,\"remaining\":-1.5}"), ApiError::Http, 402,
         "T (necess\xC3\xA1rio 5, dispon\xC3\xADvel -1)"},
        {"402 required as string", answer(402, "{\"error\":\"T\",\"required\":\"5\",\"remaining\":2}"),
         ApiError::Http, 402, "T"},
        {"402 numbers only", answer(402, "{\"required\":5,\"remaining\":2}"), ApiError::Http, 402,
         " (necess\xC3\xA1rio 5, dispon\xC3\xADvel 2)"},
        {"402 huge numbers saturate", answer(402, "{\"error\":\"T\",\"required\":1e30,\"remaining\":0}"),
         ApiError::Http, 402, "T (necess\xC3\xA1rio 2147483647, dispon\xC3\xADvel 0)"},
        {"numbers only count on 402", answer(403, "{\"error\":\"T\",\"required\":5,\"remaining\":2}"),
         ApiError::Http, 403, "T"},
        {"html page cut at 200", answer(502, page), ApiError::Http, 502, page.substr(0, 200)},
        {"short text kept whole", answer(500, "Internal error"), ApiError::Http, 500, "Internal error"},
        {"empty body", answer(500, ""), ApiError::Http, 500, ""},
        {"exactly 200 bytes", answer(500, lt + std::string(199, 'a')), ApiError::Http, 500, lt + std::string(199, 'a')},
        {"2-byte char split", answer(500, lt + std::string(198, 'a') + "\xC3\xA9zz"), ApiError::Http, 500,
         lt + std::string(198, 'a')},
        {"2-byte char whole", answer(500, lt + std::string(197, 'a') + "\xC3\xA9zz"), ApiError::Http, 500,
         lt + std::string(197, 'a') + "\xC3\xA9"},
        {"3-byte char, 2 in", answer(500, lt + std::string(197, 'a') + "\xE2\x80\x94z"), ApiError::Http, 500,
         lt + std::string(197, 'a')},
        {"3-byte char, 1 in", answer(500, lt + std::string(198, 'a') + "\xE2\x80\x94z"), ApiError::Http, 500,
         lt + std::string(198, 'a')},
        {"4-byte char, 3 in", answer(500, lt + std::string(196, 'a') + "\xF0\x9F\x93\x84z"), ApiError::Http, 500,
         lt + std::string(196, 'a')},
        {"4-byte char whole", answer(500, lt + std::string(195, 'a') + "\xF0\x9F\x93\x84z"), ApiError::Http, 500,
         lt + std::string(195, 'a') + "\xF0\x9F\x93\x84"},
        {"stray continuation bytes", answer(500, lt + std::string(197, 'a') + "\x80\x80\x80\x80"), ApiError::Http,
         500, lt + std::string(197, 'a') + "\x80\x80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ApiError e = ApiClient::classify(row.response);
        EXPECT_EQ(e.kind, row.kind);
        EXPECT_EQ(e.http_status, row.status);
        EXPECT_EQ(e.message, row.message);
    }
}

TEST(ApiError, ToStringTable) {
    const struct {
        ApiError error;
        std::string expected;
    } rows[] = {
        {{ApiError::Http, 402, "T (necess\xC3\xA1rio 5, dispon\xC3\xADvel 2)"},
         "HTTP 402" + EM_DASH + "T (necess\xC3\xA1rio 5, dispon\xC3\xADvel 2)"},
        {{ApiError::Http, 500, ""}, "HTTP 500"},
        {{ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
         "resposta inv\xC3\xA1lida: campo 'operations' ausente"},
        {{ApiError::InvalidResponse, 200, ""}, "resposta inv\xC3\xA1lida: "},
        {{ApiError::Network, 0, "Send failed (error 12029)"}, "rede: Send failed (error 12029)"},
        {{ApiError::None, 0, "ignored"}, ""},
        {{static_cast<ApiError::Kind>(9), 7, "x"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(row.error.to_string(), row.expected);
    }
}

TEST(ApiClient, AuthHeadersHoldTheKeyEvenWhenEmpty) {
    ApiClient client;
    EXPECT_EQ(client.auth_headers(), (std::map<std::string, std::string>{{"x-api-key", ""}}));
    client.set_credentials("http://h", "k 1");
    EXPECT_EQ(client.auth_headers(), (std::map<std::string, std::string>{{"x-api-key", "k 1"}}));
    EXPECT_EQ(client.base(), "http://h");
}

class ApiClientServerTest : public ::testing::Test {
protected:
    void SetUp() override { client.set_credentials(server.url(), "key-1"); }
    void answer_probe(const HttpReply& reply) {
        server.handle("GET", std::string("/api/operations/") + dorvane::PROBE_TASK_ID,
                      [reply](const HttpRequest&) { return reply; });
    }
    void answer_catalogue(const HttpReply& reply) {
        server.handle("GET", "/api/operations", [reply](const HttpRequest&) { return reply; });
    }
    TestServer server;
    ApiClient client;
};

TEST_F(ApiClientServerTest, ProbeAcceptsEveryAnswerBut401) {
    for (int status : {404, 403, 500, 200}) {
        SCOPED_TRACE(status);
        answer_probe(json_reply(status, "{\"error\":\"x\"}"));
        ApiError error{ApiError::Http, 1, "stale"};
        EXPECT_TRUE(client.verify_key(error));
        EXPECT_EQ(error.kind, ApiError::None);
        EXPECT_EQ(error.http_status, 0);
        EXPECT_EQ(error.message, "");
    }
    const HttpRequest req = server.requests().back();
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/api/operations/00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(req.header("x-api-key"), "key-1");
}

TEST_F(ApiClientServerTest, ProbeAnswered401RejectsTheKey) {
    answer_probe(json_reply(401, "{\"error\":\"Chave inv\xC3\xA1lida\"}"));
    ApiError error;
    EXPECT_FALSE(client.verify_key(error));
    EXPECT_EQ(error.kind, ApiError::Http);
    EXPECT_EQ(error.http_status, 401);
    EXPECT_EQ(error.to_string(), "HTTP 401" + EM_DASH + "Chave inv\xC3\xA1lida");
}

TEST_F(ApiClientServerTest, UnreachableServiceIsANetworkError) {
    client.set_credentials("http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "k");
    ApiError error;
    EXPECT_FALSE(client.verify_key(error));
    EXPECT_EQ(error.kind, ApiError::Network);
    EXPECT_EQ(error.http_status, 0);
    EXPECT_EQ(error.to_string().rfind("rede: Send failed (error ", 0), 0u) << error.to_string();
}

// An empty catalogue is fine and empties the list.
TEST_F(ApiClientServerTest, NormalisedBaseReachesTheRightPath) {
    client.set_credentials(ApiClient::normalize_base_url("  " + server.url() + "/api/operations/ "), "k");
    answer_catalogue(json_reply(200, "{\"operations\":[]}"));
    std::vector<Operation> ops{{"old", "", "", "", 0}};
    ApiError error;
    EXPECT_TRUE(client.list_operations(ops, error));
    EXPECT_TRUE(ops.empty());
    EXPECT_EQ(server.requests().at(0).target, "/api/operations");
}

TEST_F(ApiClientServerTest, CatalogueIsReadLeniently) {
    answer_catalogue(json_reply(200, R"({"operations":[
        {"code":"ocr","name":"OCR","description":"Texto","category":"docs","cost":2.9},
        {"name":"sem codigo","cost":1},
        {"code":"","name":"codigo vazio"},
        "not an object",
        {"code":"free","cost":"3"},
        {"code":"neg","cost":-1.7,"name":5}
    ],"other":1})"));
    std::vector<Operation> ops{{"old", "", "", "", 0}};
    ApiError error{ApiError::Http, 1, "stale"};
    ASSERT_TRUE(client.list_operations(ops, error));
    EXPECT_EQ(error.kind, ApiError::None);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].code, "ocr");
    EXPECT_EQ(ops[0].name, "OCR");
    EXPECT_EQ(ops[0].description, "Texto");
    EXPECT_EQ(ops[0].category, "docs");
    EXPECT_EQ(ops[0].cost, 2);
    EXPECT_EQ(ops[1].code, "free");
    EXPECT_EQ(ops[1].cost, 0);
    EXPECT_EQ(ops[2].code, "neg");
    EXPECT_EQ(ops[2].name, "");
    EXPECT_EQ(ops[2].cost, -1);
    EXPECT_EQ(server.requests().at(0).header("x-api-key"), "key-1");
}

TEST_F(ApiClientServerTest, CatalogueFailuresLeaveTheListAlone) {
    const std::string html = "<html><body>" + std::string(300, 'x') + "</body></html>";
    const struct {
        const char* label;
        HttpReply reply;
        ApiError::Kind kind;
        int32_t status;
        std::string message;
    } rows[] = {
        {"plain text", testing_support::text_reply(200, "Hello", "text/plain"), ApiError::InvalidResponse, 200,
         "Unexpected char: H"},
        {"plain text from n", testing_support::text_reply(200, "nothing here", "text/plain"),
         ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
        {"field missing", json_reply(200, "{\"ops\":[]}"), ApiError::InvalidResponse, 0,
         "campo 'operations' ausente"},
        {"field not an array", json_reply(200, "{\"operations\":{}}"), ApiError::InvalidResponse, 0,
         "campo 'operations' ausente"},
        {"root an array", json_reply(202, "[]"), ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
        {"401", json_reply(401, "{\"message\":\"n\xC3\xA3o autorizado\"}"), ApiError::Http, 401,
         "n\xC3\xA3o autorizado"},
        {"500 html", testing_support::text_reply(500, html, "text/html"), ApiError::Http, 500, html.substr(0, 200)},
        {"redirect", json_reply(302, "{}"), ApiError::Http, 302, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        answer_catalogue(row.reply);
        std::vector<Operation> ops{{"keep", "", "", "", 1}};
        ApiError error;
        EXPECT_FALSE(client.list_operations(ops, error));
        EXPECT_EQ(error.kind, row.kind);
        EXPECT_EQ(error.http_status, row.status);
        EXPECT_EQ(error.message, row.message);
        ASSERT_EQ(ops.size(), 1u);
        EXPECT_EQ(ops[0].code, "keep");
    }
}

TEST_F(ApiClientServerTest, CatalogueTimeoutOrDropIsANetworkError) {
    HttpReply drop;
    drop.drop = true;
    server.fail_next(1, drop);
    std::vector<Operation> ops;
    ApiError error;
    EXPECT_FALSE(client.list_operations(ops, error));
    EXPECT_EQ(error.kind, ApiError::Network);
    EXPECT_EQ(error.message.rfind("Receive failed (error ", 0), 0u) << error.message;
}

}  // namespace
