// Deflate encoder (RFC 1951) at a fast level: greedy LZ77 over a hash chain, dynamic Huffman
// blocks, stored blocks where data does not compress. With the zlib wrapper (RFC 1950) it is the
// data a PDF reader's /FlateDecode filter reads. Failure style: never throws (allocation aside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flate {

// A raw deflate stream of the bytes, ending with a final block.
std::vector<uint8_t> deflate_raw(const uint8_t* data, size_t length);

// The same inside a zlib wrapper: header 78 01, the stream, the Adler-32 of the bytes.
std::vector<uint8_t> compress_zlib(const uint8_t* data, size_t length);

// Adler-32 (RFC 1950 section 8.2) of the bytes, continuing from `adler` (1 for a new stream).
uint32_t adler32(uint32_t adler, const uint8_t* data, size_t length);

}  // namespace flate
