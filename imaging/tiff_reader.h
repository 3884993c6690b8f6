// TIFF container reader (TIFF 6.0 baseline plus the compressions scanners and fax machines use,
// and BigTIFF): turns a file held in memory into page images. Failure style: throws
// std::runtime_error with a message for the operator; decoder errors pass through.
//
// A page either shows what the TIFF shows or the file is refused: fill order 2, palettes, separate
// planes, CMYK, extra (alpha) samples and abbreviated or striped JPEG are converted; colour models
// that a page cannot show faithfully are refused; resolution and orientation go with the page to
// the writer. Decoded data is capped at MAX_DECODED_BYTES per file so that a hostile file cannot
// exhaust memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tiff {

enum class PageKind : int32_t { Rgb = 0, Gray = 1, Bilevel = 2, Jpeg = 3 };

// How a page's stored strip is coded, as the PDF filter that reads it: /LZWDecode, /FlateDecode
// (zlib-wrapped, Adler-32 checked), /RunLengthDecode (PackBits with no 128 header byte).
enum class StoredCoding : uint8_t { None, Lzw, Deflate, PackBits };

struct Page {
    uint32_t width = 0;
    uint32_t height = 0;
    PageKind kind = PageKind::Rgb;
    std::vector<uint8_t> data;
    // Horizontal / vertical resolution ratio (XResolution / YResolution); 1 when the tags are
    // missing or equal. The PDF writer scales the page height by it to keep the aspect ratio.
    double aspect = 1.0;
    // Orientation tag (274): where the first stored row and column are to be shown, 1 (top, left)
    // to 8 (left, bottom). The PDF writer turns the drawing, never the pixels. 1 when the tag is
    // missing or out of range.
    uint16_t orientation = 1;
    // Pixels per inch across and down (XResolution and YResolution in their ResolutionUnit, 2 inch
    // or 3 centimetre); 0 when either is missing or not positive, or the unit is 1 (none).
    double x_dpi = 0;
    double y_dpi = 0;
    // Only with Reader::keep_stored: the page's one strip as the file stores it, when a PDF filter
    // reads it to exactly `data` (grey or RGB, 8 bits, no other strip); else `stored` is empty.
    StoredCoding stored_coding = StoredCoding::None;
    bool stored_predictor = false;  // horizontal differencing still to undo (TIFF Predictor 2)
    bool stored_inverted = false;   // WhiteIsZero grey: the stored samples are `data` inverted
    std::vector<uint8_t> stored;
};

// Sum of the decoded pages of one file (pixel data and JPEG streams); a file that needs more is
// refused before the page is allocated. Any real scan or fax fits.
constexpr uint64_t MAX_DECODED_BYTES = uint64_t(1) << 30;
// Longest side accepted, in pixels (the PDF page is capped at 200 inches anyway).
constexpr uint32_t MAX_SIDE = uint32_t(1) << 20;

class Reader {
public:
    // `decoded_limit`: ceiling on the decoded pages of one file (fuzzing and tests lower it).
    explicit Reader(uint64_t decoded_limit = MAX_DECODED_BYTES) : decoded_limit(decoded_limit) {}

    // Every page of the file at once.
    std::vector<Page> read(const uint8_t* data, size_t size);

    // Page at a time, so that only one decoded page need be in memory. open() reads the header
    // and the directory chain and returns how many pages the file gives (directories that give
    // none without a message are left out); read_page(i) then decodes page i. Read the pages in
    // order, as read() does: the decoded-size ceiling counts every page read since open(). Each
    // error of read() is raised by whichever of the two calls meets it, with the same message.
    size_t open(const uint8_t* data, size_t size);
    Page read_page(size_t index);
    size_t page_count() const { return page_dirs_.size(); }
    // Size of page `index`'s `data`, from its directory alone (no decoding): exact for pixel
    // pages, an upper bound for JPEG ones; 0 for an index beyond page_count(). After open().
    uint64_t page_data_bytes(size_t index) const;
    // Pages keep their stored strip when a PDF filter can read it (Page::stored); off by default.
    bool keep_stored = false;

    // A directory entry, its values where the file keeps them.
    struct Tag {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t value = 0;
        uint64_t value_pos = 0;
    };
    struct IFD {
        std::vector<Tag> tags;
        uint32_t next = 0;
    };
    // One strip's bytes inside the file.
    struct Span {
        size_t offset = 0;
        size_t length = 0;
    };
    // What a pixel page's directory says it is, once checked (decode_page).
    struct Layout;

private:
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool little_endian = true;
    // A real BigTIFF (magic 43, 8-byte offsets, 20-byte entries). A magic-43 file laid out like a
    // classic TIFF is read with the classic layout.
    bool big_tiff = false;
    uint64_t decoded_limit;
    // Directory offset of each page, in chain order (a looping chain repeats its directories).
    std::vector<uint32_t> page_dirs_;
    uint64_t decoded_total_ = 0;

    uint32_t u32(uint64_t pos) const;  // 0 when pos + 4 > size
    uint16_t u16(uint64_t pos) const;  // 0 when pos + 2 > size
    uint64_t u64(uint64_t pos) const;  // 0 when pos + 8 > size
    IFD read_ifd(uint32_t offset) const;
    uint32_t next_ifd_offset(uint32_t offset) const;
    const Tag* find(const IFD& ifd, uint16_t tag) const;
    uint64_t values_start(const Tag& t) const;
    uint32_t element(const Tag& t, uint64_t start, uint64_t i) const;
    uint32_t get_value(const IFD& ifd, uint16_t tag, uint32_t def) const;
    std::vector<uint32_t> read_offsets(const Tag& tag) const;
    std::vector<Span> strip_spans(const IFD& ifd, uint16_t offsets_tag, uint16_t counts_tag,
                                  bool* dropped) const;
    double rational(const IFD& ifd, uint16_t tag) const;
    uint16_t read_orientation(const IFD& ifd) const;
    void read_resolution(const IFD& ifd, Page& page) const;
    bool gives_page(const IFD& ifd) const;
    bool decode_jpeg_page(const IFD& ifd, size_t page_number, Page& page);
    bool decode_page(const IFD& ifd, size_t page_number, Page& page);
    bool check_layout(const IFD& ifd, size_t page_number, Layout& l) const;
    std::vector<uint8_t> read_palette(const IFD& ifd, uint32_t bps) const;
    std::vector<std::vector<uint8_t>> decode_planes(const IFD& ifd, size_t page_number, const Layout& l);
    void keep_stored_strip(const Layout& l, const std::vector<uint8_t>& plane, Page& page) const;
};

namespace detail {

// PackBits (TIFF 6.0 section 9). Stops at the end of the input or once `max_out` bytes are out.
std::vector<uint8_t> unpack_bits(const uint8_t* data, size_t length, size_t max_out = SIZE_MAX);
// The same, appended to `out` (`max_out` bounds what is appended).
void unpack_bits_into(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out);

// Reverses the bit order of every byte (FillOrder 2 data into the usual order).
void reverse_bits(uint8_t* data, size_t length);

// Makes the JPEG data of one TIFF image a stream that a PDF reader can show on its own: the
// strips (each starting FF D8) joined into one frame with restart markers, the tables of
// JPEGTables put in, and an Adobe marker with transform 0 when `rgb_coded` (colour coded as RGB,
// not YCbCr). Throws std::runtime_error with an operator message when that cannot be done.
std::vector<uint8_t> assemble_jpeg(const std::vector<std::vector<uint8_t>>& strips,
                                   const std::vector<uint8_t>& tables, bool rgb_coded,
                                   uint32_t image_height);

struct JpegFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
};
// The first SOF0/1/2 frame header of a stream, as the PDF writer finds it; false when none.
bool find_jpeg_frame(const std::vector<uint8_t>& jpeg, JpegFrame& frame);

}  // namespace detail

}  // namespace tiff
