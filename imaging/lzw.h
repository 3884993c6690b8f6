// TIFF LZW decoder (TIFF 6.0 section 13): codes MSB-first, 9 to 12 bits with the early-change rule.
// Failure style: never throws on bad data; it stops and returns what it decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tiff {

// `max_out` bounds the output (the TIFF reader passes a generous bound derived from the strip's
// rows); decoding stops once it is reached and the output is cut there. With the default the
// output is unbounded.
std::vector<uint8_t> decode_lzw(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
// The same, appended to `out` (`max_out` bounds what is appended).
void decode_lzw(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out);

}  // namespace tiff
