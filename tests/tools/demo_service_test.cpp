// The demo service as a black box: started from the build folder on a free loopback port and
// driven with our own HTTP client, as the product and the other tests drive it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/json.h"
#include "net/http_client.h"
#include "support/process.h"

using testing_support::DemoService;
using testing_support::run_program;

namespace {

const std::string PROBE = "/api/operations/00000000-0000-0000-0000-000000000000";

struct Part {
    std::string name;
    std::string value;
    std::string filename;  // a file part when not empty
};

std::string form_body(const std::vector<Part>& parts, const std::string& boundary = "XbOuNdArY") {
    std::string body;
    for (const auto& p : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
        if (!p.filename.empty()) body += "; filename=\"" + p.filename + "\"\r\nContent-Type: application/pdf";
        body += "\r\n\r\n" + p.value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Raw bytes to the service and everything it answers until it closes or 10 s pass.
std::string raw_exchange(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0) shutdown(fd, SHUT_WR);
        pollfd pfd{fd, POLLIN, 0};
        while (poll(&pfd, 1, 10000) > 0) {
            char buf[4096];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            answer.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return answer;
}

class DemoServiceTest : public ::testing::Test {
protected:
    explicit DemoServiceTest(std::vector<std::string> args = {"--task-ms", "50"}) : service(args) {}

    http::Response get(const std::string& path, const std::string& key = "demo-key") {
        std::map<std::string, std::string> headers;
        if (!key.empty()) headers["x-api-key"] = key;
        return client.request(L"GET", service.url() + path, headers, {}, 20);
    }
    http::Response submit(const std::string& body, const std::string& key = "demo-key",
                          const std::string& content_type = "multipart/form-data; boundary=XbOuNdArY") {
        return client.request(L"POST", service.url() + "/api/operations",
                              {{"x-api-key", key}, {"Content-Type", content_type}}, bytes(body), 20);
    }
    http::Response control(const std::string& path, const std::string& json_body) {
        return client.request(L"POST", service.url() + "/__control/" + path, {{"Content-Type", "application/json"}},
                              bytes(json_body), 20);
    }
    json::Value received() { return json::parse(get("/__control/received", "").body); }

    DemoService service;
    http::Client client;
};

TEST_F(DemoServiceTest, ProbeAnswers404ForTheGoodKeyAnd401Otherwise) {
    struct Row {
        const char* name;
        std::string key;
        int status;
        std::string error;
    };
    const Row rows[] = {{"good key", "demo-key", 404, "tarefa não encontrada"},
                        {"wrong key", "other", 401, "API Key inválida"},
                        {"key in other case", "DEMO-KEY", 401, "API Key inválida"},
                        {"no key", "", 401, "API Key inválida"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto res = get(PROBE, r.key);
        EXPECT_EQ(res.status, r.status);
        EXPECT_EQ(json::parse(res.body).get_string("error", ""), r.error);
    }
}

TEST_F(DemoServiceTest, CatalogueHasFreeCheapAndDearOperations) {
    auto res = get("/api/operations");
    ASSERT_EQ(res.status, 200);
    json::Value ops = json::parse(res.body).get("operations");
    ASSERT_TRUE(ops.is_array());
    ASSERT_GE(ops.as_array().size(), 3u);
    EXPECT_EQ(ops.as_array()[0].get_string("code", ""), "ocr");
    EXPECT_EQ(ops.as_array()[0].get_string("name", ""), "OCR (texto pesquisável)");
    std::set<int> costs;
    std::set<std::string> codes;
    for (const auto& op : ops.as_array()) {
        EXPECT_FALSE(op.get_string("code", "").empty());
        EXPECT_FALSE(op.get_string("name", "").empty());
        EXPECT_TRUE(op.get("description").is_string());
        EXPECT_TRUE(op.get("category").is_string());
        ASSERT_TRUE(op.get("cost").is_number());
        costs.insert(static_cast<int>(op.get("cost").as_number()));
        codes.insert(op.get_string("code", ""));
    }
    EXPECT_EQ(codes.size(), ops.as_array().size());
    EXPECT_TRUE(costs.count(0));
    EXPECT_TRUE(costs.count(1));
    EXPECT_GE(*costs.rbegin(), 3);
    EXPECT_EQ(get("/api/operations", "bad").status, 401);
}

TEST_F(DemoServiceTest, SubmissionIsAcceptedAsPendingAndDebitsCredits) {
    auto res = submit(form_body({{"operation", "invoice-extract", ""}, {"awaitResult", "false", ""},
                                 {"file", "%PDF-1.4 x", "nota.pdf"}}));
    ASSERT_EQ(res.status, 202) << res.body;
    json::Value answer = json::parse(res.body);
    const std::string task = answer.get_string("taskId", "");
    EXPECT_TRUE(std::regex_match(task, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << task;
    EXPECT_EQ(answer.get_string("status", ""), "pending");
    EXPECT_EQ(received().get("credits").as_number(), 997);

    // The task is known afterwards and completes after its short run.
    auto later = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string status;
    while (status != "completed" && std::chrono::steady_clock::now() < later) {
        auto t = get("/api/operations/" + task);
        ASSERT_EQ(t.status, 200);
        status = json::parse(t.body).get_string("status", "");
    }
    EXPECT_EQ(status, "completed");
}

TEST_F(DemoServiceTest, AwaitedSubmissionAnswersTheFinishedTask) {
    auto res = submit(form_body({{"operation", "ocr", ""}, {"awaitResult", "true", ""}, {"file", "abc", "a.pdf"}}));
    ASSERT_EQ(res.status, 200) << res.body;
    json::Value answer = json::parse(res.body);
    EXPECT_EQ(answer.get_string("status", ""), "completed");
    EXPECT_FALSE(answer.get_string("taskId", "").empty());
    EXPECT_EQ(answer.get("result").get_string("sha256", ""),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(DemoServiceTest, FailingTasksComeBackWithTheirTaskIdAndMessage) {
    struct Row {
        const char* name;
        const char* operation;
        const char* filename;
    };
    const Row rows[] = {{"failing operation", "fail-demo", "ok.pdf"}, {"failing file name", "ocr", "Relatorio_FALHA.pdf"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto res = submit(form_body({{"operation", r.operation, ""}, {"awaitResult", "true", ""}, {"file", "x", r.filename}}));
        EXPECT_EQ(res.status, 422);
        json::Value answer = json::parse(res.body);
        EXPECT_EQ(answer.get_string("status", ""), "failed");
        EXPECT_FALSE(answer.get_string("taskId", "").empty());
        EXPECT_EQ(answer.get_string("errorMessage", ""), std::string("Falha simulada no processamento de ") + r.filename);
    }
}

TEST_F(DemoServiceTest, MalformedSubmissionsAreRefusedWith400) {
    const std::string file = "%PDF";
    struct Row {
        const char* name;
        std::string body;
        std::string content_type;
        std::string error;
    };
    const std::string multipart = "multipart/form-data; boundary=XbOuNdArY";
    std::string cut_form = form_body({{"operation", "ocr", ""}, {"file", file, "a.pdf"}});
    cut_form.resize(cut_form.size() - std::string("\r\n--XbOuNdArY--\r\n").size());
    const Row rows[] = {
        {"unknown operation", form_body({{"operation", "nope", ""}, {"file", file, "a.pdf"}}), multipart,
         "operação desconhecida: nope"},
        {"no operation", form_body({{"file", file, "a.pdf"}}), multipart, "campo 'operation' ausente"},
        {"no file", form_body({{"operation", "ocr", ""}}), multipart, "arquivo ausente (parte 'file')"},
        {"file part without a file name", form_body({{"operation", "ocr", ""}, {"file", file, ""}}), multipart,
         "arquivo ausente (parte 'file')"},
        {"empty file", form_body({{"operation", "ocr", ""}, {"file", "", "a.pdf"}}), multipart, "arquivo vazio"},
        {"bad awaitResult", form_body({{"operation", "ocr", ""}, {"awaitResult", "yes", ""}, {"file", file, "a.pdf"}}),
         multipart, "campo 'awaitResult' inválido: yes"},
        {"bad priority", form_body({{"operation", "ocr", ""}, {"priority", "-1", ""}, {"file", file, "a.pdf"}}), multipart,
         "campo 'priority' inválido: -1"},
        {"not multipart", "operation=ocr", "application/x-www-form-urlencoded",
         "Content-Type deve ser multipart/form-data com boundary"},
        {"no boundary parameter", form_body({{"operation", "ocr", ""}}), "multipart/form-data",
         "Content-Type deve ser multipart/form-data com boundary"},
        {"cut form", cut_form, multipart,
         "formulário inválido: formulário sem delimitador final"},
        {"garbage", std::string("\x00\xff\r\n\r\n--", 7), multipart,
         "formulário inválido: boundary não encontrado no corpo"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto res = submit(r.body, "demo-key", r.content_type);
        EXPECT_EQ(res.status, 400);
        EXPECT_EQ(json::parse(res.body).get_string("error", ""), r.error);
    }
    EXPECT_EQ(received().get("credits").as_number(), 1000);  // nothing refused is charged
}

TEST_F(DemoServiceTest, RecordsTheSubmissionByteForByte) {
    std::string content;
    for (int i = 0; i < 256; ++i) content += static_cast<char>(i);
    const std::string name = "relatório de inspeção ç.pdf";
    const std::string body = form_body({{"operation", "ocr", ""}, {"awaitResult", "false", ""}, {"priority", "3", ""},
                                        {"callbackUrl", "http://127.0.0.1/cb", ""}, {"file", content, name}});
    ASSERT_EQ(submit(body).status, 202);
    json::Value subs = received().get("submissions");
    ASSERT_EQ(subs.as_array().size(), 1u);
    const json::Value& s = subs.as_array()[0];
    const std::pair<const char*, std::string> fields[] = {
        {"operation", "ocr"}, {"awaitResult", "false"}, {"priority", "3"}, {"callbackUrl", "http://127.0.0.1/cb"},
        {"filename", name}, {"file_content_type", "application/pdf"},
        {"sha256", "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
        {"content_type", "multipart/form-data; boundary=XbOuNdArY"}};
    for (const auto& f : fields) EXPECT_EQ(s.get_string(f.first, ""), f.second) << f.first;
    EXPECT_EQ(s.get("size").as_number(), 256);
    EXPECT_EQ(s.get("body_size").as_number(), static_cast<double>(body.size()));
    EXPECT_EQ(s.get("status").as_number(), 202);
    // Every request is listed too, with its headers as received.
    json::Value reqs = received().get("requests");
    ASSERT_EQ(reqs.as_array().size(), 1u);
    EXPECT_EQ(reqs.as_array()[0].get("headers").get_string("x-api-key", ""), "demo-key");
    EXPECT_EQ(reqs.as_array()[0].get("headers").get_string("Content-Type", ""), "multipart/form-data; boundary=XbOuNdArY");
}

class DemoServiceCreditsTest : public DemoServiceTest {
protected:
    DemoServiceCreditsTest() : DemoServiceTest({"--credits", "4"}) {}
};

TEST_F(DemoServiceCreditsTest, RunsOutOfCreditsWith402) {
    const std::string dear = form_body({{"operation", "invoice-extract", ""}, {"file", "x", "a.pdf"}});
    EXPECT_EQ(submit(dear).status, 202);  // 4 - 3 leaves 1
    auto res = submit(dear);
    ASSERT_EQ(res.status, 402);
    json::Value answer = json::parse(res.body);
    EXPECT_EQ(answer.get_string("error", ""), "Créditos insuficientes");
    EXPECT_EQ(answer.get("required").as_number(), 3);
    EXPECT_EQ(answer.get("remaining").as_number(), 1);
    EXPECT_EQ(submit(form_body({{"operation", "ocr", ""}, {"file", "x", "a.pdf"}})).status, 202);  // exactly 1 left
    EXPECT_EQ(submit(form_body({{"operation", "pdf-compress", ""}, {"file", "x", "a.pdf"}})).status, 202);  // free
    EXPECT_EQ(submit(form_body({{"operation", "ocr", ""}, {"file", "x", "a.pdf"}})).status, 402);

    ASSERT_EQ(control("credits", "{\"credits\":10}").status, 200);
    EXPECT_EQ(submit(dear).status, 202);
    ASSERT_EQ(control("reset", "").status, 200);
    EXPECT_EQ(received().get("credits").as_number(), 4);
}

TEST_F(DemoServiceTest, StatusFaultsHitTheNextMatchingRequests) {
    ASSERT_EQ(control("faults", "{\"status\":503,\"count\":2}").status, 200);
    EXPECT_EQ(get(PROBE).status, 503);
    auto second = get("/api/operations");
    EXPECT_EQ(second.status, 503);
    EXPECT_EQ(json::parse(second.body).get_string("error", ""), "falha simulada (HTTP 503)");
    EXPECT_EQ(get("/api/operations").status, 200);

    // Filtered by method and delayed by `after`: the second submission gets the fault.
    ASSERT_EQ(control("faults", "{\"status\":402,\"method\":\"POST\",\"after\":1,\"json\":{\"required\":5,\"remaining\":2}}")
                  .status,
              200);
    const std::string ok = form_body({{"operation", "ocr", ""}, {"file", "x", "a.pdf"}});
    EXPECT_EQ(get(PROBE).status, 404);
    EXPECT_EQ(submit(ok).status, 202);
    auto faulted = submit(ok);
    EXPECT_EQ(faulted.status, 402);
    EXPECT_EQ(faulted.body, "{\"remaining\":2,\"required\":5}");
    EXPECT_EQ(submit(ok).status, 202);
    // The faulted attempt is listed among the requests, not among the submissions.
    EXPECT_EQ(received().get("submissions").as_array().size(), 2u);
}

TEST_F(DemoServiceTest, TransportFaults) {
    ASSERT_EQ(control("faults", "[{\"drop\":1},{\"non_json\":1,\"status\":502},{\"cut\":1},{\"big\":100000}]").status, 200);
    auto dropped = get("/api/operations");
    EXPECT_EQ(dropped.status, 0);
    EXPECT_FALSE(dropped.error.empty());
    auto html = get("/api/operations");
    EXPECT_EQ(html.status, 502);
    EXPECT_EQ(html.body.rfind("<html>", 0), 0u);
    // The client may hand back what arrived of a cut body; it must be short of the announced 2 KB.
    auto cut = get("/api/operations");
    EXPECT_TRUE(cut.status == 0 || cut.body.size() < 2000) << cut.status << " " << cut.body.size();
    auto big = get("/api/operations");
    EXPECT_EQ(big.status, 200);
    EXPECT_EQ(big.body, std::string(100000, 'x'));
    EXPECT_EQ(get("/api/operations").status, 200);  // the queue is empty again
    // A dropped submission gets no answer; the next one goes through.
    ASSERT_EQ(control("faults", "{\"drop\":1,\"method\":\"POST\"}").status, 200);
    const std::string form = form_body({{"operation", "ocr", ""}, {"file", "x", "a.pdf"}});
    EXPECT_EQ(submit(form).status, 0);
    EXPECT_EQ(submit(form).status, 202);
}

TEST_F(DemoServiceTest, DelayAndTrickleFaults) {
    ASSERT_EQ(control("faults", "[{\"delay_ms\":300},{\"trickle\":1,\"interval_ms\":20,\"length\":5}]").status, 200);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get("/api/operations").status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    auto trickled = get("/api/operations");
    EXPECT_EQ(trickled.status, 200);
    EXPECT_EQ(trickled.body, "     ");
}

TEST_F(DemoServiceTest, BadControlRequestsAreRefused) {
    // A header a fault would send must be one line: a line break would let it write the answer.
    const char* rows[] = {"not json", "{\"foo\":1}", "{\"status\":42}", "[1]",
                          "{\"status\":503,\"headers\":{\"Retry-After\":\"1\\r\\nX: y\"}}",
                          "{\"status\":503,\"headers\":{\"Retry-After\":3}}"};
    for (const char* body : rows) {
        SCOPED_TRACE(body);
        EXPECT_EQ(control("faults", body).status, 400);
    }
    EXPECT_EQ(control("credits", "{}").status, 400);
    EXPECT_EQ(json::parse(get("/__control/faults", "").body).get("faults").as_array().size(), 0u);
}

TEST_F(DemoServiceTest, ResetClearsFaultsAndRecords) {
    ASSERT_EQ(control("faults", "{\"status\":500,\"count\":5}").status, 200);
    EXPECT_EQ(get(PROBE).status, 500);
    ASSERT_EQ(control("reset", "").status, 200);
    EXPECT_EQ(get(PROBE).status, 404);
    json::Value r = received();
    EXPECT_EQ(r.get("requests").as_array().size(), 1u);
    EXPECT_EQ(r.get("faults").as_array().size(), 0u);
}

TEST_F(DemoServiceTest, BrokenRequestsDoNotHurtTheService) {
    raw_exchange(service.port(), std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));
    raw_exchange(service.port(), "GET /api/oper");
    raw_exchange(service.port(), "POST /api/operations HTTP/1.1\r\nHost: x\r\nx-api-key: demo-key\r\n"
                                 "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: 500\r\n\r\n--B\r\n");
    raw_exchange(service.port(), "POST /api/operations HTTP/1.1\r\nHost: x\r\nx-api-key: demo-key\r\n"
                                 "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: 999999999999\r\n\r\n");
    EXPECT_EQ(get(PROBE).status, 404);
}

// The request bound, shown at a small size: a body of exactly the limit is read, one byte more
// is refused with 413 and never reaches the form reader.
class DemoServiceLimitTest : public DemoServiceTest {
protected:
    DemoServiceLimitTest() : DemoServiceTest({"--max-request-bytes", "1000"}) {}
};

TEST_F(DemoServiceLimitTest, BodyAtTheLimitIsReadAndOneByteMoreIsRefused) {
    std::string at_limit = form_body({{"operation", "ocr", ""}, {"file", "", "a.pdf"}});
    const size_t filler = 1000 - at_limit.size();
    at_limit = form_body({{"operation", "ocr", ""}, {"file", std::string(filler, 'p'), "a.pdf"}});
    ASSERT_EQ(at_limit.size(), 1000u);
    EXPECT_EQ(submit(at_limit).status, 202);
    std::string over = form_body({{"operation", "ocr", ""}, {"file", std::string(filler + 1, 'p'), "a.pdf"}});
    EXPECT_EQ(submit(over).status, 413);
    EXPECT_EQ(received().get("submissions").as_array().size(), 1u);
}

TEST(DemoServiceProgram, CommandLine) {
    auto help = run_program({testing_support::bin_path("dorvane-demo-service"), "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Uso: dorvane-demo-service"), std::string::npos);
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "70000"}, {"--credits", "-1"}, {"--bogus", "1"}, {"--port"}, {"--task-ms", "x"}};
    for (const auto& args : bad) {
        std::vector<std::string> argv = {testing_support::bin_path("dorvane-demo-service")};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = run_program(argv);
        EXPECT_EQ(r.exit_code, 64) << args[0];
    }
    // A port in use is reported, not ignored.
    DemoService first;
    auto busy = run_program({testing_support::bin_path("dorvane-demo-service"), "--port", std::to_string(first.port())});
    EXPECT_EQ(busy.exit_code, 1);
    EXPECT_NE(busy.err.find("não foi possível escutar"), std::string::npos);
}

}  // namespace
