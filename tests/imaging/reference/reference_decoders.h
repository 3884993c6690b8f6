// The bit-serial decoders the table-driven ones replaced, kept as the reference that the corpus
// and fuzz comparisons hold the production decoders to (same bytes, same messages).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/ccitt.h"
#include "imaging/inflate.h"

namespace reference {

namespace inflate {
// The bit reader and the canonical code walk are the product's own (its slow path): the zlib
// oracle tests hold them to RFC 1951.
using ::inflate::BitReader;
using ::inflate::HuffTable;
std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
}  // namespace inflate

namespace tiff {
std::vector<uint8_t> decode_lzw(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
}  // namespace tiff

namespace ccitt {
// The code trees are the product's own: the libtiff oracle tests hold them to the standard.
using ::ccitt::HuffNode;
using ::ccitt::Tables;
using ::ccitt::get_tables;
struct BitReader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t bitpos = 0;
    BitReader(const uint8_t* d, size_t n) : data(d), size(n) {}
    bool at_end() const { return bitpos >= size * 8; }
};
std::vector<uint8_t> decode_group3(const uint8_t* data, size_t length, int width, int rows,
                                   bool two_dimensional, bool byte_aligned_rows = false);
std::vector<uint8_t> decode_group4(const uint8_t* data, size_t length, int width, int rows);
bool decode_2d_line(BitReader& reader, const std::vector<int>& reference, std::vector<int>& current,
                    int width);
}  // namespace ccitt

}  // namespace reference
