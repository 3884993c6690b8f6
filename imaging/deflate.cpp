// Fast deflate: one pass of LZ77 (hash of four bytes, a chain of eight earlier positions, matches
// of four bytes or more inside the 32 KiB window, one step of lazy matching), the symbols of up to
// 32768 steps per block, then a dynamic Huffman block (RFC 1951 section 3.2.7) or stored blocks,
// whichever is smaller. Image rows repeat a lot (white margins, runs of one grey, a row like the
// one above), which a short chain finds about as well as zlib's long ones.
#include "imaging/deflate.h"
#include "imaging/deflate_format.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <memory>

namespace flate {

namespace {

constexpr size_t WINDOW = 32768;
constexpr size_t WINDOW_MASK = WINDOW - 1;
constexpr int HASH_BITS = 15;
constexpr int MIN_MATCH = 4;
constexpr size_t MAX_MATCH = 258;
constexpr int MAX_CHAIN = 8;
constexpr size_t NICE_MATCH = MAX_MATCH;
// A match at least this long is taken without looking one byte further (runs, repeated rows).
constexpr size_t LAZY_LIMIT = 16;
// Every position of a match this long or shorter enters the hash chains; of a longer one, only
// the last INSERT_TAIL (a third of the time on scans, the same output within a percent).
constexpr size_t INSERT_ALL_UP_TO = 32;
constexpr size_t INSERT_TAIL = 16;
constexpr size_t BLOCK_SYMBOLS = 32768;
// Positions are 32-bit; longer inputs are coded in independent pieces (no match crosses them).
constexpr size_t PIECE = size_t(1) << 30;
constexpr size_t PARALLEL_FROM = size_t(1) << 20;

using flate::detail::CODE_LENGTH_ORDER;
using flate::detail::DIST_BASE;
using flate::detail::DIST_EXTRA;
using flate::detail::LEN_BASE;
using flate::detail::LEN_EXTRA;

struct CodeTables {
    uint8_t len_code[MAX_MATCH + 1];  // length -> index into LEN_BASE
    uint8_t dist_low[256];            // distance - 1 below 256 -> distance code
    uint8_t dist_high[256];           // (distance - 1) >> 7 -> distance code
    CodeTables() {
        for (int c = 0; c < 29; ++c)
            for (int l = LEN_BASE[c]; l < LEN_BASE[c] + (1 << LEN_EXTRA[c]) && l <= 258; ++l)
                len_code[l] = uint8_t(c);
        len_code[258] = 28;
        for (int c = 0; c < 30; ++c)
            for (int d = DIST_BASE[c]; d < DIST_BASE[c] + (1 << DIST_EXTRA[c]); ++d) {
                if (d <= 256) dist_low[d - 1] = uint8_t(c);
                if (d > 256 && ((d - 1) & 127) == 0) dist_high[(d - 1) >> 7] = uint8_t(c);
            }
    }
    int dist_code(uint32_t d) const { return d <= 256 ? dist_low[d - 1] : dist_high[(d - 1) >> 7]; }
};
const CodeTables TABLES;

// Code lengths of a Huffman code for the frequencies, none longer than `limit`. Symbols of
// frequency 0 get length 0; when fewer than two symbols are used, two get length 1 so that the
// code is complete (some readers refuse an incomplete one).
void huffman_lengths(const uint32_t* freq, int n, int limit, uint8_t* lengths) {
    std::fill(lengths, lengths + n, uint8_t(0));
    std::array<int, 320> sym{};
    int used = 0;
    for (int s = 0; s < n; ++s)
        if (freq[s]) sym[size_t(used++)] = s;
    if (used < 2) {
        lengths[0] = 1;
        lengths[used == 1 && sym[0] != 0 ? sym[0] : 1] = 1;
        return;
    }
    std::stable_sort(sym.begin(), sym.begin() + used, [&](int a, int b) { return freq[a] < freq[b]; });
    // Two-queue construction: leaves in frequency order, inner nodes in the order they are made
    // (also ascending). parent[] indexes inner nodes; inner node k is node used + k.
    std::array<uint64_t, 640> weight{};
    std::array<int, 640> parent{};
    for (int i = 0; i < used; ++i) weight[size_t(i)] = freq[sym[size_t(i)]];
    int leaf = 0, inner = used, made = used;
    for (int k = 0; k < used - 1; ++k) {
        int pick[2];
        for (int& p : pick) {
            if (leaf < used && (inner >= made || weight[size_t(leaf)] <= weight[size_t(inner)]))
                p = leaf++;
            else
                p = inner++;
        }
        weight[size_t(made)] = weight[size_t(pick[0])] + weight[size_t(pick[1])];
        parent[size_t(pick[0])] = parent[size_t(pick[1])] = made;
        ++made;
    }
    // Depths from the root (the last node made) down.
    std::array<int, 640> depth{};
    depth[size_t(made - 1)] = 0;
    for (int node = made - 2; node >= 0; --node) depth[size_t(node)] = depth[size_t(parent[size_t(node)])] + 1;
    std::array<int, 640> count{};
    for (int i = 0; i < used; ++i) ++count[size_t(std::min(depth[size_t(i)], limit + 1))];
    // Too-long codes: fold them into the limit, then lengthen shorter codes until the Kraft sum
    // is exactly one again.
    count[size_t(limit)] += count[size_t(limit + 1)];
    uint64_t kraft = 0;
    for (int l = 1; l <= limit; ++l) kraft += uint64_t(count[size_t(l)]) << (limit - l);
    while (kraft > (uint64_t(1) << limit)) {
        --count[size_t(limit)];
        for (int l = limit - 1; l > 0; --l)
            if (count[size_t(l)]) {
                --count[size_t(l)];
                count[size_t(l + 1)] += 2;
                break;
            }
        --kraft;
    }
    // The rarest symbols take the longest codes.
    int next = 0;
    for (int l = limit; l >= 1; --l)
        for (int c = 0; c < count[size_t(l)]; ++c) lengths[sym[size_t(next++)]] = uint8_t(l);
}

// Canonical codes (RFC 1951 section 3.2.2), bit-reversed for least-significant-first output.
void canonical_codes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint16_t count[16] = {}, next[16] = {};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint16_t code = 0;
    for (int l = 1; l < 16; ++l) {
        code = uint16_t((code + count[l - 1]) << 1);
        next[l] = code;
    }
    for (int s = 0; s < n; ++s) {
        const int l = lengths[s];
        if (!l) continue;
        uint16_t c = next[l]++, r = 0;
        for (int b = 0; b < l; ++b) r = uint16_t((r << 1) | ((c >> b) & 1));
        codes[s] = r;
    }
}

class Encoder {
public:
    explicit Encoder(std::vector<uint8_t>& out) : out_(out) {}

    // With `final` false the stream is left open, ending on a byte boundary (an empty stored
    // block), so that another stream's blocks can follow it.
    void encode(const uint8_t* data, size_t length, bool final) {
        size_t base = 0;
        do {
            const size_t n = std::min(PIECE, length - base);
            encode_piece(data + base, n, final && base + n == length);
            base += n;
        } while (base < length);
        if (!final) write_stored(nullptr, 0, false);
        flush_bits();
        out_.resize(used_);
    }

private:
    void encode_piece(const uint8_t* p, size_t n, bool last) {
        std::fill(std::begin(head_), std::end(head_), 0u);
        size_t block_start = 0;
        // One step of lazy matching: the match found at i - 1 waits until i has been searched, and
        // gives way to a longer one there (the byte at i - 1 then goes out as a literal).
        bool pending = false;
        size_t pending_len = 0, pending_dist = 0;
        size_t i = 0;
        while (i < n) {
            size_t len = 0, dist = 0;
            if (i + MIN_MATCH <= n) {
                const uint32_t chain_start = insert(p, i);
                if (!(pending && pending_len >= LAZY_LIMIT)) search(p, n, i, chain_start, len, dist);
            }
            if (pending && pending_len >= size_t(MIN_MATCH) && len <= pending_len) {
                add_match(uint32_t(pending_len), uint32_t(pending_dist));
                const size_t end = i - 1 + pending_len;
                // A long match is a run or a repeated row: its inner positions would only fill
                // the chains with more of the same, so only its last ones go in.
                const size_t from = pending_len <= INSERT_ALL_UP_TO ? i + 1 : std::max(i + 1, end - INSERT_TAIL);
                for (size_t k = from; k < end && k + MIN_MATCH <= n; ++k) insert(p, k);
                i = end;
                pending = false;
            } else {
                if (pending) add_literal(p[i - 1]);
                pending = true;
                pending_len = len;
                pending_dist = dist;
                ++i;
            }
            if (symbols_ >= BLOCK_SYMBOLS - 1 && i < n) {
                const size_t done = pending ? i - 1 : i;
                write_block(p + block_start, done - block_start, false);
                block_start = done;
            }
        }
        if (pending) add_literal(p[n - 1]);  // nothing can start a match in the last byte
        if (symbols_ > 0 || last) write_block(p + block_start, n - block_start, last);
    }

    // Enters position i into the hash chains; returns the previous head of its chain.
    uint32_t insert(const uint8_t* p, size_t i) {
        const uint32_t h = hash(p + i);
        const uint32_t older = head_[h];  // position + 1; 0 for none
        head_[h] = uint32_t(i + 1);
        prev_[i & WINDOW_MASK] = older;
        return older;
    }

    // The longest match for position i along its chain (len 0 when none of MIN_MATCH bytes).
    void search(const uint8_t* p, size_t n, size_t i, uint32_t cand, size_t& best, size_t& best_dist) const {
        const size_t max_len = std::min(MAX_MATCH, n - i);
        const size_t oldest = i >= WINDOW ? i - WINDOW + 1 : 0;
        best = 0;
        for (int chain = MAX_CHAIN; cand && cand - 1 >= oldest && chain > 0; --chain) {
            const size_t c = cand - 1;
            if (p[c + best] == p[i + best]) {
                const size_t len = match_length(p + c, p + i, max_len);
                if (len > best) {
                    best = len;
                    best_dist = i - c;
                    if (len >= NICE_MATCH || len == max_len) break;
                }
            }
            const uint32_t older = prev_[c & WINDOW_MASK];
            if (older >= cand) break;
            cand = older;
        }
        if (best < size_t(MIN_MATCH)) best = 0;
    }

    static uint32_t hash(const uint8_t* q) {
        uint32_t v;
        std::memcpy(&v, q, 4);
        return (v * 2654435761u) >> (32 - HASH_BITS);
    }

    static size_t match_length(const uint8_t* a, const uint8_t* b, size_t max_len) {
        size_t l = 0;
        while (l + 8 <= max_len) {
            uint64_t x, y;
            std::memcpy(&x, a + l, 8);
            std::memcpy(&y, b + l, 8);
            if (x != y) return l + size_t(__builtin_ctzll(x ^ y) >> 3);
            l += 8;
        }
        while (l < max_len && a[l] == b[l]) ++l;
        return l;
    }

    void add_literal(uint8_t b) {
        lit_[symbols_] = b;
        dist_[symbols_++] = 0;
        ++lit_freq_[b];
    }

    void add_match(uint32_t len, uint32_t dist) {
        lit_[symbols_] = uint16_t(len);
        dist_[symbols_++] = uint16_t(dist);
        const int lc = TABLES.len_code[len];
        ++lit_freq_[257 + lc];
        ++dist_freq_[TABLES.dist_code(dist)];
        extra_bits_ += uint64_t(LEN_EXTRA[lc]) + DIST_EXTRA[TABLES.dist_code(dist)];
    }

    void write_block(const uint8_t* raw, size_t raw_len, bool final) {
        lit_freq_[256] = 1;
        uint8_t lit_len[286], dist_len[30];
        huffman_lengths(lit_freq_, 286, 15, lit_len);
        huffman_lengths(dist_freq_, 30, 15, dist_len);
        int hlit = 286, hdist = 30;
        while (hlit > 257 && !lit_len[hlit - 1]) --hlit;
        while (hdist > 1 && !dist_len[hdist - 1]) --hdist;

        // Run-length coding of the code lengths with symbols 16, 17 and 18.
        uint8_t all[316];
        std::memcpy(all, lit_len, size_t(hlit));
        std::memcpy(all + hlit, dist_len, size_t(hdist));
        const int total = hlit + hdist;
        uint8_t rle_sym[316], rle_extra[316];
        int rle_n = 0;
        uint32_t cl_freq[19] = {};
        for (int k = 0; k < total;) {
            const uint8_t v = all[k];
            int run = 1;
            while (k + run < total && all[k + run] == v) ++run;
            k += run;
            if (v == 0) {
                while (run >= 11) {
                    const int r = std::min(run, 138);
                    rle_sym[rle_n] = 18, rle_extra[rle_n++] = uint8_t(r - 11), run -= r;
                }
                if (run >= 3) rle_sym[rle_n] = 17, rle_extra[rle_n++] = uint8_t(run - 3), run = 0;
            } else {
                rle_sym[rle_n] = v, rle_extra[rle_n++] = 0, --run;
                while (run >= 3) {
                    const int r = std::min(run, 6);
                    rle_sym[rle_n] = 16, rle_extra[rle_n++] = uint8_t(r - 3), run -= r;
                }
            }
            while (run-- > 0) rle_sym[rle_n] = v, rle_extra[rle_n++] = 0;
        }
        for (int k = 0; k < rle_n; ++k) ++cl_freq[rle_sym[k]];
        uint8_t cl_len[19];
        huffman_lengths(cl_freq, 19, 7, cl_len);
        int hclen = 19;
        while (hclen > 4 && !cl_len[CODE_LENGTH_ORDER[hclen - 1]]) --hclen;

        uint64_t bits = 3 + 14 + 3 * uint64_t(hclen) + extra_bits_;
        for (int k = 0; k < rle_n; ++k)
            bits += cl_len[rle_sym[k]] + (rle_sym[k] == 16 ? 2 : rle_sym[k] == 17 ? 3 : rle_sym[k] == 18 ? 7 : 0);
        for (int s = 0; s < 286; ++s) bits += uint64_t(lit_freq_[s]) * lit_len[s];
        for (int s = 0; s < 30; ++s) bits += uint64_t(dist_freq_[s]) * dist_len[s];
        const uint64_t stored_bits = 8 * (uint64_t(raw_len) + 5 * (raw_len / 65535 + 1)) + 8;

        reserve(size_t(std::min(bits, stored_bits) / 8) + 64);
        if (stored_bits <= bits) {
            write_stored(raw, raw_len, final);
        } else {
            uint16_t lit_code[286] = {}, dist_code[30] = {}, cl_code[19] = {};
            canonical_codes(lit_len, 286, lit_code);
            canonical_codes(dist_len, 30, dist_code);
            canonical_codes(cl_len, 19, cl_code);
            put(final ? 1 : 0, 1);
            put(2, 2);
            put(uint32_t(hlit - 257), 5);
            put(uint32_t(hdist - 1), 5);
            put(uint32_t(hclen - 4), 4);
            for (int k = 0; k < hclen; ++k) put(cl_len[CODE_LENGTH_ORDER[k]], 3);
            for (int k = 0; k < rle_n; ++k) {
                const uint8_t s = rle_sym[k];
                put(cl_code[s], cl_len[s]);
                if (s == 16) put(rle_extra[k], 2);
                if (s == 17) put(rle_extra[k], 3);
                if (s == 18) put(rle_extra[k], 7);
            }
            for (size_t k = 0; k < symbols_; ++k) {
                const uint32_t d = dist_[k];
                if (d == 0) {
                    put(lit_code[lit_[k]], lit_len[lit_[k]]);
                    continue;
                }
                const uint32_t len = lit_[k];
                const int lc = TABLES.len_code[len];
                put(lit_code[257 + lc], lit_len[257 + lc]);
                put(len - LEN_BASE[lc], LEN_EXTRA[lc]);
                const int dc = TABLES.dist_code(d);
                put(dist_code[dc], dist_len[dc]);
                put(d - DIST_BASE[dc], DIST_EXTRA[dc]);
            }
            put(lit_code[256], lit_len[256]);
        }
        symbols_ = 0;
        extra_bits_ = 0;
        std::fill(std::begin(lit_freq_), std::end(lit_freq_), 0u);
        std::fill(std::begin(dist_freq_), std::end(dist_freq_), 0u);
    }

    void write_stored(const uint8_t* raw, size_t raw_len, bool final) {
        size_t done = 0;
        do {
            const size_t n = std::min<size_t>(65535, raw_len - done);
            const bool last_piece = done + n == raw_len;
            put(final && last_piece ? 1 : 0, 1);
            put(0, 2);
            align();
            reserve(n + 8);
            put(uint32_t(n), 16);
            put(uint32_t(~n & 0xFFFF), 16);
            flush_bits();
            if (n > 0) std::memcpy(out_.data() + used_, raw + done, n);  // raw is null for no input
            used_ += n;
            done += n;
        } while (done < raw_len);
    }

    void reserve(size_t more) {
        if (out_.size() < used_ + more + 16) out_.resize(std::max(out_.size() * 2, used_ + more + 16));
    }

    void put(uint32_t value, int n) {
        acc_ |= uint64_t(value) << count_;
        count_ += n;
        if (count_ >= 32) {
            const uint32_t word = uint32_t(acc_);
            out_[used_] = uint8_t(word);
            out_[used_ + 1] = uint8_t(word >> 8);
            out_[used_ + 2] = uint8_t(word >> 16);
            out_[used_ + 3] = uint8_t(word >> 24);
            used_ += 4;
            acc_ >>= 32;
            count_ -= 32;
        }
    }

    void align() {
        if (count_ & 7) put(0, 8 - (count_ & 7));
    }

    // Writes out every whole and partial byte of the bit buffer (zero-padded).
    void flush_bits() {
        align();
        reserve(8);
        while (count_ > 0) {
            out_[used_++] = uint8_t(acc_);
            acc_ >>= 8;
            count_ -= 8;
        }
        count_ = 0;
        acc_ = 0;
    }

    std::vector<uint8_t>& out_;
    size_t used_ = 0;
    uint64_t acc_ = 0;
    int count_ = 0;

    uint32_t head_[size_t(1) << HASH_BITS] = {};
    uint32_t prev_[WINDOW] = {};
    uint16_t lit_[BLOCK_SYMBOLS] = {};
    uint16_t dist_[BLOCK_SYMBOLS] = {};
    size_t symbols_ = 0;
    uint32_t lit_freq_[286] = {};
    uint32_t dist_freq_[30] = {};
    uint64_t extra_bits_ = 0;
};

std::vector<uint8_t> encode(const uint8_t* data, size_t length, bool final) {
    std::vector<uint8_t> out;
    out.reserve(length / 4 + 64);
    // The encoder's tables are too large for the stack.
    auto encoder = std::make_unique<Encoder>(out);
    encoder->encode(data, length, final);
    return out;
}

// The Adler-32 of two pieces one after the other, from the pieces' own (RFC 1950: a is 1 plus the
// bytes, b the sum of every a after a byte; the second piece's b counted its bytes from a = 1).
uint32_t adler32_join(uint32_t first, uint32_t second, size_t second_length) {
    const uint64_t base = 65521;
    const uint64_t a1 = first & 0xFFFF, b1 = first >> 16, a2 = second & 0xFFFF, b2 = second >> 16;
    const uint64_t a = (a1 + a2 + base - 1) % base;
    const uint64_t b = (b1 + b2 + (second_length % base) * ((a1 + base - 1) % base)) % base;
    return uint32_t((b << 16) | a);
}

}  // namespace

std::vector<uint8_t> deflate_raw(const uint8_t* data, size_t length) { return encode(data, length, true); }

std::vector<uint8_t> compress_zlib(const uint8_t* data, size_t length) {
    std::vector<uint8_t> out;
    uint32_t adler = 1;
    if (length >= PARALLEL_FROM) {
        // A page of scan is tens of megabytes: its halves are coded on two threads as separate
        // streams (no match reaches back across the middle) and joined, the first left open.
        struct Half {
            std::vector<uint8_t> bytes;
            uint32_t adler = 1;
        };
        const size_t middle = length / 2;
        std::future<Half> second = std::async(std::launch::async, [data, middle, length] {
            return Half{encode(data + middle, length - middle, true), adler32(1, data + middle, length - middle)};
        });
        out = encode(data, middle, false);
        adler = adler32(1, data, middle);
        const Half rest = second.get();
        out.insert(out.end(), rest.bytes.begin(), rest.bytes.end());
        adler = adler32_join(adler, rest.adler, length - middle);
    } else {
        out = encode(data, length, true);
        adler = adler32(1, data, length);
    }
    // 78 01: deflate with a 32 KiB window, "fastest" level; 0x7801 is a multiple of 31.
    out.insert(out.begin(), {0x78, 0x01});
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(adler >> s));
    return out;
}

uint32_t adler32(uint32_t adler, const uint8_t* data, size_t length) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length > 0) {
        // 5552 bytes is the longest stretch whose sums cannot overflow 32 bits before the modulo.
        size_t n = std::min<size_t>(length, 5552);
        length -= n;
        // Sixteen bytes at a time: b gains 16 a plus each byte weighted by how many sums it is
        // in, the same numbers as byte by byte, without one long chain of dependent additions.
        for (; n >= 16; n -= 16, data += 16) {
            uint32_t sum = 0, weighted = 0;
            for (uint32_t j = 0; j < 16; ++j) {
                sum += data[j];
                weighted += (16 - j) * data[j];
            }
            b += 16 * a + weighted;
            a += sum;
        }
        for (; n > 0; --n) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

}  // namespace flate
