// The service client: base URL clean-up, failure classification, the key check, the catalogue and
// document submission, against a real loopback server.
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

namespace {

http::Response answer(int status, const std::string& body, const std::string& error = "") {
    http::Response r;
    r.status = status;
    r.body = body;
    r.error = error;
    return r;
}

TEST(ApiClient, NormalizesTheBaseUrl) {
    const std::pair<const char*, const char*> rows[] = {
        {"https://a.com///", "https://a.com"}, {" \t https://a.com/api/operations/ \r\n", "https://a.com"},
        {"https://a.com/api/operations//", "https://a.com"}, {"https://a.com//api/operations", "https://a.com"},
        {"https://a.com/API/operations", "https://a.com/API/operations"}, {"https://a.com/v2/", "https://a.com/v2"},
        {"/api/operations", "/api/operations"}, {"/api/operations/", "/api/operations"}, {"x/api/operations", "x"},
        {"a.com", "a.com"}, {" \t\n\v\f\r ", ""}, {"///", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(ApiClient::normalize_base_url(row.first), row.second) << row.first;
}

TEST(ApiClient, ClassifiesEveryFailure) {
    const std::string page = "<html>" + std::string(994, 'p');
    const auto p = [](size_t n) { return "<" + std::string(n - 1, 'a'); };  // an HTML-looking text of n bytes
    const struct { http::Response response; ApiError::Kind kind; int32_t status; std::string message; } rows[] = {
        {answer(0, "", "Send failed (error 7)"), ApiError::Network, 0, "Send failed (error 7)"},
        {answer(0, "{\"error\":\"x\"}"), ApiError::Network, 0, "sem resposta"},
        {answer(401, "{\"error\":\"Chave inválida\"}"), ApiError::Http, 401, "Chave inválida"},
        {answer(403, "{\"error\":\"e\",\"message\":\"m\"}"), ApiError::Http, 403, "e"},
        {answer(400, "{\"error\":\"\",\"message\":\"m\"}"), ApiError::Http, 400, "m"},
        {answer(404, "{\"detail\":\"d\"}"), ApiError::Http, 404, ""},
        {answer(402, "{\"error\":\"T\",\"required\":5.9,\"remaining\":-1.5}"), ApiError::Http, 402, "T (necessário 5, disponível -1)"},
        {answer(402, "{\"required\":5,\"remaining\":2}"), ApiError::Http, 402, " (necessário 5, disponível 2)"},
        {answer(402, "{\"error\":\"T\",\"required\":1e30,\"remaining\":0}"), ApiError::Http, 402, "T (necessário 2147483647, disponível 0)"},
        {answer(403, "{\"error\":\"T\",\"required\":5,\"remaining\":2}"), ApiError::Http, 403, "T"},
        {answer(502, page), ApiError::Http, 502, page.substr(0, 200)},
        // The 200-byte excerpt never splits a UTF-8 sequence; stray continuation bytes are cut as they fall.
        {answer(500, p(199) + "\xC3\xA9zz"), ApiError::Http, 500, p(199)},
        {answer(500, p(198) + "\xC3\xA9zz"), ApiError::Http, 500, p(198) + "\xC3\xA9"},
        {answer(500, p(198) + "\xE2\x80\x94z"), ApiError::Http, 500, p(198)},
        {answer(500, p(199) + "\xE2\x80\x94z"), ApiError::Http, 500, p(199)},
        {answer(500, p(197) + "\xF0\x9F\x93\x84z"), ApiError::Http, 500, p(197)},
        {answer(500, p(196) + "\xF0\x9F\x93\x84z"), ApiError::Http, 500, p(196) + "\xF0\x9F\x93\x84"},
        {answer(500, p(197) + "\x80\x80\x80\x80"), ApiError::Http, 500, p(197) + "\x80\x80\x80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.response.body.substr(0, 60));
        const ApiError e = ApiClient::classify(row.response);
        EXPECT_EQ(e.kind, row.kind);
        EXPECT_EQ(e.http_status, row.status);
        EXPECT_EQ(e.message, row.message);
    }
    EXPECT_EQ((ApiError{ApiError::Http, 402, "T"}).to_string(), "HTTP 402 — T");
    EXPECT_EQ((ApiError{ApiError::Http, 500, ""}).to_string(), "HTTP 500");
    EXPECT_EQ((ApiError{ApiError::InvalidResponse, 0, "x"}).to_string(), "resposta inválida: x");
    EXPECT_EQ((ApiError{ApiError::Network, 0, "x"}).to_string(), "rede: x");
}

class ApiClientServerTest : public ::testing::Test {
protected:
    void SetUp() override { client.set_credentials(server.url(), "key-1"); }
    void answer_with(const char* target, const HttpReply& reply) {
        server.handle("GET", target, [reply](const HttpRequest&) { return reply; });
    }
    testing_support::TestServer server;
    ApiClient client;
};

// Only 401 rejects the key: a good key gets 404 for the probe task, any other answer still proves
// the service is there.
TEST_F(ApiClientServerTest, ProbeRejectsTheKeyOnlyOn401) {
    for (int status : {404, 403, 500, 200, 401}) {
        answer_with("/api/operations/00000000-0000-0000-0000-000000000000", json_reply(status, "{\"error\":\"x\"}"));
        ApiError error{ApiError::Http, 1, "stale"};
        EXPECT_EQ(client.verify_key(error), status != 401) << status;
        EXPECT_EQ(error.kind, status == 401 ? ApiError::Http : ApiError::None);
        EXPECT_EQ(error.message, status == 401 ? "x" : "");
    }
    EXPECT_EQ(server.requests().back().header("x-api-key"), "key-1");
    client.set_credentials("http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "k");
    ApiError error;
    EXPECT_FALSE(client.verify_key(error));
    EXPECT_EQ(error.to_string().rfind("rede: Send failed (error ", 0), 0u) << error.to_string();
}

TEST_F(ApiClientServerTest, CatalogueIsReadLeniently) {
    client.set_credentials(ApiClient::normalize_base_url("  " + server.url() + "/api/operations/ "), "key-1");
    answer_with("/api/operations", json_reply(200, R"({"operations":[
        {"code":"ocr","name":"OCR","description":"Texto","category":"docs","cost":2.9},
        {"name":"sem codigo","cost":1}, {"code":"","name":"codigo vazio"}, "not an object",
        {"code":"free","cost":"3"}, {"code":"neg","cost":-1.7,"name":5}],"other":1})"));
    std::vector<Operation> ops{{"old", "", "", "", 0}};
    ApiError error{ApiError::Http, 1, "stale"};
    ASSERT_TRUE(client.list_operations(ops, error));
    EXPECT_EQ(error.kind, ApiError::None);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].code + "|" + ops[0].name + "|" + ops[0].description + "|" + ops[0].category, "ocr|OCR|Texto|docs");
    EXPECT_EQ(ops[0].cost, 2);
    EXPECT_EQ(ops[1].code + "|" + std::to_string(ops[1].cost), "free|0");
    EXPECT_EQ(ops[2].code + "|" + ops[2].name + "|" + std::to_string(ops[2].cost), "neg||-1");
    EXPECT_EQ(server.requests().at(0).header("x-api-key"), "key-1");
}

TEST_F(ApiClientServerTest, CatalogueFailuresLeaveTheListAlone) {
    HttpReply drop;
    drop.drop = true;
    const struct { HttpReply reply; ApiError::Kind kind; int32_t status; std::string message; } rows[] = {
        {testing_support::text_reply(200, "Hello", "text/plain"), ApiError::InvalidResponse, 200, "Unexpected char: H"},
        {testing_support::text_reply(200, "nothing here", "text/plain"), ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
        {json_reply(200, "{\"operations\":{}}"), ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
        {json_reply(202, "[]"), ApiError::InvalidResponse, 0, "campo 'operations' ausente"},
        {json_reply(401, "{\"message\":\"não autorizado\"}"), ApiError::Http, 401, "não autorizado"},
        {json_reply(302, "{}"), ApiError::Http, 302, ""},
        {drop, ApiError::Network, 0, "Receive failed (error "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        answer_with("/api/operations", row.reply);
        std::vector<Operation> ops{{"keep", "", "", "", 1}};
        ApiError error;
        EXPECT_FALSE(client.list_operations(ops, error));
        EXPECT_EQ(error.kind, row.kind);
        EXPECT_EQ(error.http_status, row.status);
        EXPECT_EQ(row.kind == ApiError::Network ? error.message.substr(0, row.message.size()) : error.message, row.message);
        ASSERT_EQ(ops.size(), 1u);
        EXPECT_EQ(ops[0].code, "keep");
    }
}

// Document submission: what each answer of the service becomes, and which form fields go out.
TEST_F(ApiClientServerTest, EachAnswerBecomesItsResult) {
    HttpReply drop;
    drop.drop = true;
    const ApiError::Kind none = ApiError::None, http = ApiError::Http, invalid = ApiError::InvalidResponse;
    const struct {
        HttpReply reply;
        bool ok;
        std::string task_id;
        const char* status;
        bool has_response;
        ApiError::Kind kind;
        int32_t http_status;
        std::string message;  // a prefix for the dropped connection
    } rows[] = {
        {json_reply(200, R"({"taskId":"t1","status":"queued"})"), true, "t1", "queued", true, none, 0, ""},
        {json_reply(202, R"({"taskId":"t2"})"), true, "t2", "pending", true, none, 0, ""},
        {json_reply(200, "{\"taskId\":\"" + std::string(200, 'a') + "\"}"), true, std::string(200, 'a'), "pending", true, none, 0, ""},
        {json_reply(200, R"({"taskId":"","status":"queued"})"), false, "", "queued", true, invalid, 200, "resposta sem taskId"},
        {testing_support::text_reply(200, "OK", "text/plain"), false, "", "", false, invalid, 200, "Unexpected char: O"},
        // A task the service ran and that failed is final: reported as 400, so it is not sent again.
        {json_reply(500, R"({"taskId":"t3","status":"failed","errorMessage":"OCR falhou"})"), false, "t3", "failed", true, http, 400, "OCR falhou"},
        {json_reply(422, R"({"taskId":"t4","error":"arquivo ruim"})"), false, "t4", "failed", true, http, 400, "arquivo ruim"},
        {json_reply(402, R"({"error":"sem cr\u00e9ditos","required":1,"remaining":0})"), false, "", "", false, http, 402,
         "sem créditos (necessário 1, disponível 0)"},
        // A hostile answer's task id would be shown, stored and quoted back: refused like none.
        {json_reply(200, R"({"taskId":"t\u001b[2J","status":"queued"})"), false, "", "queued", true, invalid, 200, "resposta sem taskId"},
        {json_reply(200, "{\"taskId\":\"" + std::string(201, 'a') + "\"}"), false, "", "pending", true, invalid, 200, "resposta sem taskId"},
        {json_reply(200, "{\"taskId\":\"t1\",\"note\":\"a\x01\"}"), false, "", "pending", true, invalid, 200, "resposta sem taskId"},
        {drop, false, "", "", false, ApiError::Network, 0, "Receive failed (error "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply.body.substr(0, 80));
        server.fail_next(1, row.reply);
        const dorvane::SubmitResult r = client.submit_document("doc.pdf", {'%', 'P', 'D', 'F'}, "ocr", false, 0, "");
        EXPECT_EQ(r.ok, row.ok);
        EXPECT_EQ(r.task_id, row.task_id);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.response.is_null(), !row.has_response);
        if (row.has_response) {
            EXPECT_EQ(r.response, json::parse(row.reply.body));
        }
        EXPECT_EQ(r.error.kind, row.kind);
        EXPECT_EQ(r.error.http_status, row.http_status);
        EXPECT_EQ(row.reply.drop ? r.error.message.substr(0, row.message.size()) : r.error.message, row.message);
    }
    EXPECT_EQ(server.request_count(), std::size(rows));
}

// The fields in key order, "priority" only above 0 and "callbackUrl" only when given, the file last.
TEST_F(ApiClientServerTest, FormCarriesTheFieldsThatWereGiven) {
    const struct { bool await_result; int priority; const char* callback; std::vector<std::string> parts; } rows[] = {
        {false, 0, "", {"awaitResult=false", "operation=op", "file=scan.TIF|application/octet-stream|\t\t"}},
        {true, -2, "", {"awaitResult=true", "operation=op", "file=scan.TIF|application/octet-stream|\t\t"}},
        {true, 7, "https://cb.example/x?y=1",
         {"awaitResult=true", "callbackUrl=https://cb.example/x?y=1", "operation=op", "priority=7",
          "file=scan.TIF|application/octet-stream|\t\t"}},
    };
    for (const auto& row : rows) {
        server.fail_next(1, json_reply(202, R"({"taskId":"t"})"));
        EXPECT_TRUE(client.submit_document("scan.TIF", {9, 9}, "op", row.await_result, row.priority, row.callback).ok);
        const auto req = server.requests().back();
        EXPECT_EQ(req.method + " " + req.target + " " + req.header("x-api-key"), "POST /api/operations key-1");
        std::vector<testing_support::FormPart> form;
        ASSERT_TRUE(testing_support::parse_multipart(req.header("Content-Type"), req.body, form));
        std::vector<std::string> parts;
        for (const auto& p : form) {
            parts.push_back(p.name + "=" + (p.has_filename ? p.filename + "|" + p.content_type + "|" : "") + p.data);
        }
        EXPECT_EQ(parts, row.parts);
    }
}

}  // namespace
