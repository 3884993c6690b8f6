// Raw deflate (RFC 1951), decoded the way puff does it: canonical Huffman codes read one bit at a
// time, no lookup tables, the output produced so far as the back-reference window.
#include "reference_decoders.h"

#include "imaging/deflate_format.h"

#include <algorithm>
#include <stdexcept>

namespace reference {
namespace inflate {

namespace {

// Fixed by the deflate format (RFC 1951 section 3.2.5).
constexpr int MAX_BITS = 15;       // longest code
constexpr int MAX_SYMBOLS = 320;   // 288 literal/length + 32 distance lengths in one array
constexpr int FIXED_LITLEN = 288;  // fixed literal/length code lengths
constexpr int FIXED_DIST = 32;     // fixed distance code lengths (30 and 31 are never valid)

using deflate_format::CODE_LENGTH_ORDER;
using deflate_format::DIST_BASE;
using deflate_format::DIST_EXTRA;
using deflate_format::LEN_BASE;
using deflate_format::LEN_EXTRA;

[[noreturn]] void fail(const char* message) { throw std::runtime_error(message); }

// Output with the caller's size limit. Reaching the limit is not an error: the decoder stops and
// returns what it has, cut at the limit.
struct Output {
    std::vector<uint8_t> bytes;
    size_t limit;

    bool full() const { return bytes.size() >= limit; }
    void put(uint8_t b) { bytes.push_back(b); }
    // Copies `length` bytes from `distance` back, byte by byte: the copy may overlap itself
    // (distance 1, length 258 repeats one byte). Stops at the limit.
    void copy_back(size_t distance, size_t length) {
        length = std::min(length, limit - bytes.size());
        size_t from = bytes.size() - distance;
        for (size_t i = 0; i < length; ++i) bytes.push_back(bytes[from + i]);
    }
};

void stored_block(BitReader& in, Output& out) {
    // Stored data starts on a byte boundary; the bits still buffered there are padding.
    in.bits(in.bitcnt % 8);
    uint32_t len = in.bits(16);
    in.bits(16);  // NLEN: not compared with LEN, as zlib's own raw mode would
    for (uint32_t i = 0; i < len && !out.full(); ++i) out.put(static_cast<uint8_t>(in.bits(8)));
}

void fixed_tables(HuffTable& litlen, HuffTable& dist) {
    uint16_t lengths[FIXED_LITLEN];
    int sym = 0;
    for (; sym < 144; ++sym) lengths[sym] = 8;
    for (; sym < 256; ++sym) lengths[sym] = 9;
    for (; sym < 280; ++sym) lengths[sym] = 7;
    for (; sym < FIXED_LITLEN; ++sym) lengths[sym] = 8;
    litlen.build(lengths, FIXED_LITLEN);
    for (sym = 0; sym < FIXED_DIST; ++sym) lengths[sym] = 5;
    dist.build(lengths, FIXED_DIST);
}

void dynamic_tables(BitReader& in, HuffTable& litlen, HuffTable& dist) {
    int hlit = static_cast<int>(in.bits(5)) + 257;
    int hdist = static_cast<int>(in.bits(5)) + 1;
    int hclen = static_cast<int>(in.bits(4)) + 4;

    uint16_t lengths[MAX_SYMBOLS] = {};
    for (int i = 0; i < hclen; ++i) lengths[CODE_LENGTH_ORDER[i]] = static_cast<uint16_t>(in.bits(3));
    HuffTable lencode;
    lencode.build(lengths, 19);

    const int total = hlit + hdist;
    std::fill(lengths, lengths + MAX_SYMBOLS, 0);
    int index = 0;
    while (index < total) {
        int sym = lencode.decode(in);
        if (sym < 16) {
            lengths[index++] = static_cast<uint16_t>(sym);
            continue;
        }
        uint16_t value = 0;
        int repeat;
        if (sym == 16) {
            value = index > 0 ? lengths[index - 1] : 0;
            repeat = 3 + static_cast<int>(in.bits(2));
        } else if (sym == 17) {
            repeat = 3 + static_cast<int>(in.bits(3));
        } else {
            repeat = 11 + static_cast<int>(in.bits(7));
        }
        // A repeat past the last length is cut, not refused.
        for (; repeat > 0 && index < total; --repeat) lengths[index++] = value;
    }
    litlen.build(lengths, hlit);
    dist.build(lengths + hlit, hdist);
}

void compressed_block(BitReader& in, const HuffTable& litlen, const HuffTable& dist, Output& out) {
    while (!out.full()) {
        int sym = litlen.decode(in);
        if (sym < 256) {
            out.put(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == 256) return;
        sym -= 257;
        if (sym >= 29) fail("Código de comprimento inválido");
        size_t length = LEN_BASE[sym] + in.bits(LEN_EXTRA[sym]);

        int dsym = dist.decode(in);
        if (dsym > 29) fail("Código de distância inválido");
        size_t distance = DIST_BASE[dsym] + in.bits(DIST_EXTRA[dsym]);
        if (distance == 0 || distance > out.bytes.size()) fail("Distância inválida no fluxo comprimido");
        out.copy_back(distance, length);
    }
}

}  // namespace

std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t length, size_t max_out) {
    Output out{{}, max_out};
    out.bytes.reserve(std::min(length * 4, max_out));
    BitReader in(data, length);
    bool last = false;
    while (!last && !out.full()) {
        last = in.bits(1) != 0;
        uint32_t type = in.bits(2);
        if (type == 0) {
            stored_block(in, out);
        } else if (type == 3) {
            fail("Invalid deflate block type");
        } else {
            HuffTable litlen, dist;
            if (type == 1) {
                fixed_tables(litlen, dist);
            } else {
                dynamic_tables(in, litlen, dist);
            }
            compressed_block(in, litlen, dist, out);
        }
    }
    if (out.bytes.size() > max_out) out.bytes.resize(max_out);
    return std::move(out.bytes);
}

}  // namespace inflate
}  // namespace reference
