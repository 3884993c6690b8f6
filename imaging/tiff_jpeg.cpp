// JPEG data of TIFF compression 7 (TIFF Technical Note 2) made into one stream a PDF reader can
// show through DCTDecode: libtiff writes abbreviated strips (tables kept apart in JPEGTables) and
// one complete JPEG image per strip. Markers and their layout follow ITU-T T.81 annex B.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "imaging/tiff_reader.h"

namespace tiff::detail {

namespace {

constexpr uint8_t SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, DRI = 0xDD, APP14 = 0xEE, RST0 = 0xD0;

[[noreturn]] void refuse() {
    throw std::runtime_error("TIFF com JPEG em faixas que não formam uma imagem única não é suportado");
}

bool is_sof(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

struct Segment {
    uint8_t marker = 0;
    std::vector<uint8_t> bytes;  // the whole segment, FF marker and length included
};

// The segments of one stream between SOI and the start of scan, and where the scan data lies.
struct Parsed {
    std::vector<Segment> header;  // everything before SOS, SOF included
    Segment sos;
    size_t scan_begin = 0;
    size_t scan_end = 0;  // at the final EOI, or the end of the stream
};

bool parse(const std::vector<uint8_t>& s, Parsed& out) {
    if (s.size() < 4 || s[0] != 0xFF || s[1] != SOI) return false;
    size_t p = 2;
    while (p + 4 <= s.size()) {
        if (s[p] != 0xFF) return false;
        const uint8_t m = s[p + 1];
        if (m == 0xFF) {  // fill byte before a marker
            ++p;
            continue;
        }
        const size_t len = (size_t(s[p + 2]) << 8) | s[p + 3];
        if (len < 2 || p + 2 + len > s.size()) return false;
        Segment seg{m, std::vector<uint8_t>(s.begin() + long(p), s.begin() + long(p + 2 + len))};
        p += 2 + len;
        if (m == SOS) {
            out.sos = std::move(seg);
            out.scan_begin = p;
            out.scan_end = s.size();
            for (size_t q = s.size(); q >= p + 2; --q) {
                if (s[q - 2] == 0xFF && s[q - 1] == EOI) {
                    out.scan_end = q - 2;
                    break;
                }
            }
            return true;
        }
        if (m == EOI) return false;
        out.header.push_back(std::move(seg));
    }
    return false;
}

const Segment* find_segment(const Parsed& p, bool (*pred)(uint8_t)) {
    for (const Segment& s : p.header)
        if (pred(s.marker)) return &s;
    return nullptr;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// The body of JPEGTables without its own SOI and EOI.
std::vector<uint8_t> table_body(const std::vector<uint8_t>& tables) {
    size_t b = 0, e = tables.size();
    if (e >= 2 && tables[0] == 0xFF && tables[1] == SOI) b = 2;
    if (e >= b + 2 && tables[e - 2] == 0xFF && tables[e - 1] == EOI) e -= 2;
    return std::vector<uint8_t>(tables.begin() + long(b), tables.begin() + long(e));
}

bool has_adobe_marker(const std::vector<uint8_t>& s) {
    Parsed p;
    if (!parse(s, p)) return false;
    for (const Segment& seg : p.header)
        if (seg.marker == APP14 && seg.bytes.size() >= 9 &&
            std::equal(seg.bytes.begin() + 4, seg.bytes.begin() + 9, "Adobe"))
            return true;
    return false;
}

// Adobe APP14, version 100, no flags, transform 0: the components are RGB as stored. Both
// poppler and Ghostscript honour it.
const std::vector<uint8_t> ADOBE_RGB = {0xFF, APP14, 0x00, 0x0E, 'A', 'd', 'o', 'b',
                                        'e',  0x00,  0x64, 0x00, 0x00, 0x00, 0x00, 0x00};

uint32_t sof_height(const Segment& sof) { return (uint32_t(sof.bytes[5]) << 8) | sof.bytes[6]; }

}  // namespace

bool find_jpeg_frame(const std::vector<uint8_t>& d, JpegFrame& frame) {
    if (d.size() < 7 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t p = 2;
    while (p + 4 < d.size()) {
        if (d[p] == 0xFF && (d[p + 1] == 0xC0 || d[p + 1] == 0xC1 || d[p + 1] == 0xC2)) {
            if (p + 9 >= d.size()) return false;
            const uint32_t h = (uint32_t(d[p + 5]) << 8) | d[p + 6];
            const uint32_t w = (uint32_t(d[p + 7]) << 8) | d[p + 8];
            if (h == 0 || w == 0) return false;
            frame.width = w;
            frame.height = h;
            frame.components = d[p + 9];
            return true;
        }
        if (d[p] == 0xFF) {
            p += 2 + ((size_t(d[p + 2]) << 8) | d[p + 3]);
        } else {
            ++p;
        }
    }
    return false;
}

std::vector<uint8_t> assemble_jpeg(const std::vector<std::vector<uint8_t>>& strips,
                                   const std::vector<uint8_t>& tables, bool rgb_coded,
                                   uint32_t image_height) {
    if (strips.empty()) return {};
    const std::vector<uint8_t> body = table_body(tables);
    const bool add_adobe = rgb_coded && !has_adobe_marker(strips[0]);

    if (strips.size() == 1) {
        const std::vector<uint8_t>& s = strips[0];
        if (body.empty() && !add_adobe) return s;
        // Tables go right after SOI; a table the stream defines itself later replaces them.
        std::vector<uint8_t> out(s.begin(), s.begin() + 2);
        if (add_adobe) append(out, ADOBE_RGB);
        append(out, body);
        out.insert(out.end(), s.begin() + 2, s.end());
        return out;
    }

    // Several strips, each one complete JPEG image of RowsPerStrip rows: one frame whose restart
    // interval is a strip, so each strip's entropy data starts with fresh predictions as it was
    // coded (T.81 section F.1.2.3). Needs equal tables, frames differing only in height, a single
    // scan and strips a whole number of MCU rows high.
    std::vector<Parsed> parsed(strips.size());
    for (size_t i = 0; i < strips.size(); ++i)
        if (!parse(strips[i], parsed[i])) refuse();
    const Segment* sof0 = find_segment(parsed[0], is_sof);
    if (!sof0 || sof0->bytes.size() < 10 || (sof0->marker != 0xC0 && sof0->marker != 0xC1)) refuse();
    const size_t components = sof0->bytes[9];
    if (components == 0 || sof0->bytes.size() < 10 + 3 * components) refuse();
    int max_h = 1, max_v = 1;
    for (size_t c = 0; c < components; ++c) {
        const uint8_t hv = sof0->bytes[10 + 3 * c + 1];
        max_h = std::max(max_h, hv >> 4);
        max_v = std::max(max_v, hv & 15);
    }
    if (components == 1) max_h = max_v = 1;
    const uint32_t mcu_w = 8u * uint32_t(max_h), mcu_h = 8u * uint32_t(max_v);
    const uint32_t width = (uint32_t(sof0->bytes[7]) << 8) | sof0->bytes[8];
    const uint32_t strip_rows = sof_height(*sof0);
    if (width == 0 || strip_rows == 0 || strip_rows % mcu_h != 0) refuse();
    const uint64_t interval = uint64_t((width + mcu_w - 1) / mcu_w) * (strip_rows / mcu_h);
    if (interval == 0 || interval > 0xFFFF) refuse();

    uint64_t total_rows = 0;
    for (size_t i = 0; i < parsed.size(); ++i) {
        const Parsed& p = parsed[i];
        if (p.header.size() != parsed[0].header.size() || p.sos.bytes != parsed[0].sos.bytes) refuse();
        for (size_t k = 0; k < p.header.size(); ++k) {
            const Segment& a = p.header[k];
            const Segment& b = parsed[0].header[k];
            if (a.marker == DRI || a.marker != b.marker || a.bytes.size() != b.bytes.size()) refuse();
            if (is_sof(a.marker)) {
                // Same frame but for the height, which is RowsPerStrip except in the last strip.
                std::vector<uint8_t> x = a.bytes, y = b.bytes;
                x[5] = x[6] = y[5] = y[6] = 0;
                if (x != y) refuse();
                const uint32_t rows = sof_height(a);
                if (rows == 0 || (i + 1 < parsed.size() && rows != strip_rows)) refuse();
                total_rows += rows;
            } else if (a.bytes != b.bytes) {
                refuse();
            }
        }
    }
    uint64_t frame_rows = total_rows;
    if (image_height > 0) {
        if (image_height > total_rows) refuse();
        frame_rows = image_height;
    }
    if (frame_rows > 0xFFFF) refuse();

    std::vector<uint8_t> out = {0xFF, SOI};
    if (add_adobe) append(out, ADOBE_RGB);
    append(out, body);
    for (const Segment& seg : parsed[0].header) {
        if (is_sof(seg.marker)) {
            std::vector<uint8_t> sof = seg.bytes;
            sof[5] = uint8_t(frame_rows >> 8);
            sof[6] = uint8_t(frame_rows);
            append(out, sof);
        } else {
            append(out, seg.bytes);
        }
    }
    append(out, {0xFF, DRI, 0x00, 0x04, uint8_t(interval >> 8), uint8_t(interval)});
    append(out, parsed[0].sos.bytes);
    for (size_t i = 0; i < parsed.size(); ++i) {
        const std::vector<uint8_t>& s = strips[i];
        out.insert(out.end(), s.begin() + long(parsed[i].scan_begin), s.begin() + long(parsed[i].scan_end));
        if (i + 1 < parsed.size()) append(out, {0xFF, uint8_t(RST0 + i % 8)});
    }
    append(out, {0xFF, EOI});
    return out;
}

}  // namespace tiff::detail
