// Group 3 (ITU-T T.4: modified Huffman lines, optionally mixed with two-dimensional lines) and
// Group 4 (ITU-T T.6: every line two-dimensional, no EOL) fax decoding.
//
// Like libtiff's fax decoder, these never give up on a page: a damaged line is kept as far as it
// decoded, and where decoding cannot go on the remaining rows stay white. Every loop ends with the
// input: each step of a line consumes at least one bit, and a two-dimensional line is also cut
// after 2 x width + 64 modes.
#include "imaging/ccitt.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ccitt {

using namespace detail;

namespace {

// A run longer than any line; sums of make-up codes saturate here instead of overflowing (the
// run is cut to the line width afterwards anyway).
constexpr int RUN_CAP = 1 << 30;
// T.4 section 4.1.2: an EOL is eleven (or more, with fill) 0 bits and a 1.
constexpr int EOL_ZEROS = 11;

// Run-length codes looked up over the next 13 bits (the longest code, black make-up, has 13).
// Each entry says what walking the code tree over those bits meets first: a code (its run and
// length) or a bit that leads nowhere (the number of bits read up to and including it).
constexpr int LOOKUP_BITS = 13;

struct RunEntry {
    int16_t run = -1;  // -1: no code
    uint8_t length = 0;
};

struct RunLookup {
    RunEntry white[1 << LOOKUP_BITS];
    RunEntry black[1 << LOOKUP_BITS];
};

void fill_lookup(const std::vector<HuffNode>& tree, RunEntry* lookup) {
    for (uint32_t bits = 0; bits < (1u << LOOKUP_BITS); ++bits) {
        RunEntry e;
        int node = 0;
        for (int depth = 1; depth <= LOOKUP_BITS; ++depth) {
            const HuffNode& n = tree[static_cast<size_t>(node)];
            node = (bits >> (LOOKUP_BITS - depth)) & 1 ? n.child1 : n.child0;
            e.length = static_cast<uint8_t>(depth);
            if (node < 0) break;
            if (tree[static_cast<size_t>(node)].value >= 0) {
                e.run = static_cast<int16_t>(tree[static_cast<size_t>(node)].value);
                break;
            }
        }
        lookup[bits] = e;
    }
}

const RunLookup& run_lookup() {
    // Built once from the code trees, like them; read-only afterwards.
    static const RunLookup* const lookup = [] {
        static RunLookup l;
        fill_lookup(get_tables()->white, l.white);
        fill_lookup(get_tables()->black, l.black);
        return &l;
    }();
    return *lookup;
}

// One run of one colour (T.4 section 4.1.1): any number of make-up codes (64 to 2560) and one
// terminating code (0 to 63). When the data ends inside a code or the bits form no code, the
// make-up codes already read still count as the run; with none read the run fails (-1). The
// bits of a failed code are consumed as far as the tree walk would have read them.
// Inlined so that a caller's reader can stay in registers.
[[gnu::always_inline]] inline int read_run(BitReader& r, const RunEntry* lookup) {
    int total = 0;
    bool any = false;
    for (;;) {
        const size_t left = r.bits_left();
        const RunEntry e = lookup[r.peek(LOOKUP_BITS)];
        if (e.length > left) {  // the data ends inside the code
            r.bitpos += left;
            return any ? total : -1;
        }
        r.bitpos += e.length;
        if (e.run < 0) return any ? total : -1;
        total = std::min(total + e.run, RUN_CAP);
        any = true;
        if (e.run <= 63) return total;
    }
}

// Sets the bytes [from, to) to 0xFF with a few unaligned stores, overlapping where the count is
// not a multiple of their size: most runs of a text page span a handful of bytes, for which a
// call to memset cost more than the painting.
[[gnu::always_inline]] inline void fill_bytes(uint8_t* from, uint8_t* to) {
    const size_t count = static_cast<size_t>(to - from);
    const uint64_t ones = ~uint64_t{0};
    if (count >= 8) {
        for (uint8_t* p = from; p + 8 < to; p += 8) std::memcpy(p, &ones, 8);
        std::memcpy(to - 8, &ones, 8);
    } else if (count >= 4) {
        std::memcpy(from, &ones, 4);
        std::memcpy(to - 4, &ones, 4);
    } else if (count >= 2) {
        std::memcpy(from, &ones, 2);
        std::memcpy(to - 2, &ones, 2);
    } else if (count == 1) {
        *from = 0xFF;
    }
}

// Sets pixels [start, end) of a row to black (1 bits, most significant bit first).
[[gnu::always_inline]] inline void fill_black(uint8_t* row, int start, int end) {
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
    fill_bytes(row + first_byte + 1, row + last_byte);
    row[last_byte] |= tail;
}

// Paints a change list into a (cleared) row: entries at even indices start black runs, those at
// odd indices start white runs; a list of odd length is black up to the width.
void paint_changes(uint8_t* row, const std::vector<int>& changes, int width) {
    // The list's bounds in locals: stores through `row` could otherwise alias them.
    const int* list = changes.data();
    const size_t n = changes.size();
    for (size_t i = 0; i < n; i += 2) {
        int start = list[i];
        int end = i + 1 < n ? list[i + 1] : width;
        fill_black(row, start, std::min(end, width));
    }
}

// The changes of a row painted from a change list, taken from the list itself. The lists that
// decode_2d_line makes, and the black runs of a one-dimensional line, never decrease and stay
// within 0 .. width; on such a list a position changes the colour when it is listed an odd
// number of times and lies before the width.
// Equal entries sit side by side, so each entry either cancels the last one kept (the same
// position listed again) or is kept; after a cancellation the entry kept before is smaller than
// anything still to come. Done without branches: counting each group's repeats mispredicted on
// nearly every run.
void changes_of_list(const std::vector<int>& list, int width, std::vector<int>& changes) {
    changes.resize(list.size());
    const int* in = list.data();
    int* out = changes.data();
    size_t n = 0;
    int last = -1;  // no position: entries are never negative
    for (size_t i = 0; i < list.size(); ++i) {
        const int v = in[i];
        if (v >= width) break;  // the rest lie at the width too
        const bool same = v == last;
        out[n] = v;
        n = same ? n - 1 : n + 1;
        last = same ? -1 : v;
    }
    changes.resize(n);
}

enum class Mode { V0, VR1, VL1, VR2, VL2, VR3, VL3, Pass, Horizontal, None };

// T.4 section 4.2.2 table 4: the two-dimensional mode codes. Six 0 bits in a row are no mode
// (the start of an EOL or of an extension code), and neither is data that ends inside a code.
// Looked up over the next 7 bits (the longest mode code); 000000 is read as 6 bits.
struct ModeEntry {
    Mode mode = Mode::None;
    uint8_t length = 0;
    int8_t offset = 0;  // a vertical mode's a1 - b1
};

constexpr ModeEntry mode_of(uint32_t bits) {
    // bits: 7 bits, the first most significant.
    if (bits & 0x40) return {Mode::V0, 1};                                      // 1
    if (bits & 0x20) return {(bits & 0x10) ? Mode::VR1 : Mode::VL1, 3};         // 011, 010
    if (bits & 0x10) return {Mode::Horizontal, 3};                              // 001
    if (bits & 0x08) return {Mode::Pass, 4};                                    // 0001
    if (bits & 0x04) return {(bits & 0x02) ? Mode::VR2 : Mode::VL2, 6};         // 000011, 000010
    if (bits & 0x02) return {(bits & 0x01) ? Mode::VR3 : Mode::VL3, 7};         // 0000011, 0000010
    return {Mode::None, 6};                                                     // 000000
}

constexpr int vertical_offset(Mode m) {
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

struct ModeLookup {
    ModeEntry entries[128];
    constexpr ModeLookup() : entries() {
        for (uint32_t i = 0; i < 128; ++i) {
            entries[i] = mode_of(i);
            entries[i].offset = static_cast<int8_t>(vertical_offset(entries[i].mode));
        }
    }
};
constexpr ModeLookup MODES;

[[gnu::always_inline]] inline ModeEntry read_mode(BitReader& r) {
    const size_t left = r.bits_left();
    const ModeEntry e = MODES.entries[r.peek(7)];
    if (e.length > left) {
        r.bitpos += left;
        return {Mode::None, 0, 0};
    }
    r.bitpos += e.length;
    return e;
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
// `black` receives the start and end of every black run painted, a list that changes_of_list
// turns into the row's changes without looking at its pixels.
int decode_1d_line(BitReader& r, const RunLookup& t, uint8_t* row, int width, std::vector<int>& black) {
    black.clear();
    int a0 = 0;
    bool white = true;
    while (a0 < width) {
        int run = read_run(r, white ? t.white : t.black);
        if (run < 0) return a0 > 0 ? a0 : -1;
        run = std::min(run, width - a0);
        if (!white) {
            fill_black(row, a0, a0 + run);
            black.push_back(a0);
            black.push_back(a0 + run);
        }
        a0 += run;
        white = !white;
    }
    return a0;
}

}  // namespace

bool detail::decode_2d_line(BitReader& reader, const std::vector<int>& reference, std::vector<int>& current,
                            int width) {
    current.clear();
    if (width < 0) return true;
    const RunLookup& t = run_lookup();
    // The reader is worked on as a local copy and the list filled by index into room made
    // ahead, both handed back on every way out: through the references, each append could see
    // the reader (stored and reloaded on every code), and the appends were not inlined.
    struct Local {
        BitReader& to;
        BitReader copy;
        std::vector<int>& list;
        int* out = nullptr;
        size_t n = 0;
        size_t room = 0;
        ~Local() {
            to.bitpos = copy.bitpos;
            list.resize(n);
        }
        void put(long long v) {
            if (n == room) grow();
            out[n++] = static_cast<int>(v);
        }
        void grow() {
            // The first time, whatever room earlier lines left behind.
            list.resize(std::max<size_t>({64, room * 2, list.capacity()}));
            out = list.data();
            room = list.size();
        }
    } local{reader, reader, current};
    local.grow();
    BitReader& r = local.copy;

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

        const ModeEntry entry = read_mode(r);
        const Mode mode = entry.mode;
        if (mode == Mode::None) return local.n != 0;
        if (mode == Mode::Pass) {
            a0 = b2;
        } else if (mode == Mode::Horizontal) {
            int first = read_run(r, white ? t.white : t.black);
            int second = read_run(r, white ? t.black : t.white);
            if (first < 0 || second < 0) return local.n != 0;
            long long a1 = std::min<long long>(std::max<long long>(a0, 0) + first, width);
            long long a2 = std::min<long long>(a1 + second, width);
            local.put(a1);
            local.put(a2);
            a0 = a2;
        } else {
            long long a1 = std::clamp<long long>(b1 + entry.offset, 0, width);
            if (a0 >= 0 && a1 < a0) a1 = a0;
            local.put(a1);
            white = !white;
            a0 = a1;
        }
        if (a0 >= width) return true;
        if (modes + 1 >= max_modes) return false;
    }
}

std::vector<uint8_t> decode_group4(const uint8_t* data, size_t length, int width, int rows) {
    std::vector<uint8_t> out;
    decode_group4(data, length, width, rows, out);
    return out;
}

std::vector<uint8_t> decode_group3(const uint8_t* data, size_t length, int width, int rows,
                                   bool two_dimensional, bool byte_aligned_rows) {
    std::vector<uint8_t> out;
    decode_group3(data, length, width, rows, two_dimensional, byte_aligned_rows, out);
    return out;
}

void decode_group4(const uint8_t* data, size_t length, int width, int rows, std::vector<uint8_t>& out_vec) {
    const size_t start = out_vec.size();
    out_vec.resize(start + output_size(width, rows), 0);
    if (width < 1 || rows < 1) return;
    uint8_t* out = out_vec.data() + start;
    const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;

    BitReader reader(data, length);
    std::vector<int> reference;  // empty: an all-white line above the first
    std::vector<int> current;
    for (int row = 0; row < rows && !reader.at_end(); ++row) {
        if (!decode_2d_line(reader, reference, current, width)) break;
        paint_changes(out + static_cast<size_t>(row) * row_bytes, current, width);
        // T.6 codes each line against the previous line's changes as decoded.
        reference.swap(current);
    }
}

void decode_group3(const uint8_t* data, size_t length, int width, int rows, bool two_dimensional,
                   bool byte_aligned_rows, std::vector<uint8_t>& out_vec) {
    const size_t start = out_vec.size();
    out_vec.resize(start + output_size(width, rows), 0);
    if (width < 1 || rows < 1) return;
    uint8_t* out = out_vec.data() + start;
    const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;
    const RunLookup& t = run_lookup();

    BitReader reader(data, length);
    const size_t total_bits = length * 8;
    std::vector<int> reference;  // changes of the previous row, for two-dimensional lines
    std::vector<int> current;
    for (int row = 0; row < rows && !reader.at_end(); ++row) {
        uint8_t* line = out + static_cast<size_t>(row) * row_bytes;

        // Find the line start past any EOLs and the fill bits before them (T.4 section 4.1.2).
        // Bits that turn out not to be an EOL belong to the line and are read again. Zeros are
        // counted up to 25 at a time.
        BitReader scan = reader;
        size_t line_start = reader.bitpos;
        bool eol = false;
        int zeros = 0;
        bool data_ends_after_eol = false;
        while (scan.bitpos < total_bits) {
            const size_t avail = std::min<size_t>(scan.bits_left(), 25);
            const uint32_t word = scan.peek(25) >> (25 - avail);  // the real bits only
            if (word == 0) {
                zeros += static_cast<int>(avail);
                scan.bitpos += avail;
                continue;
            }
            const int lead = __builtin_clz(word) - (32 - static_cast<int>(avail));  // zeros before the 1
            zeros += lead;
            scan.bitpos += static_cast<size_t>(lead) + 1;
            if (zeros < EOL_ZEROS) break;
            eol = true;
            line_start = scan.bitpos;
            zeros = 0;
            if (scan.bitpos >= total_bits) data_ends_after_eol = true;
        }
        if (data_ends_after_eol) break;
        reader.bitpos = line_start;

        // T.4 section 4.2.1: in two-dimensional mode each EOL is followed by a tag bit, 1 for a
        // one-dimensional line and 0 for a two-dimensional one.
        bool two_d_line = false;
        if (two_dimensional && eol) two_d_line = reader.read(1) == 0;

        if (two_d_line) {
            if (!decode_2d_line(reader, reference, current, width)) break;
            paint_changes(line, current, width);
        } else if (decode_1d_line(reader, t, line, width, current) < 0) {
            break;
        }

        // The next line's reference: the changes of this row's pixels, whichever coding it had.
        if (two_dimensional) changes_of_list(current, width, reference);
        // TIFF compression 2 pads every row to a byte boundary (TIFF 6.0 section 10).
        if (byte_aligned_rows) reader.bitpos = (reader.bitpos + 7) & ~size_t{7};
    }
}

}  // namespace ccitt
