#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/fileutils.h"
#include "imaging/deflate.h"
#include "imaging/inflate.h"
#include "imaging/pdf_writer.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;
using Bytes = std::vector<uint8_t>;

namespace {

tiff::Page make_page(uint32_t w, uint32_t h, tiff::PageKind kind, Bytes data) {
    tiff::Page p;
    p.width = w;
    p.height = h;
    p.kind = kind;
    p.data = std::move(data);
    return p;
}

std::string build(const std::vector<tiff::Page>& pages) {
    pdf::Writer w;
    const Bytes b = w.build(pages);
    return std::string(b.begin(), b.end());
}

// A JPEG stream that is only a frame header, enough for the writer.
Bytes jpeg_frame(uint16_t w, uint16_t h, uint8_t components) {
    return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00,  // an APP0 segment to skip
            0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), components,
            0xFF, 0xD9};
}

// Checks the cross-reference table against the body: every entry 20 bytes and pointing at
// "N 0 obj", startxref pointing at "xref". Returns the number of objects (the /Size).
int check_xref(const std::string& pdf) {
    const size_t xref = pdf.rfind("\nxref\n") + 1;
    const size_t sx = pdf.rfind("startxref\n");
    EXPECT_EQ(std::stoull(pdf.substr(sx + 10)), xref);
    size_t pos = xref + 5;
    const size_t eol = pdf.find('\n', pos);
    const int count = std::stoi(pdf.substr(pos + 2, eol - pos - 2));
    pos = eol + 1;
    EXPECT_EQ(pdf.substr(pos, 20), "0000000000 65535 f \n");
    for (int id = 1; id < count; ++id) {
        const std::string entry = pdf.substr(pos + 20 * size_t(id), 20);
        EXPECT_TRUE(std::regex_match(entry, std::regex("[0-9]{10} 00000 n \n"))) << entry;
        const size_t off = std::stoull(entry.substr(0, 10));
        const std::string head = std::to_string(id) + " 0 obj\n";
        EXPECT_EQ(pdf.compare(off, head.size(), head), 0) << "object " << id;
    }
    EXPECT_EQ(pdf.substr(pos + 20 * size_t(count), 8), "trailer\n");
    EXPECT_NE(pdf.find("<< /Size " + std::to_string(count) + " /Root 1 0 R >>\n"), std::string::npos);
    EXPECT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");
    return count;
}

}  // namespace

TEST(PdfWriter, GrayFaxPage) {
    const std::string pdf = build({make_page(1728, 2292, tiff::PageKind::Gray, Bytes(1728 * 2292, 0x80))});
    EXPECT_EQ(pdf.substr(0, 15), std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
    EXPECT_EQ(check_xref(pdf), 6);
    EXPECT_NE(pdf.find("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"), std::string::npos);
    EXPECT_NE(pdf.find("2 0 obj\n<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>\nendobj\n"), std::string::npos);
    EXPECT_NE(pdf.find("5 0 obj\n<< /Type /XObject /Subtype /Image /Width 1728 /Height 2292 /ColorSpace "
                       "/DeviceGray /BitsPerComponent 8 /Length 3960576 >>\nstream\n"),
              std::string::npos);
    EXPECT_NE(pdf.find("4 0 obj\n<< /Length 38 >>\nstream\nq 1728.00 0 0 2292.00 0 0 cm /Img Do Q\nendstream\nendobj\n"),
              std::string::npos);
    EXPECT_NE(pdf.find("3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1728.00 2292.00] /Contents 4 0 R "
                       "/Resources << /XObject << /Img 5 0 R >> >> >>\nendobj\n"),
              std::string::npos);
    // Objects appear as image, contents, page.
    EXPECT_LT(pdf.find("5 0 obj"), pdf.find("4 0 obj"));
    EXPECT_LT(pdf.find("4 0 obj"), pdf.find("3 0 obj"));
}

TEST(PdfWriter, ContentStreamOfSmallPage) {
    const std::string pdf = build({make_page(100, 50, tiff::PageKind::Rgb, Bytes(100 * 50 * 3, 1))});
    EXPECT_NE(pdf.find("<< /Length 35 >>\nstream\nq 100.00 0 0 50.00 0 0 cm /Img Do Q\nendstream\n"),
              std::string::npos);
    EXPECT_NE(pdf.find("/ColorSpace /DeviceRGB /BitsPerComponent 8 /Length 15000 >>"), std::string::npos);
}

TEST(PdfWriter, BilevelRowsAreEmbeddedUnchanged) {
    const Bytes rows = {0xA5, 0xC0, 0x3C, 0x40};
    const std::string pdf = build({make_page(10, 2, tiff::PageKind::Bilevel, rows)});
    const std::string dict = "/Width 10 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 1 /Length 4 >>\nstream\n";
    const size_t at = pdf.find(dict);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(pdf.substr(at + dict.size(), 4 + 11), std::string(rows.begin(), rows.end()) + "\nendstream\n");
}

TEST(PdfWriter, TwoPagesAndObjectNumbers) {
    const std::string pdf = build({make_page(1, 1, tiff::PageKind::Gray, {0}), make_page(2, 1, tiff::PageKind::Gray, {0, 1})});
    EXPECT_NE(pdf.find("<< /Type /Pages /Kids [ 3 0 R 6 0 R ] /Count 2 >>\n"), std::string::npos);
    EXPECT_NE(pdf.find("6 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 2.00 1.00] /Contents 7 0 R "
                       "/Resources << /XObject << /Img 8 0 R >> >> >>\n"),
              std::string::npos);
    EXPECT_EQ(check_xref(pdf), 9);
}

TEST(PdfWriter, JpegTakesSizeAndColourFromFrame) {
    struct Row {
        const char* name;
        uint8_t components;
        const char* space;
    } rows[] = {{"three components", 3, "/DeviceRGB"}, {"one component", 1, "/DeviceGray"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes jpeg = jpeg_frame(640, 480, row.components);
        const std::string pdf = build({make_page(10, 10, tiff::PageKind::Jpeg, jpeg)});
        EXPECT_NE(pdf.find("/Width 640 /Height 480 /ColorSpace " + std::string(row.space) +
                           " /BitsPerComponent 8 /Filter /DCTDecode /Length " + std::to_string(jpeg.size()) + " >>"),
                  std::string::npos);
        EXPECT_NE(pdf.find("/MediaBox [0 0 640.00 480.00]"), std::string::npos);
        check_xref(pdf);
    }
    // No frame header: the page's own size, RGB.
    const Bytes no_frame = {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0};
    const std::string pdf = build({make_page(30, 20, tiff::PageKind::Jpeg, no_frame)});
    EXPECT_NE(pdf.find("/Width 30 /Height 20 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode"),
              std::string::npos);
}

TEST(PdfWriter, JpegWithoutAnySizeWritesNothing) {
    TempDir dir;
    const std::string out = dir.file("x.pdf");
    pdf::Writer w;
    EXPECT_FALSE(w.generate({make_page(0, 0, tiff::PageKind::Jpeg, {0xFF, 0xD8, 0xFF, 0xD9})}, out));
    EXPECT_FALSE(fileutils::exists(out));
}

TEST(PdfWriter, LargePagesAreCappedKeepingShape) {
    const std::string pdf = build({make_page(20000, 10000, tiff::PageKind::Jpeg, jpeg_frame(20000, 10000, 3))});
    EXPECT_NE(pdf.find("/MediaBox [0 0 14400.00 7200.00]"), std::string::npos);
    EXPECT_NE(pdf.find("/Width 20000 /Height 10000"), std::string::npos);
    const std::string tall = build({make_page(1000, 30000, tiff::PageKind::Jpeg, jpeg_frame(1000, 30000, 1))});
    EXPECT_NE(tall.find("/MediaBox [0 0 480.00 14400.00]"), std::string::npos);
}

TEST(PdfWriter, UnequalResolutionScalesHeight) {
    tiff::Page fax = make_page(1728, 1100, tiff::PageKind::Bilevel, Bytes(216 * 1100, 0xFF));
    fax.aspect = 204.0 / 98.0;
    const std::string pdf = build({fax});
    EXPECT_NE(pdf.find("/MediaBox [0 0 1728.00 2289.80]"), std::string::npos);
    EXPECT_NE(pdf.find("q 1728.00 0 0 2289.80 0 0 cm /Img Do Q"), std::string::npos);
    EXPECT_NE(pdf.find("/Width 1728 /Height 1100"), std::string::npos);
}

TEST(PdfWriter, GenerateWritesFileAndRefusesEmpty) {
    TempDir dir;
    const std::string out = dir.file("out.pdf");
    pdf::Writer w;
    EXPECT_FALSE(w.generate({}, out));
    EXPECT_FALSE(fileutils::exists(out));
    const std::vector<tiff::Page> pages = {make_page(2, 2, tiff::PageKind::Gray, {1, 2, 3, 4})};
    ASSERT_TRUE(w.generate(pages, out));
    EXPECT_EQ(testing_support::read_bytes(out), pdf::Writer().build(pages));
    // generate() starts afresh, so a writer can be reused.
    ASSERT_TRUE(w.generate(pages, out));
    EXPECT_EQ(testing_support::read_bytes(out), pdf::Writer().build(pages));
    EXPECT_FALSE(w.generate(pages, dir.file("missing-folder/out.pdf")));
}

// A conversion that fails after its first page is on disk must neither truncate nor replace the
// file already at the output path, nor leave its temporary file behind.
TEST(PdfWriter, FailureAfterFirstPageKeepsEarlierFile) {
    TempDir dir;
    const std::string out = dir.file("out.pdf");
    const Bytes earlier = {'o', 'l', 'd'};
    const tiff::Page page = make_page(64, 64, tiff::PageKind::Gray, Bytes(64 * 64, 7));
    auto untouched = [&] {
        EXPECT_EQ(testing_support::read_bytes(out), earlier);
        EXPECT_FALSE(fileutils::exists(out + ".dorvane-tmp"));
    };
    testing_support::write_bytes(out, earlier);

    // The size ceiling (lowered here) is met by the second page.
    pdf::Writer w;
    w.max_bytes = 6000;
    ASSERT_TRUE(w.begin(out, 2));
    ASSERT_TRUE(w.add_page(page));
    EXPECT_TRUE(fileutils::exists(out + ".dorvane-tmp"));
    EXPECT_FALSE(w.add_page(page));
    EXPECT_EQ(w.error(), "PDF grande demais: o arquivo passaria de 6000 bytes");
    EXPECT_FALSE(w.finish());
    untouched();

    // A writer dropped before finish() (an exception while decoding) cleans up after itself.
    {
        pdf::Writer dropped;
        ASSERT_TRUE(dropped.begin(out, 2));
        ASSERT_TRUE(dropped.add_page(page));
    }
    untouched();

    // The second page of the TIFF lacks its data: the reader fails after page 1 was written.
    const Bytes tiff = tiff_builder::Builder().build({{tiff_builder::image(2, 1, 8, 1, 1), {{0, 255}}},
                                                      {tiff_builder::image(2, 2, 8, 1, 1), {{1, 2, 3}}}});
    testing_support::write_bytes(dir.file("damaged.tif"), tiff);
    std::string error;
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(dir.file("damaged.tif"), out, error));
    EXPECT_EQ(error, "TIFF com dados incompletos na página 2 (esperado 4 bytes, obtido 3)");
    untouched();

#ifndef _WIN32
    // A disk that refuses the bytes: the temporary file's name leads to /dev/full.
    ASSERT_EQ(::symlink("/dev/full", (out + ".dorvane-tmp").c_str()), 0);
    EXPECT_FALSE(pdf::Writer().generate({page}, out));
    untouched();
#endif

    // A complete run replaces the file.
    ASSERT_TRUE(pdf::Writer().generate({page}, out));
    EXPECT_EQ(testing_support::read_bytes(out), pdf::Writer().build({page}));
    EXPECT_FALSE(fileutils::exists(out + ".dorvane-tmp"));
}

// Byte-exact output of a small two-page file, kept as a golden file. UPDATE_GOLDEN=1 rewrites it.
TEST(PdfWriter, MatchesGoldenFile) {
    std::vector<tiff::Page> pages = {make_page(3, 2, tiff::PageKind::Rgb, Bytes(18, 0x7F)),
                                     make_page(9, 2, tiff::PageKind::Bilevel, {0xFF, 0x80, 0x00, 0x00})};
    pages[1].aspect = 2.0;
    const Bytes got = pdf::Writer().build(pages);
    const std::string golden = std::string(DORVANE_SOURCE_DIR) + "/tests/golden/imaging/two_pages.pdf";
    if (std::getenv("UPDATE_GOLDEN")) testing_support::write_bytes(golden, got);
    EXPECT_EQ(got, testing_support::read_bytes(golden));
}

// Compact pages: the same objects in the same order, the page at its resolution's size, and each
// kind of image with the filter a reader needs. Faults caught: a dictionary that misstates the
// data (wrong /Length, a missing /DecodeParms), the PackBits end marker left out, a page sized
// in pixels.
TEST(PdfWriter, CompactPages) {
    tiff::Page fax = make_page(16, 2, tiff::PageKind::Bilevel, {0xFF, 0x0F, 0x00, 0xFF});
    fax.x_dpi = 204;
    fax.y_dpi = 196;
    tiff::Page grey = make_page(4, 2, tiff::PageKind::Gray, {1, 2, 3, 4, 5, 6, 7, 8});
    tiff::Page stored = make_page(3, 1, tiff::PageKind::Rgb, {9, 9, 9, 9, 9, 9, 9, 9, 9});
    stored.stored_coding = tiff::StoredCoding::PackBits;
    stored.stored = {0xF8, 9};
    stored.stored_predictor = true;
    tiff::Page lzw = make_page(2, 1, tiff::PageKind::Gray, {0, 255});
    lzw.stored_coding = tiff::StoredCoding::Lzw;
    lzw.stored = {0x80, 0x00, 0x3F, 0xE0, 0x20, 0x20};  // not decoded here: only passed on
    lzw.stored_inverted = true;
    const std::vector<tiff::Page> pages = {fax, grey, stored, lzw};

    pdf::Writer w;
    w.compact = true;
    const Bytes bytes = w.build(pages);
    const std::string pdf(bytes.begin(), bytes.end());
    EXPECT_EQ(check_xref(pdf), 15);
    const std::string plain = build(pages);
    // Objects in the same order as the default file's.
    std::vector<size_t> order, plain_order;
    for (int id = 1; id < 15; ++id) {
        order.push_back(pdf.find("\n" + std::to_string(id) + " 0 obj\n"));
        plain_order.push_back(plain.find("\n" + std::to_string(id) + " 0 obj\n"));
    }
    for (size_t i = 1; i < order.size(); ++i)
        EXPECT_EQ(order[i] < order[i - 1], plain_order[i] < plain_order[i - 1]) << "object " << i + 1;

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

// A page large enough to have its checksum summed on a second thread gets the same trailer as
// one summed in small pieces, and its stream inflates back to the page.
TEST(FlateEncoder, LargePageKeepsItsChecksum) {
    Bytes page(3 << 20);
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t((i / 4000) * 7 + (i % 13 == 0 ? i : 0));
    const Bytes z = flate::compress_zlib(page.data(), page.size());
    ASSERT_GT(z.size(), 6u);
    uint32_t adler = 1;
    for (size_t at = 0; at < page.size(); at += 1001) adler = flate::adler32(adler, page.data() + at, std::min<size_t>(1001, page.size() - at));
    const uint8_t* t = z.data() + z.size() - 4;
    EXPECT_EQ((uint32_t(t[0]) << 24) | (uint32_t(t[1]) << 16) | (uint32_t(t[2]) << 8) | t[3], adler);
    EXPECT_TRUE(inflate::inflate_raw(z.data() + 2, z.size() - 6) == page);
}

// The estimate that decides the mend never falls below the default file's real size.
TEST(PdfWriter, DefaultSizeEstimateIsAnUpperBound) {
    for (size_t n : {1u, 3u, 40u}) {
        std::vector<tiff::Page> pages(n, make_page(1000, 7, tiff::PageKind::Rgb, Bytes(21000, 5)));
        pages[0].orientation = 6;
        pages[0].aspect = 2.125;
        std::vector<uint64_t> sizes(n, 21000);
        const uint64_t real = pdf::Writer().build(pages).size(), estimate = pdf::default_pdf_bytes_estimate(sizes);
        EXPECT_GE(estimate, real);
        EXPECT_LE(estimate, real + 1024 + 600 * n);
    }
}

TEST(ConvertTiffToPdf, ReportsEachFailure) {
    TempDir dir;
    std::string error;
    const std::string missing = dir.file("missing.tif");
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(missing, dir.file("a.pdf"), error));
    EXPECT_EQ(error, "Não foi possível ler o arquivo: " + missing);

    testing_support::write_bytes(dir.file("empty-chain.tif"), {'I', 'I', 42, 0, 0, 0, 0, 0});
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(dir.file("empty-chain.tif"), dir.file("b.pdf"), error));
    EXPECT_EQ(error, "No readable pages in TIFF");

    testing_support::write_text(dir.file("text.tif"), "hello world");
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(dir.file("text.tif"), dir.file("c.pdf"), error));
    EXPECT_EQ(error, "Not a TIFF file");

    const Bytes good = tiff_builder::Builder().build({{tiff_builder::image(2, 1, 8, 1, 1), {{0, 255}}}});
    testing_support::write_bytes(dir.file("good.tif"), good);
    EXPECT_FALSE(pdf::convert_tiff_to_pdf(dir.file("good.tif"), dir.file("no-such-folder/d.pdf"), error));
    EXPECT_EQ(error, "Failed to write PDF");

    error.clear();
    ASSERT_TRUE(pdf::convert_tiff_to_pdf(dir.file("good.tif"), dir.file("e.pdf"), error));
    EXPECT_EQ(error, "");
    const Bytes pdf = testing_support::read_bytes(dir.file("e.pdf"));
    EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 8), "%PDF-1.4");
}
