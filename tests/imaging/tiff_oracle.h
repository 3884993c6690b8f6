// Test helper: makes TIFF files with libtiff's own tools and takes them apart without our reader,
// so that our decoders can be compared with libtiff's decoding of the same strips.
// - `describe` reads the first directory through `tiffdump`;
// - `strips` copies the strip byte ranges out of the file;
// - `libtiff_pixels` is libtiff's decoding of the whole image (`tiffcp -c none`, MSB-first);
// - `write_uncompressed` writes a minimal one-strip uncompressed TIFF as input for the tools.
// Linux only (it runs the tools through the shell).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tiff_oracle {

struct Directory {
    std::map<int, std::vector<uint64_t>> tags;  // tag number -> numeric values (not ASCII ones)

    uint64_t value(int tag, uint64_t fallback) const;
    uint32_t width() const { return static_cast<uint32_t>(value(256, 0)); }
    uint32_t height() const { return static_cast<uint32_t>(value(257, 0)); }
    uint32_t bits_per_sample() const { return static_cast<uint32_t>(value(258, 1)); }
    uint32_t compression() const { return static_cast<uint32_t>(value(259, 1)); }
    uint32_t photometric() const { return static_cast<uint32_t>(value(262, 0)); }
    uint32_t fill_order() const { return static_cast<uint32_t>(value(266, 1)); }
    uint32_t samples_per_pixel() const { return static_cast<uint32_t>(value(277, 1)); }
    uint32_t rows_per_strip() const;  // capped at the height, like TIFF readers do
    uint32_t t4_options() const { return static_cast<uint32_t>(value(292, 0)); }
    uint32_t predictor() const { return static_cast<uint32_t>(value(317, 1)); }
    // Bytes of one decoded row.
    size_t row_bytes() const;
    // Rows held by strip i.
    uint32_t rows_in_strip(size_t i) const;
};

// True when tiffcp, tiffdump, fax2tiff and /usr/bin/python3 with PIL are all there.
bool tools_available();

// Runs a shell command; throws std::runtime_error with its output when it fails.
void run(const std::string& command);

// Single-quotes a path for the shell.
std::string quote(const std::string& path);

Directory describe(const std::string& path);

std::vector<std::vector<uint8_t>> strips(const std::string& path, const Directory& dir);

// libtiff's decoding of the whole image, rows top to bottom, bits most significant first; `work`
// is a file name it may create.
std::vector<uint8_t> libtiff_pixels(const std::string& path, const std::string& work);

// One strip, no compression. For 1-bit images `photometric` 0 (MinIsWhite) makes 1 bits black.
void write_uncompressed(const std::string& path, uint32_t width, uint32_t height,
                        uint16_t bits_per_sample, uint16_t samples_per_pixel, uint16_t photometric,
                        const std::vector<uint8_t>& pixels);

// Reverses the bit order of every byte (FillOrder 2 data to FillOrder 1).
std::vector<uint8_t> reverse_bits(std::vector<uint8_t> bytes);

}  // namespace tiff_oracle
