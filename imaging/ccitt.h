// CCITT fax decoders: ITU-T T.4 (Group 3, one- and two-dimensional) and T.6 (Group 4), over the
// modified Huffman run-length codes of T.4 tables 2 and 3.
// Output rows are (width + 7) / 8 bytes, 1 bits black, most significant bit first.
// Failure style: never throws on bad data; damaged lines end early and undecoded rows stay white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/msb_bits.h"

namespace ccitt {

// `byte_aligned_rows`: TIFF compression 2 starts every row on a byte boundary (TIFF 6.0
// section 10); the reader sets it for that compression only.
std::vector<uint8_t> decode_group3(const uint8_t* data, size_t length, int width, int rows,
                                   bool two_dimensional, bool byte_aligned_rows = false);
std::vector<uint8_t> decode_group4(const uint8_t* data, size_t length, int width, int rows);
// The same, appended to `out`.
void decode_group3(const uint8_t* data, size_t length, int width, int rows, bool two_dimensional,
                   bool byte_aligned_rows, std::vector<uint8_t>& out);
void decode_group4(const uint8_t* data, size_t length, int width, int rows, std::vector<uint8_t>& out);

// The decoders' own parts.
namespace detail {

struct HuffNode {
    int32_t child0 = -1;
    int32_t child1 = -1;
    int32_t value = -1;  // run length when a code ends here
};

struct Tables {
    std::vector<HuffNode> white;
    std::vector<HuffNode> black;
    bool built = false;
};

// The white and black code trees, filled exactly once (thread-safe).
const Tables* get_tables();

using BitReader = imaging::detail::MsbBitReader;

// One two-dimensional line against `reference` (its changing elements): false when the line
// cannot be decoded.
bool decode_2d_line(BitReader& reader, const std::vector<int>& reference, std::vector<int>& current,
                    int width);

}  // namespace detail

}  // namespace ccitt
