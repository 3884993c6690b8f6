// Group 3 (ITU-T T.4: modified Huffman lines, optionally mixed with two-dimensional lines) and
// Group 4 (ITU-T T.6: every line two-dimensional, no EOL) fax decoding.
//
// Like libtiff's fax decoder, these never give up on a page: a damaged line is kept as far as it
// decoded, and where decoding cannot go on the remaining rows stay white. Every loop ends with the
// input: each step of a line consumes at least one bit, and a two-dimensional line is also cut
// after 2 x width + 64 modes.
#include "reference_decoders.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace reference {
namespace ccitt {

namespace {

// A run longer than any line; sums of make-up codes saturate here instead of overflowing (the
// run is cut to the line width afterwards anyway).
constexpr int RUN_CAP = 1 << 30;
// T.4 section 4.1.2: an EOL is eleven (or more, with fill) 0 bits and a 1.
constexpr int EOL_ZEROS = 11;

int bit_at(const BitReader& r, size_t pos) { return (r.data[pos >> 3] >> (7 - (pos & 7))) & 1; }

bool read_bit(BitReader& r, int& bit) {
    if (r.at_end()) return false;
    bit = bit_at(r, r.bitpos++);
    return true;
}

// One run of one colour (T.4 section 4.1.1): any number of make-up codes (64 to 2560) and one
// terminating code (0 to 63). When the data ends inside a code or the bits form no code, the
// make-up codes already read still count as the run; with none read the run fails (-1).
int read_run(BitReader& r, const std::vector<HuffNode>& tree) {
    int total = 0;
    bool any = false;
    for (;;) {
        int node = 0;
        while (tree[static_cast<size_t>(node)].value < 0) {
            int bit;
            if (!read_bit(r, bit)) return any ? total : -1;
            const HuffNode& n = tree[static_cast<size_t>(node)];
            node = bit ? n.child1 : n.child0;
            if (node < 0) return any ? total : -1;
        }
        int run = tree[static_cast<size_t>(node)].value;
        total = std::min(total + run, RUN_CAP);
        any = true;
        if (run <= 63) return total;
    }
}

// Sets pixels [start, end) of a row to black (1 bits, most significant bit first).
void fill_black(uint8_t* row, int start, int end) {
    if (start < 0) start = 0;
    if (start >= end) return;
    int first_byte = start >> 3;
    int last_byte = (end - 1) >> 3;
    uint8_t head = static_cast<uint8_t>(0xFF >> (start & 7));
    uint8_t tail = static_cast<uint8_t>(0xFF << (7 - ((end - 1) & 7)));
    if (first_byte == last_byte) {
        row[first_byte] |= static_cast<uint8_t>(head & tail);
        return;
    }
    row[first_byte] |= head;
    if (last_byte > first_byte + 1) {
        std::memset(row + first_byte + 1, 0xFF, static_cast<size_t>(last_byte - first_byte - 1));
    }
    row[last_byte] |= tail;
}

// Paints a change list into a (cleared) row: entries at even indices start black runs, those at
// odd indices start white runs; a list of odd length is black up to the width.
void paint_changes(uint8_t* row, const std::vector<int>& changes, int width) {
    for (size_t i = 0; i < changes.size(); i += 2) {
        int start = changes[i];
        int end = i + 1 < changes.size() ? changes[i + 1] : width;
        fill_black(row, start, std::min(end, width));
    }
}

// The changes of a painted row, starting from white. Whole bytes of the current colour are
// skipped at once; the padding bits after the width are never looked at.
void changes_of_row(const uint8_t* row, int width, std::vector<int>& changes) {
    changes.clear();
    int colour = 0;
    int x = 0;
    while (x < width) {
        if ((x & 7) == 0 && x + 8 <= width && row[x >> 3] == (colour ? 0xFF : 0x00)) {
            x += 8;
            continue;
        }
        int pixel = (row[x >> 3] >> (7 - (x & 7))) & 1;
        if (pixel != colour) {
            changes.push_back(x);
            colour = pixel;
        }
        ++x;
    }
}

enum class Mode { V0, VR1, VL1, VR2, VL2, VR3, VL3, Pass, Horizontal, None };

// T.4 section 4.2.2 table 4: the two-dimensional mode codes. Six 0 bits in a row are no mode
// (the start of an EOL or of an extension code), and neither is data that ends inside a code.
Mode read_mode(BitReader& r) {
    int b;
    if (!read_bit(r, b)) return Mode::None;
    if (b) return Mode::V0;                             // 1
    if (!read_bit(r, b)) return Mode::None;
    if (b) {
        if (!read_bit(r, b)) return Mode::None;
        return b ? Mode::VR1 : Mode::VL1;               // 011, 010
    }
    if (!read_bit(r, b)) return Mode::None;
    if (b) return Mode::Horizontal;                     // 001
    if (!read_bit(r, b)) return Mode::None;
    if (b) return Mode::Pass;                           // 0001
    if (!read_bit(r, b)) return Mode::None;
    if (b) {
        if (!read_bit(r, b)) return Mode::None;
        return b ? Mode::VR2 : Mode::VL2;               // 000011, 000010
    }
    if (!read_bit(r, b)) return Mode::None;
    if (b) {
        if (!read_bit(r, b)) return Mode::None;
        return b ? Mode::VR3 : Mode::VL3;               // 0000011, 0000010
    }
    return Mode::None;                                  // 000000
}

int vertical_offset(Mode m) {
    switch (m) {
        case Mode::VR1: return 1;
        case Mode::VL1: return -1;
        case Mode::VR2: return 2;
        case Mode::VL2: return -2;
        case Mode::VR3: return 3;
        case Mode::VL3: return -3;
        default: return 0;
    }
}

size_t output_size(int width, int rows) {
    // Signed on purpose: a width that came in as a huge unsigned number is negative here and
    // must not turn into a small allocation.
    long long size = static_cast<long long>(rows) * ((static_cast<long long>(width) + 7) / 8);
    if (size < 0) throw std::length_error("ccitt: negative output size");
    return static_cast<size_t>(size);
}

// One modified Huffman line (T.4 section 4.1) into a cleared row. Returns how far it got (a0),
// or -1 when its very first run failed.
int decode_1d_line(BitReader& r, const Tables& t, uint8_t* row, int width) {
    int a0 = 0;
    bool white = true;
    while (a0 < width) {
        int run = read_run(r, white ? t.white : t.black);
        if (run < 0) return a0 > 0 ? a0 : -1;
        run = std::min(run, width - a0);
        if (!white) fill_black(row, a0, a0 + run);
        a0 += run;
        white = !white;
    }
    return a0;
}

}  // namespace

bool decode_2d_line(BitReader& reader, const std::vector<int>& reference, std::vector<int>& current,
                    int width) {
    current.clear();
    if (width < 0) return true;
    const Tables& t = *get_tables();

    // b1 is "the first changing element on the reference line to the right of a0 and of opposite
    // colour to a0's colour" (T.4 section 4.2.1.3.1). a0 never moves left, so on a sorted
    // reference (every list these decoders make is one) the search resumes where it last
    // stopped; an unsorted one is searched from its start each time.
    const bool sorted = std::is_sorted(reference.begin(), reference.end());
    const size_t nref = reference.size();
    size_t hint = 0;

    long long a0 = -1;
    bool white = true;
    const long long max_modes = 2LL * width + 65;
    for (long long modes = 1;; ++modes) {
        if (!sorted) hint = 0;
        while (hint < nref && reference[hint] <= a0) ++hint;
        long long b1 = width;
        long long b2 = width;
        if (hint < nref) {
            size_t j = ((hint % 2 == 0) == white) ? hint : hint + 1;
            if (j < nref) b1 = std::min<long long>(reference[j], width);
            if (j + 1 < nref) b2 = std::min<long long>(reference[j + 1], width);
        }

        Mode mode = read_mode(reader);
        if (mode == Mode::None) return !current.empty();
        if (mode == Mode::Pass) {
            a0 = b2;
        } else if (mode == Mode::Horizontal) {
            int first = read_run(reader, white ? t.white : t.black);
            int second = read_run(reader, white ? t.black : t.white);
            if (first < 0 || second < 0) return !current.empty();
            long long a1 = std::min<long long>(std::max<long long>(a0, 0) + first, width);
            long long a2 = std::min<long long>(a1 + second, width);
            current.push_back(static_cast<int>(a1));
            current.push_back(static_cast<int>(a2));
            a0 = a2;
        } else {
            long long a1 = std::clamp<long long>(b1 + vertical_offset(mode), 0, width);
            if (a0 >= 0 && a1 < a0) a1 = a0;
            current.push_back(static_cast<int>(a1));
            white = !white;
            a0 = a1;
        }
        if (a0 >= width) return true;
        if (modes + 1 >= max_modes) return false;
    }
}

std::vector<uint8_t> decode_group4(const uint8_t* data, size_t length, int width, int rows) {
    std::vector<uint8_t> out(output_size(width, rows), 0);
    if (width < 1 || rows < 1) return out;
    const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;

    BitReader reader(data, length);
    std::vector<int> reference;  // empty: an all-white line above the first
    std::vector<int> current;
    for (int row = 0; row < rows && !reader.at_end(); ++row) {
        if (!decode_2d_line(reader, reference, current, width)) break;
        paint_changes(out.data() + static_cast<size_t>(row) * row_bytes, current, width);
        // T.6 codes each line against the previous line's changes as decoded.
        reference.swap(current);
    }
    return out;
}

std::vector<uint8_t> decode_group3(const uint8_t* data, size_t length, int width, int rows,
                                   bool two_dimensional, bool byte_aligned_rows) {
    std::vector<uint8_t> out(output_size(width, rows), 0);
    if (width < 1 || rows < 1) return out;
    const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;
    const Tables& t = *get_tables();

    BitReader reader(data, length);
    const size_t total_bits = length * 8;
    std::vector<int> reference;  // changes of the previous row, for two-dimensional lines
    std::vector<int> current;
    for (int row = 0; row < rows && !reader.at_end(); ++row) {
        uint8_t* line = out.data() + static_cast<size_t>(row) * row_bytes;

        // Find the line start past any EOLs and the fill bits before them (T.4 section 4.1.2).
        // Bits that turn out not to be an EOL belong to the line and are read again.
        size_t pos = reader.bitpos;
        size_t line_start = pos;
        bool eol = false;
        int zeros = 0;
        bool data_ends_after_eol = false;
        while (pos < total_bits) {
            if (bit_at(reader, pos++) == 0) {
                ++zeros;
                continue;
            }
            if (zeros < EOL_ZEROS) break;
            eol = true;
            line_start = pos;
            zeros = 0;
            if (pos >= total_bits) data_ends_after_eol = true;
        }
        if (data_ends_after_eol) break;
        reader.bitpos = line_start;

        // T.4 section 4.2.1: in two-dimensional mode each EOL is followed by a tag bit, 1 for a
        // one-dimensional line and 0 for a two-dimensional one.
        bool two_d_line = false;
        if (two_dimensional && eol) two_d_line = bit_at(reader, reader.bitpos++) == 0;

        if (two_d_line) {
            if (!decode_2d_line(reader, reference, current, width)) break;
            paint_changes(line, current, width);
        } else if (decode_1d_line(reader, t, line, width) < 0) {
            break;
        }

        if (two_dimensional) changes_of_row(line, width, reference);
        // TIFF compression 2 pads every row to a byte boundary (TIFF 6.0 section 10).
        if (byte_aligned_rows) reader.bitpos = (reader.bitpos + 7) & ~size_t{7};
    }
    return out;
}

}  // namespace ccitt
}  // namespace reference
