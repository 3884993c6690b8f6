// Test helper: makes TIFF files with libtiff's own tools and takes them apart without our reader,
// so that our decoders can be compared with libtiff's decoding of the same strips. Linux only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tiff_oracle {

// The first directory of a file, as tiffdump lists it.
struct Directory {
    std::map<int, std::vector<uint64_t>> tags;  // tag number -> numeric values (not ASCII ones)

    uint32_t value(int tag, uint32_t fallback) const;
    uint32_t width() const { return value(256, 0); }
    uint32_t height() const { return value(257, 0); }
    size_t row_bytes() const { return (size_t(width()) * value(277, 1) * value(258, 1) + 7) / 8; }
    uint32_t rows_in_strip(size_t i) const;
};

// True when the libtiff tools and /usr/bin/python3 with PIL are all there.
bool tools_available();
// Runs a program (argv[0] a path); its standard output. Throws std::runtime_error when it fails.
std::string run(const std::vector<std::string>& argv);
Directory describe(const std::string& path);
// The strips' bytes, copied out of the file.
std::vector<std::vector<uint8_t>> strips(const std::string& path, const Directory& dir);

// libtiff's decoding of the whole image, rows top to bottom, bits most significant first; `work`
// is a file name it may create.
std::vector<uint8_t> libtiff_pixels(const std::string& path, const std::string& work);

// One strip (uncompressed unless said otherwise). For 1-bit images `photometric` 0 (MinIsWhite) makes 1 bits black.
void write_uncompressed(const std::string& path, uint32_t width, uint32_t height, uint16_t bits_per_sample,
                        uint16_t samples_per_pixel, uint16_t photometric, const std::vector<uint8_t>& pixels,
                        uint16_t compression = 1);

}  // namespace tiff_oracle
