// Deflate against zlib, both ways: zlib's streams (every level, strategy and window) must
// inflate to the bytes zlib was given, and our encoder's streams must inflate, through zlib (raw,
// and zlib-wrapped with its Adler-32) and through our decoder, to what went in. Faults caught: a
// wrong length or distance table entry, blocks larger than the symbol buffer, stored blocks of
// more than 65535 bytes, matches at the far edge of the window, a one-symbol Huffman code.
#include "imaging/deflate.h"
#include "imaging/inflate.h"

#include "zlib_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace zlib_oracle;

Bytes random_bytes(size_t n, unsigned seed, unsigned modulo = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b) v = uint8_t(rng() % modulo);
    return b;
}

// Words from a small vocabulary (literals, short and long matches at every distance); with
// `mixed`, also long runs, copies from up to 40000 bytes back and random stretches, so that blocks
// of different types follow each other.
Bytes text_like(size_t n, unsigned seed, bool mixed = false) {
    static const char* words[] = {"documento ", "envio ", "fax ", "lote ", "pagina\n", "imagem ", "conversao ",
                                  "de ", "o ", "a ", "Dorvane ", "cliente ", "0123456789 ", "arquivo ", "\t"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const unsigned kind = mixed ? rng() % 40 : 0;
        if (kind == 1) {
            b.insert(b.end(), 1 + rng() % 3000, uint8_t(rng()));
        } else if (kind == 2) {
            const Bytes part = random_bytes(1000 + rng() % 30000, rng());
            b.insert(b.end(), part.begin(), part.end());
        } else if (kind == 3 && b.size() > 40000) {
            const size_t at = b.size() - 1 - rng() % 40000;
            for (size_t i = 0, len = 3 + rng() % 300; i < len; ++i) b.push_back(b[at + i]);
        } else {
            const std::string w = words[rng() % 15];
            b.insert(b.end(), w.begin(), w.end());
        }
    }
    b.resize(n);
    return b;
}

Bytes mixed(size_t n, unsigned seed) { return text_like(n, seed, true); }

void expect_round_trip(const Bytes& data, const Params& p) {
    const Bytes packed = deflate_raw(data, p);
    EXPECT_TRUE(inflate::inflate_raw(packed.data(), packed.size()) == data);
}

TEST(InflateOracle, EveryLevelStrategyWindowAndSize) {
    const Bytes data = mixed(300000, 1);
    for (int strategy : {DEFAULT_STRATEGY, FILTERED, HUFFMAN_ONLY, RLE, FIXED})
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE("strategy " + std::to_string(strategy) + " level " + std::to_string(level));
            expect_round_trip(data, {level, strategy});
        }
    for (int window_bits = 9; window_bits <= 15; window_bits += 3)
        for (int mem_level : {1, 9}) expect_round_trip(data, {-1, DEFAULT_STRATEGY, window_bits, mem_level});
    for (size_t n : {0, 1, 2, 3, 7, 258, 259, 65535, 65536, 65537, 200000})
        for (int level : {0, 1, 9}) {
            SCOPED_TRACE(std::to_string(n) + " bytes, level " + std::to_string(level));
            expect_round_trip(text_like(n, unsigned(n)), {level});
            expect_round_trip(random_bytes(n, unsigned(n)), {level});
        }
    expect_round_trip(Bytes(6 << 20, 0), {9});
    expect_round_trip(mixed(5 << 20, 8), {6, FIXED});
}

TEST(InflateOracle, LimitGivesAPrefixAndBoundsABomb) {
    const Bytes data = mixed(500000, 10);
    const Bytes packed = deflate_raw(data, Params{});
    for (size_t limit : {size_t{1}, size_t{4095}, size_t{333333}, data.size()}) {
        SCOPED_TRACE(limit);
        const Bytes out = inflate::inflate_raw(packed.data(), packed.size(), limit);
        ASSERT_EQ(out.size(), limit);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
    }
    // 64 MiB of zeros pack into about 64 KiB; the caller's limit keeps the output at 1 MiB.
    const Bytes bomb = deflate_raw(Bytes(64 << 20, 0), {9});
    EXPECT_EQ(inflate::inflate_raw(bomb.data(), bomb.size(), 1 << 20).size(), size_t{1} << 20);
}

TEST(DeflateEncoder, RoundTripsThroughZlibAndOurInflate) {
    Bytes alternating(500000), edge = random_bytes(32767, 3), literal_run = random_bytes(70000, 2);
    for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = (i & 1) ? 0xFF : 0x00;
    const Bytes near = edge, far = random_bytes(32768, 4);  // a repeat from exactly 32767 back; one too far back
    for (const Bytes* part : {&near, &far, &far}) edge.insert(edge.end(), part->begin(), part->end());
    literal_run.insert(literal_run.end(), 200000, 0x80);  // a stored block longer than 65535 bytes
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"one byte", {0x42}},
        {"all white page", Bytes(3 << 20, 0xFF)},
        {"alternating pixels", alternating},
        {"incompressible", random_bytes(300000, 1)},
        {"long literal run then repeats", literal_run},
        {"repeat at the window's edge", edge},
        {"few symbols", random_bytes(200000, 5, 3)},
        {"text", text_like(1 << 20, 6)},
        {"mixed", mixed(1 << 20, 7)},
    };
    for (const auto& [name, in] : cases) {
        SCOPED_TRACE(name);
        const Bytes raw = flate::deflate_raw(in.data(), in.size());
        Bytes out(in.size() + 1);
        ASSERT_EQ(zlib_oracle::inflate_raw(raw.data(), raw.size(), out), in.size());
        out.resize(in.size());
        EXPECT_TRUE(out == in);
        EXPECT_TRUE(inflate::inflate_raw(raw.data(), raw.size()) == in);
        const Bytes wrapped = flate::compress_zlib(in.data(), in.size());
        out.assign(in.size() + 1, 0);
        ASSERT_EQ(zlib_oracle::inflate_zlib(wrapped.data(), wrapped.size(), out), in.size());
        out.resize(in.size());
        EXPECT_TRUE(out == in);
        // Incompressible data costs only the stored blocks' headers.
        EXPECT_LE(raw.size(), in.size() + in.size() / 32768 * 5 + 16);
    }
}

}  // namespace
