// libtiff's side of the decoder benchmark, in its own translation unit: libtiff's `struct tiff`
// and our namespace `tiff` cannot meet in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace libtiff_strips {

struct File {
    void* handle = nullptr;  // the open TIFF*
    uint32_t width = 0, height = 0, rows_per_strip = 0, t4_options = 0;
    uint16_t compression = 1;
    std::vector<std::vector<uint8_t>> strips;  // the raw strips, read once
    size_t decoded_bytes = 0;
};

// Opens the file (kept open) and reads its raw strips; throws std::runtime_error on failure.
File open(const std::string& path);
// TIFFReadEncodedStrip of every strip into `out`; returns the bytes decoded.
size_t decode_all(const File& f, std::vector<uint8_t>& out);
void close(File& f);

}  // namespace libtiff_strips
