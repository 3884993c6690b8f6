#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/tiff_reader.h"
#include "tiff_builder.h"

using tiff::PageKind;
using namespace tiff_builder;
using Bytes = std::vector<uint8_t>;

namespace {

std::vector<tiff::Page> read(const Bytes& file) {
    tiff::Reader r;
    return r.read(file.data(), file.size());
}

// The one page of `file`; an empty page (and a failure) when there is not exactly one.
tiff::Page only(const Bytes& file) {
    auto pages = read(file);
    EXPECT_EQ(pages.size(), 1u);
    return pages.size() == 1 ? pages[0] : tiff::Page{};
}

std::string read_error(const Bytes& file) {
    try {
        read(file);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

Bytes one_page(const std::vector<Field>& fields, const std::vector<Bytes>& strips, bool le = true) {
    return Builder(le).build({{fields, strips}});
}

// Points the first directory's next offset at itself.
void self_link(Bytes& file) {
    const uint32_t ifd = file[4] | (file[5] << 8);
    const size_t next = ifd + 2 + 12 * size_t(file[ifd] | (file[ifd + 1] << 8));
    for (int i = 0; i < 4; ++i) file[next + size_t(i)] = uint8_t(ifd >> (8 * i));
}

std::vector<Field> without(std::vector<Field> fields, uint16_t tag) {
    for (auto it = fields.begin(); it != fields.end();) it = it->tag == tag ? fields.erase(it) : it + 1;
    return fields;
}

std::vector<Field> with(std::vector<Field> fields, const std::vector<Field>& extra) {
    fields.insert(fields.end(), extra.begin(), extra.end());
    return fields;
}

}  // namespace

TEST(TiffReader, RefusesBadHeaders) {
    struct Row {
        const char* name;
        Bytes file;
        const char* message;
    } rows[] = {
        {"seven bytes", {'I', 'I', 42, 0, 8, 0, 0}, "File too small for TIFF"},
        {"no byte order mark", {'I', 'M', 42, 0, 8, 0, 0, 0}, "Not a TIFF file"},
        {"magic 41", {'I', 'I', 41, 0, 8, 0, 0, 0}, "Invalid TIFF magic number"},
        {"big-endian magic read little-endian", {'M', 'M', 42, 0, 0, 0, 0, 8}, "Invalid TIFF magic number"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(read_error(row.file), row.message);
    }
}

TEST(TiffReader, EmptyResultWithoutDirectory) {
    EXPECT_TRUE(read({'M', 'M', 0, 42, 0, 0, 0, 0}).empty());
    // First offset equal to the file size.
    EXPECT_TRUE(read({'I', 'I', 42, 0, 8, 0, 0, 0}).empty());
    EXPECT_TRUE(read({'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0xFF}).empty());
}

TEST(TiffReader, ReadsBothByteOrdersAndClassicMagic43) {
    const Bytes pixels = {0, 64, 128, 255};
    for (bool le : {true, false}) {
        SCOPED_TRACE(le ? "II" : "MM");
        Bytes file = one_page(image(2, 2, 8, 1, 1), {pixels}, le);
        const tiff::Page page = only(file);
        EXPECT_EQ(page.kind, PageKind::Gray);
        EXPECT_EQ(page.width, 2u);
        EXPECT_EQ(page.data, pixels);
        file[le ? 2 : 3] = 43;  // magic 43 with the classic layout reads the same
        EXPECT_EQ(only(file).data, pixels);
    }
}

TEST(TiffReader, ReadsRealBigTiff) {
    for (bool le : {true, false}) {
        SCOPED_TRACE(le ? "II" : "MM");
        const tiff::Page page = only(Builder(le, true).build({{image(3, 1, 8, 3, 2), {{1, 2, 3, 4, 5, 6, 7, 8, 9}}}}));
        EXPECT_EQ(page.kind, PageKind::Rgb);
        EXPECT_EQ(page.data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }
}

TEST(TiffReader, RepeatedDirectoriesCountTowardsTheCeiling) {
    // A self-linked directory stops at 1001 pages, which still count towards the decoded limit.
    Bytes file = one_page(image(2, 2, 8, 1, 1), {{1, 2, 3, 4}});
    self_link(file);
    tiff::Reader r;
    r.decoded_limit = 4 * 500;
    try {
        r.read(file.data(), file.size());
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "TIFF grande demais: a página 501 passa do limite de 0 MB de imagem decodificada por arquivo");
    }
    r.decoded_limit = tiff::MAX_DECODED_BYTES;
    const auto pages = r.read(file.data(), file.size());
    ASSERT_EQ(pages.size(), 1001u);
    EXPECT_EQ(pages[1000].data, (Bytes{1, 2, 3, 4}));
}

TEST(TiffReader, CutDirectoryKeepsWholeEntries) {
    Bytes file = one_page(image(2, 1, 8, 1, 1), {{10, 20}});
    // Remove the next-offset word and half of the last entry: the strip byte counts are lost.
    file.resize(file.size() - 4 - 6);
    tiff::Reader r;
    r.read(file.data(), file.size());
    const uint32_t ifd = r.u32(4);
    const tiff::Reader::IFD d = r.read_ifd(ifd);
    EXPECT_EQ(d.tags.size(), 7u);
    // `next` comes from where the cut entry starts: its tag (279) and type (LONG).
    EXPECT_EQ(d.next, 279u | (4u << 16));
    EXPECT_TRUE(read(file).empty());  // no strip byte counts: no strips, no tiles, no page
}

TEST(TiffReader, ValueLookups) {
    const Bytes file = one_page(with(image(2, 1, 8, 3, 2), {{258, SHORT, {8, 8, 8}}, {282, RATIONAL, {300, 1}}}),
                                {{1, 2, 3, 4, 5, 6}});
    tiff::Reader r;
    ASSERT_EQ(r.read(file.data(), file.size()).size(), 1u);
    const auto d = r.read_ifd(r.u32(4));
    // The first BitsPerSample entry (SHORT 8 from image()) wins over the later triple.
    EXPECT_EQ(r.get_value(d, 258, 0), 8u);
    EXPECT_EQ(r.get_value(d, 282, 0), 300u);  // RATIONAL gives its numerator
    EXPECT_EQ(r.get_value(d, 999, 42), 42u);
    for (const auto& t : d.tags) {
        if (t.tag == 258 && t.count == 3) {
            EXPECT_EQ(r.read_offsets(t), (std::vector<uint32_t>{8, 8, 8}));
        }
    }
}

TEST(TiffReader, ForgedCountIsBoundedByTheFile) {
    Bytes file = one_page(image(1, 1, 8, 1, 1), {{9}});
    tiff::Reader r;
    r.read(file.data(), file.size());
    tiff::Reader::Tag t;
    t.tag = 273;
    t.type = LONG;
    t.count = 0xFFFFFFFF;
    t.value = 8;
    t.value_pos = 0;
    EXPECT_LE(r.read_offsets(t).size(), file.size() / 4);
    t.type = 99;  // unknown type: zeros, still bounded
    EXPECT_LE(r.read_offsets(t).size(), file.size());
}

TEST(TiffReader, RefusesUnsupportedParametersBeforeStrips) {
    struct Row {
        const char* name;
        std::vector<Field> fields;
        const char* message;
    } rows[] = {
        {"4 bits", image(2, 2, 4, 1, 1), "TIFF com 4 bits por amostra não é suportado"},
        {"16 bits", image(2, 2, 16, 1, 1), "TIFF com 16 bits por amostra não é suportado"},
        {"predictor 3", with(image(2, 2, 8, 1, 1), {{317, SHORT, {3}}}), "TIFF com predictor 3 não é suportado"},
        {"tiles", with(image(2, 2, 8, 1, 1), {{324, LONG, {8}}, {325, LONG, {4}}}),
         "TIFF organizado em tiles não é suportado"},
        {"YCbCr uncompressed", image(2, 2, 8, 3, 6),
         "TIFF com interpretação fotométrica 6 e 3 amostra(s) por pixel não é suportado"},
        {"CIELab", image(2, 2, 8, 3, 8),
         "TIFF com interpretação fotométrica 8 e 3 amostra(s) por pixel não é suportado"},
        {"RGB with one sample", image(2, 2, 8, 1, 2),
         "TIFF com interpretação fotométrica 2 e 1 amostra(s) por pixel não é suportado"},
        {"1-bit RGB", image(2, 2, 1, 3, 2), "TIFF de 1 bit com 3 amostras por pixel não é suportado"},
        {"palette without map", image(2, 2, 8, 1, 3), "TIFF com paleta de cores ausente ou incompleta"},
        {"short palette", with(image(2, 2, 8, 1, 3), {{320, SHORT, std::vector<uint64_t>(3 * 255, 0)}}),
         "TIFF com paleta de cores ausente ou incompleta"},
        {"CMYK with another ink set", with(image(1, 1, 8, 4, 5), {{332, SHORT, {2}}}),
         "TIFF com interpretação fotométrica 5 e 4 amostra(s) por pixel não é suportado"},
        {"zero samples", image(1, 1, 8, 0, 1), "TIFF com 0 amostras por pixel não é suportado"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The predictor and bits checks come first, so only the tiles row has no strips.
        const bool tiles = std::string(row.name) == "tiles";
        EXPECT_EQ(read_error(one_page(row.fields, tiles ? std::vector<Bytes>{} : std::vector<Bytes>{Bytes(64, 0)})),
                  row.message);
    }
}

TEST(TiffReader, SilentlySkippedDirectories) {
    const Bytes good = {1, 2, 3, 4};
    auto page = [&](std::vector<Field> f, std::vector<Bytes> s) { return PageSpec{std::move(f), std::move(s)}; };
    const Bytes file = Builder().build({
        page(image(0, 2, 8, 1, 1), {good}),                    // width 0
        page(image(2, 2, 8, 1, 1), {}),                        // no strips, no tiles
        page(image(2, 2, 8, 1, 1, 32771), {good}),             // unknown compression
        page(image(2, 2, 8, 1, 1, 34712), {good}),             // JPEG 2000
        page(image(2, 2, 8, 1, 1, 7), {good}),                 // JPEG without FF D8
        page(image(2, 2, 8, 1, 1), {good}),
    });
    EXPECT_EQ(only(file).data, good);
}

// open() counts the pages before any is decoded; a directory that will fail still counts, so
// that its error comes in its turn and not before an earlier page's own.
TEST(TiffReader, PageAtATimeCountsAndFailsInTurn) {
    const Bytes file = Builder().build({
        {image(0, 2, 8, 1, 1), {{1}}},        // skipped without a message
        {image(2, 1, 8, 1, 1), {{1, 2, 3}}},  // a page, with a spare byte
        {image(2, 1, 8, 1, 1), {{1}}},        // incomplete when decoded
        {image(2, 1, 4, 1, 1), {{1}}},        // refused, but only after that
    });
    tiff::Reader r;
    ASSERT_EQ(r.open(file.data(), file.size()), 3u);
    EXPECT_EQ(r.read_page(0).data, (Bytes{1, 2}));
    EXPECT_EQ(read_error(file), "TIFF com dados incompletos na página 2 (esperado 2 bytes, obtido 1)");
}

TEST(TiffReader, StripPastTheEndGivesIncompleteMessage) {
    Bytes file = one_page(with(image(2, 2, 8, 1, 1), {{278, SHORT, {1}}}), {{1, 2}, {3, 4}});
    // Second strip's offset beyond the end of the file.
    tiff::Reader r;
    r.read(file.data(), file.size());
    const auto d = r.read_ifd(r.u32(4));
    for (const auto& t : d.tags) {
        if (t.tag == 273) {
            const uint64_t second = t.value + 4;
            file[second] = 0xF0;
            file[second + 1] = 0xFF;
        }
    }
    EXPECT_EQ(read_error(file), "TIFF com dados incompletos na página 1 (esperado 4 bytes, obtido 2)");
}

TEST(TiffReader, IncompleteMessageCountsProducedPages) {
    const Bytes file = Builder().build({
        {image(0, 2, 8, 1, 1), {{1}}},
        {image(2, 2, 8, 1, 1), {{1, 2, 3}}},
    });
    EXPECT_EQ(read_error(file), "TIFF com dados incompletos na página 1 (esperado 4 bytes, obtido 3)");
}

TEST(TiffReader, DecodesEachLayoutAndColourModel) {
    std::vector<uint64_t> map(3 * 256, 0);
    map[1] = 0xFF00;        // red of index 1
    map[256 + 2] = 0x8000;  // green of index 2
    map[512 + 2] = 0x1234;  // blue of index 2
    const Field predictor{317, SHORT, {2}}, fill_order_2{266, SHORT, {2}};
    const Bytes six = {1, 2, 3, 4, 5, 6};
    const struct Row {
        const char* name;
        std::vector<Field> fields;
        std::vector<Bytes> strips;
        PageKind kind;
        Bytes expected;
    } rows[] = {
        {"WhiteIsZero 8 bits inverted", image(2, 1, 8, 1, 0), {{0x00, 0xFF}}, PageKind::Gray, {0xFF, 0x00}},
        {"WhiteIsZero 1 bit inverted", image(10, 2, 1, 1, 0), {{0, 0, 0, 0}}, PageKind::Bilevel, {0xFF, 0xC0, 0xFF, 0xC0}},
        {"BlackIsZero left as decoded", image(10, 1, 1, 1, 1), {{0x12, 0x34}}, PageKind::Bilevel, {0x12, 0x34}},
        {"no Photometric: WhiteIsZero", without(image(1, 1, 8, 1, 0), 262), {{0x10}}, PageKind::Gray, {0xEF}},
        {"no Photometric, 3 samples: RGB", without(image(1, 1, 8, 3, 0), 262), {{1, 2, 3}}, PageKind::Rgb, {1, 2, 3}},
        {"BitsPerSample as a triple",
         {{256, LONG, {1}}, {257, LONG, {1}}, {258, SHORT, {8, 8, 8}}, {259, SHORT, {1}}, {262, SHORT, {2}}, {277, SHORT, {3}}},
         {{1, 2, 3}}, PageKind::Rgb, {1, 2, 3}},
        {"RowsPerStrip 0", with(image(2, 3, 8, 1, 1), {{278, LONG, {0}}}), {six}, PageKind::Gray, six},
        {"RowsPerStrip 3", with(image(2, 3, 8, 1, 1), {{278, LONG, {3}}}), {six}, PageKind::Gray, six},
        {"RowsPerStrip 1000", with(image(2, 3, 8, 1, 1), {{278, LONG, {1000}}}), {six}, PageKind::Gray, six},
        {"three strips of one row", with(image(2, 3, 8, 1, 1), {{278, SHORT, {1}}}), {{1, 2}, {3, 4}, {5, 6}},
         PageKind::Gray, six},
        {"RGBA drops alpha", image(2, 1, 8, 4, 2), {{1, 2, 3, 255, 4, 5, 6, 128}}, PageKind::Rgb, six},
        {"gray and alpha drops alpha", image(3, 1, 8, 2, 1), {{10, 255, 20, 0, 30, 7}}, PageKind::Gray, {10, 20, 30}},
        // Two rows, one strip per plane and row.
        {"separate planes interleaved", with(image(2, 2, 8, 3, 2), {{284, SHORT, {2}}, {278, SHORT, {1}}}),
         {{1, 4}, {7, 10}, {2, 5}, {8, 11}, {3, 6}, {9, 12}}, PageKind::Rgb, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"palette becomes RGB", with(image(3, 1, 8, 1, 3), {{320, SHORT, map}}), {{0, 1, 2}}, PageKind::Rgb,
         {0, 0, 0, 0xFF, 0, 0, 0, 0x80, 0x12}},
        // Map values below 256 are taken as they are.
        {"1-bit palette with an 8-bit map", with(image(3, 1, 1, 1, 3), {{320, SHORT, {10, 20, 30, 40, 50, 60}}}),
         {{0x40}}, PageKind::Rgb, {10, 30, 50, 20, 40, 60, 10, 30, 50}},
        // k = 255 - 64 = 191; r = 191 * 0 / 255, g = 191 * 127 / 255, b = 191 * 255 / 255
        {"CMYK like libtiff", image(2, 1, 8, 4, 5), {{0, 0, 0, 0, 255, 128, 0, 64}}, PageKind::Rgb,
         {255, 255, 255, 0, 95, 191}},
        {"FillOrder 2 reversed", with(image(8, 2, 1, 1, 1), {fill_order_2}), {{0x01, 0x0F}}, PageKind::Bilevel,
         {0x80, 0xF0}},
        // PackBits data is reversed before it is unpacked: literal run of 2 bytes.
        {"FillOrder 2 PackBits", with(image(8, 2, 1, 1, 1, 32773), {fill_order_2}), {{0x80, 0x80, 0xF0}},
         PageKind::Bilevel, {0x01, 0x0F}},
        {"predictor per row", with(image(3, 2, 8, 1, 1), {predictor}), {{10, 1, 1, 200, 100, 0}}, PageKind::Gray,
         {10, 11, 12, 200, 44, 44}},
        {"predictor per sample", with(image(2, 1, 8, 3, 2), {predictor}), {{1, 2, 3, 1, 1, 1}}, PageKind::Rgb,
         {1, 2, 3, 2, 3, 4}},
        {"predictor ignored for 1 bit", with(image(8, 1, 1, 1, 1), {predictor}), {{0x55}}, PageKind::Bilevel, {0x55}},
        {"PackBits", image(3, 2, 8, 1, 1, 32773), {{0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03, 0x80}}, PageKind::Gray,
         {0xAA, 0xAA, 0xAA, 1, 2, 3}},
        // 01 02 is no zlib header: raw deflate from the first byte, one final stored block (LEN 2, NLEN ~2).
        {"raw deflate", image(2, 1, 8, 1, 1, 8), {{0x01, 0x02, 0x00, 0xFD, 0xFF, 0xAB, 0xCD}}, PageKind::Gray,
         {0xAB, 0xCD}},
        // The same data wrapped in zlib (header 78 01, Adler-32 not checked).
        {"zlib-wrapped deflate", image(2, 1, 8, 1, 1, 8),
         {{0x78, 0x01, 0x01, 0x02, 0x00, 0xFD, 0xFF, 0xAB, 0xCD, 0, 0, 0, 0}}, PageKind::Gray, {0xAB, 0xCD}},
        // 78 00 looks like zlib but 0x7800 is no multiple of 31: raw deflate, an empty stored block
        // and then a final one.
        {"78 00 is raw deflate", image(1, 1, 8, 1, 1, 8),
         {{0x78, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0xAB}}, PageKind::Gray, {0xAB}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const tiff::Page page = only(one_page(row.fields, row.strips));
        EXPECT_EQ(page.kind, row.kind);
        EXPECT_EQ(page.data, row.expected);
    }
}

TEST(TiffReader, MissingPlaneIsNotMadeUp) {
    const auto fields = with(image(2, 2, 8, 3, 2), {{284, SHORT, {2}}, {278, SHORT, {1}}});
    EXPECT_EQ(read_error(one_page(fields, {{1, 4}, {7, 10}, {2, 5}, {8, 11}, {3, 6}})),
              "TIFF com dados incompletos na página 1 (esperado 12 bytes, obtido 10)");
}

TEST(TiffReader, UnequalResolutionSetsAspect) {
    const struct Row {
        const char* name;
        std::vector<Field> resolution;
        double aspect;
    } rows[] = {
        {"fax 204 x 98", {{282, RATIONAL, {204, 1}}, {283, RATIONAL, {98, 1}}}, 204.0 / 98.0},
        {"300/1 x 600/2", {{282, RATIONAL, {300, 1}}, {283, RATIONAL, {600, 2}}}, 1.0},
        {"missing", {}, 1.0},
        {"zero denominator", {{282, RATIONAL, {204, 0}}, {283, RATIONAL, {98, 1}}}, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_DOUBLE_EQ(only(one_page(with(image(8, 1, 1, 1, 0), row.resolution), {{0}})).aspect, row.aspect);
    }
}

// Faults caught: centimetres taken for inches, unit 1 read as inches, a missing unit not read as
// the TIFF default (inch).
TEST(TiffReader, ResolutionInDotsPerInch) {
    const struct Row {
        const char* name;
        std::vector<Field> resolution;
        double x_dpi, y_dpi;
    } rows[] = {
        {"fax 204 x 196 inch", {{282, RATIONAL, {204, 1}}, {283, RATIONAL, {196, 1}}, {296, SHORT, {2}}}, 204, 196},
        {"no unit: inch", {{282, RATIONAL, {300, 1}}, {283, RATIONAL, {300, 1}}}, 300, 300},
        {"118.11 per cm", {{282, RATIONAL, {11811, 100}}, {283, RATIONAL, {11811, 100}}, {296, SHORT, {3}}}, 299.9994, 299.9994},
        {"unit 1: none", {{282, RATIONAL, {72, 1}}, {283, RATIONAL, {72, 1}}, {296, SHORT, {1}}}, 0, 0},
        {"one side missing", {{282, RATIONAL, {204, 1}}}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const tiff::Page p = only(one_page(with(image(8, 1, 1, 1, 0), row.resolution), {{0}}));
        EXPECT_NEAR(p.x_dpi, row.x_dpi, 1e-9);
        EXPECT_NEAR(p.y_dpi, row.y_dpi, 1e-9);
    }
}

// The size the mend decides on must be the size `data` gets, before anything is decoded.
TEST(TiffReader, PageDataBytesFromTheDirectoryAlone) {
    const struct Row {
        const char* name;
        std::vector<Field> fields;
        Bytes strip;
    } rows[] = {
        {"bilevel 10 x 3", image(10, 3, 1, 1, 0), Bytes(6, 0)},
        {"grey 5 x 2", image(5, 2, 8, 1, 1), Bytes(10, 0)},
        {"rgb 4 x 2", image(4, 2, 8, 3, 2), Bytes(24, 0)},
        {"rgba 2 x 2", image(2, 2, 8, 4, 2), Bytes(16, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes file = one_page(row.fields, {row.strip});
        tiff::Reader r;
        ASSERT_EQ(r.open(file.data(), file.size()), 1u);
        const uint64_t promised = r.page_data_bytes(0);
        EXPECT_EQ(promised, r.read_page(0).data.size());
        EXPECT_EQ(r.page_data_bytes(1), 0u);
    }
}

TEST(TiffReader, DeflateStripLengthChecks) {
    struct Row {
        const char* name;
        Bytes strip;
        const char* message;
    } rows[] = {
        {"one byte", {0x78}, "Data too short"},
        {"zlib header and three bytes", {0x78, 0x9C, 1, 2, 3}, "Data too short for zlib"},
    };
    for (uint64_t compression : {uint64_t(8), uint64_t(32946)})
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            EXPECT_EQ(read_error(one_page(image(1, 1, 8, 1, 1, uint32_t(compression)), {row.strip})), row.message);
        }
}

TEST(TiffReader, PackBits) {
    const struct Row {
        const char* name;
        Bytes packed;
        size_t limit;
        Bytes expected;
    } rows[] = {
        {"run, literal, no-op", {0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03, 0x80}, SIZE_MAX, {0xAA, 0xAA, 0xAA, 1, 2, 3}},
        {"cut literal", {0x05, 0x01, 0x02}, SIZE_MAX, {1, 2}},
        {"header as last byte", {0x00, 0x09, 0xFD}, SIZE_MAX, {9}},
        {"output limit", {0x81, 0x07}, 5, Bytes(5, 7)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(tiff::detail::unpack_bits(row.packed.data(), row.packed.size(), row.limit), row.expected);
    }
}

TEST(TiffReader, HugePagesAreRefusedBeforeAllocation) {
    EXPECT_EQ(read_error(one_page(image(40000, 30000, 8, 1, 1), {{1}})),
              "TIFF grande demais: a página 1 passa do limite de 1024 MB de imagem decodificada por arquivo");
    EXPECT_EQ(read_error(one_page(image(2000000, 1, 8, 1, 1), {{1}})),
              "TIFF grande demais: a página 1 tem 2000000 x 1 pixels");
}

TEST(TiffReader, JpegPassThroughAndTables) {
    // A minimal abbreviated stream: SOI, SOF0 (8x8, 1 component), SOS, data, EOI.
    const Bytes strip = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 0,
                         0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12, 0x34, 0xFF, 0xD9};
    auto fields = image(0, 0, 8, 1, 1, 7);
    tiff::Page page = only(one_page(fields, {strip}));
    EXPECT_EQ(page.kind, PageKind::Jpeg);
    EXPECT_EQ(page.width, 0u);
    EXPECT_EQ(page.data, strip);

    // JPEGTables (SOI, DQT stub, EOI) go in right after SOI.
    const Bytes tables = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3, 0x55, 0xFF, 0xD9};
    std::vector<uint64_t> t(tables.begin(), tables.end());
    Bytes expected = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3, 0x55};
    expected.insert(expected.end(), strip.begin() + 2, strip.end());
    EXPECT_EQ(only(one_page(with(fields, {{347, UNDEFINED, t}}), {strip})).data, expected);

    // RGB-coded data gets an Adobe marker with transform 0.
    fields[4] = {262, SHORT, {2}};
    page = only(one_page(fields, {strip}));
    ASSERT_GE(page.data.size(), 18u);
    EXPECT_EQ(Bytes(page.data.begin() + 2, page.data.begin() + 9), (Bytes{0xFF, 0xEE, 0, 14, 'A', 'd', 'o'}));
    EXPECT_EQ(page.data[17], 0);

    // Old-style JPEG: the strips hold no stream, JPEGInterchangeFormat points at a whole one (the
    // builder puts the strips at offset 8, so the second strip starts at 10).
    auto old_style = with(image(8, 8, 8, 1, 1, 6), {{513, LONG, {10}}, {514, LONG, {strip.size()}}});
    EXPECT_EQ(only(one_page(old_style, {{0, 0}, strip})).data, strip);

    // No frame header: refused, not written broken.
    const Bytes no_frame = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(read_error(one_page(image(8, 8, 8, 1, 1, 7), {no_frame})),
              "TIFF com JPEG sem cabeçalho de quadro legível");
}

TEST(TiffReader, JpegStripsJoinWithRestartMarkers) {
    auto strip = [](uint8_t rows, uint8_t data) {
        return Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, rows, 0, 16, 1, 1, 0x11, 0,
                     0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, data, 0xFF, 0xD9};
    };
    const tiff::Page page = only(one_page(with(image(16, 20, 8, 1, 1, 7), {{278, SHORT, {8}}}),
                                          {strip(8, 0xA1), strip(8, 0xA2), strip(4, 0xA3)}));
    const Bytes expected = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 20, 0, 16, 1, 1, 0x11, 0,
                            0xFF, 0xDD, 0, 4, 0, 2,  // restart every 2 MCUs (one strip)
                            0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0,
                            0xA1, 0xFF, 0xD0, 0xA2, 0xFF, 0xD1, 0xA3, 0xFF, 0xD9};
    EXPECT_EQ(page.data, expected);
    // One stream cut into two strips is put back together as it was.
    const Bytes whole = strip(16, 0xA4);
    const Bytes head(whole.begin(), whole.begin() + 20), tail(whole.begin() + 20, whole.end());
    EXPECT_EQ(only(one_page(image(16, 16, 8, 1, 1, 7), {head, tail})).data, whole);
    // Strips whose height is not a whole number of MCU rows cannot be joined.
    EXPECT_EQ(read_error(one_page(image(16, 10, 8, 1, 1, 7), {strip(5, 1), strip(5, 2)})),
              "TIFF com JPEG em faixas que não formam uma imagem única não é suportado");
}
