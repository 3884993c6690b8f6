#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/fileutils.h"
#include "imaging/pdf_writer.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;
using testing_support::read_bytes;
using testing_support::write_bytes;
using Bytes = std::vector<uint8_t>;
using tiff::PageKind;

namespace {

tiff::Page make_page(uint32_t w, uint32_t h, PageKind kind, Bytes data, double aspect = 1.0, uint16_t orientation = 1) {
    tiff::Page p;
    p.width = w;
    p.height = h;
    p.kind = kind;
    p.data = std::move(data);
    p.aspect = aspect;
    p.orientation = orientation;
    return p;
}

std::string build(const std::vector<tiff::Page>& pages, bool compact = false) {
    pdf::Writer w;
    w.compact = compact;
    const Bytes b = w.build(pages);
    return std::string(b.begin(), b.end());
}

// A JPEG stream that is only a frame header (after an APP0 segment to skip), enough for the writer.
Bytes jpeg_frame(uint16_t w, uint16_t h, uint8_t components) {
    return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(h >> 8),
            uint8_t(h), uint8_t(w >> 8), uint8_t(w), components, 0xFF, 0xD9};
}

}  // namespace

// Byte-exact output of a small two-page file, kept as a golden file (the cross-reference table of
// larger ones is checked by qpdf in tiff_oracle_test). UPDATE_GOLDEN=1 rewrites it.
TEST(PdfWriter, MatchesGoldenFile) {
    const Bytes got = pdf::Writer().build({make_page(3, 2, PageKind::Rgb, Bytes(18, 0x7F)),
                                           make_page(9, 2, PageKind::Bilevel, {0xFF, 0x80, 0x00, 0x00}, 2.0)});
    const std::string golden = std::string(DORVANE_SOURCE_DIR) + "/tests/golden/imaging/two_pages.pdf";
    if (std::getenv("UPDATE_GOLDEN")) write_bytes(golden, got);
    EXPECT_EQ(got, read_bytes(golden));
}

// Each kind of page: the image's dictionary, the page's size (aspect, cap) and its drawing. The
// drawing, never the pixels, is turned for the Orientation tag, and the page with it for 5 to 8;
// the aspect scaling and the cap work on the image's own sides, before the turn.
TEST(PdfWriter, ImageDictionaryAndPageSizeOfEachKind) {
    const struct Row {
        const char* name;
        tiff::Page page;
        std::vector<std::string> expected;
    } rows[] = {
        {"grey fax page", make_page(1728, 2292, PageKind::Gray, Bytes(1728 * 2292, 0x80)),
         {"5 0 obj\n<< /Type /XObject /Subtype /Image /Width 1728 /Height 2292 /ColorSpace /DeviceGray "
          "/BitsPerComponent 8 /Length 3960576 >>\nstream\n",
          "4 0 obj\n<< /Length 38 >>\nstream\nq 1728.00 0 0 2292.00 0 0 cm /Img Do Q\nendstream\nendobj\n",
          "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1728.00 2292.00] /Contents 4 0 R "
          "/Resources << /XObject << /Img 5 0 R >> >> >>\nendobj\n"}},
        {"bilevel rows unchanged", make_page(10, 2, PageKind::Bilevel, {0xA5, 0xC0, 0x3C, 0x40}),
         {"/Width 10 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 1 /Length 4 >>\nstream\n\xA5\xC0\x3C\x40\nendstream\n"}},
        {"fax pixels taller than wide", make_page(1728, 1100, PageKind::Bilevel, Bytes(216 * 1100, 0xFF), 204.0 / 98.0),
         {"/MediaBox [0 0 1728.00 2289.80]", "q 1728.00 0 0 2289.80 0 0 cm /Img Do Q", "/Width 1728 /Height 1100"}},
        {"jpeg, three components", make_page(10, 10, PageKind::Jpeg, jpeg_frame(640, 480, 3)),
         {"/Width 640 /Height 480 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length 20 >>",
          "/MediaBox [0 0 640.00 480.00]"}},
        {"jpeg, one component", make_page(10, 10, PageKind::Jpeg, jpeg_frame(640, 480, 1)),
         {"/Width 640 /Height 480 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode /Length 20 >>"}},
        {"jpeg without a frame: the page's size, RGB", make_page(30, 20, PageKind::Jpeg, {0xFF, 0xD8, 0xFF, 0xD9, 0, 0}),
         {"/Width 30 /Height 20 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode"}},
        {"wide, capped", make_page(1, 1, PageKind::Jpeg, jpeg_frame(20000, 10000, 3)),
         {"/MediaBox [0 0 14400.00 7200.00]", "/Width 20000 /Height 10000"}},
        {"tall, capped", make_page(1, 1, PageKind::Jpeg, jpeg_frame(1000, 30000, 1)), {"/MediaBox [0 0 480.00 14400.00]"}},
        {"fax pixels twice as tall, turned", make_page(100, 50, PageKind::Gray, Bytes(5000, 1), 0.5, 6),
         {"stream\nq 0 -100.00 25.00 0 0 100.00 cm /Img Do Q\nendstream", "/MediaBox [0 0 25.00 100.00]"}},
        {"fax pixels twice as wide, mirrored", make_page(100, 50, PageKind::Gray, Bytes(5000, 1), 2.0, 2),
         {"stream\nq -100.00 0 0 100.00 100.00 0 cm /Img Do Q\nendstream", "/MediaBox [0 0 100.00 100.00]"}},
        {"wide, capped, turned", make_page(1, 1, PageKind::Jpeg, jpeg_frame(20000, 10000, 1), 1, 8),
         {"stream\nq 0 14400.00 -7200.00 0 7200.00 0 cm /Img Do Q\nendstream", "/MediaBox [0 0 7200.00 14400.00]"}},
        {"tall, capped, transposed", make_page(1, 1, PageKind::Jpeg, jpeg_frame(10000, 20000, 1), 1, 5),
         {"stream\nq 0 -7200.00 -14400.00 0 14400.00 7200.00 cm /Img Do Q\nendstream", "/MediaBox [0 0 14400.00 7200.00]"}},
        {"wide, capped, turned 180", make_page(1, 1, PageKind::Jpeg, jpeg_frame(20000, 10000, 1), 1, 3),
         {"stream\nq -14400.00 0 0 -7200.00 14400.00 7200.00 cm /Img Do Q\nendstream", "/MediaBox [0 0 14400.00 7200.00]"}},
        {"orientation out of range: as stored", make_page(100, 50, PageKind::Gray, Bytes(5000, 1), 1, 9),
         {"stream\nq 100.00 0 0 50.00 0 0 cm /Img Do Q\nendstream", "/MediaBox [0 0 100.00 50.00]"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string pdf = build({row.page});
        for (const std::string& e : row.expected) EXPECT_NE(pdf.find(e), std::string::npos) << e;
        // Objects appear as image, contents, page.
        EXPECT_LT(pdf.find("5 0 obj"), pdf.find("4 0 obj"));
        EXPECT_LT(pdf.find("4 0 obj"), pdf.find("3 0 obj"));
    }
    // Each page keeps its own orientation.
    const std::string two = build({make_page(4, 2, PageKind::Gray, Bytes(8, 1), 1, 6), make_page(4, 2, PageKind::Gray, Bytes(8, 1))});
    EXPECT_NE(two.find("<< /Type /Pages /Kids [ 3 0 R 6 0 R ] /Count 2 >>\n"), std::string::npos);
    EXPECT_LT(two.find("q 0 -4.00 2.00 0 0 4.00 cm /Img Do Q"), two.find("q 4.00 0 0 2.00 0 0 cm /Img Do Q"));
    EXPECT_LT(two.find("/MediaBox [0 0 2.00 4.00]"), two.find("/MediaBox [0 0 4.00 2.00]"));
}

TEST(PdfWriter, GenerateWritesTheFileOrNothing) {
    TempDir dir;
    const std::string out = dir.file("out.pdf");
    pdf::Writer w;
    EXPECT_FALSE(w.generate({}, out));
    EXPECT_FALSE(w.generate({make_page(0, 0, PageKind::Jpeg, {0xFF, 0xD8, 0xFF, 0xD9})}, out));  // no size at all
    EXPECT_FALSE(fileutils::exists(out));
    const std::vector<tiff::Page> pages = {make_page(2, 2, PageKind::Gray, {1, 2, 3, 4})};
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(w.generate(pages, out) && read_bytes(out) == pdf::Writer().build(pages));  // reusable
    EXPECT_FALSE(w.generate(pages, dir.file("missing-folder/out.pdf")));
}

// A conversion that fails after its first page is on disk must neither truncate nor replace the
// file already at the output path, nor leave its temporary file behind.
TEST(PdfWriter, FailureAfterFirstPageKeepsEarlierFile) {
    TempDir dir;
    const std::string out = dir.file("out.pdf"), temp = out + ".dorvane-tmp";
    const Bytes earlier = {'o', 'l', 'd'};
    const tiff::Page page = make_page(64, 64, PageKind::Gray, Bytes(64 * 64, 7));
    auto untouched = [&] {
        EXPECT_EQ(read_bytes(out), earlier);
        EXPECT_FALSE(fileutils::exists(temp));
    };
    write_bytes(out, earlier);

    pdf::Writer w(6000);  // a size ceiling that the second page meets
    ASSERT_TRUE(w.begin(out, 2));
    ASSERT_TRUE(w.add_page(page));
    EXPECT_TRUE(fileutils::exists(temp));
    EXPECT_FALSE(w.add_page(page));
    EXPECT_EQ(w.error(), "PDF grande demais: o arquivo passaria de 6000 bytes");
    EXPECT_FALSE(w.finish());
    untouched();
    {  // A writer dropped before finish() (an exception while decoding) cleans up after itself.
        pdf::Writer dropped;
        ASSERT_TRUE(dropped.begin(out, 2));
        ASSERT_TRUE(dropped.add_page(page));
    }
    untouched();
    // The second page of the TIFF lacks its data: the reader fails after page 1 was written.
    using namespace tiff_builder;
    write_bytes(dir.file("damaged.tif"), Builder().build({{image(2, 1, 8, 1, 1), {{0, 255}}}, {image(2, 2, 8, 1, 1), {{1, 2, 3}}}}));
    std::string error;
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(dir.file("damaged.tif"), out, error));
    EXPECT_EQ(error, "TIFF com dados incompletos na página 2 (esperado 4 bytes, obtido 3)");
    untouched();
#ifndef _WIN32
    // A disk that refuses the bytes: the temporary file's name leads to /dev/full.
    ASSERT_EQ(::symlink("/dev/full", temp.c_str()), 0);
    EXPECT_FALSE(pdf::Writer().generate({page}, out));
    untouched();
#endif
    ASSERT_TRUE(pdf::Writer().generate({page}, out));
    EXPECT_EQ(read_bytes(out), pdf::Writer().build({page}));
    EXPECT_FALSE(fileutils::exists(temp));
}

// Compact pages: the same objects in the same order, the page at its resolution's size, and each
// kind of image with the filter a reader needs. Faults caught: a dictionary that misstates the
// data (wrong /Length, a missing /DecodeParms), the PackBits end marker left out, a page sized
// in pixels.
TEST(PdfWriter, CompactPages) {
    tiff::Page fax = make_page(16, 2, PageKind::Bilevel, {0xFF, 0x0F, 0x00, 0xFF});
    fax.x_dpi = 204;
    fax.y_dpi = 196;
    tiff::Page stored = make_page(3, 1, PageKind::Rgb, {9, 9, 9, 9, 9, 9, 9, 9, 9});
    stored.stored_coding = tiff::StoredCoding::PackBits;
    stored.stored = {0xF8, 9};
    stored.stored_predictor = true;
    tiff::Page lzw = make_page(2, 1, PageKind::Gray, {0, 255});
    lzw.stored_coding = tiff::StoredCoding::Lzw;
    lzw.stored = {0x80, 0x00, 0x3F, 0xE0, 0x20, 0x20};  // not decoded here: only passed on
    lzw.stored_inverted = true;
    const std::vector<tiff::Page> pages = {fax, make_page(4, 2, PageKind::Gray, {1, 2, 3, 4, 5, 6, 7, 8}), stored, lzw};

    const std::string pdf = build(pages, true), plain = build(pages);
    // Objects in the same order as the default file's.
    for (int id = 2; id < 15; ++id) {
        auto at = [&](const std::string& s, int n) { return s.find("\n" + std::to_string(n) + " 0 obj\n"); };
        EXPECT_EQ(at(pdf, id) < at(pdf, id - 1), at(plain, id) < at(plain, id - 1)) << "object " << id;
    }
    const char* const expected[] = {
        "/Width 16 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode "
        "/DecodeParms << /K -1 /Columns 16 /Rows 2 >> /Length ",
        "/MediaBox [0 0 5.65 0.73]",  // 16 / 204 by 2 / 196 inches
        "/Width 4 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length ",
        "/Filter /RunLengthDecode /DecodeParms << /Predictor 2 /Colors 3 /BitsPerComponent 8 /Columns 3 >> "
        "/Length 3 >>\nstream\n\xF8\x09\x80\nendstream",
        "/Filter /LZWDecode /Decode [1 0] /Length 6 >>",
        "/MediaBox [0 0 2.00 1.00]",  // no resolution: a unit a pixel
    };
    for (const char* e : expected) EXPECT_NE(pdf.find(e), std::string::npos) << e;
    // The default writer ignores what only compact pages use.
    std::vector<tiff::Page> bare = pages;
    for (tiff::Page& p : bare) {
        p.x_dpi = p.y_dpi = 0;
        p.stored_coding = tiff::StoredCoding::None;
        p.stored.clear();
    }
    EXPECT_EQ(build(bare), plain);
}

// The estimate that decides the mend never falls below the default file's real size.
TEST(PdfWriter, DefaultSizeEstimateIsAnUpperBound) {
    for (size_t n : {1u, 3u, 40u}) {
        std::vector<tiff::Page> pages(n, make_page(1000, 7, PageKind::Rgb, Bytes(21000, 5)));
        pages[0].orientation = 6;
        pages[0].aspect = 2.125;
        const uint64_t real = pdf::Writer().build(pages).size(), estimate = pdf::default_pdf_bytes_estimate(std::vector<uint64_t>(n, 21000));
        EXPECT_GE(estimate, real);
        EXPECT_LE(estimate, real + 1024 + 600 * n);
    }
}
