// T.6 (Group 4) coding of bilevel rows: the two-dimensional mode choice of T.4 section 4.2.1.3.3
// (pass when b2 lies left of a1, vertical when a1 is within three pixels of b1, else horizontal),
// which is what libtiff and fax machines do, so the output is the usual size for a page.
#include "imaging/ccitt_encode.h"

#include <cstddef>
#include <cstring>

namespace ccitt {

namespace {

struct Code {
    uint16_t bits;  // right-aligned, first bit most significant
    uint8_t length;
};

// Tables 2 and 3 of T.4: terminating codes (runs 0 to 63), then make-up codes for 64 to 1728 and
// the shared ones for 1792 to 2560, indexed by run / 64 - 1.
constexpr Code WHITE_TERM[64] = {
    {0x35, 8}, {0x7, 6}, {0x7, 4}, {0x8, 4}, {0xB, 4}, {0xC, 4},
    {0xE, 4}, {0xF, 4}, {0x13, 5}, {0x14, 5}, {0x7, 5}, {0x8, 5},
    {0x8, 6}, {0x3, 6}, {0x34, 6}, {0x35, 6}, {0x2A, 6}, {0x2B, 6},
    {0x27, 7}, {0xC, 7}, {0x8, 7}, {0x17, 7}, {0x3, 7}, {0x4, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x2, 8},
    {0x3, 8}, {0x1A, 8}, {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8},
    {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8}, {0x29, 8}, {0x2A, 8},
    {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x4, 8}, {0x5, 8}, {0xA, 8},
    {0xB, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8},
    {0x25, 8}, {0x58, 8}, {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8},
    {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8},
};
constexpr Code BLACK_TERM[64] = {
    {0x37, 10}, {0x2, 3}, {0x3, 2}, {0x2, 2}, {0x3, 3}, {0x3, 4},
    {0x2, 4}, {0x3, 5}, {0x5, 6}, {0x4, 6}, {0x4, 7}, {0x5, 7},
    {0x7, 7}, {0x4, 8}, {0x7, 8}, {0x18, 9}, {0x17, 10}, {0x18, 10},
    {0x8, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12},
    {0x68, 12}, {0x69, 12}, {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12},
    {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12}, {0x6C, 12}, {0x6D, 12},
    {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12},
    {0x38, 12}, {0x27, 12}, {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12},
    {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12},
};
constexpr Code WHITE_MAKEUP[40] = {
    {0x1B, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8},
    {0x64, 8}, {0x65, 8}, {0x68, 8}, {0x67, 8}, {0xCC, 9}, {0xCD, 9},
    {0xD2, 9}, {0xD3, 9}, {0xD4, 9}, {0xD5, 9}, {0xD6, 9}, {0xD7, 9},
    {0xD8, 9}, {0xD9, 9}, {0xDA, 9}, {0xDB, 9}, {0x98, 9}, {0x99, 9},
    {0x9A, 9}, {0x18, 6}, {0x9B, 9},
    {0x8, 11}, {0xC, 11}, {0xD, 11}, {0x12, 12}, {0x13, 12}, {0x14, 12},
    {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12},
    {0x1F, 12},
};
constexpr Code BLACK_MAKEUP[40] = {
    {0xF, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12},
    {0x35, 12}, {0x6C, 13}, {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13},
    {0x4D, 13}, {0x72, 13}, {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13},
    {0x77, 13}, {0x52, 13}, {0x53, 13}, {0x54, 13}, {0x55, 13}, {0x5A, 13},
    {0x5B, 13}, {0x64, 13}, {0x65, 13},
    {0x8, 11}, {0xC, 11}, {0xD, 11}, {0x12, 12}, {0x13, 12}, {0x14, 12},
    {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12},
    {0x1F, 12},
};

// Two-dimensional mode codes of T.4 table 4.
constexpr Code PASS = {0x1, 4};
constexpr Code HORIZONTAL = {0x1, 3};
constexpr Code VERTICAL[7] = {  // a1 - b1 from -3 to 3
    {0x2, 7}, {0x2, 6}, {0x2, 3}, {0x1, 1}, {0x3, 3}, {0x3, 6}, {0x3, 7},
};
constexpr uint32_t EOL = 0x001;  // 12 bits

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t bits, int length) {
        acc_ = (acc_ << length) | bits;
        count_ += length;
        while (count_ >= 8) {
            count_ -= 8;
            out_.push_back(uint8_t(acc_ >> count_));
        }
    }
    void put(Code c) { put(c.bits, c.length); }
    void flush() {
        if (count_ > 0) out_.push_back(uint8_t(acc_ << (8 - count_)));
        count_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t acc_ = 0;
    int count_ = 0;
};

void put_run(BitWriter& w, int run, bool black) {
    const Code* term = black ? BLACK_TERM : WHITE_TERM;
    const Code* makeup = black ? BLACK_MAKEUP : WHITE_MAKEUP;
    while (run >= 2560 + 64) {
        w.put(makeup[39]);
        run -= 2560;
    }
    if (run >= 64) {
        w.put(makeup[run / 64 - 1]);
        run %= 64;
    }
    w.put(term[run]);
}

// The positions where the colour changes along a row, starting from white, then the width twice
// so that b1, b2, a1 and a2 never run off the end. Runs are skipped 64 pixels at a time.
void changes(const uint8_t* row, int width, uint8_t white_bits, std::vector<int>& out) {
    out.clear();
    const size_t row_bytes = (size_t(width) + 7) / 8;
    int x = 0;
    uint8_t colour_bits = 0;  // 0 while white, FF while black (relative to black = 1)
    while (x < width) {
        const int bit = x & 7;
        const size_t byte = size_t(x) >> 3;
        if (bit == 0 && byte + 8 <= row_bytes) {
            // Eight bytes as one number, first byte most significant (both targets are
            // little-endian), so that the leading zeros count pixels.
            uint64_t word;
            std::memcpy(&word, row + byte, 8);
            word = __builtin_bswap64(word);
            word ^= uint64_t(0x0101010101010101ULL) * uint8_t(white_bits ^ colour_bits);
            if (word == 0) {
                x += 64;
                continue;
            }
            x += __builtin_clzll(word);
        } else {
            // Bits that differ from the current colour, those before x dropped.
            const uint8_t diff = uint8_t(uint8_t((row[byte] ^ white_bits) ^ colour_bits) << bit);
            if (diff == 0) {
                x += 8 - bit;
                continue;
            }
            x += __builtin_clz(unsigned(diff)) - 24;
        }
        if (x >= width) break;
        out.push_back(x);
        colour_bits = uint8_t(~colour_bits);
    }
    out.push_back(width);
    out.push_back(width);
}

}  // namespace

std::vector<uint8_t> encode_group4(const uint8_t* pixels, int width, int rows, bool ones_are_black) {
    std::vector<uint8_t> out;
    if (width < 1 || rows < 1) return out;
    const size_t row_bytes = (size_t(width) + 7) / 8;
    const uint8_t white_bits = ones_are_black ? 0x00 : 0xFF;
    std::vector<int> ref{width, width}, cur;
    cur.reserve(size_t(width) + 2);
    ref.reserve(size_t(width) + 2);
    BitWriter w(out);

    for (int r = 0; r < rows; ++r) {
        changes(pixels + size_t(r) * row_bytes, width, white_bits, cur);
        int a0 = -1;
        bool black = false;  // colour of a0
        size_t ai = 0, bi = 0;  // first entries of cur and ref right of a0
        while (a0 < width) {
            // a1: the first change right of a0. Changes alternate colour, so it has the other one.
            while (cur[ai] <= a0) ++ai;
            const int a1 = cur[ai];
            // b1: the first change of ref right of a0 to the other colour; changes to black sit at
            // even indices; bi only follows a0, which always moves right.
            while (ref[bi] <= a0 && ref[bi] < width) ++bi;
            size_t b1i = bi;
            if (ref[b1i] < width && (b1i & 1) != (black ? 1u : 0u)) ++b1i;
            const int b1 = ref[b1i];
            const int b2 = b1 < width ? ref[b1i + 1] : width;
            if (b2 < a1) {
                w.put(PASS);
                a0 = b2;
            } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
                w.put(VERTICAL[a1 - b1 + 3]);
                a0 = a1;
                black = !black;
            } else {
                const int a2 = cur[ai + 1];
                w.put(HORIZONTAL);
                put_run(w, a1 - (a0 < 0 ? 0 : a0), black);
                put_run(w, a2 - a1, !black);
                a0 = a2;
            }
        }
        std::swap(ref, cur);
    }
    w.put(EOL, 12);
    w.put(EOL, 12);
    w.flush();
    return out;
}

}  // namespace ccitt
