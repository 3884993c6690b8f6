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
    int level = -1, strategy = DEFAULT_STRATEGY, window_bits = 15, mem_level = 8;  // level -1: zlib's default
};

// Raw deflate stream (no zlib header) of `in`; throws std::runtime_error when zlib fails.
std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& in, const Params& p = Params{});

// zlib's inflate of a raw stream (inflate_zlib: a zlib stream, header and Adler-32 checked) into
// `out`, which must already have the decoded size; the number of bytes produced.
size_t inflate_raw(const uint8_t* data, size_t length, std::vector<uint8_t>& out);
size_t inflate_zlib(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

}  // namespace zlib_oracle
