// LZW, Group 3 and Group 4 strips written by libtiff's tools must decode, strip by strip and bit
// for bit, to what libtiff itself decodes from the same file (`tiffcp -c none`); and our Group 4
// encoder's data must decode, through libtiff and through our decoder, to what went in.
//
// The images are generated bitmaps whose runs cover every code of T.4 tables 2 and 3, including
// runs longer than 2560 that need several make-up codes (drawn pages are in tiff_oracle_test's
// corpus). They are written uncompressed and then recoded by tiffcp, fax2tiff and Pillow (the only
// one of the three that writes compression 2).
#include "imaging/ccitt.h"
#include "imaging/ccitt_encode.h"
#include "imaging/lzw.h"

#include "support/support.h"
#include "tiff_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;
namespace to = tiff_oracle;

const char* const SAVE_CCITT_RLE = R"PY(
import sys
from PIL import Image
Image.open(sys.argv[1]).convert("1").save(sys.argv[2], compression="tiff_ccitt")
)PY";

struct Bitmap {
    std::string name;
    int width = 0, height = 0;
    Bytes rows;  // (width + 7) / 8 bytes per row, 1 = black, padding bits 0

    size_t row_bytes() const { return (size_t(width) + 7) / 8; }
    void set(int x, int y) { rows[size_t(y) * row_bytes() + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8)); }
};

Bitmap make_bitmap(const std::string& name, int width, int height, const std::function<bool(int x, int y)>& black) {
    Bitmap b{name, width, height, Bytes((size_t(width) + 7) / 8 * size_t(height), 0)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (black(x, y)) b.set(x, y);
    return b;
}

// Rows of runs whose lengths are drawn from [0, max_run], each row mostly the one above with its
// edges moved by up to `shift` pixels (vertical and pass modes) and now and then a fresh row
// (horizontal mode).
Bitmap runs_bitmap(int width, int height, int max_run, int shift, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> edges;
    Bitmap b{"runs " + std::to_string(width), width, height, Bytes((size_t(width) + 7) / 8 * size_t(height), 0)};
    for (int y = 0; y < height; ++y) {
        if (y == 0 || rng() % 5 == 0) {
            edges.clear();
            for (int x = 0; x < width;) edges.push_back(x = std::min(width, x + int(rng() % unsigned(max_run + 1))));
        } else {
            for (int& e : edges) e = std::clamp(e + int(rng() % unsigned(2 * shift + 1)) - shift, 0, width);
            std::sort(edges.begin(), edges.end());
        }
        bool black = rng() % 2;
        int x = 0;
        for (int e : edges) {
            for (; x < e; ++x)
                if (black) b.set(x, y);
            black = !black;
        }
    }
    return b;
}

// How the variants are made: {src} the uncompressed file, {out} the variant, {w} and {h} the
// image's size, {raw} the one-dimensional data of the first variant (one strip), {rle} the Pillow
// script. tiffcp without -r writes strips of about 8 KiB.
const char* const BILEVEL_RECIPES[] = {
    "/usr/bin/tiffcp -c g3 -r {h} {src} {out}",          "/usr/bin/tiffcp -c g3 -r 50 {src} {out}",
    "/usr/bin/tiffcp -c g3:2d -r {h} {src} {out}",       "/usr/bin/tiffcp -c g3:2d -r 7 {src} {out}",
    "/usr/bin/tiffcp -c g3:fill -r {h} {src} {out}",     "/usr/bin/tiffcp -c g3:2d:fill -r 64 {src} {out}",
    "/usr/bin/tiffcp -c g4 -r {h} {src} {out}",          "/usr/bin/tiffcp -c g4 {src} {out}",
    "/usr/bin/tiffcp -c g4 -r 33 {src} {out}",           "/usr/bin/tiffcp -c lzw -r {h} {src} {out}",
    "/usr/bin/tiffcp -c lzw -r 16 {src} {out}",          "/usr/bin/python3 {rle} {src} {out}",
    "/usr/bin/fax2tiff -M -X {w} -m {raw} -o {out}",     "/usr/bin/fax2tiff -M -X {w} -m -5 -p {raw} -o {out}",
    "/usr/bin/fax2tiff -M -X {w} -m -8 {raw} -o {out}",  "/usr/bin/fax2tiff -M -X {w} -r 100 {raw} -o {out}",
};
const char* const GRAY_RECIPES[] = {"/usr/bin/tiffcp -c lzw -r {h} {src} {out}", "/usr/bin/tiffcp -c lzw -r 8 {src} {out}",
                                    "/usr/bin/tiffcp -c lzw -r 333 {src} {out}"};

struct Variant {
    std::string label;  // source bitmap and how the file was made
    std::string path;
};

TEST(FaxLzwOracle, EveryStripMatchesLibtiff) {
    if (!to::tools_available()) GTEST_SKIP() << "libtiff-tools or Pillow missing";
    const TempDir dir;
    testing_support::write_text(dir.file("rle.py"), SAVE_CCITT_RLE);
    std::vector<Variant> variants;
    // Runs one recipe on src.tif; the variant joins the list.
    auto make = [&](const std::string& name, const std::string& recipe, int width, int height) {
        const std::string out = dir.file(std::to_string(variants.size()) + ".tif");
        const std::map<std::string, std::string> vars = {{"{src}", dir.file("src.tif")}, {"{out}", out},
                                                         {"{w}", std::to_string(width)}, {"{h}", std::to_string(height)},
                                                         {"{raw}", dir.file("raw.g3")}, {"{rle}", dir.file("rle.py")}};
        std::istringstream words(recipe);
        std::vector<std::string> argv;
        for (std::string w; words >> w;) argv.push_back(vars.count(w) ? vars.at(w) : w);
        to::run(argv);
        variants.push_back({name + ": " + recipe, out});
    };
    std::vector<Bitmap> bitmaps = {runs_bitmap(1728, 2300, 40, 3, 1), runs_bitmap(1001, 900, 300, 2, 2),
                                   runs_bitmap(2700, 700, 2700, 3, 4),  runs_bitmap(333, 900, 70, 3, 5),
                                   runs_bitmap(7001, 60, 7001, 3, 6),   runs_bitmap(1, 40, 1, 3, 8),
                                   runs_bitmap(7, 40, 5, 3, 9)};
    bitmaps.push_back(make_bitmap("noise 203", 203, 512, [](int x, int y) {  // bands of 0, 1/8, 1/2, 7/8 black
        const unsigned r = unsigned(x * 7919 + y * 104729) % 8, density = unsigned(y / 16) % 4;
        return density == 1 ? r == 0 : density == 2 ? r < 4 : density == 3 && r != 0;
    }));
    for (const Bitmap& b : bitmaps) {
        to::write_uncompressed(dir.file("src.tif"), uint32_t(b.width), uint32_t(b.height), 1, 1, 0, b.rows);
        for (const char* recipe : BILEVEL_RECIPES) {
            make(b.name, recipe, b.width, b.height);
            if (variants.size() % std::size(BILEVEL_RECIPES) == 1)  // fax2tiff's input
                testing_support::write_bytes(dir.file("raw.g3"), to::strips(variants.back().path, to::describe(variants.back().path)).at(0));
        }
    }
    // LZW on 8-bit data: random (the table fills and is cleared again and again) and constant
    // (strings as long as the table allows), up to several MiB in one strip.
    for (const bool random : {true, false}) {
        std::mt19937 rng(11);
        Bytes px(random ? 700 * 700 : 2000 * 2000, 200);
        if (random) std::generate(px.begin(), px.end(), [&] { return uint8_t(rng()); });
        const int side = random ? 700 : 2000;
        to::write_uncompressed(dir.file("src.tif"), uint32_t(side), uint32_t(side), 8, 1, 1, px);
        for (const char* recipe : GRAY_RECIPES) make(random ? "random grey" : "flat grey", recipe, side, side);
    }

    std::map<uint32_t, int> compressions_seen;
    size_t strips_checked = 0;
    int rle_strips_needing_alignment = 0;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.label);
        const to::Directory d = to::describe(v.path);
        const Bytes expected = to::libtiff_pixels(v.path, dir.file("work.tif"));
        ASSERT_EQ(expected.size(), d.row_bytes() * d.height());
        ASSERT_EQ(d.value(317, 1), 1u);  // no predictor
        const uint32_t compression = d.value(259, 1), two_d = d.value(292, 0) & 1;
        ++compressions_seen[compression * 10 + two_d];
        const auto strips = to::strips(v.path, d);
        size_t at = 0;
        for (size_t i = 0; i < strips.size(); ++i) {
            SCOPED_TRACE("strip " + std::to_string(i));
            // The TIFF reader takes bits most significant first; LSB-first fax data is turned
            // around here so that the decoders see what they expect.
            Bytes in = strips[i];
            if (d.value(266, 1) == 2)
                for (auto& byte : in) byte = uint8_t((byte * 0x0202020202ULL & 0x010884422010ULL) % 1023);
            const int width = int(d.width()), rows = int(d.rows_in_strip(i));
            Bytes got;
            switch (compression) {
                case 2:
                    got = ccitt::decode_group3(in.data(), in.size(), width, rows, false, true);
                    if (ccitt::decode_group3(in.data(), in.size(), width, rows, false) != got) ++rle_strips_needing_alignment;
                    break;
                case 3: got = ccitt::decode_group3(in.data(), in.size(), width, rows, two_d); break;
                case 4: got = ccitt::decode_group4(in.data(), in.size(), width, rows); break;
                case 5: got = tiff::decode_lzw(in.data(), in.size()); break;
                default: FAIL() << "unexpected compression " << compression;
            }
            const size_t want = d.row_bytes() * size_t(rows);
            ASSERT_EQ(got.size(), want);
            ASSERT_LE(at + want, expected.size());
            const auto diff = std::mismatch(got.begin(), got.end(), expected.begin() + long(at));
            ASSERT_TRUE(diff.first == got.end()) << "first difference at row " << (diff.first - got.begin()) / long(d.row_bytes());
            at += want;
            ++strips_checked;
        }
        EXPECT_EQ(at, expected.size());
    }
    // Every kind of strip was met: compression 2, 3 one- and two-dimensional, 4 and 5.
    for (uint32_t key : {20u, 30u, 31u, 40u, 50u}) EXPECT_GT(compressions_seen[key], 0) << key;
    EXPECT_GT(strips_checked, 1000u);
    // Compression 2 rows start on byte boundaries: read bit after bit, most strips go wrong.
    EXPECT_GT(rle_strips_needing_alignment, 5);
}

// Faults caught: a wrong code in a table, a mode chosen on the wrong b1 (colour parity), runs of
// 2560 and more, rows of width 1 or not a multiple of 8.
TEST(Group4Encoder, RoundTripsThroughLibtiffAndOurDecoder) {
    if (!to::tools_available()) GTEST_SKIP() << "libtiff tools or Pillow missing";
    TempDir dir;
    std::vector<Bitmap> cases = {
        make_bitmap("all white", 1728, 50, [](int, int) { return false; }),
        make_bitmap("all black", 1728, 50, [](int, int) { return true; }),
        make_bitmap("alternating pixels", 1001, 20, [](int x, int) { return x % 2 == 0; }),
        make_bitmap("checkerboard", 64, 64, [](int x, int y) { return (x + y) % 2 == 1; }),
        make_bitmap("one-run rows", 3000, 12, [](int x, int y) { return y % 3 == 0 || (y % 3 == 1 && x == 2999); }),
        make_bitmap("black first pixel", 17, 4, [](int x, int y) { return x == 0 || x == 16 - y; }),
        make_bitmap("noise", 997, 40, [](int x, int y) { return (x * 7919 + y * 104729) % 11 < 4; }),
    };
    for (int w : {1, 2, 7, 8, 9, 63, 64, 65, 1727, 1728, 2559, 2560, 2561, 2623, 2624, 2625, 5121, 10000})
        cases.push_back(runs_bitmap(w, 30, w > 100 ? 3000 : 5, 4, unsigned(w)));
    for (int w : {40, 1728}) cases.push_back(runs_bitmap(w, 60, 4, 4, unsigned(w) + 1));

    for (const Bitmap& b : cases) {
        SCOPED_TRACE(b.name);
        const Bytes g4 = ccitt::encode_group4(b.rows.data(), b.width, b.height, true);
        EXPECT_TRUE(ccitt::decode_group4(g4.data(), g4.size(), b.width, b.height) == b.rows);
        to::write_uncompressed(dir.file("g4.tif"), uint32_t(b.width), uint32_t(b.height), 1, 1, 0, g4, 4);
        EXPECT_TRUE(to::libtiff_pixels(dir.file("g4.tif"), dir.file("raw.tif")) == b.rows);
        // The same page as the reader's bilevel rows (1 = white) codes to the same bytes.
        Bytes inverted = b.rows;
        for (auto& v : inverted) v = uint8_t(~v);
        EXPECT_TRUE(ccitt::encode_group4(inverted.data(), b.width, b.height, false) == g4);
    }
}

}  // namespace
