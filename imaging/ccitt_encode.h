// CCITT Group 4 (ITU-T T.6) encoder for bilevel pages, the coding a PDF reader's /CCITTFaxDecode
// filter reads with /K -1. Failure style: never throws for any input (allocation aside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ccitt {

// Codes `rows` rows of `width` pixels, each row (width + 7) / 8 bytes, most significant bit
// first; `pixels` holds at least rows × row bytes. `ones_are_black` tells which bit value is
// black: true for the decoders' output, false for tiff::Page::Bilevel rows (1 is white).
// Padding bits are ignored. The data ends with the end-of-facsimile-block code (two EOLs) and
// zero bits up to a byte boundary. A width or row count below 1 gives an empty vector.
std::vector<uint8_t> encode_group4(const uint8_t* pixels, int width, int rows, bool ones_are_black);

}  // namespace ccitt
