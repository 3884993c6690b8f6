// LZW, Group 3 and Group 4 strips written by libtiff's tools must decode, strip by strip and bit
// for bit, to what libtiff itself decodes from the same file (`tiffcp -c none`).
//
// The images are made here: text pages rendered by Pillow (fax width 1728 and odd widths, thousands
// of rows) and generated bitmaps whose runs cover every code of T.4 tables 2 and 3, including
// runs longer than 2560 that need several make-up codes. They are written uncompressed and then
// recoded by tiffcp, fax2tiff and Pillow (the only one of the three that writes compression 2).
#include "imaging/ccitt.h"
#include "imaging/lzw.h"

#include "support/support.h"
#include "tiff_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::TempDir;
namespace to = tiff_oracle;

const char* const RENDER_TEXT = R"PY(
import random, sys
from PIL import Image, ImageDraw, ImageFont
out, w, h, seed, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rnd = random.Random(seed)
words = ("fax documento envio lote pagina dados imagem resolucao linha teste Dorvane cliente "
         "processamento conversao arquivo 0123456789 ABCDEFG WMQ iiil").split()
def font(name, s):
    try:
        return ImageFont.truetype("/usr/share/fonts/truetype/dejavu/" + name, s)
    except OSError:
        return ImageFont.load_default()
fonts = [font("DejaVuSans.ttf", size), font("DejaVuSerif-Bold.ttf", size * 3 // 2),
         font("DejaVuSansMono.ttf", size * 2 // 3), font("DejaVuSans-Bold.ttf", size * 3)]
# Ink is 1 on a 0 background, so that the packed rows have 1 = black like fax data.
im = Image.new("1", (w, h), 0)
d = ImageDraw.Draw(im)
y = 10
while y < h - 10:
    f = rnd.choice(fonts)
    x = rnd.randint(0, 80)
    d.text((x, y), " ".join(rnd.choice(words) for _ in range(rnd.randint(2, 40))), font=f, fill=1)
    r = rnd.random()
    if r < 0.08:
        d.rectangle([x, y, min(w - 1, x + rnd.randint(10, w)), y + rnd.randint(2, 80)], outline=1,
                    width=rnd.randint(1, 5))
    elif r < 0.12:
        d.rectangle([0, y, w - 1, y + rnd.randint(1, 9)], fill=1)
    elif r < 0.15:
        d.line([rnd.randint(0, w), y, rnd.randint(0, w), y + rnd.randint(20, 200)], fill=1, width=3)
    y += getattr(f, "size", 12) + rnd.randint(1, 25)
open(out, "wb").write(im.tobytes())
)PY";

const char* const SAVE_CCITT_RLE = R"PY(
import sys
from PIL import Image
Image.open(sys.argv[1]).convert("1").save(sys.argv[2], compression="tiff_ccitt")
)PY";

struct Bitmap {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes rows;  // (width + 7) / 8 bytes per row, 1 = black

    size_t row_bytes() const { return (width + 7) / 8; }
    void set_black(uint32_t x, uint32_t y) {
        rows[y * row_bytes() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
};

// Rows of runs whose lengths are drawn from [0, max_run], with each row mostly an edited copy of
// the one above (edges moved by up to 3 pixels: vertical modes) and now and then a fresh random row
// (horizontal and pass modes).
Bitmap runs_bitmap(const std::string& name, uint32_t width, uint32_t height, uint32_t max_run,
                   unsigned seed) {
    std::mt19937 rng(seed);
    Bitmap b{name, width, height, Bytes((width + 7) / 8 * height, 0)};
    std::vector<uint32_t> edges;
    for (uint32_t y = 0; y < height; ++y) {
        if (y == 0 || rng() % 5 == 0) {
            edges.clear();
            uint32_t x = 0;
            while (x < width) {
                x += rng() % (max_run + 1);
                edges.push_back(std::min(x, width));
            }
        } else {
            for (auto& e : edges) {
                int moved = static_cast<int>(e) + static_cast<int>(rng() % 7) - 3;
                e = static_cast<uint32_t>(std::clamp(moved, 0, static_cast<int>(width)));
            }
            std::sort(edges.begin(), edges.end());
        }
        bool black = rng() % 2;
        uint32_t x = 0;
        for (uint32_t e : edges) {
            for (; x < e; ++x) {
                if (black) b.set_black(x, y);
            }
            black = !black;
        }
    }
    return b;
}

Bitmap noise_bitmap(const std::string& name, uint32_t width, uint32_t height, unsigned seed) {
    std::mt19937 rng(seed);
    Bitmap b{name, width, height, Bytes((width + 7) / 8 * height, 0)};
    for (uint32_t y = 0; y < height; ++y) {
        unsigned density = (y / 16) % 4;  // bands of 0, 1/8, 1/2 and 7/8 black
        for (uint32_t x = 0; x < width; ++x) {
            unsigned r = rng() % 8;
            bool black = density == 1 ? r == 0 : density == 2 ? r < 4 : density == 3 ? r != 0 : false;
            if (black) b.set_black(x, y);
        }
    }
    return b;
}

struct Variant {
    std::string label;  // source bitmap and how the file was made
    std::string path;
};

class FaxLzwOracle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!to::tools_available()) return;
        dir_ = std::make_unique<TempDir>();
        testing_support::write_text(dir_->file("render.py"), RENDER_TEXT);
        testing_support::write_text(dir_->file("rle.py"), SAVE_CCITT_RLE);

        std::vector<Bitmap> bitmaps;
        struct Page {
            const char* name;
            int width, height, seed, size;
        };
        for (const Page& p : {Page{"text_1728", 1728, 2300, 1, 26}, Page{"text_1001", 1001, 3100, 2, 17},
                              Page{"text_2592", 2592, 1200, 3, 40}}) {
            const std::string raw = dir_->file(std::string(p.name) + ".raw");
            to::run("/usr/bin/python3 " + to::quote(dir_->file("render.py")) + " " + to::quote(raw) + " " +
                    std::to_string(p.width) + " " + std::to_string(p.height) + " " + std::to_string(p.seed) + " " +
                    std::to_string(p.size));
            bitmaps.push_back({p.name, uint32_t(p.width), uint32_t(p.height), testing_support::read_bytes(raw)});
            ASSERT_EQ(bitmaps.back().rows.size(), bitmaps.back().row_bytes() * bitmaps.back().height);
        }
        bitmaps.push_back(runs_bitmap("runs_2700", 2700, 700, 2700, 4));
        bitmaps.push_back(runs_bitmap("runs_short_333", 333, 900, 70, 5));
        bitmaps.push_back(runs_bitmap("runs_long_7001", 7001, 60, 7001, 6));
        bitmaps.push_back(noise_bitmap("noise_203", 203, 512, 7));
        bitmaps.push_back(runs_bitmap("narrow_1", 1, 40, 1, 8));
        bitmaps.push_back(runs_bitmap("narrow_7", 7, 40, 5, 9));

        for (const Bitmap& b : bitmaps) {
            std::string src = dir_->file(b.name + ".tif");
            to::write_uncompressed(src, b.width, b.height, 1, 1, 0, b.rows);
            auto make = [&](const std::string& how, const std::string& command) {
                std::string out = dir_->file(b.name + "_" + std::to_string(variants_.size()) + ".tif");
                to::run(command + " " + to::quote(out));
                variants_.push_back({b.name + " " + how, out});
                return out;
            };
            const std::string in = to::quote(src) + " ";
            const std::string whole = "-r " + std::to_string(b.height) + " ";  // one strip
            // Options and whether the image is one strip; without -r, strips of about 8 KiB.
            const std::pair<const char*, bool> tiffcp_runs[] = {
                {"g3", true},  {"g3 -r 50", false},         {"g3:2d", true}, {"g3:2d -r 7", false},
                {"g3:fill", true}, {"g3:2d:fill -r 64", false}, {"g4", true},    {"g4", false},
                {"g4 -r 33", false}, {"lzw", true},          {"lzw -r 16", false}};
            const std::string g3 = dir_->file(b.name + "_" + std::to_string(variants_.size()) + ".tif");
            for (const auto& [options, one_strip] : tiffcp_runs) {
                const std::string label = "tiffcp -c " + std::string(options);
                make(label + (one_strip ? " (one strip)" : ""), label + " " + (one_strip ? whole : "") + in);
            }
            make("Pillow tiff_ccitt", "/usr/bin/python3 " + to::quote(dir_->file("rle.py")) + " " + in);

            // fax2tiff takes the raw one-dimensional data of the single-strip G3 file.
            to::Directory d = to::describe(g3);
            std::string raw = dir_->file(b.name + ".g3");
            testing_support::write_bytes(raw, to::strips(g3, d).at(0));
            const std::string fax = "fax2tiff -M -X " + std::to_string(b.width) + " ";
            make("fax2tiff (2-D, EOL-aligned)", fax + "-m " + to::quote(raw) + " -o");
            make("fax2tiff -5 -p (1-D)", fax + "-m -5 -p " + to::quote(raw) + " -o");
            make("fax2tiff -8 (G4)", fax + "-m -8 " + to::quote(raw) + " -o");
            make("fax2tiff -r 100 (LSB-first)", fax + "-r 100 " + to::quote(raw) + " -o");
        }

        // LZW on 8-bit data: smooth, random (the table fills and is cleared again and again) and
        // constant (strings as long as the table allows), up to several MiB in one strip.
        struct Gray {
            const char* name;
            uint32_t width, height;
            uint16_t samples;
            int kind;
        };
        for (const Gray& g : {Gray{"photo_rgb", 1200, 900, 3, 0}, Gray{"random_gray", 700, 700, 1, 1},
                              Gray{"flat_gray", 2000, 2000, 1, 2}, Gray{"photo_gray", 1501, 1100, 1, 0}}) {
            std::mt19937 rng(11);
            Bytes px(static_cast<size_t>(g.width) * g.height * g.samples);
            for (size_t i = 0; i < px.size(); ++i) {
                size_t x = (i / g.samples) % g.width, y = i / g.samples / g.width;
                if (g.kind == 0) px[i] = static_cast<uint8_t>((x / 3 + y / 5 + (i % g.samples) * 40) + rng() % 4);
                else if (g.kind == 1) px[i] = static_cast<uint8_t>(rng());
                else px[i] = 200;
            }
            std::string src = dir_->file(std::string(g.name) + ".tif");
            to::write_uncompressed(src, g.width, g.height, 8, g.samples, g.samples == 3 ? 2 : 1, px);
            for (std::string how : {"tiffcp -c lzw -r " + std::to_string(g.height), std::string("tiffcp -c lzw -r 8"),
                                    std::string("tiffcp -c lzw -r 333")}) {
                std::string out = dir_->file(std::string(g.name) + "_" + std::to_string(variants_.size()) + ".tif");
                to::run(how + " " + to::quote(src) + " " + to::quote(out));
                variants_.push_back({std::string(g.name) + " " + how, out});
            }
        }
    }

    static void TearDownTestSuite() {
        variants_.clear();
        dir_.reset();
    }

    static std::unique_ptr<TempDir> dir_;
    static std::vector<Variant> variants_;
};

std::unique_ptr<TempDir> FaxLzwOracle::dir_;
std::vector<Variant> FaxLzwOracle::variants_;

TEST_F(FaxLzwOracle, EveryStripMatchesLibtiff) {
    if (!to::tools_available()) GTEST_SKIP() << "libtiff-tools or Pillow missing";
    ASSERT_GT(variants_.size(), 100u);
    std::map<uint32_t, int> compressions_seen;
    size_t strips_checked = 0;
    int rle_strips_needing_alignment = 0;
    for (const Variant& v : variants_) {
        SCOPED_TRACE(v.label);
        to::Directory d = to::describe(v.path);
        Bytes expected = to::libtiff_pixels(v.path, dir_->file("work.tif"));
        ASSERT_EQ(expected.size(), d.row_bytes() * d.height());
        ASSERT_EQ(d.predictor(), 1u);
        ++compressions_seen[d.compression() * 10 + (d.t4_options() & 1)];

        auto strips = to::strips(v.path, d);
        size_t at = 0;
        for (size_t i = 0; i < strips.size(); ++i) {
            SCOPED_TRACE("strip " + std::to_string(i));
            // The TIFF reader takes bits most significant first; LSB-first fax data is turned
            // around here so that the decoders see what they expect.
            Bytes in = d.fill_order() == 2 ? to::reverse_bits(strips[i]) : strips[i];
            const int width = static_cast<int>(d.width());
            const int rows = static_cast<int>(d.rows_in_strip(i));
            Bytes got;
            switch (d.compression()) {
                case 2: {
                    got = ccitt::decode_group3(in.data(), in.size(), width, rows, false, true);
                    Bytes unaligned = ccitt::decode_group3(in.data(), in.size(), width, rows, false);
                    if (unaligned != got) ++rle_strips_needing_alignment;
                    break;
                }
                case 3:
                    got = ccitt::decode_group3(in.data(), in.size(), width, rows, d.t4_options() & 1);
                    break;
                case 4: got = ccitt::decode_group4(in.data(), in.size(), width, rows); break;
                case 5: got = tiff::decode_lzw(in.data(), in.size()); break;
                default: FAIL() << "unexpected compression " << d.compression();
            }
            const size_t want = d.row_bytes() * static_cast<size_t>(rows);
            ASSERT_EQ(got.size(), want);
            ASSERT_LE(at + want, expected.size());
            if (!std::equal(got.begin(), got.end(), expected.begin() + static_cast<std::ptrdiff_t>(at))) {
                size_t k = 0;
                while (got[k] == expected[at + k]) ++k;
                FAIL() << "first difference at row " << k / d.row_bytes() << " byte "
                       << k % d.row_bytes();
            }
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

TEST_F(FaxLzwOracle, TextPagesAreMostlyWhite) {
    // Guards the colour convention: our 1 bits are black, and a text page is mostly white.
    if (!to::tools_available()) GTEST_SKIP() << "libtiff-tools or Pillow missing";
    for (const Variant& v : variants_) {
        if (v.label != "text_1728 tiffcp -c g4 (one strip)") continue;
        to::Directory d = to::describe(v.path);
        auto strips = to::strips(v.path, d);
        ASSERT_EQ(strips.size(), 1u);
        Bytes page = ccitt::decode_group4(strips[0].data(), strips[0].size(), static_cast<int>(d.width()),
                                          static_cast<int>(d.height()));
        size_t black = 0;
        for (uint8_t b : page) black += static_cast<size_t>(__builtin_popcount(b));
        EXPECT_GT(black, page.size() / 50);
        EXPECT_LT(black, page.size() * 8 / 4);
        return;
    }
    FAIL() << "no single-strip G4 text page";
}

}  // namespace
