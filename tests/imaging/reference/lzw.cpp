// TIFF LZW (TIFF 6.0 section 13). Codes are packed most significant bit first; the code width
// grows from 9 to 12 bits one code early ("early change": the switch happens when the next free
// code reaches 2^width - 1, not 2^width), as every TIFF writer since libtiff 5 does.
#include "reference_decoders.h"

#include <algorithm>
#include <cstring>

namespace reference {
namespace tiff {

namespace {

constexpr int CLEAR = 256;
constexpr int END_OF_INFORMATION = 257;
constexpr int FIRST_FREE = 258;
constexpr int MAX_CODE = 4095;  // fixed by TIFF: 12-bit codes at most
constexpr int MIN_WIDTH = 9;
constexpr int MAX_WIDTH = 12;

// Where one code's string lies in the output. Every code expands to bytes that were appended to
// the output in one piece, and a new entry is always "previous string + first byte of the
// current one", which is exactly the output from the start of the previous string up to and
// including the first byte of the current one. So an entry is an (offset, length) window into
// the output instead of a copy of its own: decoding a code is still one copy.
struct Entry {
    size_t offset = 0;
    size_t length = 0;
};

// Up to 4 bytes from `bitpos / 8` as a big-endian word, bytes past the input reading as 0, so
// a last code that runs past the end is completed with 0 bits.
uint32_t read_code(const uint8_t* data, size_t length, size_t bitpos, int width) {
    size_t byte = bitpos / 8;
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i) {
        word <<= 8;
        if (byte + i < length) word |= data[byte + i];
    }
    int shift = 32 - static_cast<int>(bitpos % 8) - width;
    return (word >> shift) & ((1u << width) - 1);
}

}  // namespace

std::vector<uint8_t> decode_lzw(const uint8_t* data, size_t length, size_t max_out) {
    std::vector<uint8_t> out;
    if (length == 0 || max_out == 0) return out;
    out.reserve(std::min(length * 4, max_out));

    // Entries below FIRST_FREE are implicit (single bytes, or Clear/End which are never
    // expanded); only entries from FIRST_FREE on are stored.
    std::vector<Entry> table(MAX_CODE + 1);
    int width = MIN_WIDTH;
    int next_code = FIRST_FREE;
    bool have_prev = false;
    Entry prev;  // where the previous code's string was written

    const size_t total_bits = length * 8;
    size_t bitpos = 0;
    while (bitpos < total_bits) {
        int code = static_cast<int>(read_code(data, length, bitpos, width));
        bitpos += static_cast<size_t>(width);

        if (code == END_OF_INFORMATION) break;
        if (code == CLEAR) {
            width = MIN_WIDTH;
            next_code = FIRST_FREE;
            have_prev = false;
            continue;
        }

        // Append the code's string; `here` is where it lands.
        Entry here{out.size(), 0};
        if (code < CLEAR) {
            out.push_back(static_cast<uint8_t>(code));
            here.length = 1;
        } else if (code < next_code) {
            const Entry e = table[static_cast<size_t>(code)];
            out.resize(out.size() + e.length);
            std::memmove(out.data() + here.offset, out.data() + e.offset, e.length);
            here.length = e.length;
        } else if (code == next_code && have_prev) {
            // KwKwK: the code being defined right now is previous string + its own first byte.
            out.resize(out.size() + prev.length + 1);
            std::memmove(out.data() + here.offset, out.data() + prev.offset, prev.length);
            out[here.offset + prev.length] = out[prev.offset];
            here.length = prev.length + 1;
        } else {
            break;  // a code beyond the table, or a new code with nothing before it
        }

        if (have_prev && next_code <= MAX_CODE) {
            // prev's bytes are immediately followed by here's first byte in the output.
            table[static_cast<size_t>(next_code)] = Entry{prev.offset, prev.length + 1};
            ++next_code;
            if (width < MAX_WIDTH && next_code >= (1 << width) - 1) ++width;
        }
        have_prev = true;
        prev = here;

        if (out.size() >= max_out) {
            out.resize(max_out);
            break;
        }
    }
    return out;
}

}  // namespace tiff
}  // namespace reference
