// The Windows `dorvane.exe` under Wine against the native demo service, for what only the Windows
// build does: WinHTTP with the user's proxy settings and its certificate check. Skipped when the
// Windows build or Wine is missing. The texts both builds share are held by operations_test.cpp;
// Windows paths by send_win32_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "support/process.h"
#include "support/support.h"

using testing_support::RunResult;
using testing_support::run_program;

namespace {

std::string windows_exe() {
    const char* dir = std::getenv("DORVANE_WINDOWS_BIN_DIR");
    return std::string(dir && *dir ? dir : DORVANE_SOURCE_DIR "/build/windows/bin") + "/dorvane.exe";
}

const char* const CONNECTIONS_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

RunResult wine(std::vector<std::string> args) {
    args.insert(args.begin(), DORVANE_SOURCE_DIR "/scripts/wine-run");
    // Wine's WinHTTP also follows http_proxy, which Windows does not: only the registry counts.
    RunResult r = run_program(args, {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}, {"http_proxy", ""}, {"https_proxy", ""},
                                     {"HTTP_PROXY", ""}, {"HTTPS_PROXY", ""}, {"all_proxy", ""}, {"no_proxy", ""}},
                              300);
    r.err.erase(std::remove(r.err.begin(), r.err.end(), '\r'), r.err.end());
    return r;
}

// The user's proxy as Windows keeps it (DefaultConnectionSettings): little-endian DWORDs 0x46, a
// counter and the flags (2 manual proxy, 4 PAC script), then the proxy, the bypass list and the
// PAC address, each as its length and its bytes.
void set_user_proxy(uint32_t flags, const std::string& proxy, const std::string& bypass, const std::string& pac) {
    std::string bytes, hex;
    const auto put = [&bytes](uint32_t v, const std::string& text) {
        for (int i = 0; i < 4; ++i, v >>= 8) bytes += static_cast<char>(v & 0xFF);
        bytes += text;
    };
    for (uint32_t v : {0x46u, 1u, flags}) put(v, "");
    for (const std::string* text : {&proxy, &bypass, &pac}) put(static_cast<uint32_t>(text->size()), *text);
    char buf[3];
    for (unsigned char c : bytes) hex += (std::snprintf(buf, sizeof buf, "%02x", c), buf);
    const RunResult r = wine({"reg", "add", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                              "/d", hex, "/f"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
}
void clear_user_proxy() { wine({"reg", "delete", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/f"}); }

class WindowsCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fileutils::exists(windows_exe())) GTEST_SKIP() << "no Windows build at " << windows_exe();
        if (run_program({"/bin/sh", "-c", "command -v wine"}).exit_code != 0) GTEST_SKIP() << "wine is not installed";
        clear_user_proxy();  // a run killed half-way leaves its setting behind
    }
    void TearDown() override { clear_user_proxy(); }

    testing_support::DemoService service;
};

// The operator's proxy from Windows' settings for the current user: a manual proxy with its bypass
// list, a PAC script, one that is down, one that wants a password; and a server certificate that
// no store trusts.
TEST_F(WindowsCliTest, UserProxyAndUntrustedCertificate) {
    testing_support::ForwardingProxy proxy;
    testing_support::TlsServer tls;
    testing_support::TestServer pac;
    pac.handle("GET", "/proxy.pac", [&](const testing_support::HttpRequest&) {
        return testing_support::text_reply(
            200, "function FindProxyForURL(url, host) { return \"PROXY " + proxy.address() + "\"; }",
            "application/x-ns-proxy-autoconfig");
    });
    const std::string down = "127.0.0.1:" + std::to_string(testing_support::unused_port());
    const struct {
        uint32_t flags;  // 0: no setting
        std::string proxy, bypass, pac, url;
        bool auth;
        size_t proxied;     // requests the proxy has seen afterwards
        std::string error;  // in stderr; exit status 2 when not empty
    } rows[] = {
        {3, proxy.address(), "<local>", "", service.url(), false, 2, ""},
        {3, proxy.address(), "<local>;127.0.0.1", "", service.url(), false, 2, ""},
        {5, "", "", pac.url() + "/proxy.pac", service.url(), false, 4, ""},
        {3, down, "", "", service.url(), false, 4, "rede: não foi possível conectar ao proxy " + down + " — Send failed (error 12029)\n"},
        {3, proxy.address(), "", "", service.url(), true, 5, std::string("rede: ") + http::PROXY_AUTH_TEXT},
        {0, "", "", "", tls.url(), false, 5, "[ERRO] Falha ao conectar — rede: o certificado do servidor não é confiável — "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.proxy + row.pac + row.error);
        if (row.flags == 0) {
            clear_user_proxy();
        } else {
            set_user_proxy(row.flags, row.proxy, row.bypass, row.pac);
        }
        proxy.require_auth(row.auth);
        RunResult r = wine({windows_exe(), "operations", "--url", row.url, "--key", "demo-key"});
        EXPECT_EQ(r.exit_code, row.error.empty() ? 0 : 2) << r.err;
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(proxy.requests().size(), row.proxied);
    }
    EXPECT_EQ(proxy.requests()[1].header("Host"), service.url().substr(7));
    EXPECT_EQ(proxy.requests()[1].header("x-api-key"), "demo-key");
}

}  // namespace
