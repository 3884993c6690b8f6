// Raw deflate decoder (RFC 1951): table-driven Huffman decoding, the whole output as the history
// window. Failure style: throws std::runtime_error with the agreed message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace inflate {

// `max_out` bounds the output; decoding stops once it is reached and the output is cut there.
// With the default the output is unbounded.
std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
// The same, appended to `out` (`max_out` bounds what is appended); on an error `out` is as it
// was.
void inflate_raw(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out);

// The decoder's own parts.
namespace detail {

// A canonical Huffman code (RFC 1951 section 3.2.2): how many codes of each length, and the
// symbols in code order.
struct HuffTable {
    uint16_t counts[16] = {};
    uint16_t symbols[320] = {};
    int num_symbols = 0;

    void build(const uint16_t* lengths, int n);
};

}  // namespace detail

}  // namespace inflate
