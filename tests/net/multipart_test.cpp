// The multipart form (RFC 7578) byte for byte, and as a server reads it back off the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "net/http_client.h"
#include "support/test_server.h"

namespace {

std::string as_text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Multipart, ContentTypeByExactLastExtension) {
    const std::pair<const char*, const char*> rows[] = {
        {"a.pdf", "application/pdf"}, {"a.PDF", "application/octet-stream"}, {"a.png", "image/png"},
        {"a.Png", "application/octet-stream"}, {"a.jpg", "image/jpeg"}, {"a.jpeg", "image/jpeg"},
        {"a.tif", "image/tiff"}, {"archive.tar.tiff", "image/tiff"}, {"pdf", "application/pdf"},
        {"README", "application/octet-stream"}, {"a.", "application/octet-stream"}, {"a.pdf.exe", "application/octet-stream"},
    };
    for (const auto& row : rows) EXPECT_EQ(http::content_type_for(row.first), row.second) << row.first;
}

TEST(Multipart, BodyLayoutByteForByte) {
    const std::string data("%PDF\r\n\0x", 8);
    EXPECT_EQ(as_text(http::build_multipart_body("B", "file", "doc.pdf", std::vector<uint8_t>(data.begin(), data.end()),
                                                 {{"operation", "ocr"}, {"awaitResult", "false"}})),
              "--B\r\nContent-Disposition: form-data; name=\"awaitResult\"\r\n\r\nfalse\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"operation\"\r\n\r\nocr\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"doc.pdf\"\r\n"
              "Content-Type: application/pdf\r\n\r\n" + data + "\r\n--B--\r\n");
    EXPECT_EQ(as_text(http::build_multipart_body("B", "file", "x", {}, {})),
              "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n\r\n--B--\r\n");
    const std::string b = http::multipart_boundary();
    EXPECT_EQ(b.rfind("----DorvaneBoundary", 0), 0u);
    EXPECT_GT(b.size(), 19u);
    EXPECT_EQ(b.find_first_not_of("0123456789", 19), std::string::npos) << b;
}

// A quote, CR or LF in a name would end the parameter or the header line and let the name rewrite
// the form; they are percent-encoded, everything else passes unchanged.
TEST(Multipart, QuoteAndLineBreaksInNamesArePercentEncoded) {
    const std::pair<const char*, const char*> rows[] = {
        {"a\"b.pdf", "a%22b.pdf"}, {"a\rb\nc.pdf", "a%0Db%0Ac.pdf"},
        {"x\"\r\nContent-Type: text/html\r\n\r\n.pdf", "x%22%0D%0AContent-Type: text/html%0D%0A%0D%0A.pdf"},
        {"100%;b=c'd\\e.pdf", "100%;b=c'd\\e.pdf"}, {"relat\xC3\xB3rio \xE6\x97\xA5.pdf", "relat\xC3\xB3rio \xE6\x97\xA5.pdf"},
    };
    for (const auto& row : rows) {
        const std::string body = as_text(http::build_multipart_body("B", "file", row.first, {1, 2}, {}));
        EXPECT_NE(body.find(std::string("; filename=\"") + row.second + "\"\r\nContent-Type: "), std::string::npos) << body;
        EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 6) << body;  // no line was smuggled in
    }
}

// On the wire: the caller's "Content-Type" is replaced (another spelling is a header of its own),
// the length is announced, no Expect, and the server reads every part back byte for byte.
TEST(Multipart, ServerParsesTheFormBackByteForByte) {
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
    testing_support::TestServer server;
    http::Client client;
    const std::string name = "Relat\xC3\xB3rio \xE2\x80\x94 \xF0\x9F\x93\x84 \"x\".pdf";
    const auto response = client.post_multipart(
        server.url() + "/api/operations", {{"Content-Type", "text/plain"}, {"content-type", "text/x-mine"}, {"x-api-key", "k"}},
        "file", name, data, {{"operation", "op1"}, {"awaitResult", "true"}}, 30);
    ASSERT_EQ(response.status, 404) << response.error;
    const testing_support::HttpRequest req = server.requests().at(0);
    EXPECT_EQ(req.header("x-api-key") + " " + req.header("Content-Length"), "k " + std::to_string(req.body.size()));
    std::vector<std::string> types;
    for (const auto& [key, value] : req.headers) {
        if (key == "Content-Type" || key == "content-type") types.push_back(value);
    }
    std::sort(types.begin(), types.end());
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].rfind("multipart/form-data; boundary=----DorvaneBoundary", 0), 0u);
    EXPECT_EQ(types[1], "text/x-mine");

    std::vector<testing_support::FormPart> parts;
    ASSERT_TRUE(testing_support::parse_multipart(types[0], req.body, parts));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].name + "=" + parts[0].data + " " + parts[1].name + "=" + parts[1].data, "awaitResult=true operation=op1");
    EXPECT_FALSE(parts[0].has_filename);
    EXPECT_EQ(parts[2].name + "|" + parts[2].filename + "|" + parts[2].content_type,
              "file|Relat\xC3\xB3rio \xE2\x80\x94 \xF0\x9F\x93\x84 %22x%22.pdf|application/pdf");
    EXPECT_TRUE(parts[2].data == std::string(data.begin(), data.end()));
}

}  // namespace
