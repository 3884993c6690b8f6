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

std::vector<tiff::Page> read(const Bytes& file, uint64_t limit = tiff::MAX_DECODED_BYTES) {
    return tiff::Reader(limit).read(file.data(), file.size());
}

// The one page of `file`; an empty page (and a failure) when there is not exactly one.
tiff::Page only(const Bytes& file) {
    auto pages = read(file);
    EXPECT_EQ(pages.size(), 1u);
    return pages.size() == 1 ? pages[0] : tiff::Page{};
}

std::string read_error(const Bytes& file, uint64_t limit = tiff::MAX_DECODED_BYTES) {
    try {
        read(file, limit);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

Bytes one_page(const std::vector<Field>& fields, const std::vector<Bytes>& strips, bool le = true) {
    return Builder(le).build({{fields, strips}});
}

std::vector<Field> with(std::vector<Field> fields, const std::vector<Field>& extra) {
    fields.insert(fields.end(), extra.begin(), extra.end());
    return fields;
}

// Where the first directory (classic, little-endian) keeps the entry of `tag`; for tag 0, the
// directory's next-offset word.
size_t entry_of(const Bytes& file, uint16_t tag) {
    const size_t ifd = file[4] | (file[5] << 8), n = file[ifd] | (file[ifd + 1] << 8);
    for (size_t i = 0; i < n; ++i)
        if ((file[ifd + 2 + 12 * i] | (file[ifd + 3 + 12 * i] << 8)) == tag) return ifd + 2 + 12 * i;
    return ifd + 2 + 12 * n;
}

// A minimal abbreviated stream: SOI, SOF0 (8x8, 1 component), SOS, data, EOI.
const Bytes JPEG_8X8 = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 0,
                        0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12, 0x34, 0xFF, 0xD9};

void put32(Bytes& file, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + size_t(i)] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST(TiffReader, RefusesBadHeadersAndReadsNoDirectoryAsNoPage) {
    const std::pair<Bytes, const char*> rows[] = {
        {{'I', 'I', 42, 0, 8, 0, 0}, "File too small for TIFF"},
        {{'I', 'M', 42, 0, 8, 0, 0, 0}, "Not a TIFF file"},
        {{'I', 'I', 41, 0, 8, 0, 0, 0}, "Invalid TIFF magic number"},
        {{'M', 'M', 42, 0, 0, 0, 0, 8}, "Invalid TIFF magic number"},
    };
    for (const auto& [file, message] : rows) EXPECT_EQ(read_error(file), message);
    // No first directory, or one at or past the end of the file.
    for (const Bytes& file : {Bytes{'M', 'M', 0, 42, 0, 0, 0, 0}, Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}, Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0xFF}})
        EXPECT_TRUE(read(file).empty());
}

TEST(TiffReader, BothByteOrdersMagic43AndBigTiff) {
    const Bytes pixels = {1, 2, 3, 4, 5, 6};
    for (bool le : {true, false}) {
        SCOPED_TRACE(le ? "II" : "MM");
        Bytes file = one_page(image(2, 1, 8, 3, 2), {pixels}, le);
        EXPECT_EQ(only(file).data, pixels);
        file[le ? 2 : 3] = 43;  // magic 43 with the classic layout reads the same
        EXPECT_EQ(only(file).data, pixels);
        EXPECT_EQ(only(Builder(le, true).build({{image(2, 1, 8, 3, 2), {pixels}}})).data, pixels);
    }
}

TEST(TiffReader, LoopingChainRepeatsPagesWithinTheCeiling) {
    Bytes file = one_page(image(2, 2, 8, 1, 1), {{1, 2, 3, 4}});
    put32(file, entry_of(file, 0), uint32_t(file[4] | (file[5] << 8)));  // the directory links to itself
    EXPECT_EQ(read_error(file, 4 * 500),
              "TIFF grande demais: a página 501 passa do limite de 0 MB de imagem decodificada por arquivo");
    const auto pages = read(file);
    ASSERT_EQ(pages.size(), 1001u);
    EXPECT_EQ(pages[1000].data, (Bytes{1, 2, 3, 4}));
}

// Forged counts and offsets are bounded by the file: no huge allocation, no read outside it.
TEST(TiffReader, ForgedEntriesStayInsideTheFile) {
    Bytes file = one_page(image(2, 1, 8, 1, 1), {{10, 20}});
    Bytes huge_count = file, unknown_type = file, cut = file;
    put32(huge_count, entry_of(file, 273) + 4, 0xFFFFFFFF);
    unknown_type[entry_of(file, 273) + 2] = 99;
    put32(unknown_type, entry_of(file, 273) + 4, 0xFFFFFFFF);
    EXPECT_NO_THROW(read(huge_count));
    EXPECT_NO_THROW(read(unknown_type));
    // Cut inside the last entry (strip byte counts): no strips, no page.
    cut.resize(cut.size() - 4 - 6);
    EXPECT_TRUE(read(cut).empty());
    // The second strip starts at the file's last byte: it would end one byte past it.
    Bytes two = one_page(with(image(2, 2, 8, 1, 1), {{278, SHORT, {1}}}), {{1, 2}, {3, 4}});
    const size_t offsets = two[entry_of(two, 273) + 8] | (two[entry_of(two, 273) + 9] << 8);
    put32(two, offsets + 4, uint32_t(two.size() - 1));
    EXPECT_EQ(read_error(two), "TIFF com dados incompletos na página 1 (esperado 4 bytes, obtido 2)");
}

TEST(TiffReader, RefusesUnsupportedParameters) {
    const struct Row {
        std::vector<Field> fields;
        const char* message;
    } rows[] = {
        {image(2, 2, 4, 1, 1), "TIFF com 4 bits por amostra não é suportado"},
        {image(2, 2, 16, 1, 1), "TIFF com 16 bits por amostra não é suportado"},
        {with(image(2, 2, 8, 1, 1), {{317, SHORT, {3}}}), "TIFF com predictor 3 não é suportado"},
        {image(2, 2, 8, 3, 6), "TIFF com interpretação fotométrica 6 e 3 amostra(s) por pixel não é suportado"},
        {image(2, 2, 8, 3, 8), "TIFF com interpretação fotométrica 8 e 3 amostra(s) por pixel não é suportado"},
        {image(2, 2, 8, 1, 2), "TIFF com interpretação fotométrica 2 e 1 amostra(s) por pixel não é suportado"},
        {image(2, 2, 1, 3, 2), "TIFF de 1 bit com 3 amostras por pixel não é suportado"},
        {image(2, 2, 8, 1, 3), "TIFF com paleta de cores ausente ou incompleta"},
        {with(image(2, 2, 8, 1, 3), {{320, SHORT, std::vector<uint64_t>(3 * 255, 0)}}), "TIFF com paleta de cores ausente ou incompleta"},
        {with(image(1, 1, 8, 4, 5), {{332, SHORT, {2}}}),
         "TIFF com interpretação fotométrica 5 e 4 amostra(s) por pixel não é suportado"},
        {image(1, 1, 8, 0, 1), "TIFF com 0 amostras por pixel não é suportado"},
        {image(40000, 30000, 8, 1, 1),
         "TIFF grande demais: a página 1 passa do limite de 1024 MB de imagem decodificada por arquivo"},
        {image(2000000, 1, 8, 1, 1), "TIFF grande demais: a página 1 tem 2000000 x 1 pixels"},
        {image(1, 1, 8, 1, 1, 8), "Data too short"},  // one byte of deflate
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(read_error(one_page(row.fields, {{0x78}})), row.message);
    }
    EXPECT_EQ(read_error(one_page(image(1, 1, 8, 1, 1, 32946), {{0x78, 0x9C, 1, 2, 3}})), "Data too short for zlib");
    // The predictor and bits checks come before the strips are looked for.
    EXPECT_EQ(read_error(one_page(with(image(2, 2, 8, 1, 1), {{324, LONG, {8}}, {325, LONG, {4}}}), {})),
              "TIFF organizado em tiles não é suportado");
}

// open() counts the pages before any is decoded; a directory that will fail still counts, so
// that its error comes in its turn and not before an earlier page's own.
TEST(TiffReader, SkipsSilentlyOrCountsAndFailsInTurn) {
    const Bytes good = {1, 2, 3, 4};
    const Bytes skipped = Builder().build({
        {image(0, 2, 8, 1, 1), {good}},         // width 0
        {image(2, 2, 8, 1, 1), {}},             // no strips, no tiles
        {image(2, 2, 8, 1, 1, 32771), {good}},  // unknown compression
        {image(2, 2, 8, 1, 1, 34712), {good}},  // JPEG 2000
        {image(2, 2, 8, 1, 1, 7), {good}},      // JPEG without FF D8
        {image(2, 2, 8, 1, 1), {good}},
    });
    EXPECT_EQ(only(skipped).data, good);
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
    const auto planes = with(image(2, 2, 8, 3, 2), {{284, SHORT, {2}}, {278, SHORT, {1}}});
    EXPECT_EQ(read_error(one_page(planes, {{1, 4}, {7, 10}, {2, 5}, {8, 11}, {3, 6}})),  // a plane missing
              "TIFF com dados incompletos na página 1 (esperado 12 bytes, obtido 10)");
}

TEST(TiffReader, DecodesEachLayoutAndColourModel) {
    std::vector<uint64_t> map(3 * 256, 0);
    map[1] = 0xFF00;        // red of index 1
    map[256 + 2] = 0x8000;  // green of index 2
    map[512 + 2] = 0x1234;  // blue of index 2
    const Field predictor{317, SHORT, {2}}, fill_order_2{266, SHORT, {2}};
    const Bytes six = {1, 2, 3, 4, 5, 6};
    auto no_photometric = [](uint32_t spp) { auto f = image(1, 1, 8, spp, 0); f.erase(f.begin() + 4); return f; };
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
        {"no Photometric: WhiteIsZero", no_photometric(1), {{0x10}}, PageKind::Gray, {0xEF}},
        {"no Photometric, 3 samples: RGB", no_photometric(3), {{1, 2, 3}}, PageKind::Rgb, {1, 2, 3}},
        {"BitsPerSample as a triple",
         {{256, LONG, {1}}, {257, LONG, {1}}, {258, SHORT, {8, 8, 8}}, {259, SHORT, {1}}, {262, SHORT, {2}}, {277, SHORT, {3}}},
         {{1, 2, 3}}, PageKind::Rgb, {1, 2, 3}},
        {"the first of two BitsPerSample", with(image(2, 1, 8, 1, 1), {{258, SHORT, {1}}}), {{7, 9}}, PageKind::Gray, {7, 9}},
        {"RowsPerStrip 0", with(image(2, 3, 8, 1, 1), {{278, LONG, {0}}}), {six}, PageKind::Gray, six},
        {"RowsPerStrip 1000", with(image(2, 3, 8, 1, 1), {{278, LONG, {1000}}}), {six}, PageKind::Gray, six},
        {"three strips of one row", with(image(2, 3, 8, 1, 1), {{278, SHORT, {1}}}), {{1, 2}, {3, 4}, {5, 6}}, PageKind::Gray, six},
        {"RGBA drops alpha", image(2, 1, 8, 4, 2), {{1, 2, 3, 255, 4, 5, 6, 128}}, PageKind::Rgb, six},
        {"gray and alpha drops alpha", image(3, 1, 8, 2, 1), {{10, 255, 20, 0, 30, 7}}, PageKind::Gray, {10, 20, 30}},
        // Two rows, one strip per plane and row.
        {"separate planes interleaved", with(image(2, 2, 8, 3, 2), {{284, SHORT, {2}}, {278, SHORT, {1}}}),
         {{1, 4}, {7, 10}, {2, 5}, {8, 11}, {3, 6}, {9, 12}}, PageKind::Rgb, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"palette becomes RGB", with(image(3, 1, 8, 1, 3), {{320, SHORT, map}}), {{0, 1, 2}}, PageKind::Rgb, {0, 0, 0, 0xFF, 0, 0, 0, 0x80, 0x12}},
        // Map values below 256 are taken as they are.
        {"1-bit palette with an 8-bit map", with(image(3, 1, 1, 1, 3), {{320, SHORT, {10, 20, 30, 40, 50, 60}}}),
         {{0x40}}, PageKind::Rgb, {10, 30, 50, 20, 40, 60, 10, 30, 50}},
        // k = 255 - 64 = 191; r = 191 * 0 / 255, g = 191 * 127 / 255, b = 191 * 255 / 255
        {"CMYK like libtiff", image(2, 1, 8, 4, 5), {{0, 0, 0, 0, 255, 128, 0, 64}}, PageKind::Rgb, {255, 255, 255, 0, 95, 191}},
        {"FillOrder 2 reversed", with(image(8, 2, 1, 1, 1), {fill_order_2}), {{0x01, 0x0F}}, PageKind::Bilevel, {0x80, 0xF0}},
        // PackBits data is reversed before it is unpacked: literal run of 2 bytes.
        {"FillOrder 2 PackBits", with(image(8, 2, 1, 1, 1, 32773), {fill_order_2}), {{0x80, 0x80, 0xF0}},
         PageKind::Bilevel, {0x01, 0x0F}},
        {"predictor per row", with(image(3, 2, 8, 1, 1), {predictor}), {{10, 1, 1, 200, 100, 0}}, PageKind::Gray, {10, 11, 12, 200, 44, 44}},
        {"predictor per sample", with(image(2, 1, 8, 3, 2), {predictor}), {{1, 2, 3, 1, 1, 1}}, PageKind::Rgb, {1, 2, 3, 2, 3, 4}},
        {"predictor ignored for 1 bit", with(image(8, 1, 1, 1, 1), {predictor}), {{0x55}}, PageKind::Bilevel, {0x55}},
        {"PackBits run, literal, no-op", image(3, 2, 8, 1, 1, 32773), {{0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03, 0x80}},
         PageKind::Gray, {0xAA, 0xAA, 0xAA, 1, 2, 3}},
        {"PackBits cut literal", image(2, 1, 8, 1, 1, 32773), {{0x05, 0x01, 0x02}}, PageKind::Gray, {1, 2}},
        {"PackBits header as last byte", image(1, 1, 8, 1, 1, 32773), {{0x00, 0x09, 0xFD}}, PageKind::Gray, {9}},
        // 01 02 is no zlib header: raw deflate from the first byte, one final stored block (LEN 2, NLEN ~2).
        {"raw deflate", image(2, 1, 8, 1, 1, 8), {{0x01, 0x02, 0x00, 0xFD, 0xFF, 0xAB, 0xCD}}, PageKind::Gray, {0xAB, 0xCD}},
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
        // The size the mend decides on must be the size `data` gets, before anything is decoded.
        const Bytes file = one_page(row.fields, row.strips);
        tiff::Reader r;
        ASSERT_EQ(r.open(file.data(), file.size()), 1u);
        EXPECT_EQ(r.page_data_bytes(0), row.expected.size());
        EXPECT_EQ(r.page_data_bytes(1), 0u);
    }
}

// Resolution and orientation go with the page, pixel or JPEG. Faults caught: centimetres taken for
// inches, unit 1 read as inches, a missing unit not read as the TIFF default (inch), the aspect
// ratio turned over, an orientation out of range passed on.
TEST(TiffReader, ResolutionAndOrientationGoWithThePage) {
    const Field x204{282, RATIONAL, {204, 1}}, y98{283, RATIONAL, {98, 1}};
    const struct Row {
        const char* name;
        std::vector<Field> fields;
        double aspect, x_dpi, y_dpi;
        uint16_t orientation;
    } rows[] = {
        {"fax 204 x 98 inch", {x204, y98, {296, SHORT, {2}}}, 204.0 / 98.0, 204, 98, 1},
        {"no unit: inch, 300/1 x 600/2", {{282, RATIONAL, {300, 1}}, {283, RATIONAL, {600, 2}}}, 1, 300, 300, 1},
        {"118.11 per cm", {{282, RATIONAL, {11811, 100}}, {283, RATIONAL, {11811, 100}}, {296, SHORT, {3}}}, 1, 299.9994, 299.9994, 1},
        {"unit 1: none", {{282, RATIONAL, {72, 1}}, {283, RATIONAL, {72, 1}}, {296, SHORT, {1}}}, 1, 0, 0, 1},
        {"one side missing", {x204}, 1, 0, 0, 1},
        {"zero denominator", {{282, RATIONAL, {204, 0}}, y98}, 1, 0, 0, 1},
        {"orientation 0", {{274, SHORT, {0}}}, 1, 0, 0, 1},
        {"orientation 9", {{274, SHORT, {9}}}, 1, 0, 0, 1},
        {"orientation 65535", {{274, SHORT, {65535}}}, 1, 0, 0, 1},
        {"orientation 6 as LONG", {{274, LONG, {6}}}, 1, 0, 0, 6},
        {"orientation 3", {{274, SHORT, {3}}}, 1, 0, 0, 3},
        {"orientation 8", {{274, SHORT, {8}}}, 1, 0, 0, 8},
    };
    for (const Row& row : rows)
        for (const bool jpeg : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (jpeg ? " jpeg" : ""));
            const tiff::Page p = only(one_page(with(jpeg ? image(8, 8, 8, 1, 1, 7) : image(8, 1, 1, 1, 0), row.fields),
                                               {jpeg ? JPEG_8X8 : Bytes{0}}, !jpeg));  // JPEG ones big-endian
            EXPECT_DOUBLE_EQ(p.aspect, row.aspect);
            EXPECT_NEAR(p.x_dpi, row.x_dpi, 1e-9);
            EXPECT_NEAR(p.y_dpi, row.y_dpi, 1e-9);
            EXPECT_EQ(p.orientation, row.orientation);
        }
}

// JPEG strips are passed through (tiff_oracle_test renders libtiff's and Pillow's: tables, RGB
// coding, strips joined with restart markers); what the corpus lacks is here.
TEST(TiffReader, JpegStreamsPutTogetherOrRefused) {
    auto strip = [](uint8_t rows, uint8_t data) {
        return Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, rows, 0, 16, 1, 1, 0x11, 0,
                     0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, data, 0xFF, 0xD9};
    };
    // One stream cut into two strips is put back together as it was.
    const Bytes whole = strip(16, 0xA4);
    const Bytes head(whole.begin(), whole.begin() + 20), tail(whole.begin() + 20, whole.end());
    EXPECT_EQ(only(one_page(image(16, 16, 8, 1, 1, 7), {head, tail})).data, whole);
    // Old-style JPEG: the strips hold no stream, JPEGInterchangeFormat points at a whole one (the
    // builder puts the strips at offset 8, so the second strip starts at 10).
    auto old_style = with(image(8, 8, 8, 1, 1, 6), {{513, LONG, {10}}, {514, LONG, {JPEG_8X8.size()}}});
    EXPECT_EQ(only(one_page(old_style, {{0, 0}, JPEG_8X8})).data, JPEG_8X8);
    // Strips whose height is not a whole number of MCU rows cannot be joined.
    EXPECT_EQ(read_error(one_page(image(16, 10, 8, 1, 1, 7), {strip(5, 1), strip(5, 2)})),
              "TIFF com JPEG em faixas que não formam uma imagem única não é suportado");
    EXPECT_EQ(read_error(one_page(image(8, 8, 8, 1, 1, 7), {{0xFF, 0xD8, 0xFF, 0xD9}})),
              "TIFF com JPEG sem cabeçalho de quadro legível");
}
