// libFuzzer target for the encoders: whatever the TIFF reader decodes from the input is encoded
// again (bilevel pages as Group 4, grey and RGB pages and the input bytes themselves as Deflate)
// and must decode, through our own decoders, to exactly the same pixels; the pages, stored strips
// kept, also make a compact PDF whose cross-reference table points at its objects.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/ccitt.h"
#include "imaging/ccitt_encode.h"
#include "imaging/deflate.h"
#include "imaging/inflate.h"
#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"

namespace {

void check_deflate(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> z = flate::compress_zlib(data, size);
    if (z.size() < 6) std::abort();
    const std::vector<uint8_t> back = inflate::inflate_raw(z.data() + 2, z.size() - 6);
    if (back.size() != size || (size && !std::equal(back.begin(), back.end(), data))) std::abort();
    const uint32_t adler = flate::adler32(1, data, size);
    const uint8_t* t = z.data() + z.size() - 4;
    if ((uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3]) != adler) std::abort();
}

void check_group4(const tiff::Page& p) {
    const int w = int(p.width), h = int(p.height);
    const size_t row = (size_t(w) + 7) / 8;
    const std::vector<uint8_t> g4 = ccitt::encode_group4(p.data.data(), w, h, false);
    const std::vector<uint8_t> back = ccitt::decode_group4(g4.data(), g4.size(), w, h);
    // The page's rows have 1 = white; the decoder's 1 = black. Padding bits are not pixels.
    const uint8_t pad = uint8_t(w % 8 ? 0xFF << (8 - w % 8) : 0xFF);
    for (size_t y = 0; y < size_t(h); ++y)
        for (size_t x = 0; x < row; ++x) {
            const uint8_t mask = x + 1 == row ? pad : 0xFF;
            if (((p.data[y * row + x] ^ 0xFF) & mask) != (back[y * row + x] & mask)) std::abort();
        }
}

void check_pdf(const std::vector<uint8_t>& pdf) {
    const std::string s(pdf.begin(), pdf.end());
    const size_t xref = s.rfind("\nxref\n");
    const size_t start = s.rfind("startxref\n");
    if (xref == std::string::npos || start == std::string::npos) std::abort();
    if (std::strtoull(s.c_str() + start + 10, nullptr, 10) != xref + 1) std::abort();
    const long count = std::strtol(s.c_str() + xref + 8, nullptr, 10);
    const size_t entries = s.find('\n', xref + 8) + 1 + 20;
    for (long id = 1; id < count; ++id) {
        const size_t off = std::strtoull(s.c_str() + entries + 20 * size_t(id - 1), nullptr, 10);
        const std::string head = std::to_string(id) + " 0 obj\n";
        if (s.compare(off, head.size(), head) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_deflate(data, size);
    tiff::Reader reader(16u << 20);
    reader.keep_stored = true;
    std::vector<tiff::Page> pages;
    try {
        pages = reader.read(data, size);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const tiff::Page& p : pages) {
        if (p.kind == tiff::PageKind::Bilevel) check_group4(p);
        if (p.kind == tiff::PageKind::Gray || p.kind == tiff::PageKind::Rgb) check_deflate(p.data.data(), p.data.size());
    }
    if (pages.empty()) return 0;
    pdf::Writer writer;
    writer.compact = true;
    const std::vector<uint8_t> pdf = writer.build(pages);
    if (!pdf.empty()) check_pdf(pdf);
    return 0;
}
