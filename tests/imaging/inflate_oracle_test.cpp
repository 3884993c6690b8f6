// Deflate streams made by zlib must inflate to the bytes zlib was given.
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

Bytes random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

// Words from a small vocabulary: literals, short and long matches at every distance.
Bytes text_like(size_t n, unsigned seed) {
    static const char* words[] = {"documento ", "envio ", "fax ", "lote ", "pagina\n", "imagem ",
                                  "conversao ", "de ", "o ", "a ", "Dorvane ", "cliente ",
                                  "0123456789 ", "processamento ", "arquivo ", "\t"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % 16];
        b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    }
    b.resize(n);
    return b;
}

// Long runs and repeated blocks, with a few random bytes between them.
Bytes repetitive(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        switch (rng() % 4) {
            case 0: b.insert(b.end(), 1 + rng() % 3000, static_cast<uint8_t>(rng())); break;
            case 1: {
                size_t len = 1 + rng() % 300;
                size_t dist = 1 + rng() % std::max<size_t>(1, std::min<size_t>(b.size(), 40000));
                for (size_t i = 0; i < len && dist <= b.size(); ++i) b.push_back(b[b.size() - dist]);
                break;
            }
            default: b.push_back(static_cast<uint8_t>(rng())); break;
        }
    }
    b.resize(n);
    return b;
}

// Segments of every kind in one stream, so that blocks of different types follow each other.
Bytes mixed(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        size_t len = 1000 + rng() % 70000;
        Bytes part = rng() % 3 == 0 ? random_bytes(len, rng()) : rng() % 2 ? text_like(len, rng())
                                                                           : repetitive(len, rng());
        b.insert(b.end(), part.begin(), part.end());
    }
    b.resize(n);
    return b;
}

void expect_round_trip(const Bytes& data, const zlib_oracle::Params& p) {
    Bytes packed = zlib_oracle::deflate_raw(data, p);
    Bytes out = inflate::inflate_raw(packed.data(), packed.size());
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data);
}

TEST(InflateOracle, EveryLevelAndStrategy) {
    const Bytes data = mixed(300000, 1);
    using namespace zlib_oracle;
    for (int strategy : {DEFAULT_STRATEGY, FILTERED, HUFFMAN_ONLY, RLE, FIXED}) {
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE("strategy " + std::to_string(strategy) + " level " + std::to_string(level));
            expect_round_trip(data, {level, strategy});
        }
    }
}

TEST(InflateOracle, LargeInputsOfEachKind) {
    struct Row {
        const char* name;
        Bytes data;
        int level;
        int strategy;
    };
    const Row rows[] = {
        {"random_stored", random_bytes(3 << 20, 2), 0, zlib_oracle::DEFAULT_STRATEGY},
        {"random_default", random_bytes(2 << 20, 3), 6, zlib_oracle::DEFAULT_STRATEGY},
        {"zeros", Bytes(6 << 20, 0), 9, zlib_oracle::DEFAULT_STRATEGY},
        {"text_best", text_like(4 << 20, 4), 9, zlib_oracle::DEFAULT_STRATEGY},
        {"text_fast", text_like(3 << 20, 5), 1, zlib_oracle::DEFAULT_STRATEGY},
        {"repetitive_rle", repetitive(3 << 20, 6), 6, zlib_oracle::RLE},
        {"mixed_fixed", mixed(3 << 20, 7), 6, zlib_oracle::FIXED},
        {"mixed_default", mixed(5 << 20, 8), 6, zlib_oracle::DEFAULT_STRATEGY},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        expect_round_trip(row.data, {row.level, row.strategy});
    }
}

TEST(InflateOracle, SmallSizesAndStoredBlockBoundaries) {
    for (size_t n : {0, 1, 2, 3, 4, 7, 31, 258, 259, 300, 1000, 65535, 65536, 65537, 200000}) {
        for (int level : {0, 1, 6, 9}) {
            SCOPED_TRACE(std::to_string(n) + " bytes, level " + std::to_string(level));
            expect_round_trip(text_like(n, static_cast<unsigned>(n)), {level});
            expect_round_trip(random_bytes(n, static_cast<unsigned>(n)), {level});
        }
    }
}

TEST(InflateOracle, FlushesWindowsAndMemoryLevels) {
    const Bytes data = mixed(400000, 9);
    for (bool full : {false, true}) {
        for (size_t every : {size_t{1}, size_t{1000}, size_t{33333}}) {
            SCOPED_TRACE(std::string(full ? "full" : "sync") + " flush every " + std::to_string(every));
            zlib_oracle::Params p;
            p.flush_every = every;
            p.full_flush = full;
            expect_round_trip(every == 1 ? Bytes(data.begin(), data.begin() + 5000) : data, p);
        }
    }
    for (int window_bits = 9; window_bits <= 15; ++window_bits) {
        for (int mem_level : {1, 5, 9}) {
            SCOPED_TRACE("window " + std::to_string(window_bits) + " mem " + std::to_string(mem_level));
            expect_round_trip(data, {-1, zlib_oracle::DEFAULT_STRATEGY, window_bits, mem_level});
        }
    }
}

TEST(InflateOracle, LimitGivesAPrefixOfTheStream) {
    const Bytes data = mixed(500000, 10);
    Bytes packed = zlib_oracle::deflate_raw(data, zlib_oracle::Params{});
    for (size_t limit : {size_t{1}, size_t{4095}, size_t{65536}, size_t{333333}, data.size()}) {
        SCOPED_TRACE(limit);
        Bytes out = inflate::inflate_raw(packed.data(), packed.size(), limit);
        ASSERT_EQ(out.size(), limit);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
    }
}

TEST(InflateOracle, DecompressionBombIsBoundedByTheLimit) {
    // 64 MiB of zeros pack into about 64 KiB; the caller's limit keeps the output at 1 MiB.
    Bytes packed = zlib_oracle::deflate_raw(Bytes(64 << 20, 0), {9});
    ASSERT_LT(packed.size(), 100000u);
    Bytes out = inflate::inflate_raw(packed.data(), packed.size(), 1 << 20);
    EXPECT_EQ(out.size(), size_t{1} << 20);
}

}  // namespace
