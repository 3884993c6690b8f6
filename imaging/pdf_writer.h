// Minimal PDF 1.4 writer (one image per page) and the TIFF-to-PDF conversion of one file.
// Failure style: convert_tiff_to_pdf catches every exception and returns false plus a message.
// One pixel is one PDF unit horizontally; the page height is scaled by the page's `aspect` so
// that pixels of unequal resolution keep their shape. Sides are capped at 14400 units. The page's
// TIFF orientation is honoured by the image's placement matrix (the page turns for 5 to 8); the
// pixel data is embedded unchanged. Compact output (Writer::compact) sizes the page from the
// TIFF's resolution instead and compresses the pixel data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "imaging/tiff_reader.h"

namespace pdf {

// Largest PDF written: cross-reference offsets have 10 digits.
constexpr uint64_t MAX_PDF_BYTES = 9999999999ULL;

class Writer {
public:
    // `max_bytes`: ceiling on the file's size (tests lower it).
    explicit Writer(uint64_t max_bytes = MAX_PDF_BYTES) : max_bytes(max_bytes) {}
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Page at a time: begin() creates a temporary file beside `path` and writes the catalogue
    // and page tree for `page_count` pages; add_page() writes one page, its pixels straight from
    // the page to the file; finish() writes the cross-reference table and puts the file in place
    // of `path`. Until finish() succeeds, whatever is at `path` stays untouched; any failure, or
    // a writer dropped before finish(), removes the temporary file. After a false, error() says
    // why and the writer takes no more pages.
    [[nodiscard]] bool begin(const std::string& path, size_t page_count);
    [[nodiscard]] bool add_page(const tiff::Page& page);
    [[nodiscard]] bool finish();
    const std::string& error() const { return error_; }

    // Whole documents through the same steps.
    [[nodiscard]] bool generate(const std::vector<tiff::Page>& pages, const std::string& path);
    // The same, releasing each page's pixels once they are written.
    [[nodiscard]] bool generate(std::vector<tiff::Page>&& pages, const std::string& path);
    // The bytes generate() would write, built in memory (for tests and in-memory use); empty when
    // generate() would fail.
    std::vector<uint8_t> build(const std::vector<tiff::Page>& pages);

    // Compact pages (set before begin()): the page at the size its resolution gives, bilevel
    // images coded as Group 4, grey and RGB ones deflated or their stored strip passed through
    // (Page::stored), JPEG as it is. The objects and their numbering stay the same.
    bool compact = false;

private:
    void begin_obj(int id);
    void end_obj();
    void write(const std::string& s);
    bool start(size_t page_count);
    void write_page(uint16_t orientation, int32_t page_id, float w, float h);
    bool emit(const uint8_t* data, size_t size);
    bool flush();
    bool fail(const std::string& message);
    void discard();
    uint64_t position() const { return flushed_ + buffer.size(); }

    fileutils::OutFile file_;
    std::string path_, temp_path_;
    uint64_t flushed_ = 0;  // bytes already in the file
    size_t page_count_ = 0, pages_done_ = 0;
    bool open_ = false;  // between a good begin() and finish()
    std::string error_;
    // Bytes not yet written to the file (with build(), the whole document).
    std::vector<uint8_t> buffer;
    std::vector<uint64_t> offsets;
    int32_t next_id = 1;
    uint64_t max_bytes;
};

[[nodiscard]] bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path,
                                       std::string& error);

struct ConvertOptions {
    bool compact = false;  // write compact pages (Writer::compact)
    // Above 0: a file whose default output would be larger than this is written compact instead,
    // decided from the TIFF's directories before anything is written.
    uint64_t compact_above = 0;
};

struct ConvertReport {
    bool compact = false;        // the file was written compact
    uint64_t default_bytes = 0;  // the default output's size, as estimated from the directories
    uint64_t bytes = 0;          // the size of the file written
};

[[nodiscard]] bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path,
                                       std::string& error, const ConvertOptions& options,
                                       ConvertReport* report = nullptr);

// Size of a default (not compact) PDF of pages whose data sizes are given: never below the
// real one, at most a few hundred bytes a page above it.
uint64_t default_pdf_bytes_estimate(const std::vector<uint64_t>& page_data_bytes);

}  // namespace pdf
