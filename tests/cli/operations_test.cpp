// `dorvane operations` as the operator runs it: the built program against the demo service.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/version.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "support/test_server.h"
#include "support/process.h"

using testing_support::bin_path;
using testing_support::DemoService;
using testing_support::RunResult;
using testing_support::run_program;

namespace {

const std::string INVALID_KEY_TEXT =
    "\nAPI Key inválida ou desativada.\n\nGere uma nova chave no painel do Dorvane, em Configurações → API.\n";

// Time stamps vary; every log line must carry one, and is compared without it.
std::string without_stamps(const std::string& err) {
    return std::regex_replace(err, std::regex("^\\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\] ", std::regex::multiline), "[T] ");
}

class OperationsCommandTest : public ::testing::Test {
protected:
    // The environment is cleared of our variables unless a test sets them.
    RunResult dorvane(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        env.emplace("DORVANE_URL", "");
        env.emplace("DORVANE_API_KEY", "");
        for (const char* proxy_variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                           "no_proxy", "NO_PROXY"}) {
            env.emplace(proxy_variable, "");
        }
        args.insert(args.begin(), {bin_path("dorvane"), "operations"});
        return run_program(args, env);
    }
    void fault(const std::string& json_body) {
        auto r = client.request("POST", service.url() + "/__control/faults", {}, {json_body.begin(), json_body.end()}, 10);
        ASSERT_EQ(r.status, 200) << r.body;
    }
    size_t requests_seen() {
        auto r = client.request("GET", service.url() + "/__control/received", {}, {}, 10);
        return json::parse(r.body).get("requests").as_array().size();
    }

    DemoService service;
    http::Client client;
};

TEST_F(OperationsCommandTest, GoodKeyPrintsTheCatalogue) {
    RunResult r = dorvane({"--url", service.url(), "--key", "demo-key"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(without_stamps(r.err), "[T] Conectando em " + service.url() +
                                         " ...\n[T] [OK] 5 operação(ões) disponível(is).\n");
    EXPECT_EQ(r.out,
              "CÓDIGO           NOME                              CUSTO\n"
              "ocr              OCR (texto pesquisável)           1\n"
              "pdf-compress     Compressão de PDF                 0\n"
              "invoice-extract  Extração de dados de nota fiscal  3\n"
              "classify         Classificação de documentos       2\n"
              "fail-demo        Demonstração de falha             0\n");
}

TEST_F(OperationsCommandTest, UrlIsNormalisedAndEnvironmentIsUsed) {
    RunResult r = dorvane({}, {{"DORVANE_URL", "  " + service.url() + "/api/operations/ "}, {"DORVANE_API_KEY", "demo-key"}});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Conectando em " + service.url() + " ...\n"), std::string::npos) << r.err;
    // Options win over the environment.
    RunResult bad = dorvane({"--key", "wrong"}, {{"DORVANE_URL", service.url()}, {"DORVANE_API_KEY", "demo-key"}});
    EXPECT_EQ(bad.exit_code, 2);
}

TEST_F(OperationsCommandTest, RejectedKeyShowsTheInvalidKeyText) {
    RunResult r = dorvane({"--url", service.url(), "--key", "wrong"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_stamps(r.err), "[T] Conectando em " + service.url() +
                                         " ...\n[T] [ERRO] Falha ao conectar — HTTP 401 — API Key inválida\n" +
                                         INVALID_KEY_TEXT);
}

TEST_F(OperationsCommandTest, UnreachableServiceShowsTheConnectionText) {
    const std::string url = "http://127.0.0.1:" + std::to_string(testing_support::unused_port());
    RunResult r = dorvane({"--url", url, "--key", "demo-key"});
    EXPECT_EQ(r.exit_code, 2);
    const std::string err = without_stamps(r.err);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(err, m, std::regex("\\[T\\] Conectando em " + url +
                                                    " \\.\\.\\.\n\\[T\\] \\[ERRO\\] Falha ao conectar — (rede: [^\n]+)\n\n"
                                                    "Não foi possível falar com o servidor\\.\n\n(rede: [^\n]+)\n\n"
                                                    "Confira a URL e a conexão com a internet\\.\n")))
        << err;
    EXPECT_EQ(m[1], m[2]);
}

// The office network on Linux: libcurl's proxy variables, a proxy that wants a password, a proxy
// that is down, and a server certificate that no store trusts (TLS inspection, self-signed).
TEST_F(OperationsCommandTest, ProxyFromTheEnvironmentAndUntrustedCertificates) {
    testing_support::ForwardingProxy proxy;
    const std::string through = "http://" + proxy.address();
    RunResult via = dorvane({"--url", service.url(), "--key", "demo-key"}, {{"http_proxy", through}});
    EXPECT_EQ(via.exit_code, 0) << via.err;
    const auto seen = proxy.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].target, service.url() + "/api/operations/00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(seen[1].target, service.url() + "/api/operations");
    EXPECT_EQ(seen[1].header("x-api-key"), "demo-key");

    RunResult bypassed = dorvane({"--url", service.url(), "--key", "demo-key"},
                                 {{"http_proxy", through}, {"no_proxy", "localhost,127.0.0.1"}});
    EXPECT_EQ(bypassed.exit_code, 0) << bypassed.err;
    EXPECT_EQ(proxy.requests().size(), 2u);

    const std::string down = "127.0.0.1:" + std::to_string(testing_support::unused_port());
    testing_support::TlsServer tls;
    const struct {
        const char* name;
        std::map<std::string, std::string> env;
        std::string url;
        std::string error;
    } rows[] = {
        {"proxy asks for a password", {{"http_proxy", through}}, service.url(), http::PROXY_AUTH_TEXT},
        {"proxy down", {{"http_proxy", "http://" + down}}, service.url(),
         "não foi possível conectar ao proxy " + down + " — Send failed (error 7)"},
        {"self-signed certificate", {}, tls.url(),
         "o certificado do servidor não é confiável — SSL certificate problem: self-signed certificate "
         "(servidor 127.0.0.1, erro 60)"},
    };
    proxy.require_auth(true);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RunResult r = dorvane({"--url", row.url, "--key", "demo-key"}, row.env);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.err.find("[ERRO] Falha ao conectar — rede: " + row.error +
                             "\n\nNão foi possível falar com o servidor.\n\nrede: " + row.error + "\n\n"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(OperationsCommandTest, ProbeErrorsOtherThan401StillCountAsAcceptedKey) {
    fault("{\"status\":500,\"path\":\"/api/operations/00000000-0000-0000-0000-000000000000\"}");
    EXPECT_EQ(dorvane({"--url", service.url(), "--key", "demo-key"}).exit_code, 0);
}

TEST_F(OperationsCommandTest, CatalogueFailuresAfterAnAcceptedKey) {
    struct Row {
        const char* name;
        std::string fault;
        std::string error_text;  // regex
    };
    const Row rows[] = {
        {"server error", "{\"status\":500,\"path\":\"/api/operations\"}", "HTTP 500 — falha simulada \\(HTTP 500\\)"},
        {"html page", "{\"non_json\":1,\"path\":\"/api/operations\"}", "resposta inválida: [^\n]+"},
        {"no operations member", "{\"status\":200,\"path\":\"/api/operations\",\"json\":{\"ops\":[]}}",
         "resposta inválida: campo 'operations' ausente"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        fault(r.fault);
        RunResult res = dorvane({"--url", service.url(), "--key", "demo-key"});
        EXPECT_EQ(res.exit_code, 2);
        EXPECT_EQ(res.out, "");
        EXPECT_TRUE(std::regex_match(without_stamps(res.err),
                                     std::regex("\\[T\\] Conectando em [^\n]+\n"
                                                "\\[T\\] \\[ERRO\\] Não foi possível listar as operações — " +
                                                r.error_text +
                                                "\n\nA chave foi aceita, mas o catálogo de operações não pôde ser "
                                                "carregado\\.\n\n" +
                                                r.error_text + "\n")))
            << res.err;
    }
}

TEST_F(OperationsCommandTest, EmptyCatalogueIsNotAnError) {
    fault("{\"status\":200,\"path\":\"/api/operations\",\"json\":{\"operations\":[]}}");
    RunResult r = dorvane({"--url", service.url(), "--key", "demo-key"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "CÓDIGO  NOME  CUSTO\n");
    EXPECT_NE(r.err.find("[OK] 0 operação(ões) disponível(is).\n"), std::string::npos);
}

TEST_F(OperationsCommandTest, JsonOutputIsStrictJson) {
    // Names with quotes and control bytes must still come out as valid JSON.
    fault("{\"status\":200,\"path\":\"/api/operations\",\"json\":{\"operations\":["
          "{\"code\":\"ocr\",\"name\":\"OCR \\\"rápido\\\"\\u0001\",\"cost\":2.9},{\"code\":\"x\",\"cost\":\"3\"}]}}");
    RunResult r = dorvane({"--url", service.url(), "--key", "demo-key", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    RunResult py = run_program({"/usr/bin/python3", "-c",
                                "import json,sys\n"
                                "d=json.loads(sys.argv[1])\n"
                                "print(';'.join('%s|%s|%r' % (o['code'], o['name'], o['cost']) for o in d['operations']))",
                                r.out});
    EXPECT_EQ(py.exit_code, 0) << py.err;
    EXPECT_EQ(py.out, "ocr|OCR \"rápido\"\x01|2;x||0\n");

    RunResult normal = dorvane({"--url", service.url(), "--key", "demo-key", "--json"});
    json::Value parsed = json::parse(normal.out);
    const json::Value ops = parsed.get("operations");
    ASSERT_TRUE(ops.is_array());
    ASSERT_EQ(ops.as_array().size(), 5u);
    const json::Value& first = ops.as_array()[0];
    EXPECT_EQ(first.get_string("code", ""), "ocr");
    EXPECT_EQ(first.get_string("category", ""), "Reconhecimento");
    EXPECT_EQ(first.get("cost").as_number(), 1);
}

TEST_F(OperationsCommandTest, UsageErrorsExit64WithoutContactingTheService) {
    const std::vector<std::vector<std::string>> rows = {
        {"--bogus"}, {"--url"}, {"--json=1"}, {"--url", "x", "extra"}, {"--key", "demo-key"}};
    for (const auto& args : rows) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> full = args;
        if (args.size() == 2 && args[0] == "--key") full = {"--url", service.url(), "--key="};  // no key at all
        RunResult r = dorvane(full);
        EXPECT_EQ(r.exit_code, 64);
        EXPECT_EQ(r.out, "");
    }
    RunResult no_key = dorvane({"--url", service.url()});
    EXPECT_EQ(no_key.exit_code, 64);
    EXPECT_EQ(no_key.err.rfind("Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API.\n", 0),
              0u);
    RunResult unknown = dorvane({"--bogus"});
    EXPECT_EQ(unknown.err, "dorvane operations: opção desconhecida: --bogus\nUse \"dorvane operations --help\" para ver as opções.\n");
    EXPECT_EQ(requests_seen(), 0u);
}

TEST_F(OperationsCommandTest, HelpIsPrintedOnStdout) {
    RunResult r = dorvane({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("Uso: dorvane operations [--url URL] [--key CHAVE | --key-file ARQUIVO] [--json]\n", 0), 0u);
    EXPECT_NE(r.out.find("\nRede: o proxy vem das variáveis de ambiente https_proxy e http_proxy"), std::string::npos);
    RunResult top = run_program({bin_path("dorvane"), "--help"});
    EXPECT_EQ(top.exit_code, 0);
    EXPECT_NE(top.out.find("  operations   confere a API Key e lista as operações do serviço\n"), std::string::npos);
}

// Both spellings answer on stdout with the configured release, not a usage error (exit 64).
TEST(VersionOption, NamesTheReleaseAndThePlatform) {
    for (const char* option : {"--version", "-V"}) {
        SCOPED_TRACE(option);
        RunResult r = run_program({bin_path("dorvane"), option});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(std::regex_match(r.out, std::regex("dorvane [0-9]+\\.[0-9]+\\.[0-9]+ \\(Linux [a-z0-9_]+\\)\n"))) << r.out;
        EXPECT_EQ(r.out.rfind(std::string("dorvane ") + version::TEXT + " (", 0), 0u) << r.out;
    }
}

}  // namespace
