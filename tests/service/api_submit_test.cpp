#include <gtest/gtest.h>

#include <string>

#include "service/api_client.h"
#include "support/test_server.h"

using dorvane::ApiClient;
using dorvane::ApiError;
using dorvane::SubmitResult;
using testing_support::FormPart;
using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::TestServer;

namespace {

class SubmitTest : public ::testing::Test {
protected:
    void SetUp() override { client.set_credentials(server.url(), "key-9"); }
    SubmitResult submit(const HttpReply& reply, bool await_result = false) {
        server.fail_next(1, reply);
        return client.submit_document("doc.pdf", {'%', 'P', 'D', 'F'}, "ocr", await_result, 0, "");
    }
    std::vector<FormPart> form_of_last_request() {
        const HttpRequest req = server.requests().back();
        std::vector<FormPart> parts;
        EXPECT_TRUE(testing_support::parse_multipart(req.header("Content-Type"), req.body, parts));
        return parts;
    }
    TestServer server;
    ApiClient client;
};

TEST_F(SubmitTest, ResultsAtAGlance) {
    const std::string html = "<!DOCTYPE html><html>" + std::string(500, 'h');
    const struct {
        const char* label;
        HttpReply reply;
        bool ok;
        const char* task_id;
        const char* status;
        bool has_response;
        ApiError::Kind kind;
        int32_t http_status;
        std::string message;
    } rows[] = {
        {"200 with taskId", json_reply(200, R"({"taskId":"t1","status":"queued"})"), true, "t1", "queued", true,
         ApiError::None, 0, ""},
        {"200 without status", json_reply(200, R"({"taskId":"t1"})"), true, "t1", "pending", true, ApiError::None, 0,
         ""},
        {"202 counts as success", json_reply(202, R"({"taskId":"t2","status":"pending"})"), true, "t2", "pending",
         true, ApiError::None, 0, ""},
        {"200 empty taskId", json_reply(200, R"({"taskId":"","status":"queued"})"), false, "", "queued", true,
         ApiError::InvalidResponse, 200, "resposta sem taskId"},
        {"200 no taskId", json_reply(200, R"({"id":"t"})"), false, "", "pending", true, ApiError::InvalidResponse,
         200, "resposta sem taskId"},
        {"200 not JSON", testing_support::text_reply(200, "OK", "text/plain"), false, "", "", false,
         ApiError::InvalidResponse, 200, "Unexpected char: O"},
        {"500 failed task", json_reply(500, R"({"taskId":"t3","status":"failed","errorMessage":"OCR falhou"})"),
         false, "t3", "failed", true, ApiError::Http, 400, "OCR falhou"},
        {"422 task without status or errorMessage", json_reply(422, R"({"taskId":"t4","error":"arquivo ruim"})"),
         false, "t4", "failed", true, ApiError::Http, 400, "arquivo ruim"},
        {"500 task with message only", json_reply(500, R"({"taskId":"t5","message":"m"})"), false, "t5", "failed",
         true, ApiError::Http, 400, "m"},
        {"500 empty taskId", json_reply(500, R"({"taskId":"","error":"e"})"), false, "", "", false, ApiError::Http,
         500, "e"},
        {"500 html", testing_support::text_reply(500, html, "text/html"), false, "", "", false, ApiError::Http, 500,
         html.substr(0, 200)},
        {"503 json", json_reply(503, R"({"error":"ocupado"})"), false, "", "", false, ApiError::Http, 503,
         "ocupado"},
        {"402 credits", json_reply(402, R"({"error":"sem cr\u00e9ditos","required":1,"remaining":0})"), false, "", "",
         false, ApiError::Http, 402, "sem cr\xC3\xA9" "ditos (necess\xC3\xA1rio 1, dispon\xC3\xADvel 0)"},
        {"401", json_reply(401, R"({"error":"chave"})"), false, "", "", false, ApiError::Http, 401, "chave"},
        // A hostile answer's task id would be shown, stored and quoted back: refused like none.
        {"200 taskId with ESC", json_reply(200, R"({"taskId":"t\u001b[2J","status":"queued"})"), false, "", "queued",
         true, ApiError::InvalidResponse, 200, "resposta sem taskId"},
        {"200 taskId with C1", json_reply(200, "{\"taskId\":\"t\xC2\x9B\"}"), false, "", "pending", true,
         ApiError::InvalidResponse, 200, "resposta sem taskId"},
        {"200 taskId of 201 bytes", json_reply(200, "{\"taskId\":\"" + std::string(201, 'a') + "\"}"), false, "",
         "pending", true, ApiError::InvalidResponse, 200, "resposta sem taskId"},
        {"200 raw control in a string", json_reply(200, "{\"taskId\":\"t1\",\"note\":\"a\x01\"}"), false, "",
         "pending", true, ApiError::InvalidResponse, 200, "resposta sem taskId"},
        {"500 task id with BEL", json_reply(500, R"({"taskId":"t\u0007","error":"e"})"), false, "", "", false,
         ApiError::Http, 500, "e"},
    };
    const std::string longest(200, 'a');
    EXPECT_EQ(submit(json_reply(200, "{\"taskId\":\"" + longest + "\"}")).task_id, longest);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const SubmitResult r = submit(row.reply);
        EXPECT_EQ(r.ok, row.ok);
        EXPECT_EQ(r.task_id, row.task_id);
        EXPECT_EQ(r.status, row.status);
        if (row.has_response) {
            EXPECT_EQ(r.response, json::parse(row.reply.body));
        } else {
            EXPECT_TRUE(r.response.is_null());
        }
        EXPECT_EQ(r.error.kind, row.kind);
        EXPECT_EQ(r.error.http_status, row.http_status);
        EXPECT_EQ(r.error.message, row.message);
    }
}

TEST_F(SubmitTest, NoResponseIsANetworkError) {
    HttpReply drop;
    drop.drop = true;
    const SubmitResult dropped = submit(drop);
    EXPECT_FALSE(dropped.ok);
    EXPECT_EQ(dropped.error.kind, ApiError::Network);
    EXPECT_EQ(dropped.error.http_status, 0);
    EXPECT_EQ(dropped.error.message.rfind("Receive failed (error ", 0), 0u) << dropped.error.message;
    EXPECT_TRUE(dropped.response.is_null());
    EXPECT_EQ(server.request_count(), 1u);

    client.set_credentials("http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "k");
    const SubmitResult refused = client.submit_document("a.pdf", {1}, "ocr", false, 0, "");
    EXPECT_EQ(refused.error.kind, ApiError::Network);
    EXPECT_EQ(refused.error.to_string().rfind("rede: Send failed (error ", 0), 0u) << refused.error.to_string();
    EXPECT_EQ(refused.task_id, "");
    EXPECT_EQ(refused.status, "");
}

TEST_F(SubmitTest, FormCarriesOperationAndAwaitFlag) {
    submit(json_reply(200, R"({"taskId":"t"})"), false);
    const HttpRequest req = server.requests().back();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/api/operations");
    EXPECT_EQ(req.header("x-api-key"), "key-9");
    for (const bool await_result : {false, true}) {
        if (await_result) submit(json_reply(200, R"({"taskId":"t"})"), true);
        std::vector<std::string> fields;
        for (const auto& p : form_of_last_request())
            fields.push_back(p.name + "|" + p.filename + "|" + p.content_type + "|" + p.data);
        EXPECT_EQ(fields, (std::vector<std::string>{std::string("awaitResult|||") + (await_result ? "true" : "false"),
                                                     "operation|||ocr", "file|doc.pdf|application/pdf|%PDF"}));
    }
}

TEST_F(SubmitTest, PriorityAndCallbackOnlyWhenGiven) {
    const struct {
        int priority;
        const char* callback;
        std::vector<std::string> names;
    } rows[] = {
        {0, "", {"awaitResult", "operation", "file"}},
        {-2, "", {"awaitResult", "operation", "file"}},
        {3, "", {"awaitResult", "operation", "priority", "file"}},
        {0, "https://cb.example/x?y=1", {"awaitResult", "callbackUrl", "operation", "file"}},
        {7, "https://cb.example/x?y=1", {"awaitResult", "callbackUrl", "operation", "priority", "file"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.priority);
        server.fail_next(1, json_reply(202, R"({"taskId":"t"})"));
        const SubmitResult r =
            client.submit_document("scan.TIF", {9, 9}, "op", true, row.priority, row.callback);
        EXPECT_TRUE(r.ok);
        const auto parts = form_of_last_request();
        std::vector<std::string> names;
        for (const auto& p : parts) {
            names.push_back(p.name);
            if (p.name == "priority") {
                EXPECT_EQ(p.data, std::to_string(row.priority));
            } else if (p.name == "callbackUrl") {
                EXPECT_EQ(p.data, row.callback);
            } else if (p.name == "file") {
                EXPECT_EQ(p.content_type, "application/octet-stream");
            }
        }
        EXPECT_EQ(names, row.names);
    }
}

}  // namespace
