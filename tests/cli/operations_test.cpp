// `dorvane operations` as the operator runs it: the built program against the demo service. This
// is where the connect step's texts (shared with the window) are held.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/version.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "support/process.h"

using testing_support::bin_path;
using testing_support::RunResult;

namespace {

// Every log line must carry a time stamp; it is compared as "[T] ".
std::string without_stamps(const std::string& err) {
    return std::regex_replace(err, std::regex("^\\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\] ", std::regex::multiline), "[T] ");
}

class OperationsTest : public ::testing::Test {
protected:
    // The environment is cleared of our variables and the proxy ones unless a test sets them.
    RunResult dorvane(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        for (const char* name : {"DORVANE_URL", "DORVANE_API_KEY", "http_proxy", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            env.emplace(name, "");
        args.insert(args.begin(), {bin_path("dorvane"), "operations"});
        return testing_support::run_program(args, env);
    }
    RunResult connect(std::map<std::string, std::string> env = {}) {
        return dorvane({"--url", service.url(), "--key", "demo-key"}, env);
    }
    http::Response control(const std::string& call, const std::string& body = "") {
        return client.request(body.empty() ? "GET" : "POST", service.url() + "/__control/" + call, {},
                              {body.begin(), body.end()}, 10);
    }

    testing_support::DemoService service;
    http::Client client;
};

TEST_F(OperationsTest, CatalogueAsTableOrJson) {
    RunResult r = connect();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(without_stamps(r.err), "[T] Conectando em " + service.url() + " ...\n[T] [OK] 5 operação(ões) disponível(is).\n");
    EXPECT_EQ(r.out,
              "CÓDIGO           NOME                              CUSTO\n"
              "ocr              OCR (texto pesquisável)           1\n"
              "pdf-compress     Compressão de PDF                 0\n"
              "invoice-extract  Extração de dados de nota fiscal  3\n"
              "classify         Classificação de documentos       2\n"
              "fail-demo        Demonstração de falha             0\n");

    // The service's names may hold quotes and control bytes: the JSON stays readable.
    control("faults", "{\"status\":200,\"path\":\"/api/operations\",\"json\":{\"operations\":["
                      "{\"code\":\"ocr\",\"name\":\"OCR \\\"rápido\\\"\\u0001\",\"cost\":2.9},{\"code\":\"x\"}]}}");
    r = dorvane({"--url", service.url(), "--key", "demo-key", "--json"});
    const json::Array ops = json::parse(r.out).get("operations").as_array();
    ASSERT_EQ(ops.size(), 2u) << r.out;
    EXPECT_EQ(ops[0].get_string("name", ""), "OCR \"rápido\"\x01");
    EXPECT_EQ(ops[0].get("cost"), json::Value(2));
    EXPECT_EQ(ops[1].get_string("category", "?") + ops[1].get_string("description", "?"), "");
}

// The URL is normalised; options win over the environment, an empty option counts as not given.
TEST_F(OperationsTest, UrlAndKeyFromOptionsOrEnvironment) {
    const std::map<std::string, std::string> env = {{"DORVANE_URL", "  " + service.url() + "/api/operations/ "},
                                                    {"DORVANE_API_KEY", "demo-key"}};
    RunResult r = dorvane({"--url=", "--key="}, env);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Conectando em " + service.url() + " ...\n"), std::string::npos) << r.err;
    EXPECT_EQ(dorvane({"--key", "wrong"}, env).exit_code, 2);
}

// Each failed connect: exit 2, nothing on stdout, the log lines and the window's dialog text. On
// Linux the office network comes from libcurl's variables: a proxy that wants a password, one that
// is down, a server certificate that no store trusts.
TEST_F(OperationsTest, ConnectFailuresAndTheirTexts) {
    testing_support::ForwardingProxy guarded;
    guarded.require_auth(true);
    testing_support::TlsServer tls;
    const std::string port = std::to_string(testing_support::unused_port());
    const std::string no_answer = "\\[T\\] \\[ERRO\\] Falha ao conectar — (rede: [^\n]+)\n\nNão foi possível falar com o "
                                  "servidor\\.\n\n\\1\n\nConfira a URL e a conexão com a internet\\.\n";
    const struct {
        std::string url, key, fault, err;  // err: a regex of the whole of stderr
        std::map<std::string, std::string> env;
        std::string text;  // a network error text it must hold
    } rows[] = {
        {service.url(), "wrong", "",
         "\\[T\\] \\[ERRO\\] Falha ao conectar — HTTP 401 — API Key inválida\n\nAPI Key inválida ou desativada\\.\n\n"
         "Gere uma nova chave no painel do Dorvane, em Configurações → API\\.\n", {}, ""},
        {"http://127.0.0.1:" + port, "demo-key", "", no_answer, {}, ""},
        {service.url(), "demo-key", "", no_answer, {{"http_proxy", "http://" + guarded.address()}}, http::PROXY_AUTH_TEXT},
        {service.url(), "demo-key", "", no_answer, {{"http_proxy", "http://127.0.0.1:" + port}},
         "não foi possível conectar ao proxy 127.0.0.1:" + port + " — Send failed (error 7)"},
        {tls.url(), "demo-key", "", no_answer, {},
         "o certificado do servidor não é confiável — SSL certificate problem: self-signed certificate "
         "(servidor 127.0.0.1, erro 60)"},
        {service.url(), "demo-key", "{\"status\":500,\"path\":\"/api/operations\"}",
         "\\[T\\] \\[ERRO\\] Não foi possível listar as operações — (HTTP 500 — falha simulada \\(HTTP 500\\))\n\n"
         "A chave foi aceita, mas o catálogo de operações não pôde ser carregado\\.\n\n\\1\n", {}, ""},
        {service.url(), "demo-key", "{\"non_json\":1,\"path\":\"/api/operations\"}",
         "\\[T\\] \\[ERRO\\] Não foi possível listar as operações — (resposta inválida: [^\n]+)\n\n"
         "A chave foi aceita, mas o catálogo de operações não pôde ser carregado\\.\n\n\\1\n", {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url + " " + row.text + row.fault);
        if (!row.fault.empty()) {
            ASSERT_EQ(control("faults", row.fault).status, 200);
        }
        RunResult r = dorvane({"--url", row.url, "--key", row.key}, row.env);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(std::regex_match(without_stamps(r.err), std::regex("\\[T\\] Conectando em " + row.url + " \\.\\.\\.\n" + row.err)))
            << r.err;
        EXPECT_NE(r.err.find(row.text), std::string::npos) << r.err;
    }
}

// libcurl's proxy variables, and no_proxy.
TEST_F(OperationsTest, ProxyFromTheEnvironment) {
    testing_support::ForwardingProxy proxy;
    const std::string through = "http://" + proxy.address();
    EXPECT_EQ(connect({{"http_proxy", through}}).exit_code, 0);
    const auto seen = proxy.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].target, service.url() + "/api/operations");
    EXPECT_EQ(seen[1].header("x-api-key"), "demo-key");
    EXPECT_EQ(connect({{"http_proxy", through}, {"no_proxy", "localhost,127.0.0.1"}}).exit_code, 0);
    EXPECT_EQ(proxy.requests().size(), 2u);
}

// Usage errors exit 64 without a word to the service; help and version answer on stdout.
TEST_F(OperationsTest, UsageHelpAndVersion) {
    const std::string hint = "\nUse \"dorvane operations --help\" para ver as opções.\n";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--url", "x", "extra"}, "dorvane operations: argumento inesperado: extra" + hint},
        {{"--bogus"}, "dorvane operations: opção desconhecida: --bogus" + hint},
        {{"--url", service.url()},
         "Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API.\n"
         "(use --key ou a variável de ambiente DORVANE_API_KEY)\n"},
    };
    for (const auto& row : rows) {
        RunResult r = dorvane(row.first);
        EXPECT_EQ(r.exit_code, 64);
        EXPECT_EQ(r.out + r.err, row.second);
    }
    EXPECT_EQ(json::parse(control("received").body).get("requests").as_array().size(), 0u);

    RunResult help = dorvane({"--help"});
    EXPECT_EQ(help.out.rfind("Uso: dorvane operations [--url URL] [--key CHAVE | --key-file ARQUIVO] [--json]\n", 0), 0u);
    EXPECT_NE(help.out.find("\nRede: o proxy vem das variáveis de ambiente https_proxy e http_proxy"), std::string::npos);
    for (const char* option : {"--version", "-V"}) {
        RunResult r = testing_support::run_program({bin_path("dorvane"), option});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out.rfind(std::string("dorvane ") + version::TEXT + " (Linux ", 0), 0u) << r.out;
    }
}

}  // namespace
