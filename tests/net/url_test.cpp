// The URL split: WinHttpCrackUrl where it exists, our own splitter elsewhere, with one contract.
#include <gtest/gtest.h>

#include <string>

#include "net/http_client.h"

namespace {

TEST(Url, SplitTable) {
    const struct { std::string url; bool both; const char* host; bool secure; uint16_t port; const char* path; } rows[] = {
        {"https://api.example.com/api/operations", true, "api.example.com", true, 443, "/api/operations"},
        {"http://api.example.com/x", true, "api.example.com", false, 80, "/x"},
        {"http://127.0.0.1:8080/api/operations/00", true, "127.0.0.1", false, 8080, "/api/operations/00"},
        {"https://h.example:8443/a/b", true, "h.example", true, 8443, "/a/b"},
        {"api.example.com/api/operations", true, "", true, 443, ""},
        {"   ", true, "", true, 443, ""},
        {"http://" + std::string(256, 'h') + "/p", true, "", true, 443, ""},
        {"http://h/" + std::string(2047, 'p'), true, "", true, 443, ""},
        {"HTTPS://Host.Example/p", false, "Host.Example", true, 443, "/p"},
        {"https://h.example", false, "h.example", true, 443, ""},
        {"http://h/p?a=1&b=2#frag", false, "h", false, 80, "/p?a=1&b=2"},
        {"http://h?a=1", false, "h", false, 80, "/?a=1"},
        {"http://user:pw@h:81/p", false, "h", false, 81, "/p"},
        {"http://[::1]:8080/p", false, "::1", false, 8080, "/p"},
        {"http://a\xC3\xA7\xC3\xA3o.example/p", false, "a\xC3\xA7\xC3\xA3o.example", false, 80, "/p"},
        {"ftp://h/p", false, "", true, 443, ""}, {"http:///p", false, "", true, 443, ""}, {"http://h:8o/p", false, "", true, 443, ""},
        {"http://h:65536/p", false, "", true, 443, ""}, {"http://h:0/p", false, "", true, 443, ""}, {"http://[::1/p", false, "", true, 443, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url.substr(0, 60));
        std::vector<http::ParsedUrl> splits = {http::split_url(row.url)};
        if (row.both) splits.push_back(http::parse_url(row.url));
        for (const auto& got : splits) {
            EXPECT_EQ(got.host + (got.secure ? " https " : " http ") + std::to_string(got.port) + " " + got.path,
                      row.host + std::string(row.secure ? " https " : " http ") + std::to_string(row.port) + " " + row.path);
        }
    }
    // The longest host and path the platform's buffers take.
    for (const auto split : {http::split_url, http::parse_url}) {
        EXPECT_EQ(split("http://" + std::string(255, 'h') + "/p").host.size(), 255u);
        EXPECT_EQ(split("http://h/" + std::string(2046, 'p')).path.size(), 2047u);
    }
}

}  // namespace
