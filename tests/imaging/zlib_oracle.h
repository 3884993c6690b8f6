// Test helper: zlib's raw deflate and inflate, in their own translation unit because zlib's
// function `inflate` and our namespace `inflate` cannot meet in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zlib_oracle {

// zlib's own constants, so that callers need not include zlib.h.
enum Strategy { DEFAULT_STRATEGY = 0, FILTERED = 1, HUFFMAN_ONLY = 2, RLE = 3, FIXED = 4 };

struct Params {
    int level = -1;  // Z_DEFAULT_COMPRESSION
    int strategy = DEFAULT_STRATEGY;
    int window_bits = 15;
    int mem_level = 8;
    size_t flush_every = 0;  // 0: one Z_FINISH; else Z_SYNC_FLUSH / Z_FULL_FLUSH every n bytes
    bool full_flush = false;
};

// Raw deflate stream (no zlib header) of `in`; throws std::runtime_error when zlib fails.
std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& in, const Params& p = Params{});

// zlib's inflate of a raw stream into `out`, which must already have the decoded size; returns
// the number of bytes produced.
size_t inflate_raw(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

// zlib's inflate of a zlib-wrapped stream (header and Adler-32 checked) into `out`, sized as
// above; returns the number of bytes produced.
size_t inflate_zlib(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

}  // namespace zlib_oracle
