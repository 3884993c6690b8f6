// Minimal PDF 1.4 writer (one image per page) and the TIFF-to-PDF conversion of one file.
// Failure style: convert_tiff_to_pdf catches every exception and returns false plus a message.
// One pixel is one PDF unit horizontally; the page height is scaled by the page's `aspect` so
// that pixels of unequal resolution keep their shape. Sides are capped at 14400 units. The page's
// TIFF orientation is honoured by the image's placement matrix (the page turns for 5 to 8); the
// pixel data is embedded unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/tiff_reader.h"

namespace pdf {

class Writer {
public:
    [[nodiscard]] bool generate(const std::vector<tiff::Page>& pages, const std::string& path);
    // The same, releasing each page's pixels once they are in the buffer, so the pages and the
    // file are not held twice in memory.
    [[nodiscard]] bool generate(std::vector<tiff::Page>&& pages, const std::string& path);
    // The bytes generate() would write (for tests and in-memory use).
    std::vector<uint8_t> build(const std::vector<tiff::Page>& pages);

    void begin_obj(int id);
    void end_obj();
    void write(const std::string& s);

    std::vector<uint8_t> buffer;
    std::vector<uint64_t> offsets;
    int32_t next_id = 1;

private:
    // Fills `buffer`; false (nothing to write) for no pages or a page without a usable size.
    // `owned`, when given, is `pages` itself: each page's data is freed after it is copied.
    bool assemble(const std::vector<tiff::Page>& pages, std::vector<tiff::Page>* owned);
};

[[nodiscard]] bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path,
                                       std::string& error);

}  // namespace pdf
