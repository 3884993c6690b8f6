#include "tools/form_parser.h"

#include <gtest/gtest.h>

#include "tools/digest.h"

namespace {

using demo::FormPart;

struct BoundaryRow {
    const char* name;
    const char* content_type;
    const char* boundary;
};

TEST(DemoFormParser, BoundaryFromContentType) {
    const BoundaryRow rows[] = {
        {"plain", "multipart/form-data; boundary=----DorvaneBoundary123", "----DorvaneBoundary123"},
        {"quoted", "multipart/form-data; boundary=\"a b;c\"", "a b;c"},
        {"case and blanks", "Multipart/Form-Data ;  BOUNDARY=xyz ; charset=utf-8", "xyz"},
        {"other parameter first", "multipart/form-data; charset=utf-8; boundary=q", "q"},
        {"no parameter", "multipart/form-data", ""},
        {"other media type", "application/x-www-form-urlencoded; boundary=x", ""},
        {"empty", "", ""},
        {"70 characters", "multipart/form-data; boundary=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"71 characters", "multipart/form-data; boundary=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(demo::boundary_from_content_type(r.content_type), r.boundary);
    }
}

TEST(DemoFormParser, ReadsFieldsAndFileExactly) {
    std::string data("\x00\r\n-B--B\r\x01\xff", 11);  // CR LF and near-delimiters inside the data
    std::string body = "preamble\r\n--B\r\n"
                       "Content-Disposition: form-data; name=\"operation\"\r\n\r\nocr\r\n"
                       "--B  \r\n"  // transport padding after the delimiter
                       "content-disposition: form-data; name=\"file\"; filename=\"a;b\\c ção.pdf\"\r\n"
                       "Content-Type: application/pdf\r\n\r\n" +
                       data + "\r\n--B--\r\nepilogue";
    std::vector<FormPart> parts;
    std::string error;
    ASSERT_TRUE(demo::parse_form(body, "B", parts, error)) << error;
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "operation");
    EXPECT_FALSE(parts[0].has_filename);
    EXPECT_EQ(parts[0].data, "ocr");
    EXPECT_EQ(parts[1].name, "file");
    EXPECT_TRUE(parts[1].has_filename);
    EXPECT_EQ(parts[1].filename, "a;b\\c ção.pdf");
    EXPECT_EQ(parts[1].content_type, "application/pdf");
    EXPECT_EQ(parts[1].data, data);
}

TEST(DemoFormParser, EmptyFilenameStillMarksAFilePart) {
    std::string body = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"\"\r\n\r\n\r\n--B--";
    std::vector<FormPart> parts;
    std::string error;
    ASSERT_TRUE(demo::parse_form(body, "B", parts, error)) << error;
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_TRUE(parts[0].has_filename);
    EXPECT_EQ(parts[0].data, "");
}

struct BadFormRow {
    const char* name;
    std::string body;
    const char* error;
};

TEST(DemoFormParser, RejectsMalformedForms) {
    const std::string disp = "Content-Disposition: form-data; name=\"x\"\r\n\r\n";
    const BadFormRow rows[] = {
        {"empty body", "", "boundary não encontrado no corpo"},
        {"other boundary", "--C\r\n" + disp + "v\r\n--C--", "boundary não encontrado no corpo"},
        {"no closing delimiter", "--B\r\n" + disp + "value", "formulário sem delimitador final"},
        {"delimiter not followed by CRLF", "--Bxyz\r\n" + disp + "v\r\n--B--", "delimitador sem CRLF"},
        {"body ends after delimiter", "--B", "delimitador sem CRLF"},
        {"headers never end", "--B\r\nContent-Disposition: form-data; name=\"x\"\r\n", "cabeçalhos de parte sem fim"},
        {"header without colon", "--B\r\nbroken header\r\n\r\nv\r\n--B--", "cabeçalho de parte malformado"},
        {"no disposition", "--B\r\nContent-Type: text/plain\r\n\r\nv\r\n--B--", "parte sem Content-Disposition"},
        {"attachment disposition", "--B\r\nContent-Disposition: attachment; name=\"x\"\r\n\r\nv\r\n--B--",
         "parte sem Content-Disposition form-data"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<FormPart> parts;
        std::string error;
        EXPECT_FALSE(demo::parse_form(r.body, "B", parts, error));
        EXPECT_EQ(error, r.error);
    }
}

TEST(DemoFormParser, PartLimitIsEnforced) {
    std::string part = "Content-Disposition: form-data; name=\"x\"\r\n\r\nv\r\n--B";
    std::string at_limit = "--B";
    for (size_t i = 0; i < demo::MAX_FORM_PARTS; ++i) at_limit += "\r\n" + part;
    std::vector<FormPart> parts;
    std::string error;
    EXPECT_TRUE(demo::parse_form(at_limit + "--", "B", parts, error)) << error;
    EXPECT_EQ(parts.size(), demo::MAX_FORM_PARTS);
    EXPECT_FALSE(demo::parse_form(at_limit + "\r\n" + part + "--", "B", parts, error));
    EXPECT_EQ(error, "partes demais no formulário");
}

// Every prefix of a valid form must be refused or parsed without reading past the end.
TEST(DemoFormParser, TruncatedFormsNeverCrash) {
    std::string body = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f\"\r\n"
                       "Content-Type: a/b\r\n\r\ndata\r\n--B--\r\n";
    for (size_t n = 0; n < body.size(); ++n) {
        std::vector<FormPart> parts;
        std::string error;
        bool ok = demo::parse_form(body.substr(0, n), "B", parts, error);
        EXPECT_EQ(ok, n >= body.size() - 2) << "prefix " << n;
    }
}

// Random damage to a valid form (fixed seed): every outcome is a clean refusal or parts that are
// pieces of the body; ASan and UBSan builds check that nothing reads outside it.
TEST(DemoFormParser, DamagedFormsNeverCrash) {
    const std::string good = "--B\r\nContent-Disposition: form-data; name=\"operation\"\r\n\r\nocr\r\n"
                             "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.pdf\"\r\n"
                             "Content-Type: application/pdf\r\n\r\n%PDF-1.4\r\n--B--\r\n";
    const char alphabet[] = "-B\r\n\":;= x";
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, (state >> 8) & 0xFFFF; };
    for (int round = 0; round < 5000; ++round) {
        std::string body = good;
        for (int edits = 1 + next() % 4; edits > 0; --edits) {
            size_t at = next() % (body.size() + 1);
            switch (next() % 3) {
                case 0: body.insert(at, 1, alphabet[next() % (sizeof alphabet - 1)]); break;
                case 1: if (at < body.size()) body.erase(at, 1 + next() % 8); break;
                default: if (at < body.size()) body[at] = alphabet[next() % (sizeof alphabet - 1)]; break;
            }
        }
        std::vector<FormPart> parts;
        std::string error;
        if (demo::parse_form(body, "B", parts, error)) {
            for (const auto& p : parts) EXPECT_NE(body.find(p.data), std::string::npos);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(DemoDigest, Base64Rfc4648Vectors) {
    const std::pair<std::string, std::string> rows[] = {{"", ""},         {"f", "Zg=="},     {"fo", "Zm8="},
                                                        {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                                        {"foobar", "Zm9vYmFy"}, {std::string("\xff\x00\xfe", 3), "/wD+"}};
    for (const auto& r : rows) EXPECT_EQ(demo::base64_encode(r.first), r.second) << r.first;
}

}  // namespace
