// Raw deflate (RFC 1951) with the output produced so far as the back-reference window.
#include "imaging/inflate.h"

#include "imaging/deflate_format.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace inflate {

using namespace detail;

namespace {

// Fixed by the deflate format (RFC 1951 section 3.2.5).
constexpr int MAX_BITS = 15;       // longest code
constexpr int MAX_SYMBOLS = 320;   // 288 literal/length + 32 distance lengths in one array
constexpr int FIXED_LITLEN = 288;  // fixed literal/length code lengths
constexpr int FIXED_DIST = 32;     // fixed distance code lengths (30 and 31 are never valid)

using flate::detail::CODE_LENGTH_ORDER;
using flate::detail::DIST_BASE;
using flate::detail::DIST_EXTRA;
using flate::detail::LEN_BASE;
using flate::detail::LEN_EXTRA;

[[noreturn]] void fail(const char* message) { throw std::runtime_error(message); }

// The decoder proper reads through a 64-bit buffer refilled eight bytes at a time and looks codes
// up over their first FAST_BITS bits (zlib's inflate_fast and puff are the two ends of this
// design; this sits between them). Codes longer than that, and bit patterns that the tables
// cannot settle, take the canonical walk (RFC 1951 section 3.2.2: codes of one length are
// consecutive numbers, the first code of each length follows from the counts of the shorter ones)
// over the buffered bits, so every input gives the same symbols and the same errors as that walk.
constexpr int FAST_BITS = 10;

struct FastEntry {
    uint16_t symbol = 0;
    uint8_t length = 0;  // 0: not settled within FAST_BITS bits
};

// A code's lookup table covers its first `bits` bits (at most FAST_BITS): fewer for the short
// codes, since the table is filled anew for every dynamic block.
struct Code {
    HuffTable canonical;
    int bits = FAST_BITS;
    FastEntry fast[1 << FAST_BITS];
};

// Fills the lookup table from the canonical table: at each length, the codes the canonical walk
// accepts are first .. first + count - 1 (every other pattern of that length goes on), so each
// gets the entries whose low bits are its bits in stream order.
void fill_fast(Code& c) {
    const HuffTable& h = c.canonical;
    const int size = 1 << c.bits;
    std::fill(c.fast, c.fast + size, FastEntry{});
    int first = 0, index = 0;
    for (int len = 1; len <= c.bits; ++len) {
        const int count = h.counts[len];
        const int end = std::min(first + count, 1 << len);
        for (int code = first; code < end; ++code) {
            const int pos = index + code - first;
            if (pos >= h.num_symbols) continue;  // left to the walk, which reports it
            int reversed = 0;
            for (int i = 0; i < len; ++i) reversed |= ((code >> i) & 1) << (len - 1 - i);
            for (int k = reversed; k < size; k += 1 << len)
                c.fast[k] = FastEntry{h.symbols[pos], static_cast<uint8_t>(len)};
        }
        index += count;
        first = (first + count) << 1;
    }
}

void build_code(Code& c, const uint16_t* lengths, int n, int bits) {
    c.bits = bits;
    c.canonical.build(lengths, n);
    fill_fast(c);
}

class Inflater {
public:
    Inflater(const uint8_t* data, size_t size, size_t max_out, std::vector<uint8_t>& out)
        : in_(data), size_(size), out_(out), start_(out.size()), max_out_(max_out) {
        // Written by index into room made ahead, doubled when the data expands more than that.
        out_.resize(start_ + std::min(max_out, std::max<size_t>(size * 4, 1024)));
        o_ = out_.data();
        n_ = start_;
    }

    void run() {
        bool last = false;
        while (!last && !full()) {
            last = bits(1) != 0;
            const uint32_t type = bits(2);
            if (type == 0) {
                stored_block();
            } else if (type == 3) {
                fail("Invalid deflate block type");
            } else if (type == 1) {
                compressed_block(fixed().litlen, fixed().dist);
            } else {
                dynamic_block();
            }
        }
        out_.resize(std::min(n_, start_ + max_out_));
    }

private:
    struct FixedCodes {
        Code litlen, dist;
    };

    static const FixedCodes& fixed() {
        static const FixedCodes* const codes = [] {
            static FixedCodes f;
            uint16_t lengths[FIXED_LITLEN];
            int sym = 0;
            for (; sym < 144; ++sym) lengths[sym] = 8;
            for (; sym < 256; ++sym) lengths[sym] = 9;
            for (; sym < 280; ++sym) lengths[sym] = 7;
            for (; sym < FIXED_LITLEN; ++sym) lengths[sym] = 8;
            build_code(f.litlen, lengths, FIXED_LITLEN, FAST_BITS);
            for (sym = 0; sym < FIXED_DIST; ++sym) lengths[sym] = 5;
            build_code(f.dist, lengths, FIXED_DIST, 5);
            return &f;
        }();
        return *codes;
    }

    bool full() const { return n_ - start_ >= max_out_; }
    size_t produced() const { return n_ - start_; }

    // At least 56 bits buffered, or all the input. Bytes above `count_` in the buffer are the
    // input's next bytes already, so OR-ing them in again changes nothing.
    void refill() {
        if (pos_ + 8 <= size_) {
            uint64_t word;
            std::memcpy(&word, in_ + pos_, 8);
            if (!little_endian_host()) word = __builtin_bswap64(word);
            buf_ |= word << count_;
            pos_ += size_t(63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56 && pos_ < size_) {
            buf_ |= uint64_t(in_[pos_++]) << count_;
            count_ += 8;
        }
    }

    static bool little_endian_host() {
        const uint16_t probe = 1;
        uint8_t first;
        std::memcpy(&first, &probe, 1);
        return first == 1;
    }

    uint32_t bits(int n) {
        if (n == 0) return 0;
        if (count_ < n) {
            refill();
            if (count_ < n) fail("Dados comprimidos truncados");
        }
        const uint32_t v = uint32_t(buf_ & ((uint64_t(1) << n) - 1));
        buf_ >>= n;
        count_ -= n;
        return v;
    }

    int decode(const Code& c) {
        if (count_ < 15) refill();
        const FastEntry e = c.fast[buf_ & ((1u << c.bits) - 1)];
        if (e.length != 0) {
            // Zeros beyond the input settled the pattern; the real bits were too few for it.
            if (e.length > count_) fail("Dados comprimidos truncados");
            buf_ >>= e.length;
            count_ -= e.length;
            return e.symbol;
        }
        return walk(c.canonical);
    }

    // The canonical walk over the buffered bits (all the input that is left, when under 15).
    int walk(const HuffTable& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= MAX_BITS; ++len) {
            if (len > count_) fail("Dados comprimidos truncados");
            code |= int((buf_ >> (len - 1)) & 1);
            const int count = h.counts[len];
            if (code < first + count) {
                const int pos = index + code - first;
                if (pos < 0 || pos >= h.num_symbols) fail("Tabela de Huffman inconsistente");
                buf_ >>= len;
                count_ -= len;
                return h.symbols[pos];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        fail("Invalid Huffman code");
    }

    // k never takes the output past the limit, and neither does the room made, so a caller
    // that reserved the limit sees no reallocation.
    void room(size_t k) {
        if (n_ + k <= out_.size()) return;
        const size_t limit = max_out_ - produced();
        out_.resize(n_ + std::max(k, std::min(limit, k + std::max<size_t>(produced(), 4096))));
        o_ = out_.data();
    }

    void stored_block() {
        // Stored data starts on a byte boundary; the bits still buffered there are padding.
        bits(count_ % 8);
        const uint32_t len = bits(16);
        bits(16);  // NLEN: not compared with LEN, as zlib's own raw mode would
        // Whole bytes still in the buffer go back to the input, which is then copied directly.
        pos_ -= size_t(count_ / 8);
        buf_ = 0;
        count_ = 0;
        const size_t want = std::min<size_t>(len, max_out_ - produced());
        if (want > size_ - pos_) fail("Dados comprimidos truncados");
        room(want);
        std::memcpy(o_ + n_, in_ + pos_, want);
        n_ += want;
        pos_ += want;
    }

    void dynamic_block() {
        const int hlit = int(bits(5)) + 257;
        const int hdist = int(bits(5)) + 1;
        const int hclen = int(bits(4)) + 4;

        uint16_t lengths[MAX_SYMBOLS] = {};
        for (int i = 0; i < hclen; ++i) lengths[CODE_LENGTH_ORDER[i]] = uint16_t(bits(3));
        Code lencode;
        build_code(lencode, lengths, 19, 7);

        const int total = hlit + hdist;
        std::fill(lengths, lengths + MAX_SYMBOLS, 0);
        int index = 0;
        while (index < total) {
            const int sym = decode(lencode);
            if (sym < 16) {
                lengths[index++] = uint16_t(sym);
                continue;
            }
            uint16_t value = 0;
            int repeat;
            if (sym == 16) {
                value = index > 0 ? lengths[index - 1] : 0;
                repeat = 3 + int(bits(2));
            } else if (sym == 17) {
                repeat = 3 + int(bits(3));
            } else {
                repeat = 11 + int(bits(7));
            }
            // A repeat past the last length is cut, not refused.
            for (; repeat > 0 && index < total; --repeat) lengths[index++] = value;
        }
        Code litlen, dist;
        build_code(litlen, lengths, hlit, FAST_BITS);
        build_code(dist, lengths + hlit, hdist, 8);
        compressed_block(litlen, dist);
    }

    void compressed_block(const Code& litlen, const Code& dist) {
        while (!full()) {
            int sym = decode(litlen);
            if (sym < 256) {
                room(1);
                o_[n_++] = uint8_t(sym);
                continue;
            }
            if (sym == 256) return;
            sym -= 257;
            if (sym >= 29) fail("Código de comprimento inválido");
            size_t length = LEN_BASE[sym] + bits(LEN_EXTRA[sym]);

            const int dsym = decode(dist);
            if (dsym > 29) fail("Código de distância inválido");
            const size_t distance = DIST_BASE[dsym] + bits(DIST_EXTRA[dsym]);
            if (distance == 0 || distance > produced()) fail("Distância inválida no fluxo comprimido");
            // Cut at the limit; a copy may overlap its own output (distance 1 repeats one byte).
            length = std::min(length, max_out_ - produced());
            room(length);
            uint8_t* to = o_ + n_;
            const uint8_t* from = to - distance;
            if (distance >= length) {
                std::memcpy(to, from, length);
            } else if (distance == 1) {
                std::memset(to, *from, length);
            } else {
                // The copy repeats the last `distance` bytes: copied in pieces that double, each
                // taken from a whole number of periods back so that no piece overlaps itself.
                for (size_t done = 0; done < length;) {
                    const size_t piece = std::min(length - done, done + distance);
                    std::memcpy(to + done, from, piece);
                    done += piece;
                }
            }
            n_ += length;
        }
    }

    const uint8_t* in_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t buf_ = 0;
    int count_ = 0;
    std::vector<uint8_t>& out_;
    uint8_t* o_ = nullptr;
    size_t start_;
    size_t n_ = 0;
    size_t max_out_;
};

}  // namespace

void detail::HuffTable::build(const uint16_t* lengths, int n) {
    for (auto& c : counts) c = 0;
    for (int sym = 0; sym < n; ++sym) {
        if (lengths[sym] > MAX_BITS) fail("Código Huffman longo demais");
        ++counts[lengths[sym]];
    }
    counts[0] = 0;

    int offsets[MAX_BITS + 1];
    offsets[1] = 0;
    for (int len = 1; len < MAX_BITS; ++len) offsets[len + 1] = offsets[len] + counts[len];

    num_symbols = 0;
    for (int sym = 0; sym < n; ++sym) {
        if (lengths[sym] == 0) continue;
        int index = offsets[lengths[sym]]++;
        if (index >= MAX_SYMBOLS) fail("Tabela de Huffman grande demais");
        symbols[index] = static_cast<uint16_t>(sym);
        ++num_symbols;
    }
}

std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t length, size_t max_out) {
    std::vector<uint8_t> out;
    inflate_raw(data, length, max_out, out);
    return out;
}

void inflate_raw(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    try {
        Inflater(data, length, max_out, out).run();
    } catch (...) {
        out.resize(start);  // nothing of a failed stream is kept
        throw;
    }
}

}  // namespace inflate
