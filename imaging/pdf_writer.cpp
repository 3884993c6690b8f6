// PDF 1.4 (ISO 32000-1 section 7.5: header, body, cross-reference table, trailer) with one image
// XObject per page. The whole file is built in memory so that the cross-reference offsets are
// exact, then written in one call.
#include "imaging/pdf_writer.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "core/fileutils.h"
#include "core/text.h"

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

}  // namespace

void Writer::begin_obj(int id) {
    if (id >= 0 && size_t(id) >= offsets.size()) offsets.resize(size_t(id) + 1, 0);
    if (id >= 0) offsets[size_t(id)] = buffer.size();
    write(std::to_string(id) + " 0 obj\n");
}

void Writer::end_obj() { write("endobj\n"); }

void Writer::write(const std::string& s) { buffer.insert(buffer.end(), s.begin(), s.end()); }

std::vector<uint8_t> Writer::build(const std::vector<tiff::Page>& pages) {
    if (!assemble(pages, nullptr)) return {};
    return buffer;
}

bool Writer::assemble(const std::vector<tiff::Page>& pages, std::vector<tiff::Page>* owned) {
    buffer.clear();
    offsets.clear();
    next_id = 1;
    if (pages.empty()) return false;
    // A JPEG page whose size is known neither from its stream nor from its tags cannot be drawn;
    // writing it would leave dangling objects, so nothing is written at all.
    for (const tiff::Page& p : pages) {
        const ImageSpec s = image_spec(p);
        if (s.width <= 0 || s.height <= 0) return false;
    }

    // One allocation for the whole file: growing by doubling would briefly hold it twice.
    size_t expected = 1024;
    for (const tiff::Page& p : pages) expected += p.data.size() + 640;
    buffer.reserve(expected);

    static const char header[] = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', '%',
                                  '\xE2', '\xE3', '\xCF', '\xD3', '\n'};
    buffer.insert(buffer.end(), header, header + sizeof header);

    const int32_t catalog = 1, page_tree = 2;
    next_id = 3;
    std::vector<PageObjs> objs(pages.size());
    for (PageObjs& o : objs) {
        o.page = next_id++;
        o.contents = next_id++;
        o.image = next_id++;
    }

    begin_obj(catalog);
    write("<< /Type /Catalog /Pages " + std::to_string(page_tree) + " 0 R >>\n");
    end_obj();

    begin_obj(page_tree);
    write("<< /Type /Pages /Kids [");
    for (const PageObjs& o : objs) write(" " + std::to_string(o.page) + " 0 R");
    write(" ] /Count " + std::to_string(pages.size()) + " >>\n");
    end_obj();

    for (size_t i = 0; i < pages.size(); ++i) {
        const tiff::Page& p = pages[i];
        const ImageSpec s = image_spec(p);
        float w = float(s.width);
        // Pixels that are taller than wide (a 204 x 98 dpi fax) keep their shape.
        float h = float(double(s.height) * (p.aspect > 0 ? p.aspect : 1.0));
        if (w > MAX_PAGE_UNITS) {
            h *= MAX_PAGE_UNITS / w;
            w = MAX_PAGE_UNITS;
        }
        if (h > MAX_PAGE_UNITS) {
            w *= MAX_PAGE_UNITS / h;
            h = MAX_PAGE_UNITS;
        }

        begin_obj(objs[i].image);
        std::string dict = "<< /Type /XObject /Subtype /Image /Width " + std::to_string(s.width) +
                           " /Height " + std::to_string(s.height) + " /ColorSpace " +
                           s.colour_space + " /BitsPerComponent " + std::to_string(s.bits);
        if (s.filter) dict += std::string(" /Filter ") + s.filter;
        dict += " /Length " + std::to_string(p.data.size()) + " >>\n";
        write(dict);
        write("stream\n");
        buffer.insert(buffer.end(), p.data.begin(), p.data.end());
        if (owned) std::vector<uint8_t>().swap((*owned)[i].data);
        write("\nendstream\n");
        end_obj();

        // Orientations 5 to 8 show the stored rows as columns, so the page is turned with them;
        // w and h stay the image's own extents, which is what the aspect scaling and cap are for.
        const bool turned = p.orientation >= 5 && p.orientation <= 8;
        const float page_w = turned ? h : w, page_h = turned ? w : h;
        const std::string content_text = draw_image(p.orientation, page_w, page_h);
        begin_obj(objs[i].contents);
        write("<< /Length " + std::to_string(content_text.size()) + " >>\n");
        write("stream\n");
        write(content_text);
        write("\nendstream\n");
        end_obj();

        char page_dict[512];
        std::snprintf(page_dict, sizeof page_dict,
                      "<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %.2f %.2f] /Contents %d 0 R "
                      "/Resources << /XObject << /Img %d 0 R >> >> >>\n",
                      int(page_tree), double(page_w), double(page_h), int(objs[i].contents), int(objs[i].image));
        begin_obj(objs[i].page);
        write(page_dict);
        end_obj();
    }

    const size_t xref = buffer.size();
    write("xref\n");
    write("0 " + std::to_string(next_id) + "\n");
    write("0000000000 65535 f \n");
    for (int32_t id = 1; id < next_id; ++id) {
        char entry[32];
        const size_t off = size_t(id) < offsets.size() ? size_t(offsets[size_t(id)]) : 0;
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        write(entry);
    }
    write("trailer\n");
    write("<< /Size " + std::to_string(next_id) + " /Root " + std::to_string(catalog) + " 0 R >>\n");
    write("startxref\n");
    write(std::to_string(xref) + "\n");
    write("%%EOF\n");
    return true;
}

bool Writer::generate(const std::vector<tiff::Page>& pages, const std::string& path) {
    if (!assemble(pages, nullptr)) return false;
    return fileutils::write_file(path, buffer.data(), buffer.size());
}

bool Writer::generate(std::vector<tiff::Page>&& pages, const std::string& path) {
    if (!assemble(pages, &pages)) return false;
    return fileutils::write_file(path, buffer.data(), buffer.size());
}

bool convert_tiff_to_pdf(const std::string& tiff_path, const std::string& pdf_path, std::string& error) {
    try {
        std::vector<tiff::Page> pages;
        {
            const std::vector<uint8_t> bytes = text::read_all(tiff_path);
            if (bytes.empty()) {
                error = "Não foi possível ler o arquivo: " + tiff_path;
                return false;
            }
            tiff::Reader reader;
            pages = reader.read(bytes.data(), bytes.size());
        }  // the file's bytes are released before the PDF is built
        if (pages.empty()) {
            error = "No readable pages in TIFF";
            return false;
        }
        Writer writer;
        if (!writer.generate(std::move(pages), pdf_path)) {
            error = "Failed to write PDF";
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace pdf
