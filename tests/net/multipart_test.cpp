#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "net/http_client.h"
#include "support/test_server.h"

using testing_support::FormPart;
using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::TestServer;

namespace {

std::string as_text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::vector<uint8_t> as_bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(Multipart, ContentTypeByExactExtension) {
    const struct {
        const char* name;
        const char* expected;
    } rows[] = {
        {"a.pdf", "application/pdf"},
        {"a.PDF", "application/octet-stream"},
        {"a.png", "image/png"},
        {"a.Png", "application/octet-stream"},
        {"a.jpg", "image/jpeg"},
        {"a.jpeg", "image/jpeg"},
        {"a.tif", "image/tiff"},
        {"archive.tar.tiff", "image/tiff"},
        {"pdf", "application/pdf"},  // no dot: the whole name is the extension
        {"README", "application/octet-stream"},
        {"a.", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"a.pdf.exe", "application/octet-stream"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(http::content_type_for(row.name), row.expected);
    }
}

TEST(Multipart, BoundaryIsPrefixAndTickCount) {
    const std::string b = http::multipart_boundary();
    const std::string prefix = "----DorvaneBoundary";
    ASSERT_GT(b.size(), prefix.size());
    EXPECT_EQ(b.compare(0, prefix.size(), prefix), 0);
    EXPECT_EQ(b.find_first_not_of("0123456789", prefix.size()), std::string::npos);
}

TEST(Multipart, BodyLayoutByteForByte) {
    const std::string body = as_text(http::build_multipart_body(
        "B", "file", "doc.pdf", as_bytes(std::string("%PDF\r\n\0x", 8)),
        {{"operation", "ocr"}, {"awaitResult", "false"}, {"priority", "3"}}));
    const std::string expected = std::string(
        "--B\r\nContent-Disposition: form-data; name=\"awaitResult\"\r\n\r\nfalse\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"operation\"\r\n\r\nocr\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"priority\"\r\n\r\n3\r\n"
        "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"doc.pdf\"\r\n"
        "Content-Type: application/pdf\r\n\r\n") +
        std::string("%PDF\r\n\0x", 8) + "\r\n--B--\r\n";
    EXPECT_EQ(body, expected);
}

TEST(Multipart, NoFieldsAndEmptyFileStillFormAPart) {
    const std::string body = as_text(http::build_multipart_body("B", "file", "x", {}, {}));
    EXPECT_EQ(body,
              "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"x\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n\r\n--B--\r\n");
}

TEST(Multipart, QuoteCarriageReturnAndLineFeedInNamesArePercentEncoded) {
    const struct {
        const char* name;
        const char* written;
    } rows[] = {
        {"a\"b.pdf", "a%22b.pdf"},
        {"a\rb.pdf", "a%0Db.pdf"},
        {"a\nb.pdf", "a%0Ab.pdf"},
        {"x\"\r\nContent-Type: text/html\r\n\r\n.pdf", "x%22%0D%0AContent-Type: text/html%0D%0A%0D%0A.pdf"},
        {"100%.pdf", "100%.pdf"},  // everything else is written unchanged
        {"a;b=c'd\\e.pdf", "a;b=c'd\\e.pdf"},
        {"relat\xC3\xB3rio \xE6\x97\xA5.pdf", "relat\xC3\xB3rio \xE6\x97\xA5.pdf"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.written);
        const std::string body = as_text(http::build_multipart_body("B", "file", row.name, {1, 2}, {}));
        EXPECT_NE(body.find(std::string("; filename=\"") + row.written + "\"\r\nContent-Type: "),
                  std::string::npos);
        // Exactly the two header lines of the part: no line was smuggled in.
        EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 6);
    }
}

TEST(Multipart, CallersContentTypeIsReplacedOtherCaseKept) {
    TestServer server;
    http::Client client;
    const auto response = client.post_multipart(
        server.url() + "/up", {{"Content-Type", "text/plain"}, {"content-type", "text/x-mine"}, {"x-api-key", "k"}},
        "file", "a.png", {1, 2, 3}, {}, 10);
    ASSERT_EQ(response.status, 404) << response.error;
    const HttpRequest req = server.requests().at(0);
    std::vector<std::string> types;
    for (const auto& [key, value] : req.headers) {
        if (key == "Content-Type" || key == "content-type") types.push_back(value);
    }
    ASSERT_EQ(types.size(), 2u);
    const bool multipart_first = types[0].rfind("multipart/form-data; boundary=----DorvaneBoundary", 0) == 0;
    const bool multipart_second = types[1].rfind("multipart/form-data; boundary=----DorvaneBoundary", 0) == 0;
    EXPECT_NE(multipart_first, multipart_second);
    EXPECT_TRUE(types[0] == "text/x-mine" || types[1] == "text/x-mine");
    EXPECT_EQ(req.header("x-api-key"), "k");
}

TEST(Multipart, ServerParsesTheFormBackByteForByte) {
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
    const struct {
        const char* name;
        const char* sent;
    } rows[] = {
        {"Relat\xC3\xB3rio a\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xF0\x9F\x93\x84.pdf",
         "Relat\xC3\xB3rio a\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xF0\x9F\x93\x84.pdf"},
        {"bad\"na\rme\n.tif", "bad%22na%0Dme%0A.tif"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sent);
        TestServer server;
        server.handle("POST", "/api/operations",
                      [](const HttpRequest&) { return testing_support::json_reply(202, "{\"taskId\":\"t\"}"); });
        http::Client client;
        const auto response = client.post_multipart(server.url() + "/api/operations", {{"x-api-key", "key"}}, "file",
                                                    row.name, data, {{"operation", "op1"}, {"awaitResult", "true"}}, 30);
        ASSERT_EQ(response.status, 202) << response.error;
        EXPECT_EQ(response.body, "{\"taskId\":\"t\"}");
        ASSERT_EQ(server.request_count(), 1u);
        const HttpRequest req = server.requests()[0];
        EXPECT_EQ(req.method, "POST");
        EXPECT_FALSE(req.has_header("Expect"));
        EXPECT_EQ(req.header("Content-Length"), std::to_string(req.body.size()));

        std::vector<FormPart> parts;
        ASSERT_TRUE(testing_support::parse_multipart(req.header("Content-Type"), req.body, parts));
        ASSERT_EQ(parts.size(), 3u);
        EXPECT_EQ(parts[0].name, "awaitResult");
        EXPECT_EQ(parts[0].data, "true");
        EXPECT_FALSE(parts[0].has_filename);
        EXPECT_EQ(parts[1].name, "operation");
        EXPECT_EQ(parts[1].data, "op1");
        EXPECT_EQ(parts[2].name, "file");
        EXPECT_EQ(parts[2].filename, row.sent);
        EXPECT_EQ(parts[2].content_type, http::content_type_for(row.name));
        EXPECT_TRUE(parts[2].data == std::string(data.begin(), data.end()));
    }
}

}  // namespace
