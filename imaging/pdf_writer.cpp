// PDF 1.4 (ISO 32000-1 section 7.5: header, body, cross-reference table, trailer) with one image
// XObject per page. The file is written as it is built, a page at a time: object numbers follow
// from the page count alone, so the page tree can lead, and the offsets of the cross-reference
// table are the byte counts written so far.
#include "imaging/pdf_writer.h"

#include <cstdio>
#include <exception>

#include "core/fileutils.h"
#include "core/text.h"
#include "imaging/ccitt_encode.h"
#include "imaging/deflate.h"

namespace pdf {

namespace {

// Largest page side a PDF 1.4 viewer must accept (ISO 32000-1 annex C: 14400 units, 200 inches).
constexpr float MAX_PAGE_UNITS = 14400.0f;

struct PageObjs {
    int32_t page = 0;
    int32_t contents = 0;
    int32_t image = 0;
};

struct ImageSpec {
    const char* colour_space = "/DeviceRGB";
    int bits = 8;
    const char* filter = nullptr;
    long long width = 0;
    long long height = 0;
};

ImageSpec image_spec(const tiff::Page& p) {
    ImageSpec s;
    s.width = p.width;
    s.height = p.height;
    switch (p.kind) {
        case tiff::PageKind::Gray:
            s.colour_space = "/DeviceGray";
            break;
        case tiff::PageKind::Bilevel:
            s.colour_space = "/DeviceGray";
            s.bits = 1;
            break;
        case tiff::PageKind::Jpeg: {
            s.filter = "/DCTDecode";
            // The stream's own frame header is the truth; the TIFF tags may disagree.
            tiff::detail::JpegFrame f;
            if (tiff::detail::find_jpeg_frame(p.data, f)) {
                s.width = f.width;
                s.height = f.height;
                s.colour_space = f.components == 1 ? "/DeviceGray" : "/DeviceRGB";
            }
            break;
        }
        default:
            break;
    }
    return s;
}

// Where the image's unit square goes on the page (ISO 32000-1 section 8.9.5: the first stored row
// is at the top of the square, the first column at its left), so that the first row and column
// land where the Orientation tag (TIFF 6.0 section 8) says. Rows give the cm matrix [a b c d e f]
// in multiples of the page width (a, c, e) and height (b, d, f), for orientations 1 to 8.
struct Placement {
    int a, b, c, d, e, f;
};
constexpr Placement PLACEMENTS[8] = {
    {1, 0, 0, 1, 0, 0},     // 1 top, left: as stored
    {-1, 0, 0, 1, 1, 0},    // 2 top, right: mirrored left to right
    {-1, 0, 0, -1, 1, 1},   // 3 bottom, right: turned 180 degrees
    {1, 0, 0, -1, 0, 1},    // 4 bottom, left: mirrored top to bottom
    {0, -1, -1, 0, 1, 1},   // 5 left, top: transposed (rows become columns)
    {0, -1, 1, 0, 0, 1},    // 6 right, top: turned 90 degrees clockwise
    {0, 1, 1, 0, 0, 0},     // 7 right, bottom: transposed across the other diagonal
    {0, 1, -1, 0, 1, 0},    // 8 left, bottom: turned 90 degrees counter-clockwise
};

// A matrix entry: structural zeros as "0", so that orientation 1 reads "q W 0 0 H 0 0 cm".
std::string entry(int sign, float extent) {
    if (sign == 0) return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", double(float(sign) * extent));
    return text;
}

// The content stream that draws /Img over the whole page of `page_w` by `page_h` units.
std::string draw_image(uint16_t orientation, float page_w, float page_h) {
    const Placement& m = PLACEMENTS[orientation >= 1 && orientation <= 8 ? orientation - 1 : 0];
    return "q " + entry(m.a, page_w) + " " + entry(m.b, page_h) + " " + entry(m.c, page_w) + " " +
           entry(m.d, page_h) + " " + entry(m.e, page_w) + " " + entry(m.f, page_h) + " cm /Img Do Q";
}

// The buffer is written out once it holds this much; page pixels bypass it.
constexpr size_t FLUSH_AT = 64 * 1024;

constexpr const char* WRITE_FAILED = "Failed to write PDF";

// A compact page's image stream: where its bytes are (the page's own, or `owned`) and the
// dictionary entries that tell a reader how to decode them.
struct CompactBody {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t> owned;
    bool end_marker = false;  // RunLengthDecode's end-of-data byte 128 follows the data
    std::string entries;      // " /Filter ..." and whatever else goes with it
};

CompactBody compact_body(const tiff::Page& p) {
    CompactBody b;
    b.data = p.data.data();
    b.size = p.data.size();
    const std::string width = std::to_string(p.width);
    if (p.kind == tiff::PageKind::Jpeg) {
        b.entries = " /Filter /DCTDecode";
    } else if (p.kind == tiff::PageKind::Bilevel) {
        // The page's 1 bits are white, which is what /BlackIs1 false (the default) reads back.
        b.owned = ccitt::encode_group4(p.data.data(), int(p.width), int(p.height), false);
        b.data = b.owned.data();  // a moved vector keeps its buffer
        b.size = b.owned.size();
        b.entries = " /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns " + width + " /Rows " +
                    std::to_string(p.height) + " >>";
    } else if (p.stored_coding != tiff::StoredCoding::None && !p.stored.empty()) {
        b.data = p.stored.data();
        b.size = p.stored.size();
        switch (p.stored_coding) {
            case tiff::StoredCoding::Lzw: b.entries = " /Filter /LZWDecode"; break;
            case tiff::StoredCoding::Deflate: b.entries = " /Filter /FlateDecode"; break;
            default:
                b.entries = " /Filter /RunLengthDecode";
                b.end_marker = true;
                break;
        }
        if (p.stored_predictor)
            b.entries += " /DecodeParms << /Predictor 2 /Colors " +
                         std::string(p.kind == tiff::PageKind::Rgb ? "3" : "1") +
                         " /BitsPerComponent 8 /Columns " + width + " >>";
        if (p.stored_inverted) b.entries += " /Decode [1 0]";
    } else {
        b.owned = flate::compress_zlib(p.data.data(), p.data.size());
        b.data = b.owned.data();
        b.size = b.owned.size();
        b.entries = " /Filter /FlateDecode";
    }
    return b;
}

// The image's extents on the page, in units, before any turn: a unit a pixel across, the height
// scaled by the pixels' aspect (compact pages: the size on paper), both within the largest page.
void image_extent(const tiff::Page& p, const ImageSpec& s, bool compact, float& w, float& h) {
    w = float(s.width);
    // Pixels that are taller than wide (a 204 x 98 dpi fax) keep their shape.
    h = float(double(s.height) * (p.aspect > 0 ? p.aspect : 1.0));
    if (compact && p.x_dpi > 0 && p.y_dpi > 0) {
        // The size the page had on paper: 72 units to the inch.
        w = float(double(s.width) * 72.0 / p.x_dpi);
        h = float(double(s.height) * 72.0 / p.y_dpi);
    }
    if (w > MAX_PAGE_UNITS) {
        h *= MAX_PAGE_UNITS / w;
        w = MAX_PAGE_UNITS;
    }
    if (h > MAX_PAGE_UNITS) {
        w *= MAX_PAGE_UNITS / h;
        h = MAX_PAGE_UNITS;
    }
}

// The temporary file lives beside the target, so that the final rename stays on one volume.
std::string temp_path_for(const std::string& path) { return path + ".dorvane-tmp"; }

}  // namespace

Writer::~Writer() { discard(); }

void Writer::begin_obj(int id) {
    if (id >= 0 && size_t(id) >= offsets.size()) offsets.resize(size_t(id) + 1, 0);
    if (id >= 0) offsets[size_t(id)] = position();
    write(std::to_string(id) + " 0 obj\n");
}

void Writer::end_obj() { write("endobj\n"); }

void Writer::write(const std::string& s) { buffer.insert(buffer.end(), s.begin(), s.end()); }

bool Writer::fail(const std::string& message) {
    error_ = message;
    discard();
    return false;
}

void Writer::discard() {
    open_ = false;
    if (file_.is_open()) {
        file_.close();
        (void)fileutils::remove_file(temp_path_);
    }
}

bool Writer::flush() {
    if (!file_.is_open() || buffer.empty()) return true;
    if (!file_.write(buffer.data(), buffer.size())) return false;
    flushed_ += buffer.size();
    buffer.clear();
    return true;
}

// Bytes that are too many to pass through the buffer: written straight after what it holds.
bool Writer::emit(const uint8_t* data, size_t size) {
    if (!file_.is_open()) {
        buffer.insert(buffer.end(), data, data + size);
        return true;
    }
    if (!flush() || !file_.write(data, size)) return false;
    flushed_ += size;
    return true;
}

bool Writer::start(size_t page_count) {
    buffer.clear();
    offsets.clear();
    next_id = 1;
    flushed_ = 0;
    error_.clear();
    page_count_ = page_count;
    pages_done_ = 0;
    static const char header[] = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', '%',
                                  '\xE2', '\xE3', '\xCF', '\xD3', '\n'};
    buffer.insert(buffer.end(), header, header + sizeof header);

    // Object numbers: 1 catalogue, 2 page tree, then page, contents and image of each page.
    const int32_t catalog = 1, page_tree = 2;
    next_id = int32_t(3 + 3 * page_count);
    begin_obj(catalog);
    write("<< /Type /Catalog /Pages " + std::to_string(page_tree) + " 0 R >>\n");
    end_obj();

    begin_obj(page_tree);
    write("<< /Type /Pages /Kids [");
    for (size_t i = 0; i < page_count; ++i) write(" " + std::to_string(3 + 3 * i) + " 0 R");
    write(" ] /Count " + std::to_string(page_count) + " >>\n");
    end_obj();
    open_ = true;
    return true;
}

bool Writer::begin(const std::string& path, size_t page_count) {
    discard();
    error_.clear();
    if (page_count == 0) return fail(WRITE_FAILED);
    path_ = path;
    temp_path_ = temp_path_for(path);
    if (!file_.create(temp_path_)) return fail(WRITE_FAILED);
    start(page_count);
    if (!flush()) return fail(WRITE_FAILED);
    return true;
}

bool Writer::add_page(const tiff::Page& p) {
    if (!open_ || pages_done_ >= page_count_) return fail(WRITE_FAILED);
    const ImageSpec s = image_spec(p);
    // A JPEG page whose size is known neither from its stream nor from its tags cannot be drawn.
    if (s.width <= 0 || s.height <= 0) return fail(WRITE_FAILED);
    CompactBody body;
    if (compact) body = compact_body(p);
    const uint8_t* image_data = compact ? body.data : p.data.data();
    const size_t image_size = compact ? body.size + (body.end_marker ? 1 : 0) : p.data.size();
    if (position() + image_size > max_bytes)
        return fail("PDF grande demais: o arquivo passaria de " + std::to_string(max_bytes) + " bytes");
    const int32_t page_id = int32_t(3 + 3 * pages_done_), image_id = page_id + 2;

    begin_obj(image_id);
    std::string dict = "<< /Type /XObject /Subtype /Image /Width " + std::to_string(s.width) +
                       " /Height " + std::to_string(s.height) + " /ColorSpace " + s.colour_space +
                       " /BitsPerComponent " + std::to_string(s.bits);
    if (compact)
        dict += body.entries;
    else if (s.filter)
        dict += std::string(" /Filter ") + s.filter;
    dict += " /Length " + std::to_string(image_size) + " >>\n";
    write(dict);
    write("stream\n");
    if (!emit(image_data, image_size - (body.end_marker ? 1 : 0))) return fail(WRITE_FAILED);
    if (body.end_marker) write(std::string(1, char(0x80)));
    write("\nendstream\n");
    end_obj();

    float w = 0, h = 0;
    image_extent(p, s, compact, w, h);
    write_page(p.orientation, page_id, w, h);
    ++pages_done_;
    if (buffer.size() >= FLUSH_AT && !flush()) return fail(WRITE_FAILED);
    return true;
}

// The page's content stream and page object, for an image of `w` by `h` units.
void Writer::write_page(uint16_t orientation, int32_t page_id, float w, float h) {
    const int32_t page_tree = 2, contents_id = page_id + 1, image_id = page_id + 2;
    // Orientations 5 to 8 show the stored rows as columns, so the page is turned with them;
    // w and h stay the image's own extents, which is what the aspect scaling and cap are for.
    const bool turned = orientation >= 5 && orientation <= 8;
    const float page_w = turned ? h : w, page_h = turned ? w : h;
    const std::string content_text = draw_image(orientation, page_w, page_h);
    begin_obj(contents_id);
    write("<< /Length " + std::to_string(content_text.size()) + " >>\n");
    write("stream\n");
    write(content_text);
    write("\nendstream\n");
    end_obj();

    char page_dict[512];
    std::snprintf(page_dict, sizeof page_dict,
                  "<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %.2f %.2f] /Contents %d 0 R "
                  "/Resources << /XObject << /Img %d 0 R >> >> >>\n",
                  int(page_tree), double(page_w), double(page_h), int(contents_id), int(image_id));
    begin_obj(page_id);
    write(page_dict);
    end_obj();
}

bool Writer::finish() {
    if (!open_ || pages_done_ != page_count_) return fail(WRITE_FAILED);
    const int32_t catalog = 1;
    const uint64_t xref = position();
    write("xref\n");
    write("0 " + std::to_string(next_id) + "\n");
    write("0000000000 65535 f \n");
    for (int32_t id = 1; id < next_id; ++id) {
        char entry[32];
        const unsigned long long off = size_t(id) < offsets.size() ? offsets[size_t(id)] : 0;
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", off);
        write(entry);
    }
    write("trailer\n");
    write("<< /Size " + std::to_string(next_id) + " /Root " + std::to_string(catalog) + " 0 R >>\n");
    write("startxref\n");
    write(std::to_string(xref) + "\n");
    write("%%EOF\n");
    if (position() > max_bytes)
        return fail("PDF grande demais: o arquivo passaria de " + std::to_string(max_bytes) + " bytes");
    open_ = false;
    if (!file_.is_open()) return true;  // built in memory
    if (!flush()) return fail(WRITE_FAILED);
    file_.close();
    if (!fileutils::replace_file(temp_path_, path_)) {
        (void)fileutils::remove_file(temp_path_);
        error_ = WRITE_FAILED;
        return false;
    }
    return true;
}

std::vector<uint8_t> Writer::build(const std::vector<tiff::Page>& pages) {
    discard();
    if (pages.empty()) return {};
    start(pages.size());
    for (const tiff::Page& p : pages)
        if (!add_page(p)) return {};
    if (!finish()) return {};
    return buffer;
}

bool Writer::generate(const std::vector<tiff::Page>& pages, const std::string& path) {
    if (pages.empty()) return false;
    if (!begin(path, pages.size())) return false;
    for (const tiff::Page& p : pages)
        if (!add_page(p)) return false;
    return finish();
}

bool Writer::generate(std::vector<tiff::Page>&& pages, const std::string& path) {
    if (pages.empty()) return false;
    if (!begin(path, pages.size())) return false;
    for (tiff::Page& p : pages) {
        if (!add_page(p)) return false;
        std::vector<uint8_t>().swap(p.data);
    }
    return finish();
}

uint64_t default_pdf_bytes_estimate(const std::vector<uint64_t>& page_data_bytes) {
    // Header, catalogue, trailer and the page tree's references; then per page its data, three
    // objects' dictionaries and content stream (under 500 bytes) and three xref entries.
    uint64_t total = 1024;
    for (uint64_t bytes : page_data_bytes) total += bytes + 600;
    return total;
}

bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path, std::string& error) {
    return convert_tiff_to_pdf(tiff_path, pdf_path, error, ConvertOptions{});
}

bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path, std::string& error,
                         const ConvertOptions& options, ConvertReport* report) {
    try {
        const std::vector<uint8_t> bytes = text::read_all(tiff_path);
        if (bytes.empty()) {
            error = "Não foi possível ler o arquivo: " + tiff_path;
            return false;
        }
        tiff::Reader reader;
        const size_t count = reader.open(bytes.data(), bytes.size());
        if (count == 0) {
            error = "No readable pages in TIFF";
            return false;
        }
        Writer writer;
        writer.compact = options.compact;
        uint64_t default_bytes = 0;
        if (!options.compact && options.compact_above > 0) {
            // Decided before the first byte is written, so no file is ever written twice.
            std::vector<uint64_t> sizes(count);
            for (size_t i = 0; i < count; ++i) sizes[i] = reader.page_data_bytes(i);
            default_bytes = default_pdf_bytes_estimate(sizes);
            writer.compact = default_bytes > options.compact_above;
        }
        reader.keep_stored = writer.compact;
        // One decoded page at a time; the first is decoded before the output is touched, so a
        // file that fails at once reports its own fault rather than the output's.
        for (size_t i = 0; i < count; ++i) {
            const tiff::Page page = reader.read_page(i);
            if ((i == 0 && !writer.begin(pdf_path, count)) || !writer.add_page(page)) {
                error = writer.error();
                return false;
            }
        }
        if (!writer.finish()) {
            error = writer.error();
            return false;
        }
        if (report) {
            report->compact = writer.compact;
            report->default_bytes = default_bytes;
            uint64_t written = 0;
            report->bytes = fileutils::file_size(pdf_path, written) ? written : 0;
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace pdf
