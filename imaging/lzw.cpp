// TIFF LZW (TIFF 6.0 section 13). Codes are packed most significant bit first; the code width
// grows from 9 to 12 bits one code early ("early change": the switch happens when the next free
// code reaches 2^width - 1, not 2^width), as every TIFF writer since libtiff 5 does.
#include "imaging/lzw.h"

#include <algorithm>
#include <cstring>

#include "imaging/msb_bits.h"

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

}  // namespace

std::vector<uint8_t> decode_lzw(const uint8_t* data, size_t length, size_t max_out) {
    std::vector<uint8_t> out;
    decode_lzw(data, length, max_out, out);
    return out;
}

void decode_lzw(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out) {
    if (length == 0 || max_out == 0) return;
    const size_t start = out.size();
    // Strings are written by index into room made ahead, doubled when the strip expands more
    // than that; the unused tail is cut at the end.
    out.resize(start + std::min(max_out, length * 4));
    uint8_t* o = out.data();
    size_t n = start;
    // Room for k more bytes, k never past the limit; neither is the room made, so a caller that
    // reserved the limit sees no reallocation.
    auto room = [&](size_t k) {
        if (n + k <= out.size()) return;
        const size_t limit = max_out - (n - start);
        out.resize(n + std::max(k, std::min(limit, k + std::max<size_t>(n - start, 4096))));
        o = out.data();
    };

    // Entries below FIRST_FREE are implicit (single bytes, or Clear/End which are never
    // expanded); only entries from FIRST_FREE on are stored. On the stack: no allocation per strip.
    Entry table[MAX_CODE + 1];
    int width = MIN_WIDTH;
    int next_code = FIRST_FREE;
    bool have_prev = false;
    Entry prev;  // where the previous code's string was written

    imaging::detail::MsbBitReader bits(data, length);
    const size_t total_bits = length * 8;
    while (bits.bitpos < total_bits) {
        // A last code that runs past the end is completed with 0 bits.
        const int code = int(bits.read(width));

        if (code == END_OF_INFORMATION) break;
        if (code == CLEAR) {
            width = MIN_WIDTH;
            next_code = FIRST_FREE;
            have_prev = false;
            continue;
        }

        // Append the code's string; `here` is where it lands. Every source window ends at or
        // before the current end, so the copies never overlap.
        // A string that reaches the limit is written up to it and ends decoding.
        const size_t left = max_out - (n - start);
        Entry here{n, 0};
        if (code < CLEAR) {
            room(1);
            o[n] = uint8_t(code);
            here.length = 1;
        } else if (code < next_code) {
            const Entry e = table[code];
            here.length = e.length;
            const size_t k = std::min(e.length, left);
            room(k);
            if (k <= 16 && n + 16 <= out.size()) {
                // Short strings, the common case, as two 8-byte moves: both words are loaded
                // before either is stored, and the source ends before the destination starts,
                // so the bytes past the string that are written are only overwritten later.
                uint64_t a, b;
                std::memcpy(&a, o + e.offset, 8);
                std::memcpy(&b, o + e.offset + 8, 8);
                std::memcpy(o + n, &a, 8);
                std::memcpy(o + n + 8, &b, 8);
            } else {
                std::memcpy(o + n, o + e.offset, k);
            }
        } else if (code == next_code && have_prev) {
            // KwKwK: the code being defined right now is previous string + its own first byte.
            here.length = prev.length + 1;
            const size_t k = std::min(here.length, left);
            room(k);
            std::memcpy(o + n, o + prev.offset, std::min(prev.length, k));
            if (k > prev.length) o[n + prev.length] = o[prev.offset];
        } else {
            break;  // a code beyond the table, or a new code with nothing before it
        }
        if (here.length >= left) {
            n = start + max_out;
            break;
        }
        n += here.length;

        if (have_prev && next_code <= MAX_CODE) {
            // prev's bytes are immediately followed by here's first byte in the output.
            table[next_code] = Entry{prev.offset, prev.length + 1};
            ++next_code;
            if (width < MAX_WIDTH && next_code >= (1 << width) - 1) ++width;
        }
        have_prev = true;
        prev = here;
    }
    out.resize(n);
}

}  // namespace tiff
