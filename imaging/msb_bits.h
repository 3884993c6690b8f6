// Most-significant-bit-first reading, the bit order of TIFF LZW codes and of T.4/T.6 fax codes:
// bit position p is bit 7 - p % 8 of byte p / 8. Shared by the LZW and CCITT decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace imaging::detail {

struct MsbBitReader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t bitpos = 0;

    MsbBitReader(const uint8_t* d, size_t n) : data(d), size(n) {}

    bool at_end() const { return bitpos >= size * 8; }
    size_t bits_left() const { return at_end() ? 0 : size * 8 - bitpos; }

    // The next n bits (1 to 25) as a number, the first bit most significant, without consuming
    // them. Bits past the end of the data read as 0: a decoder that looks a code up in a table
    // compares the code's length with bits_left() to tell real bits from that padding.
    uint32_t peek(int n) const {
        const size_t byte = bitpos >> 3;
        uint32_t word = 0;
        if (byte + 4 <= size) {
            std::memcpy(&word, data + byte, 4);
            word = __builtin_bswap32(word);
        } else {
            for (size_t i = 0; i < 4; ++i) word = (word << 8) | (byte + i < size ? data[byte + i] : 0u);
        }
        return (word << (bitpos & 7)) >> (32 - n);
    }
    uint32_t read(int n) {
        const uint32_t v = peek(n);
        bitpos += size_t(n);
        return v;
    }
};

}  // namespace imaging::detail
