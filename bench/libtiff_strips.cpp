#include "bench/libtiff_strips.h"

#include <tiffio.h>

#include <algorithm>
#include <stdexcept>

namespace libtiff_strips {

File open(const std::string& path) {
    File f;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) throw std::runtime_error("cannot open " + path);
    f.handle = t;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &f.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &f.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &f.rows_per_strip);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &f.compression);
    if (f.compression == COMPRESSION_CCITTFAX3) TIFFGetFieldDefaulted(t, TIFFTAG_GROUP3OPTIONS, &f.t4_options);
    f.rows_per_strip = std::min(f.rows_per_strip, f.height);
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        std::vector<uint8_t> raw(size_t(TIFFRawStripSize(t, s)));
        if (TIFFReadRawStrip(t, s, raw.data(), tmsize_t(raw.size())) < 0) throw std::runtime_error("raw strip of " + path);
        f.strips.push_back(std::move(raw));
        const uint32_t rows = std::min(f.rows_per_strip, f.height - s * f.rows_per_strip);
        f.decoded_bytes += size_t(TIFFVStripSize(t, rows));
    }
    return f;
}

size_t decode_all(const File& f, std::vector<uint8_t>& out) {
    TIFF* t = static_cast<TIFF*>(f.handle);
    out.resize(f.decoded_bytes);
    size_t at = 0;
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(t, s, out.data() + at, tmsize_t(out.size() - at));
        if (n < 0) throw std::runtime_error("libtiff could not decode a strip");
        at += size_t(n);
    }
    return at;
}

void close(File& f) {
    if (f.handle) TIFFClose(static_cast<TIFF*>(f.handle));
    f.handle = nullptr;
}

}  // namespace libtiff_strips
