// The Windows `dorvane.exe` (WinHTTP) under Wine against the native demo service: the same texts
// and exit statuses as the Linux program. Skipped when the Windows build or Wine is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "imaging/tiff_builder.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "support/support.h"
#include "support/test_server.h"
#include "support/process.h"

using testing_support::DemoService;
using testing_support::RunResult;
using testing_support::run_program;

namespace {

bool file_exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string windows_exe() {
    const char* dir = std::getenv("DORVANE_WINDOWS_BIN_DIR");
    return std::string(dir && *dir ? dir : DORVANE_SOURCE_DIR "/build/windows/bin") + "/dorvane.exe";
}

std::string without_cr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

class WindowsOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!file_exists(windows_exe())) GTEST_SKIP() << "no Windows build at " << windows_exe();
        if (run_program({"/bin/sh", "-c", "command -v wine"}).exit_code != 0) GTEST_SKIP() << "wine is not installed";
    }
    void TearDown() override { clear_user_proxy(); }

    RunResult dorvane(const std::vector<std::string>& args, const char* command = "operations") {
        std::vector<std::string> argv = {DORVANE_SOURCE_DIR "/scripts/wine-run", windows_exe(), command};
        argv.insert(argv.end(), args.begin(), args.end());
        // A first run may have to create the Wine prefix. Wine's WinHTTP also follows http_proxy,
        // which Windows does not: the proxy variables are cleared so only the registry counts.
        RunResult r = run_program(argv,
                                  {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}, {"http_proxy", ""}, {"https_proxy", ""},
                                   {"HTTP_PROXY", ""}, {"HTTPS_PROXY", ""}, {"all_proxy", ""}, {"no_proxy", ""}},
                                  300);
        r.out = without_cr(r.out);
        r.err = without_cr(r.err);
        return r;
    }

    static RunResult wine_reg(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {DORVANE_SOURCE_DIR "/scripts/wine-run", "reg"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, {}, 120);
    }

    // The user's proxy as Windows keeps it: the binary value DefaultConnectionSettings, little-endian
    // DWORDs 0x46, a counter and the flags (1 direct, 2 manual proxy, 4 PAC script, 8 detect), then
    // the proxy, the bypass list and the PAC address, each as a length and its ASCII bytes.
    static void set_user_proxy(uint32_t flags, const std::string& proxy, const std::string& bypass,
                               const std::string& pac = "") {
        std::string hex;
        const auto put32 = [&](uint32_t v) {
            static const char* digits = "0123456789abcdef";
            for (int i = 0; i < 4; ++i, v >>= 8) hex += {digits[(v >> 4) & 15], digits[v & 15]};
        };
        const auto put_text = [&](const std::string& t) {
            put32(static_cast<uint32_t>(t.size()));
            for (unsigned char c : t) {
                hex += "0123456789abcdef"[c >> 4];
                hex += "0123456789abcdef"[c & 15];
            }
        };
        put32(0x46);
        put32(1);
        put32(flags);
        put_text(proxy);
        put_text(bypass);
        put_text(pac);
        const RunResult r = wine_reg({"add", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                                      "/d", hex, "/f"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    static void clear_user_proxy() { wine_reg({"delete", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/f"}); }

    static constexpr const char* CONNECTIONS_KEY =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
};

TEST_F(WindowsOperationsTest, GoodKeyBadKeyAndUnreachable) {
    DemoService service;
    RunResult good = dorvane({"--url", service.url(), "--key", "demo-key"});
    EXPECT_EQ(good.exit_code, 0) << good.err;
    EXPECT_NE(good.out.find("ocr              OCR (texto pesquisável)           1\n"), std::string::npos) << good.out;
    EXPECT_NE(good.err.find("[OK] 5 operação(ões) disponível(is).\n"), std::string::npos) << good.err;

    RunResult bad = dorvane({"--url", service.url(), "--key", "wrong"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("[ERRO] Falha ao conectar — HTTP 401 — API Key inválida\n\nAPI Key inválida ou desativada.\n"),
              std::string::npos)
        << bad.err;

    RunResult down = dorvane({"--url", "http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "--key", "k"});
    EXPECT_EQ(down.exit_code, 2);
    EXPECT_NE(down.err.find("\nNão foi possível falar com o servidor.\n\nrede: "), std::string::npos) << down.err;
}

// The operator's proxy from Windows' settings for the current user: a manual proxy with its bypass
// list, a PAC script, a proxy that wants a password, one that is down; and a server certificate
// that no store trusts.
TEST_F(WindowsOperationsTest, UserProxyAndUntrustedCertificate) {
    clear_user_proxy();  // a run killed half-way leaves its setting behind
    DemoService service;
    testing_support::ForwardingProxy proxy;
    const std::vector<std::string> connect = {"--url", service.url(), "--key", "demo-key"};

    set_user_proxy(3, proxy.address(), "<local>");
    RunResult via = dorvane(connect);
    EXPECT_EQ(via.exit_code, 0) << via.err;
    auto seen = proxy.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].header("Host"), service.url().substr(7));
    EXPECT_EQ(seen[1].header("x-api-key"), "demo-key");

    set_user_proxy(3, proxy.address(), "<local>;127.0.0.1");
    RunResult bypassed = dorvane(connect);
    EXPECT_EQ(bypassed.exit_code, 0) << bypassed.err;
    EXPECT_EQ(proxy.requests().size(), 2u);

    testing_support::TestServer pac;
    pac.handle("GET", "/proxy.pac", [&](const testing_support::HttpRequest&) {
        return testing_support::text_reply(
            200, "function FindProxyForURL(url, host) { return \"PROXY " + proxy.address() + "\"; }",
            "application/x-ns-proxy-autoconfig");
    });
    set_user_proxy(5, "", "", pac.url() + "/proxy.pac");
    RunResult automatic = dorvane(connect);
    EXPECT_EQ(automatic.exit_code, 0) << automatic.err;
    EXPECT_EQ(proxy.requests().size(), 4u) << automatic.err;

    const std::string down = "127.0.0.1:" + std::to_string(testing_support::unused_port());
    set_user_proxy(3, down, "");
    RunResult unreachable = dorvane(connect);
    EXPECT_EQ(unreachable.exit_code, 2);
    EXPECT_NE(unreachable.err.find("rede: não foi possível conectar ao proxy " + down + " — Send failed (error 12029)\n"),
              std::string::npos)
        << unreachable.err;

    set_user_proxy(3, proxy.address(), "");
    proxy.require_auth(true);
    RunResult refused = dorvane(connect);
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find("\n\nNão foi possível falar com o servidor.\n\nrede: " + std::string(http::PROXY_AUTH_TEXT)),
              std::string::npos)
        << refused.err;

    clear_user_proxy();
    testing_support::TlsServer tls;
    RunResult untrusted = dorvane({"--url", tls.url(), "--key", "demo-key"});
    EXPECT_EQ(untrusted.exit_code, 2);
    EXPECT_NE(untrusted.err.find("[ERRO] Falha ao conectar — rede: o certificado do servidor não é confiável — "),
              std::string::npos)
        << untrusted.err;
    EXPECT_NE(untrusted.err.find(" (servidor 127.0.0.1, erro 12"), std::string::npos) << untrusted.err;
}

// Wine does not enforce MAX_PATH, so this cannot show the fault the \\?\ prefix mends (the
// prefixing has its own table test); it shows the whole road works on a 300+ character folder:
// scanned, converted, sent, results written.
TEST_F(WindowsOperationsTest, DeepFolderIsConvertedAndSent) {
    DemoService service;
    testing_support::TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; deep.size() < 320; ++i) {
        deep += "/digitalizações_do_setor_" + std::to_string(i);
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep;
    }
    testing_support::write_bytes(deep + "/fax.tif", tiff_builder::Builder().build(
                                                         {{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}));
    const std::string folder = "Z:" + deep;  // Wine's Z: is the root; the slashes stay as they are
    RunResult converted = dorvane({folder}, "convert");
    EXPECT_EQ(converted.exit_code, 0) << converted.err;
    EXPECT_TRUE(file_exists(deep + "/dorvane_converted/fax.pdf")) << converted.err;

    RunResult sent = dorvane({"--operation", "ocr", "--url", service.url(), "--key", "demo-key", "--yes",
                              "--results-dir", folder, folder},
                             "send");
    EXPECT_EQ(sent.exit_code, 0) << sent.err;
    http::Client client;
    const auto received = client.request("GET", service.url() + "/__control/received", {}, {}, 10);
    EXPECT_NE(received.body.find("\"fax.pdf\""), std::string::npos) << received.body.substr(0, 2000);
    DIR* results = opendir((deep + "/dorvane_results").c_str());
    ASSERT_NE(results, nullptr) << sent.err;
    int files = 0;
    while (dirent* entry = readdir(results)) files += entry->d_name[0] == 'r' ? 1 : 0;
    closedir(results);
    EXPECT_EQ(files, 2);  // resultados_*.jsonl and .json
}

}  // namespace
