// Raw deflate decoder (RFC 1951): table-driven Huffman decoding, the whole output as the history
// window. Failure style: throws std::runtime_error with the agreed message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace inflate {

// Least-significant-bit-first reader over the input, with a 32-bit buffer refilled a byte at a
// time.
struct BitReader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    uint32_t bitbuf = 0;
    int bitcnt = 0;

    BitReader(const uint8_t* d, size_t n) : data(d), size(n) {}
    // Next n bits (0..24), first bit read is the least significant; throws
    // "Dados comprimidos truncados" when the input runs out.
    uint32_t bits(int n);
};

struct HuffTable {
    uint16_t counts[16] = {};
    uint16_t symbols[320] = {};
    int num_symbols = 0;

    void build(const uint16_t* lengths, int n);
    int decode(BitReader& reader) const;
};

// `max_out` bounds the output; decoding stops once it is reached and the output is cut there.
// With the default the output is unbounded.
std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
// The same, appended to `out` (`max_out` bounds what is appended); on an error `out` is as it
// was.
void inflate_raw(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out);

}  // namespace inflate
