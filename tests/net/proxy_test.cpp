// Which proxy an exchange goes through, and what the operator reads when the office network
// refuses it. A wrong pick sends requests around the office proxy (blocked) or through it for a
// host the bypass list exempts, or names the wrong proxy when one is down.
#include "net/proxy.h"

#include "net/http_client.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(Proxy, NamedProxyListTable) {
    const struct { const char *list, *bypass; bool secure; const char *host, *proxy; } cases[] = {
        {"10.0.0.1:3128", "", true, "api.dorvane.com.br", "10.0.0.1:3128"}, {"http://10.0.0.1:3128", "", false, "a.br", "10.0.0.1:3128"},
        {"http=h1:80;https=h2:443", "", true, "x.com", "h2:443"}, {"http=h1:80;https=h2:443", "", false, "x.com", "h1:80"},
        {"http=h1:80", "", true, "x.com", ""}, {"ftp=f:21 p:8080", "", true, "x.com", "p:8080"},
        {"p:8080", "<local>", true, "intranet", ""}, {"p:8080", "<local>", true, "intranet.local", "p:8080"},
        {"p:8080", "*.EMPRESA.local;10.*", true, "docs.empresa.LOCAL", ""}, {"p:8080", "*.empresa.local;10.*", true, "10.1.2.3", ""},
        {"p:8080", "*.empresa.local;10.*", true, "110.1.2.3", "p:8080"}, {"p:8080", "127.0.0.1", false, "127.0.0.1", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(http::named_proxy_for(c.list, c.bypass, c.secure, c.host), c.proxy) << c.list << c.host;
}

TEST(Proxy, EnvironmentTable) {
    const struct { std::map<std::string, std::string> env; bool secure; const char *host, *proxy; } cases[] = {
        {{{"https_proxy", "http://user:pw@p:3128/"}}, true, "a.com", "p:3128"}, {{{"HTTPS_PROXY", "p:3128"}}, true, "a.com", "p:3128"},
        {{{"https_proxy", "p:3128"}}, false, "a.com", ""}, {{{"HTTP_PROXY", "p:3128"}}, false, "a.com", ""},
        {{{"http_proxy", "p"}}, false, "a.com", "p:1080"}, {{{"ALL_PROXY", "p:9"}}, true, "a.com", "p:9"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "localhost, .empresa.local"}}, false, "docs.empresa.local", ""},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "empresa.local"}}, false, "empresa.local", ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", "empresa.local"}}, false, "outraempresa.local", "p:1"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "*"}}, false, "a.com", ""},
    };
    for (const auto& c : cases) {
        const auto get = [&](const char* name) { return c.env.count(name) ? c.env.at(name) : std::string(); };
        EXPECT_EQ(http::env_proxy_for(c.secure, c.host, get), c.proxy) << c.host;
    }
    EXPECT_EQ(http::proxy_mode({}), http::ProxyMode::PlatformDefault);
    EXPECT_EQ(http::proxy_mode({false, "", "p:1", ""}), http::ProxyMode::Named);
    EXPECT_EQ(http::proxy_mode({true, "", "p:1", ""}), http::ProxyMode::Automatic);
    EXPECT_EQ(http::proxy_mode({false, "http://wpad/x.pac", "", ""}), http::ProxyMode::Automatic);
}

// The operator must read which check failed; other codes keep the plain transport text, and a
// connection failure names the proxy when there is one.
TEST(Proxy, NoAnswerTexts) {
    using http::Backend;
    for (long code : {51L, 58L, 60L, 77L, 83L, 90L, 91L}) EXPECT_TRUE(http::is_certificate_failure(Backend::Curl, code));
    for (long code : {6L, 7L, 28L, 35L, 56L}) EXPECT_FALSE(http::is_certificate_failure(Backend::Curl, code));
    for (long code : {12037L, 12038L, 12044L, 12045L, 12057L, 12157L, 12169L, 12170L, 12175L, 12179L}) {
        EXPECT_TRUE(http::is_certificate_failure(Backend::WinHttp, code));
    }
    for (long code : {12002L, 12007L, 12029L, 12030L}) EXPECT_FALSE(http::is_certificate_failure(Backend::WinHttp, code));
    EXPECT_EQ(http::winhttp_certificate_detail(0x18, 12175),
              "emitido por uma autoridade que o Windows não reconhece (autoassinado ou de inspeção de TLS); "
              "o nome no certificado não é o do servidor");
    EXPECT_EQ(http::winhttp_certificate_detail(0, 12029), "");
    EXPECT_EQ(http::no_answer_text(Backend::WinHttp, "Send failed", 12037, "fora da validade", "api.x", "p:1"),
              "o certificado do servidor não é confiável — fora da validade (servidor api.x, erro 12037)");
    EXPECT_EQ(http::no_answer_text(Backend::Curl, "Send failed", 7, "", "a", "p:1"),
              "não foi possível conectar ao proxy p:1 — Send failed (error 7)");
    EXPECT_EQ(http::no_answer_text(Backend::Curl, "Receive failed", 56, "", "a", ""), "Receive failed (error 56)");
}

}  // namespace
