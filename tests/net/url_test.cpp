#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "net/http_client.h"

namespace {

struct UrlRow {
    const char* label;
    std::string url;
    bool ok;
    bool secure;
    const char* host;
    uint16_t port;
    const char* path;
};

void expect_split(const http::ParsedUrl& got, const UrlRow& row) {
    if (!row.ok) {
        EXPECT_TRUE(got.host.empty());
        EXPECT_TRUE(got.secure);
        EXPECT_EQ(got.port, 443);
        EXPECT_TRUE(got.path.empty());
        return;
    }
    EXPECT_EQ(got.host, row.host);
    EXPECT_EQ(got.secure, row.secure);
    EXPECT_EQ(got.port, row.port);
    EXPECT_EQ(got.path, row.path);
}

// Rows on which WinHttpCrackUrl and our own splitter must agree.
std::vector<UrlRow> shared_rows() {
    return {
        {"https default port", "https://api.example.com/api/operations", true, true, "api.example.com", 443,
         "/api/operations"},
        {"http default port", "http://api.example.com/x", true, false, "api.example.com", 80, "/x"},
        {"explicit port", "http://127.0.0.1:8080/api/operations/00", true, false, "127.0.0.1", 8080,
         "/api/operations/00"},
        {"https explicit port", "https://h.example:8443/a/b", true, true, "h.example", 8443, "/a/b"},
        {"no scheme", "api.example.com/api/operations", false, true, "", 443, ""},
        {"empty", "", false, true, "", 443, ""},
        {"blank", "   ", false, true, "", 443, ""},
        {"host of 255 units", "http://" + std::string(255, 'h') + "/p", true, false, "", 80, "/p"},
        {"host of 256 units", "http://" + std::string(256, 'h') + "/p", false, true, "", 443, ""},
        {"path of 2047 units", "http://h/" + std::string(2046, 'p'), true, false, "h", 80, ""},
        {"path of 2048 units", "http://h/" + std::string(2047, 'p'), false, true, "", 443, ""},
    };
}

TEST(Url, PlatformSplitAndOwnSplitAgree) {
    for (const auto& row : shared_rows()) {
        SCOPED_TRACE(row.label);
        for (const auto& got : {http::parse_url(row.url), http::split_url(row.url)}) {
            if (std::string(row.label).find("units") != std::string::npos) {
                EXPECT_EQ(got.host.empty(), !row.ok);
                continue;
            }
            expect_split(got, row);
        }
    }
}

TEST(Url, OwnSplitterEdgeCases) {
    const std::vector<UrlRow> rows = {
        {"scheme in capitals", "HTTPS://Host.Example/p", true, true, "Host.Example", 443, "/p"},
        {"no path", "https://h.example", true, true, "h.example", 443, ""},
        {"query kept", "http://h/p?a=1&b=2", true, false, "h", 80, "/p?a=1&b=2"},
        {"fragment dropped", "http://h/p#frag", true, false, "h", 80, "/p"},
        {"user info dropped", "http://user:pw@h:81/p", true, false, "h", 81, "/p"},
        {"ipv6", "http://[::1]:8080/p", true, false, "::1", 8080, "/p"},
        {"other scheme", "ftp://h/p", false, true, "", 443, ""},
        {"no host", "http:///p", false, true, "", 443, ""},
        {"port not a number", "http://h:8o/p", false, true, "", 443, ""},
        {"port too big", "http://h:65536/p", false, true, "", 443, ""},
        {"port zero", "http://h:0/p", false, true, "", 443, ""},
        {"ipv6 unclosed", "http://[::1/p", false, true, "", 443, ""},
        {"non-ascii host", "http://a\xC3\xA7\xC3\xA3o.example/p", true, false, "a\xC3\xA7\xC3\xA3o.example", 80, "/p"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        expect_split(http::split_url(row.url), row);
    }
}

}  // namespace
