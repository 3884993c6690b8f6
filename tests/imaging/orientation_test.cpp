// Orientation (tag 274): the reader passes it on with the page, and the writer turns the drawing
// (never the pixels) and, when rows are shown as columns, the page. Hand-made files and byte
// layout only, so these also run under Wine; orientation_oracle_test.cpp renders the results.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"
#include "tiff_builder.h"

using namespace tiff_builder;
using Bytes = std::vector<uint8_t>;

namespace {

tiff::Page page(uint32_t w, uint32_t h, uint16_t orientation, double aspect = 1.0) {
    tiff::Page p;
    p.width = w;
    p.height = h;
    p.kind = tiff::PageKind::Gray;
    p.data.assign(size_t(w) * h, 0x80);
    p.orientation = orientation;
    p.aspect = aspect;
    return p;
}

// A JPEG page that is only a frame header: enough for the writer, at any size.
tiff::Page jpeg_page(uint16_t w, uint16_t h, uint16_t orientation) {
    tiff::Page p;
    p.kind = tiff::PageKind::Jpeg;
    p.data = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8),
              uint8_t(w), 1, 0xFF, 0xD9};
    p.orientation = orientation;
    return p;
}

std::string build(const tiff::Page& p) {
    pdf::Writer w;
    const Bytes b = w.build({p});
    return std::string(b.begin(), b.end());
}

std::string content_of(const std::string& pdf) {
    std::smatch m;
    return std::regex_search(pdf, m, std::regex("stream\n(q [^\n]* cm /Img Do Q)\nendstream")) ? m[1].str() : "";
}

std::string media_box_of(const std::string& pdf) {
    std::smatch m;
    return std::regex_search(pdf, m, std::regex("/MediaBox \\[0 0 ([^\\]]*)\\]")) ? m[1].str() : "";
}

}  // namespace

TEST(TiffOrientation, ReaderPassesTheTagOn) {
    const Bytes gray = {0x10, 0x20};
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 0,
                        0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12, 0x34, 0xFF, 0xD9};
    struct Row {
        const char* name;
        std::vector<Field> extra;
        uint16_t expected;
    };
    std::vector<Row> rows = {
        {"missing", {}, 1},
        {"zero", {{274, SHORT, {0}}}, 1},
        {"nine", {{274, SHORT, {9}}}, 1},
        {"largest short", {{274, SHORT, {65535}}}, 1},
        {"as LONG", {{274, LONG, {6}}}, 6},
    };
    for (uint16_t n = 1; n <= 8; ++n) rows.push_back({"in range", {{274, SHORT, {n}}}, n});
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.expected));
        for (const bool is_jpeg : {false, true}) {
            std::vector<Field> fields = is_jpeg ? image(8, 8, 8, 1, 1, 7) : image(2, 1, 8, 1, 1);
            fields.insert(fields.end(), row.extra.begin(), row.extra.end());
            const Bytes file = Builder().build({{fields, {is_jpeg ? jpeg : gray}}});
            tiff::Reader reader;
            const auto pages = reader.read(file.data(), file.size());
            ASSERT_EQ(pages.size(), 1u);
            EXPECT_EQ(pages[0].orientation, row.expected) << (is_jpeg ? "jpeg" : "gray");
            // The pixels stay as stored: turning them is the writer's drawing.
            if (!is_jpeg) {
                EXPECT_EQ(pages[0].data, gray);
            }
        }
    }
}

TEST(TiffOrientation, WriterPlacesTheImagePerOrientation) {
    // A 100 x 50 image: orientations 5 to 8 show its rows as columns on a 50 x 100 page.
    struct Row {
        uint16_t orientation;
        const char* content;
        const char* media_box;
    };
    const Row rows[] = {
        {1, "q 100.00 0 0 50.00 0 0 cm /Img Do Q", "100.00 50.00"},
        {2, "q -100.00 0 0 50.00 100.00 0 cm /Img Do Q", "100.00 50.00"},
        {3, "q -100.00 0 0 -50.00 100.00 50.00 cm /Img Do Q", "100.00 50.00"},
        {4, "q 100.00 0 0 -50.00 0 50.00 cm /Img Do Q", "100.00 50.00"},
        {5, "q 0 -100.00 -50.00 0 50.00 100.00 cm /Img Do Q", "50.00 100.00"},
        {6, "q 0 -100.00 50.00 0 0 100.00 cm /Img Do Q", "50.00 100.00"},
        {7, "q 0 100.00 50.00 0 0 0 cm /Img Do Q", "50.00 100.00"},
        {8, "q 0 100.00 -50.00 0 50.00 0 cm /Img Do Q", "50.00 100.00"},
        // Out of range on the page itself: drawn as stored.
        {0, "q 100.00 0 0 50.00 0 0 cm /Img Do Q", "100.00 50.00"},
        {9, "q 100.00 0 0 50.00 0 0 cm /Img Do Q", "100.00 50.00"},
    };
    const std::string upright = build(page(100, 50, 1));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.orientation);
        const std::string pdf = build(page(100, 50, row.orientation));
        EXPECT_EQ(content_of(pdf), row.content);
        EXPECT_EQ(media_box_of(pdf), row.media_box);
        const std::string text = row.content;
        EXPECT_NE(pdf.find("3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::string(row.media_box) +
                           "] /Contents 4 0 R /Resources << /XObject << /Img 5 0 R >> >> >>\nendobj\n"),
                  std::string::npos);
        EXPECT_NE(pdf.find("4 0 obj\n<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text +
                           "\nendstream\nendobj\n"),
                  std::string::npos);
        // The cross-reference table still points at every object.
        const size_t xref = pdf.rfind("\nxref\n") + 1;
        EXPECT_EQ(std::stoull(pdf.substr(pdf.rfind("startxref\n") + 10)), xref);
        for (int id = 1; id <= 5; ++id) {
            const size_t off = std::stoull(pdf.substr(xref + 5 + 5 + 20 * size_t(id), 10));
            const std::string head = std::to_string(id) + " 0 obj\n";
            EXPECT_EQ(pdf.compare(off, head.size(), head), 0) << "object " << id;
        }
        // The image object, pixels included, is the upright one byte for byte.
        const size_t image = upright.find("5 0 obj\n"), image_end = upright.find("endobj\n", image);
        EXPECT_NE(pdf.find(upright.substr(image, image_end - image)), std::string::npos);
    }
}

TEST(TiffOrientation, TurnedPagesKeepAspectAndCap) {
    // The aspect scaling and the 14400-unit cap work on the image's own sides, before the turn.
    struct Row {
        const char* name;
        tiff::Page page;
        const char* content;
        const char* media_box;
    };
    const Row rows[] = {
        {"fax pixels twice as tall, turned", page(100, 50, 6, 0.5), "q 0 -100.00 25.00 0 0 100.00 cm /Img Do Q",
         "25.00 100.00"},
        {"fax pixels twice as wide, mirrored", page(100, 50, 2, 2.0), "q -100.00 0 0 100.00 100.00 0 cm /Img Do Q",
         "100.00 100.00"},
        {"wide, capped, turned", jpeg_page(20000, 10000, 8), "q 0 14400.00 -7200.00 0 7200.00 0 cm /Img Do Q",
         "7200.00 14400.00"},
        {"tall, capped, transposed", jpeg_page(10000, 20000, 5),
         "q 0 -7200.00 -14400.00 0 14400.00 7200.00 cm /Img Do Q", "14400.00 7200.00"},
        {"wide, capped, turned 180", jpeg_page(20000, 10000, 3),
         "q -14400.00 0 0 -7200.00 14400.00 7200.00 cm /Img Do Q", "14400.00 7200.00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string pdf = build(row.page);
        EXPECT_EQ(content_of(pdf), row.content);
        EXPECT_EQ(media_box_of(pdf), row.media_box);
    }
}

TEST(TiffOrientation, EachPageKeepsItsOwn) {
    std::vector<Field> turned = image(4, 2, 8, 1, 1);
    turned.push_back({274, SHORT, {6}});
    const Bytes strip(8, 0x40);
    const Bytes file = Builder(false).build({{turned, {strip}}, {image(4, 2, 8, 1, 1), {strip}}});
    tiff::Reader reader;
    const auto pages = reader.read(file.data(), file.size());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].orientation, 6);
    EXPECT_EQ(pages[1].orientation, 1);

    pdf::Writer w;
    const Bytes b = w.build(pages);
    const std::string pdf(b.begin(), b.end());
    const size_t first = pdf.find("q 0 -4.00 2.00 0 0 4.00 cm /Img Do Q");
    const size_t second = pdf.find("q 4.00 0 0 2.00 0 0 cm /Img Do Q");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_LT(pdf.find("/MediaBox [0 0 2.00 4.00]"), pdf.find("/MediaBox [0 0 4.00 2.00]"));
}
