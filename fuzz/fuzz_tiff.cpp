// libFuzzer target for tiff::Reader::read and the PDF writer: any bytes as a TIFF file. A read
// either throws std::runtime_error or gives pages whose data has the size their kind promises,
// and the pages always make a PDF whose cross-reference table points at its objects.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"

namespace {

void check_page(const tiff::Page& p) {
    const uint64_t w = p.width, h = p.height;
    uint64_t need = 0;
    switch (p.kind) {
        case tiff::PageKind::Rgb: need = w * h * 3; break;
        case tiff::PageKind::Gray: need = w * h; break;
        case tiff::PageKind::Bilevel: need = (w + 7) / 8 * h; break;
        case tiff::PageKind::Jpeg:
            if (p.data.size() < 2 || p.data[0] != 0xFF || p.data[1] != 0xD8) std::abort();
            return;
    }
    if (p.data.size() != need) std::abort();
}

void check_pdf(const std::vector<uint8_t>& pdf) {
    const std::string s(pdf.begin(), pdf.end());
    const size_t xref = s.rfind("\nxref\n");
    const size_t start = s.rfind("startxref\n");
    if (xref == std::string::npos || start == std::string::npos) std::abort();
    if (std::strtoull(s.c_str() + start + 10, nullptr, 10) != xref + 1) std::abort();
    const size_t count_at = xref + 8;
    const long count = std::strtol(s.c_str() + count_at, nullptr, 10);
    const size_t entries = s.find('\n', count_at) + 1 + 20;  // after the free entry
    for (long id = 1; id < count; ++id) {
        const size_t off = std::strtoull(s.c_str() + entries + 20 * size_t(id - 1), nullptr, 10);
        const std::string head = std::to_string(id) + " 0 obj\n";
        if (s.compare(off, head.size(), head) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small inputs can still declare huge pages; a lower ceiling keeps each run quick.
    tiff::Reader reader(64u << 20);
    std::vector<tiff::Page> pages;
    try {
        pages = reader.read(data, size);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const tiff::Page& p : pages) check_page(p);
    if (pages.empty()) return 0;
    pdf::Writer writer;
    const std::vector<uint8_t> pdf = writer.build(pages);
    if (!pdf.empty()) check_pdf(pdf);
    return 0;
}
