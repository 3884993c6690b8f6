// Our Group 4 and Deflate encoders against the decoders of record: every stream must decode, bit
// for bit, to what went in, through our own decoders and through libtiff (Group 4, embedded in a
// TIFF and expanded by `tiffcp -c none`) and zlib (Deflate, raw and zlib-wrapped with Adler-32).
// Faults caught: a wrong code in a table, a mode chosen on the wrong b1 (colour parity), runs of
// 2560 and more, rows of width 1 or not a multiple of 8, blocks larger than the symbol buffer,
// stored blocks of more than 65535 bytes, matches at the far edge of the window, and inputs whose
// Huffman code has a single symbol.
#include "imaging/ccitt.h"
#include "imaging/ccitt_encode.h"
#include "imaging/deflate.h"
#include "imaging/inflate.h"

#include "support/support.h"
#include "tiff_builder.h"
#include "tiff_oracle.h"
#include "zlib_oracle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, unsigned seed, unsigned modulo = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b) v = uint8_t(rng() % modulo);
    return b;
}

struct DeflateCase {
    const char* name;
    std::function<Bytes()> make;
};

TEST(DeflateEncoder, RoundTripsThroughZlibAndOurInflate) {
    const DeflateCase cases[] = {
        {"empty", [] { return Bytes{}; }},
        {"one byte", [] { return Bytes{0x42}; }},
        {"all white page", [] { return Bytes(3 << 20, 0xFF); }},
        {"all black page", [] { return Bytes(1 << 20, 0x00); }},
        {"alternating pixels", [] {
             Bytes b(500000);
             for (size_t i = 0; i < b.size(); ++i) b[i] = (i & 1) ? 0xFF : 0x00;
             return b;
         }},
        {"incompressible", [] { return random_bytes(300000, 1); }},
        {"long literal run then repeats", [] {
             Bytes b = random_bytes(70000, 2);  // a stored block longer than 65535 bytes
             Bytes tail(200000, 0x80);
             b.insert(b.end(), tail.begin(), tail.end());
             return b;
         }},
        {"repeat at the window's edge", [] {
             Bytes b = random_bytes(32767, 3);
             Bytes again = b;
             b.insert(b.end(), again.begin(), again.end());
             Bytes far = random_bytes(32768, 4);  // one byte too far back to be matched
             b.insert(b.end(), far.begin(), far.end());
             b.insert(b.end(), far.begin(), far.end());
             return b;
         }},
        {"few symbols", [] { return random_bytes(200000, 5, 3); }},
        {"grey rows with a gradient", [] {
             Bytes b(2500 * 400);
             std::mt19937 rng(6);
             for (size_t y = 0; y < 400; ++y)
                 for (size_t x = 0; x < 2500; ++x)
                     b[y * 2500 + x] = uint8_t((x / 10 + y / 3) % 256 ^ ((rng() % 97) == 0 ? 0x3C : 0));
             return b;
         }},
        {"rgb scan rows", [] {
             Bytes b(1200 * 3 * 300, 0xF0);
             std::mt19937 rng(7);
             for (size_t i = 0; i < b.size(); i += 3 + rng() % 40) b[i] = uint8_t(rng());
             return b;
         }},
    };
    for (const DeflateCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes in = c.make();
        const Bytes raw = flate::deflate_raw(in.data(), in.size());
        Bytes out(in.size() + 1);
        ASSERT_EQ(zlib_oracle::inflate_raw(raw.data(), raw.size(), out), in.size());
        out.resize(in.size());
        EXPECT_TRUE(out == in);
        EXPECT_TRUE(inflate::inflate_raw(raw.data(), raw.size()) == in);

        const Bytes wrapped = flate::compress_zlib(in.data(), in.size());
        Bytes out2(in.size() + 1);
        ASSERT_EQ(zlib_oracle::inflate_zlib(wrapped.data(), wrapped.size(), out2), in.size());
        out2.resize(in.size());
        EXPECT_TRUE(out2 == in);
        // Incompressible data costs only the stored blocks' headers.
        EXPECT_LE(raw.size(), in.size() + in.size() / 32768 * 5 + 16);
    }
}

struct Bitmap {
    std::string name;
    int width = 0;
    int height = 0;
    Bytes rows;  // 1 = black, padding bits 0

    size_t row_bytes() const { return (size_t(width) + 7) / 8; }
    void set(int x, int y) { rows[size_t(y) * row_bytes() + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8)); }
};

Bitmap make_bitmap(const std::string& name, int width, int height,
                   const std::function<bool(int x, int y)>& black) {
    Bitmap b{name, width, height, Bytes((size_t(width) + 7) / 8 * size_t(height), 0)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (black(x, y)) b.set(x, y);
    return b;
}

// Runs drawn at random, each row mostly the one above with its edges moved a little (vertical and
// pass modes) and now and then a fresh row (horizontal mode).
Bitmap runs_bitmap(int width, int height, int max_run, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> edges;
    Bitmap b{"runs " + std::to_string(width), width, height, Bytes((size_t(width) + 7) / 8 * size_t(height), 0)};
    for (int y = 0; y < height; ++y) {
        if (y == 0 || rng() % 4 == 0) {
            edges.clear();
            for (int x = 0; x < width;) edges.push_back(x += int(rng() % unsigned(max_run + 1)));
        } else {
            for (int& e : edges) e = std::max(0, e + int(rng() % 9) - 4);
            std::sort(edges.begin(), edges.end());
        }
        bool black = rng() % 2;
        int x = 0;
        for (int e : edges) {
            for (; x < std::min(e, width); ++x)
                if (black) b.set(x, y);
            black = !black;
        }
    }
    return b;
}

Bytes libtiff_g4_pixels(const Bytes& g4, const Bitmap& b, const testing_support::TempDir& dir) {
    using namespace tiff_builder;
    const uint64_t w = uint64_t(b.width), h = uint64_t(b.height);
    PageSpec page{{{256, LONG, {w}}, {257, LONG, {h}}, {258, SHORT, {1}}, {259, SHORT, {4}},
                   {262, SHORT, {0}}, {277, SHORT, {1}}, {278, LONG, {h}}},
                  {g4}};
    const std::string path = dir.file("g4.tif");
    testing_support::write_bytes(path, Builder().build({page}));
    return tiff_oracle::libtiff_pixels(path, dir.file("raw.tif"));
}

TEST(Group4Encoder, RoundTripsThroughLibtiffAndOurDecoder) {
    if (!tiff_oracle::tools_available()) GTEST_SKIP() << "libtiff tools or Pillow missing";
    testing_support::TempDir dir;
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
        cases.push_back(runs_bitmap(w, 30, w > 100 ? 3000 : 5, unsigned(w)));
    for (int w : {40, 1728}) cases.push_back(runs_bitmap(w, 60, 4, unsigned(w) + 1));

    for (const Bitmap& b : cases) {
        SCOPED_TRACE(b.name);
        const Bytes g4 = ccitt::encode_group4(b.rows.data(), b.width, b.height, true);
        EXPECT_TRUE(ccitt::decode_group4(g4.data(), g4.size(), b.width, b.height) == b.rows);
        EXPECT_TRUE(libtiff_g4_pixels(g4, b, dir) == b.rows);
        // The same page as the reader's bilevel rows (1 = white) codes to the same bytes.
        Bytes inverted = b.rows;
        for (auto& v : inverted) v = uint8_t(~v);
        EXPECT_TRUE(ccitt::encode_group4(inverted.data(), b.width, b.height, false) == g4);
    }
}

}  // namespace
