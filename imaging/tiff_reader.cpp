// TIFF 6.0 container reading: header, directory chain, field values, strips and page assembly.
// Every read goes through u16/u32/u64, which return 0 outside the file, so offsets taken from the
// file are never trusted.
#include "imaging/tiff_reader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "core/sys.h"
#include "imaging/ccitt.h"
#include "imaging/deflate.h"
#include "imaging/inflate.h"
#include "imaging/lzw.h"

namespace tiff {

namespace {

// TIFF 6.0 tag numbers, plus JPEGTables (TIFF Technical Note 2).
constexpr uint16_t TAG_IMAGE_WIDTH = 256;
constexpr uint16_t TAG_IMAGE_LENGTH = 257;
constexpr uint16_t TAG_BITS_PER_SAMPLE = 258;
constexpr uint16_t TAG_COMPRESSION = 259;
constexpr uint16_t TAG_PHOTOMETRIC = 262;
constexpr uint16_t TAG_FILL_ORDER = 266;
constexpr uint16_t TAG_ORIENTATION = 274;
constexpr uint16_t TAG_STRIP_OFFSETS = 273;
constexpr uint16_t TAG_SAMPLES_PER_PIXEL = 277;
constexpr uint16_t TAG_ROWS_PER_STRIP = 278;
constexpr uint16_t TAG_STRIP_BYTE_COUNTS = 279;
constexpr uint16_t TAG_X_RESOLUTION = 282;
constexpr uint16_t TAG_Y_RESOLUTION = 283;
constexpr uint16_t TAG_PLANAR_CONFIG = 284;
constexpr uint16_t TAG_RESOLUTION_UNIT = 296;
constexpr uint16_t TAG_T4_OPTIONS = 292;
constexpr uint16_t TAG_PREDICTOR = 317;
constexpr uint16_t TAG_COLOR_MAP = 320;
constexpr uint16_t TAG_TILE_OFFSETS = 324;
constexpr uint16_t TAG_TILE_BYTE_COUNTS = 325;
constexpr uint16_t TAG_INK_SET = 332;
constexpr uint16_t TAG_JPEG_TABLES = 347;
constexpr uint16_t TAG_JPEG_IF_OFFSET = 513;
constexpr uint16_t TAG_JPEG_IF_LENGTH = 514;

// PhotometricInterpretation values (TIFF 6.0 section 8 and 16).
constexpr uint32_t PHOTO_WHITE_IS_ZERO = 0;
constexpr uint32_t PHOTO_BLACK_IS_ZERO = 1;
constexpr uint32_t PHOTO_RGB = 2;
constexpr uint32_t PHOTO_PALETTE = 3;
constexpr uint32_t PHOTO_SEPARATED = 5;

// Field type sizes for types 1..12 (BYTE .. DOUBLE); BigTIFF adds 16..18 (LONG8, SLONG8, IFD8).
int type_size(uint16_t type, bool big) {
    static const int sizes[] = {1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    if (type >= 1 && type <= 12) return sizes[type - 1];
    if (big && type >= 16 && type <= 18) return 8;
    return 0;
}

uint32_t clamp32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

std::string incomplete_message(size_t page_number, uint64_t expected, uint64_t got) {
    return "TIFF com dados incompletos na página " + std::to_string(page_number) + " (esperado " +
           std::to_string(expected) + " bytes, obtido " + std::to_string(got) + ")";
}

void add_decoded(uint64_t& total, uint64_t bytes, uint64_t limit, size_t page_number) {
    if (bytes > limit || total + bytes > limit)
        fail("TIFF grande demais: a página " + std::to_string(page_number) +
             " passa do limite de " + std::to_string(limit >> 20) +
             " MB de imagem decodificada por arquivo");
    total += bytes;
}

// Horizontal differencing (TIFF 6.0 section 14) undone in place, 8-bit samples only. The running
// sums of a pixel's samples stay in registers: adding each byte to the one just stored would wait
// on that store for every byte.
template <size_t Stride>
void undo_predictor_rows(uint8_t* strip, size_t length, size_t row_samples) {
    static_assert(Stride >= 1 && Stride <= 4, "one named sum per sample");
    for (size_t r = 0; (r + 1) * row_samples <= length; ++r) {
        uint8_t* row = strip + r * row_samples;
        // Named scalars, not an array: an array indexed in the loop stays in memory.
        uint8_t s0 = row[0], s1 = Stride > 1 ? row[1] : 0, s2 = Stride > 2 ? row[2] : 0,
                s3 = Stride > 3 ? row[3] : 0;
        size_t i = Stride;
        for (; i + Stride <= row_samples; i += Stride) {
            row[i] = s0 = uint8_t(s0 + row[i]);
            if constexpr (Stride > 1) row[i + 1] = s1 = uint8_t(s1 + row[i + 1]);
            if constexpr (Stride > 2) row[i + 2] = s2 = uint8_t(s2 + row[i + 2]);
            if constexpr (Stride > 3) row[i + 3] = s3 = uint8_t(s3 + row[i + 3]);
        }
        for (; i < row_samples; ++i) row[i] = uint8_t(row[i] + row[i - Stride]);
    }
}

void undo_predictor(uint8_t* strip, size_t length, size_t row_samples, size_t stride) {
    if (row_samples == 0) return;
    if (row_samples < stride) return;  // rows shorter than one pixel have nothing to undo
    switch (stride) {
        case 1: return undo_predictor_rows<1>(strip, length, row_samples);
        case 2: return undo_predictor_rows<2>(strip, length, row_samples);
        case 3: return undo_predictor_rows<3>(strip, length, row_samples);
        case 4: return undo_predictor_rows<4>(strip, length, row_samples);
        default: break;
    }
    for (size_t r = 0; (r + 1) * row_samples <= length; ++r) {
        uint8_t* row = strip + r * row_samples;
        for (size_t i = stride; i < row_samples; ++i) row[i] = uint8_t(row[i] + row[i - stride]);
    }
}

// Deflate strips come zlib-wrapped (RFC 1950, what libtiff writes) or, from some writers, raw.
void inflate_strip(const uint8_t* p, size_t n, size_t max_out, std::vector<uint8_t>& out) {
    if (n < 2) fail("Data too short");
    const bool zlib_header = (p[0] & 0x0F) == 8 && ((unsigned(p[0]) << 8) | p[1]) % 31 == 0;
    if (!zlib_header) return inflate::inflate_raw(p, n, max_out, out);
    if (n < 6) fail("Data too short for zlib");
    // The Adler-32 trailer is not checked: damaged data shows up as a decoder error or short strip.
    inflate::inflate_raw(p + 2, n - 6, max_out, out);
}

// How the strips of one plane are coded and laid out.
struct StripCodec {
    uint32_t compression = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rows_per_strip = 0;
    uint64_t row_bytes = 0;
    uint64_t row_samples = 0;  // samples per row of this plane (for the predictor)
    uint64_t stride = 1;       // samples per pixel of this plane
    bool predictor = false;    // horizontal differencing to undo
    bool reversed = false;     // FillOrder 2
    bool two_d = false;        // T4Options bit 0
};

// Decodes `count` strips in order into one buffer, each strip appended where the last ended.
// `need` is the plane's size, which bounds the decoders; a strip that decodes short or long is
// not corrected, so later rows shift and the caller refuses a short plane.
std::vector<uint8_t> decode_strips(const uint8_t* file, const Reader::Span* spans,
                                   size_t count, const StripCodec& c, uint64_t need) {
    std::vector<uint8_t> buf;
    buf.reserve(size_t(need));
    // A scan's page is tens of megabytes written once from end to end; faulting it in 4 KiB at a
    // time cost more than decoding it.
    if (need >= (uint64_t(8) << 20)) sys::advise_large_buffer(buf.data(), buf.capacity());
    std::vector<uint8_t> scratch;
    uint64_t rows_done = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t rows = std::min<uint64_t>(c.rows_per_strip, c.height - rows_done);
        const uint8_t* in = file + spans[i].offset;
        const size_t in_len = spans[i].length;
        if (c.reversed) {
            scratch.assign(in, in + in_len);
            detail::reverse_bits(scratch.data(), scratch.size());
            in = scratch.data();
        }
        // Decoders are bounded by what the rest of the plane can use (at least this strip).
        const uint64_t remaining = need > buf.size() ? need - buf.size() : 0;
        const size_t limit = size_t(std::max(remaining, rows * c.row_bytes));
        const size_t strip_start = buf.size();
        switch (c.compression) {
            case 1:
                buf.insert(buf.end(), in, in + in_len);
                break;
            case 2:
                ccitt::decode_group3(in, in_len, int(c.width), int(rows), false, true, buf);
                break;
            case 3:
                ccitt::decode_group3(in, in_len, int(c.width), int(rows), c.two_d, false, buf);
                break;
            case 4:
                ccitt::decode_group4(in, in_len, int(c.width), int(rows), buf);
                break;
            case 5:
                decode_lzw(in, in_len, limit, buf);
                break;
            case 8:
            case 32946:
                inflate_strip(in, in_len, limit, buf);
                break;
            default:  // 32773
                detail::unpack_bits_into(in, in_len, limit, buf);
                break;
        }
        if (c.predictor)
            undo_predictor(buf.data() + strip_start, buf.size() - strip_start, size_t(c.row_samples),
                           size_t(c.stride));
        if (i + 1 == count) break;
        rows_done += c.rows_per_strip;
        if (rows_done >= c.height) break;
    }
    return buf;
}

// Whether a PDF filter reads the strip `in` to exactly the samples `decoded` (before any
// inversion; with the predictor undone when `predictor`), and which one.
StoredCoding stored_coding(const uint8_t* in, size_t n, uint32_t compression, const std::vector<uint8_t>& decoded,
                           bool predictor, size_t row_samples, size_t stride) {
    switch (compression) {
        case 5:
            // Old-style (bit-reversed) LZW starts 00 01 and no PDF filter reads it.
            if (n < 2 || (in[0] == 0 && (in[1] & 1))) return StoredCoding::None;
            return StoredCoding::Lzw;
        case 8:
        case 32946: {
            // zlib-wrapped, a window of 32 KiB at most, no preset dictionary, and a trailer that
            // matches: readers that check it must not meet a damaged one.
            if (n < 6 || (in[0] & 0x0F) != 8 || (in[0] >> 4) > 7 || (in[1] & 0x20) ||
                ((unsigned(in[0]) << 8) | in[1]) % 31 != 0)
                return StoredCoding::None;
            uint32_t adler = 1;
            if (!predictor) {
                adler = flate::adler32(1, decoded.data(), decoded.size());
            } else {
                std::vector<uint8_t> row(row_samples);
                for (size_t r = 0; r * row_samples < decoded.size(); ++r) {
                    const uint8_t* src = decoded.data() + r * row_samples;
                    const size_t len = std::min(row_samples, decoded.size() - r * row_samples);
                    for (size_t i = 0; i < len; ++i) row[i] = uint8_t(src[i] - (i >= stride ? src[i - stride] : 0));
                    adler = flate::adler32(adler, row.data(), len);
                }
            }
            const uint8_t* t = in + n - 4;
            const uint32_t stored = (uint32_t(t[0]) << 24) | (uint32_t(t[1]) << 16) | (uint32_t(t[2]) << 8) | t[3];
            return stored == adler ? StoredCoding::Deflate : StoredCoding::None;
        }
        case 32773: {
            // PDF reads the header 128 as the end of the data, PackBits as a no-op.
            size_t i = 0, out = 0;
            while (i < n && out < decoded.size()) {
                const uint8_t h = in[i];
                if (h == 128) return StoredCoding::None;
                if (h < 128) {
                    i += size_t(h) + 2;
                    out += size_t(h) + 1;
                } else {
                    i += 2;
                    out += 257u - h;
                }
            }
            return StoredCoding::PackBits;
        }
        default:
            return StoredCoding::None;
    }
}

bool supported_compression(uint32_t c) {
    return c == 1 || c == 2 || c == 3 || c == 4 || c == 5 || c == 8 || c == 32946 || c == 32773;
}

}  // namespace

uint16_t Reader::u16(uint64_t pos) const {
    if (pos > size || size - pos < 2) return 0;
    const uint8_t* p = data + pos;
    return little_endian ? uint16_t(p[0] | (p[1] << 8)) : uint16_t((p[0] << 8) | p[1]);
}

uint32_t Reader::u32(uint64_t pos) const {
    if (pos > size || size - pos < 4) return 0;
    const uint8_t* p = data + pos;
    if (little_endian)
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint64_t Reader::u64(uint64_t pos) const {
    if (pos > size || size - pos < 8) return 0;
    const uint64_t a = u32(pos), b = u32(pos + 4);
    return little_endian ? (b << 32) | a : (a << 32) | b;
}

Reader::IFD Reader::read_ifd(uint32_t offset) const {
    IFD ifd;
    const uint64_t count_size = big_tiff ? 8 : 2;
    const uint64_t entry_size = big_tiff ? 20 : 12;
    if (uint64_t(offset) + count_size > size) return ifd;
    const uint64_t count = big_tiff ? u64(offset) : u16(offset);
    uint64_t pos = uint64_t(offset) + count_size;
    // Entries are read while whole; the count itself is bounded by the file.
    for (uint64_t i = 0; i < count && pos + entry_size <= size; ++i, pos += entry_size) {
        Tag t;
        t.tag = u16(pos);
        t.type = u16(pos + 2);
        if (big_tiff) {
            t.count = clamp32(u64(pos + 4));
            t.value = clamp32(u64(pos + 12));
            t.value_pos = pos + 12;
        } else {
            t.count = u32(pos + 4);
            t.value = u32(pos + 8);
            t.value_pos = pos + 8;
        }
        ifd.tags.push_back(t);
    }
    const uint64_t next_size = big_tiff ? 8 : 4;
    if (pos + next_size <= size) ifd.next = big_tiff ? clamp32(u64(pos)) : u32(pos);
    return ifd;
}

uint32_t Reader::next_ifd_offset(uint32_t offset) const {
    // Where read_ifd finds `next`, without reading the entries.
    const uint64_t count_size = big_tiff ? 8 : 2;
    const uint64_t entry_size = big_tiff ? 20 : 12;
    if (uint64_t(offset) + count_size > size) return 0;
    const uint64_t count = big_tiff ? u64(offset) : u16(offset);
    const uint64_t table = uint64_t(offset) + count_size;
    const uint64_t whole = (size - table) / entry_size;
    const uint64_t pos = table + std::min(count, whole) * entry_size;
    const uint64_t next_size = big_tiff ? 8 : 4;
    if (pos + next_size > size) return 0;
    return big_tiff ? clamp32(u64(pos)) : u32(pos);
}

const Reader::Tag* Reader::find(const IFD& ifd, uint16_t tag) const {
    for (const Tag& t : ifd.tags)
        if (t.tag == tag) return &t;
    return nullptr;
}

uint64_t Reader::values_start(const Tag& t) const {
    const uint64_t word = big_tiff ? 8 : 4;
    const uint64_t sz = uint64_t(type_size(t.type, big_tiff));
    if (uint64_t(t.count) * sz <= word) return t.value_pos;
    return big_tiff ? u64(t.value_pos) : t.value;
}

uint32_t Reader::element(const Tag& t, uint64_t start, uint64_t i) const {
    const int sz = type_size(t.type, big_tiff);
    if (sz == 0) return 0;
    const uint64_t pos = start + i * uint64_t(sz);
    if (pos > size || size - pos < uint64_t(sz)) return 0;
    switch (sz) {
        case 1:
            return data[pos];
        case 2:
            return u16(pos);
        case 4:
            return u32(pos);
        default:
            // LONG8 and IFD8 are whole 64-bit numbers; RATIONAL and DOUBLE give their first word.
            return t.type >= 16 ? clamp32(u64(pos)) : u32(pos);
    }
}

uint32_t Reader::get_value(const IFD& ifd, uint16_t tag, uint32_t def) const {
    const Tag* t = find(ifd, tag);
    if (!t || t->count == 0) return def;
    return element(*t, values_start(*t), 0);
}

std::vector<uint32_t> Reader::read_offsets(const Tag& tag) const {
    // Elements that lie outside the file read as 0; the vector is cut where the elements leave
    // the file, so a forged count cannot make us allocate more than the file could hold.
    const uint64_t sz = uint64_t(type_size(tag.type, big_tiff));
    uint64_t n = tag.count;
    if (sz == 0) {
        n = std::min<uint64_t>(n, size);
        return std::vector<uint32_t>(size_t(n), 0);
    }
    const uint64_t start = values_start(tag);
    const uint64_t in_file = start >= size ? 0 : (size - start) / sz;
    n = std::min(n, in_file);
    std::vector<uint32_t> out(size_t(n), 0);
    for (uint64_t i = 0; i < n; ++i) out[size_t(i)] = element(tag, start, i);
    return out;
}

std::vector<Reader::Span> Reader::strip_spans(const IFD& ifd, uint16_t offsets_tag,
                                              uint16_t counts_tag, bool* dropped) const {
    std::vector<Span> spans;
    if (dropped) *dropped = false;
    const Tag* ot = find(ifd, offsets_tag);
    const Tag* ct = find(ifd, counts_tag);
    if (!ot || !ct) return spans;
    const std::vector<uint32_t> offs = read_offsets(*ot);
    const std::vector<uint32_t> counts = read_offsets(*ct);
    const size_t n = std::min(offs.size(), counts.size());
    for (size_t i = 0; i < n; ++i) {
        if (uint64_t(offs[i]) + counts[i] <= size) {
            spans.push_back({offs[i], counts[i]});
        } else if (dropped) {
            *dropped = true;
        }
    }
    return spans;
}

double Reader::rational(const IFD& ifd, uint16_t tag) const {
    const Tag* t = find(ifd, tag);
    if (!t || t->count == 0) return 0;
    const uint64_t start = values_start(*t);
    if (t->type == 5) {
        const uint32_t num = element(*t, start, 0);
        const uint32_t den = (start + 8 <= size) ? u32(start + 4) : 0;
        return den == 0 ? 0 : double(num) / double(den);
    }
    return element(*t, start, 0);
}

// Orientation (TIFF 6.0 section 8): how the stored rows and columns are to be shown. Values
// outside 1..8 are not defined, so the rows are shown as stored, the reading of a file without
// the tag.
uint16_t Reader::read_orientation(const IFD& ifd) const {
    const uint32_t v = get_value(ifd, TAG_ORIENTATION, 1);
    return v >= 1 && v <= 8 ? uint16_t(v) : uint16_t(1);
}

// The aspect ratio, and pixels per inch from XResolution, YResolution and ResolutionUnit (0 for
// either when unknown).
void Reader::read_resolution(const IFD& ifd, Page& page) const {
    const double xr = rational(ifd, TAG_X_RESOLUTION), yr = rational(ifd, TAG_Y_RESOLUTION);
    if (xr > 0 && yr > 0) page.aspect = xr / yr;
    const uint32_t unit = get_value(ifd, TAG_RESOLUTION_UNIT, 2);
    if (xr <= 0 || yr <= 0 || (unit != 2 && unit != 3)) return;
    const double per_inch = unit == 3 ? 2.54 : 1.0;
    page.x_dpi = xr * per_inch;
    page.y_dpi = yr * per_inch;
}

std::vector<Page> Reader::read(const uint8_t* bytes, size_t length) {
    std::vector<Page> pages;
    const size_t count = open(bytes, length);
    pages.reserve(count);
    for (size_t i = 0; i < count; ++i) pages.push_back(read_page(i));
    return pages;
}

size_t Reader::open(const uint8_t* bytes, size_t length) {
    data = bytes;
    size = length;
    big_tiff = false;
    page_dirs_.clear();
    decoded_total_ = 0;
    if (size < 8) fail("File too small for TIFF");
    if (data[0] == 'I' && data[1] == 'I') {
        little_endian = true;
    } else if (data[0] == 'M' && data[1] == 'M') {
        little_endian = false;
    } else {
        fail("Not a TIFF file");
    }
    const uint16_t magic = u16(2);
    if (magic != 42 && magic != 43) fail("Invalid TIFF magic number");

    uint64_t first = u32(4);
    if (magic == 43 && u16(4) == 8 && u16(6) == 0 && size >= 16) {
        // BigTIFF: offset size 8, a reserved zero, then an 8-byte directory offset. A classic
        // layout with magic 43 would have its directory's entry count and first tag here, which
        // as one number lands far outside any file.
        const uint64_t big_first = u64(8);
        if (big_first >= 16 && big_first < size) {
            big_tiff = true;
            first = big_first;
        }
    }
    if (first == 0) return 0;

    // The chain is walked first; only offsets are kept, each directory is read again when its
    // page is built, so a chain of huge directories never sits in memory at once.
    std::vector<uint32_t> chain;
    uint64_t offset = first;
    while (offset < size) {
        chain.push_back(uint32_t(offset));
        const uint32_t next = next_ifd_offset(uint32_t(offset));
        if (chain.size() > 1000 || next == 0) break;
        offset = next;
    }
    // A chain that loops yields the same directory, and so the same page, again.
    std::map<uint32_t, bool> seen;
    for (uint32_t off : chain) {
        const auto it = seen.find(off);
        const bool page = it != seen.end() ? it->second : gives_page(read_ifd(off));
        seen[off] = page;
        if (page) page_dirs_.push_back(off);
    }
    return page_dirs_.size();
}

Page Reader::read_page(size_t index) {
    if (index >= page_dirs_.size()) throw std::out_of_range("tiff::Reader::read_page");
    const IFD ifd = read_ifd(page_dirs_[index]);
    Page page;
    const uint32_t compression = get_value(ifd, TAG_COMPRESSION, 1);
    const bool got = compression == 6 || compression == 7 ? decode_jpeg_page(ifd, index + 1, page)
                                                          : decode_page(ifd, index + 1, page);
    // gives_page() said this directory makes a page or an error, and it made neither.
    if (!got) throw std::logic_error("tiff::Reader: directory without the page it promised");
    return page;
}

uint64_t Reader::page_data_bytes(size_t index) const {
    if (index >= page_dirs_.size()) return 0;
    const IFD ifd = read_ifd(page_dirs_[index]);
    const uint32_t compression = get_value(ifd, TAG_COMPRESSION, 1);
    if (compression == 6 || compression == 7) {
        // Everything the stream can be assembled from, plus the markers assemble_jpeg adds.
        uint64_t total = 128;
        for (uint16_t tag : {TAG_STRIP_BYTE_COUNTS, TAG_TILE_BYTE_COUNTS, TAG_JPEG_IF_LENGTH})
            if (const Tag* t = find(ifd, tag))
                for (uint32_t v : read_offsets(*t)) total += uint64_t(v) + 8;
        if (const Tag* t = find(ifd, TAG_JPEG_TABLES)) total += t->count;
        return total;
    }
    const uint64_t width = get_value(ifd, TAG_IMAGE_WIDTH, 0), height = get_value(ifd, TAG_IMAGE_LENGTH, 0);
    const uint32_t bps = get_value(ifd, TAG_BITS_PER_SAMPLE, 1);
    const uint32_t spp = get_value(ifd, TAG_SAMPLES_PER_PIXEL, 1);
    const bool has_photometric = find(ifd, TAG_PHOTOMETRIC) != nullptr;
    const uint32_t photometric = get_value(ifd, TAG_PHOTOMETRIC, 0);
    const bool grey_model = (photometric == PHOTO_WHITE_IS_ZERO || photometric == PHOTO_BLACK_IS_ZERO) &&
                            !(spp >= 3 && !has_photometric);
    if (grey_model && bps == 1) return (width + 7) / 8 * height;
    if (grey_model) return width * height;
    return width * height * 3;
}

// The checks of decode_page() and decode_jpeg_page() that end without a page and without a
// message, in their order; a directory that would fail instead counts as a page, so that its
// error comes when its turn comes.
bool Reader::gives_page(const IFD& ifd) const {
    const uint32_t compression = get_value(ifd, TAG_COMPRESSION, 1);
    if (compression == 6 || compression == 7) {
        std::vector<Span> spans = strip_spans(ifd, TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS, nullptr);
        auto empty = [](const Span& s) { return s.length == 0; };
        spans.erase(std::remove_if(spans.begin(), spans.end(), empty), spans.end());
        if (spans.empty()) {
            spans = strip_spans(ifd, TAG_TILE_OFFSETS, TAG_TILE_BYTE_COUNTS, nullptr);
            spans.erase(std::remove_if(spans.begin(), spans.end(), empty), spans.end());
            if (spans.size() > 1) return true;  // JPEG in tiles: refused
        }
        if (!spans.empty() && spans[0].length >= 2 && data[spans[0].offset] == 0xFF &&
            data[spans[0].offset + 1] == 0xD8)
            return true;
        const uint32_t off = get_value(ifd, TAG_JPEG_IF_OFFSET, 0);
        const uint32_t len = get_value(ifd, TAG_JPEG_IF_LENGTH, 0);
        return !(off == 0 || len == 0 || uint64_t(off) + len > size || len < 2 || data[off] != 0xFF ||
                 data[off + 1] != 0xD8);
    }
    if (get_value(ifd, TAG_IMAGE_WIDTH, 0) == 0 || get_value(ifd, TAG_IMAGE_LENGTH, 0) == 0) return false;
    const uint32_t bps = get_value(ifd, TAG_BITS_PER_SAMPLE, 1);
    const uint32_t predictor = get_value(ifd, TAG_PREDICTOR, 1);
    if ((bps != 1 && bps != 8) || (predictor != 1 && predictor != 2)) return true;
    if (strip_spans(ifd, TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS, nullptr).empty())
        return find(ifd, TAG_TILE_OFFSETS) != nullptr;
    return supported_compression(compression);
}

bool Reader::decode_jpeg_page(const IFD& ifd, size_t page_number, Page& page) {
    std::vector<std::vector<uint8_t>> pieces;
    size_t total = 0;
    for (const Span& s : strip_spans(ifd, TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS, nullptr)) {
        if (s.length == 0) continue;
        pieces.emplace_back(data + s.offset, data + s.offset + s.length);
        total += s.length;
    }
    if (total == 0) {
        pieces.clear();
        for (const Span& s : strip_spans(ifd, TAG_TILE_OFFSETS, TAG_TILE_BYTE_COUNTS, nullptr)) {
            if (s.length == 0) continue;
            pieces.emplace_back(data + s.offset, data + s.offset + s.length);
            total += s.length;
        }
        if (pieces.size() > 1) fail("TIFF com JPEG em tiles não é suportado");
    }
    const bool starts_soi = !pieces.empty() && pieces[0].size() >= 2 && pieces[0][0] == 0xFF &&
                            pieces[0][1] == 0xD8;
    if (!starts_soi) {
        // Old-style JPEG (compression 6) often keeps a whole interchange stream elsewhere.
        pieces.clear();
        const uint32_t off = get_value(ifd, TAG_JPEG_IF_OFFSET, 0);
        const uint32_t len = get_value(ifd, TAG_JPEG_IF_LENGTH, 0);
        if (off == 0 || len == 0 || uint64_t(off) + len > size || len < 2 || data[off] != 0xFF ||
            data[off + 1] != 0xD8)
            return false;
        pieces.emplace_back(data + off, data + off + len);
    }

    // One stream cut into strips (only the first starts with SOI) is simply put back together;
    // strips that are each a whole image are joined by assemble_jpeg.
    const bool each_whole = std::all_of(pieces.begin(), pieces.end(), [](const std::vector<uint8_t>& p) {
        return p.size() >= 2 && p[0] == 0xFF && p[1] == 0xD8;
    });
    if (!each_whole) {
        for (size_t i = 1; i < pieces.size(); ++i) pieces[0].insert(pieces[0].end(), pieces[i].begin(), pieces[i].end());
        pieces.resize(1);
    }

    std::vector<uint8_t> tables;
    if (const Tag* t = find(ifd, TAG_JPEG_TABLES)) {
        const uint64_t start = values_start(*t);
        if (type_size(t->type, big_tiff) == 1 && start <= size && size - start >= t->count)
            tables.assign(data + start, data + start + t->count);
    }
    const bool rgb_coded = get_value(ifd, TAG_PHOTOMETRIC, 6) == PHOTO_RGB;
    uint64_t stream_bytes = tables.size() + 64;  // room for the markers assemble_jpeg adds
    for (const auto& piece : pieces) stream_bytes += piece.size() + 2;
    add_decoded(decoded_total_, stream_bytes, decoded_limit, page_number);

    page.kind = PageKind::Jpeg;
    page.width = get_value(ifd, TAG_IMAGE_WIDTH, 0);
    page.height = get_value(ifd, TAG_IMAGE_LENGTH, 0);
    page.data = detail::assemble_jpeg(pieces, tables, rgb_coded, page.height);
    detail::JpegFrame frame;
    if (!detail::find_jpeg_frame(page.data, frame))
        fail("TIFF com JPEG sem cabeçalho de quadro legível");
    if (frame.components != 1 && frame.components != 3)
        fail("TIFF com JPEG de " + std::to_string(frame.components) +
             " componentes não é suportado");
    read_resolution(ifd, page);
    page.orientation = read_orientation(ifd);
    return true;
}

struct Reader::Layout {
    uint32_t compression = 1, width = 0, height = 0, bps = 1, spp = 1, photometric = 0;
    PageKind kind = PageKind::Rgb;
    bool planar = false;
    bool predict = false;   // horizontal differencing to undo
    bool reversed = false;  // FillOrder 2
    std::vector<Span> spans;
    bool dropped = false;  // strips that lie outside the file
    // Decoded layout: one buffer of interleaved samples, or one buffer per plane.
    uint64_t planes = 1, plane_samples = 1, row_bytes = 0, plane_need = 0, out_need = 0;
};

// The checks of a pixel page, in the order their messages come; false for a directory that
// gives no page and no message.
bool Reader::check_layout(const IFD& ifd, size_t page_number, Layout& l) const {
    const uint32_t compression = get_value(ifd, TAG_COMPRESSION, 1);
    const uint32_t width = get_value(ifd, TAG_IMAGE_WIDTH, 0);
    const uint32_t height = get_value(ifd, TAG_IMAGE_LENGTH, 0);
    // TIFF 6.0 makes 1 the default; bilevel writers such as Pillow leave the tag out.
    const uint32_t bps = get_value(ifd, TAG_BITS_PER_SAMPLE, 1);
    const uint32_t spp = get_value(ifd, TAG_SAMPLES_PER_PIXEL, 1);
    const uint32_t predictor = get_value(ifd, TAG_PREDICTOR, 1);
    const bool has_photometric = find(ifd, TAG_PHOTOMETRIC) != nullptr;
    uint32_t photometric = get_value(ifd, TAG_PHOTOMETRIC, 0);
    if (width == 0 || height == 0) return false;
    if (bps != 1 && bps != 8)
        fail("TIFF com " + std::to_string(bps) + " bits por amostra não é suportado");
    if (predictor != 1 && predictor != 2)
        fail("TIFF com predictor " + std::to_string(predictor) + " não é suportado");
    bool dropped = false;
    const std::vector<Span> spans = strip_spans(ifd, TAG_STRIP_OFFSETS, TAG_STRIP_BYTE_COUNTS, &dropped);
    if (spans.empty()) {
        if (find(ifd, TAG_TILE_OFFSETS)) fail("TIFF organizado em tiles não é suportado");
        return false;
    }
    if (!supported_compression(compression)) return false;

    if (width > MAX_SIDE || height > MAX_SIDE)
        fail("TIFF grande demais: a página " + std::to_string(page_number) + " tem " +
             std::to_string(width) + " x " + std::to_string(height) + " pixels");
    if (spp == 0 || spp > 8)
        fail("TIFF com " + std::to_string(spp) + " amostras por pixel não é suportado");
    // Without the tag, three or more samples can only be colour.
    if (!has_photometric && spp >= 3) photometric = PHOTO_RGB;

    // What the page will be, decided before anything is decoded.
    PageKind kind;
    if (photometric == PHOTO_WHITE_IS_ZERO || photometric == PHOTO_BLACK_IS_ZERO) {
        kind = bps == 1 ? PageKind::Bilevel : PageKind::Gray;
    } else if (photometric == PHOTO_RGB && spp >= 3) {
        kind = PageKind::Rgb;
    } else if (photometric == PHOTO_PALETTE && spp == 1) {
        kind = PageKind::Rgb;
    } else if (photometric == PHOTO_SEPARATED && spp >= 4 && bps == 8 &&
               get_value(ifd, TAG_INK_SET, 1) == 1) {
        kind = PageKind::Rgb;
    } else {
        fail("TIFF com interpretação fotométrica " + std::to_string(photometric) + " e " +
             std::to_string(spp) + " amostra(s) por pixel não é suportado");
    }
    if (bps == 1 && spp != 1)
        fail("TIFF de 1 bit com " + std::to_string(spp) + " amostras por pixel não é suportado");
    const bool planar = spp > 1 && get_value(ifd, TAG_PLANAR_CONFIG, 1) == 2;

    l.compression = compression;
    l.width = width;
    l.height = height;
    l.bps = bps;
    l.spp = spp;
    l.photometric = photometric;
    l.kind = kind;
    l.planar = planar;
    l.predict = predictor == 2 && bps == 8;
    l.reversed = get_value(ifd, TAG_FILL_ORDER, 1) == 2;
    l.spans = spans;
    l.dropped = dropped;
    l.planes = planar ? spp : 1;
    l.plane_samples = planar ? 1 : spp;
    l.row_bytes = (uint64_t(width) * l.plane_samples * bps + 7) / 8;
    l.plane_need = l.row_bytes * height;
    l.out_need = kind == PageKind::Rgb       ? uint64_t(width) * height * 3
                 : kind == PageKind::Gray    ? uint64_t(width) * height
                                             : (uint64_t(width) + 7) / 8 * height;
    return true;
}

// The 256 RGB triplets of a palette page's ColorMap.
std::vector<uint8_t> Reader::read_palette(const IFD& ifd, uint32_t bps) const {
    std::vector<uint8_t> palette;
    const Tag* cm = find(ifd, TAG_COLOR_MAP);
    const uint64_t entries = uint64_t(1) << bps;
    if (!cm || cm->count < 3 * entries) fail("TIFF com paleta de cores ausente ou incompleta");
    const std::vector<uint32_t> map = read_offsets(*cm);
    if (map.size() < 3 * entries) fail("TIFF com paleta de cores ausente ou incompleta");
    // 16-bit map entries, though some writers store 8-bit values; libtiff makes the same guess.
    const bool eight_bit = std::all_of(map.begin(), map.begin() + long(3 * entries),
                                       [](uint32_t v) { return v < 256; });
    palette.assign(256 * 3, 0);
    for (uint64_t i = 0; i < entries; ++i)
        for (uint64_t c = 0; c < 3; ++c) {
            const uint32_t v = map[size_t(c * entries + i)];
            palette[size_t(i * 3 + c)] = uint8_t(eight_bit ? v : (v >> 8));
        }
    return palette;
}

// Every plane's strips decoded, each plane whole, within the file's decoded-size ceiling.
std::vector<std::vector<uint8_t>> Reader::decode_planes(const IFD& ifd, size_t page_number, const Layout& l) {
    const uint32_t width = l.width, height = l.height;
    const uint64_t planes = l.planes, row_bytes = l.row_bytes, plane_need = l.plane_need;
    const std::vector<Span>& spans = l.spans;
    add_decoded(decoded_total_, std::max(plane_need * planes, l.out_need), decoded_limit, page_number);

    uint32_t rows_per_strip = get_value(ifd, TAG_ROWS_PER_STRIP, height);
    if (rows_per_strip == 0 || rows_per_strip > height) rows_per_strip = height;
    const uint64_t strips_per_plane = (uint64_t(height) + rows_per_strip - 1) / rows_per_strip;
    if (l.planar && (l.dropped || spans.size() < strips_per_plane * planes))
        fail(incomplete_message(page_number, plane_need * planes,
                                std::min<uint64_t>(spans.size(), strips_per_plane * planes) *
                                    rows_per_strip * row_bytes));

    StripCodec codec;
    codec.compression = l.compression;
    codec.width = width;
    codec.height = height;
    codec.rows_per_strip = rows_per_strip;
    codec.row_bytes = row_bytes;
    codec.row_samples = uint64_t(width) * l.plane_samples;
    codec.stride = l.plane_samples;
    codec.predictor = l.predict;
    codec.reversed = l.reversed;
    codec.two_d = (get_value(ifd, TAG_T4_OPTIONS, 0) & 1) != 0;
    std::vector<std::vector<uint8_t>> decoded(static_cast<size_t>(planes));
    for (uint64_t p = 0; p < planes; ++p) {
        const size_t first = size_t(p * strips_per_plane);
        const size_t count = l.planar ? size_t(strips_per_plane) : spans.size();
        decoded[size_t(p)] = decode_strips(data, &spans[first], count, codec, plane_need);
        if (decoded[size_t(p)].size() < plane_need) {
            uint64_t got = 0;
            for (const auto& b : decoded) got += b.size();
            fail(incomplete_message(page_number, plane_need * planes, got));
        }
    }
    return decoded;
}

// With keep_stored: the page's one strip as the file has it, when a PDF filter reads it to
// exactly the page's samples.
void Reader::keep_stored_strip(const Layout& l, const std::vector<uint8_t>& plane, Page& page) const {
    const uint32_t spp = l.spp, bps = l.bps;
    const PageKind kind = l.kind;
    if (keep_stored && l.spans.size() == 1 && !l.planar && !l.reversed && bps == 8 &&
        plane.size() == l.plane_need &&
        ((kind == PageKind::Gray && spp == 1) || (kind == PageKind::Rgb && l.photometric == PHOTO_RGB && spp == 3))) {
        const uint8_t* in = data + l.spans[0].offset;
        const size_t n = l.spans[0].length;
        page.stored_coding = stored_coding(in, n, l.compression, plane, l.predict,
                                           size_t(uint64_t(l.width) * l.plane_samples), size_t(l.plane_samples));
        if (page.stored_coding != StoredCoding::None) {
            page.stored.assign(in, in + n);
            page.stored_predictor = l.predict;
            page.stored_inverted = l.photometric == PHOTO_WHITE_IS_ZERO;
        }
    }
}

namespace {

// The decoded planes as the page's pixels: alpha dropped, palette and CMYK made RGB, WhiteIsZero
// inverted.
void convert_pixels(const Reader::Layout& l, std::vector<std::vector<uint8_t>>& decoded,
                    const std::vector<uint8_t>& palette, Page& page) {
    const uint32_t width = l.width, height = l.height, bps = l.bps, spp = l.spp, photometric = l.photometric;
    const PageKind kind = l.kind;
    const bool planar = l.planar;
    const uint64_t row_bytes = l.row_bytes, out_need = l.out_need;
    const size_t pixels = size_t(uint64_t(width) * height);
    // Sample s of pixel i, whatever the planar configuration.
    auto sample = [&](size_t i, size_t s) -> uint8_t {
        return planar ? decoded[s][i] : decoded[0][i * spp + s];
    };
    if (kind == PageKind::Bilevel || (kind == PageKind::Gray && spp == 1)) {
        page.data = std::move(decoded[0]);
        page.data.resize(size_t(out_need));
    } else if (kind == PageKind::Gray) {
        // Extra samples (alpha) dropped pixel by pixel; the first sample is the grey level.
        page.data.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) page.data[i] = sample(i, 0);
    } else if (photometric == PHOTO_PALETTE) {
        page.data.resize(pixels * 3);
        if (bps == 8) {
            for (size_t i = 0; i < pixels; ++i)
                std::memcpy(&page.data[i * 3], &palette[size_t(decoded[0][i]) * 3], 3);
        } else {
            for (size_t y = 0; y < height; ++y)
                for (size_t x = 0; x < width; ++x) {
                    const uint8_t byte = decoded[0][size_t(y * row_bytes + x / 8)];
                    const size_t index = (byte >> (7 - x % 8)) & 1;
                    std::memcpy(&page.data[(y * width + x) * 3], &palette[index * 3], 3);
                }
        }
    } else if (photometric == PHOTO_SEPARATED) {
        // Ink amounts to RGB the way libtiff's RGBA interface does it, so both show the same.
        page.data.resize(pixels * 3);
        for (size_t i = 0; i < pixels; ++i) {
            const unsigned k = 255u - sample(i, 3);
            for (size_t c = 0; c < 3; ++c) page.data[i * 3 + c] = uint8_t(k * (255u - sample(i, c)) / 255u);
        }
    } else if (spp == 3 && !planar) {
        page.data = std::move(decoded[0]);
        page.data.resize(size_t(out_need));
    } else {
        page.data.resize(pixels * 3);
        for (size_t i = 0; i < pixels; ++i)
            for (size_t c = 0; c < 3; ++c) page.data[i * 3 + c] = sample(i, c);
    }
    decoded.clear();

    if (photometric == PHOTO_WHITE_IS_ZERO && kind != PageKind::Rgb) {
        for (uint8_t& b : page.data) b = uint8_t(~b);
        if (kind == PageKind::Bilevel && width % 8 != 0) {
            const size_t stride = (width + 7) / 8;
            const auto mask = uint8_t(0xFF << (8 - width % 8));
            for (size_t y = 0; y < height; ++y) page.data[y * stride + stride - 1] &= mask;
        }
    }
}

}  // namespace

bool Reader::decode_page(const IFD& ifd, size_t page_number, Page& page) {
    Layout l;
    if (!check_layout(ifd, page_number, l)) return false;
    std::vector<uint8_t> palette;  // 256 RGB triplets
    if (l.photometric == PHOTO_PALETTE) palette = read_palette(ifd, l.bps);
    std::vector<std::vector<uint8_t>> decoded = decode_planes(ifd, page_number, l);
    keep_stored_strip(l, decoded[0], page);

    page.width = l.width;
    page.height = l.height;
    page.kind = l.kind;
    read_resolution(ifd, page);
    page.orientation = read_orientation(ifd);
    convert_pixels(l, decoded, palette, page);
    return true;
}

}  // namespace tiff
