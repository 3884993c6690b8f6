#include "imaging/inflate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Deflate bit packing: header fields and extra bits least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
public:
    void field(uint32_t value, int n) { for (int i = 0; i < n; ++i) bit((value >> i) & 1); }
    void code(uint32_t code, int n) { for (int i = n - 1; i >= 0; --i) bit((code >> i) & 1); }
    void bits(const char* text) { for (; *text; ++text) bit(*text == '1'); }
    // Fixed literal/length code (RFC 1951 section 3.2.6).
    void fixed_litlen(int sym) {
        if (sym < 144) code(0x30 + sym, 8);
        else if (sym < 256) code(0x190 + sym - 144, 9);
        else if (sym < 280) code(sym - 256, 7);
        else code(0xC0 + sym - 280, 8);
    }
    void fixed_dist(int sym) { code(static_cast<uint32_t>(sym), 5); }
    const Bytes& bytes() const { return bytes_; }

private:
    void bit(uint32_t b) {
        if (n_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(1u << (n_ % 8));
        ++n_;
    }
    Bytes bytes_;
    size_t n_ = 0;
};

Bytes inflate_bytes(const Bytes& in, size_t max_out = SIZE_MAX) {
    return inflate::inflate_raw(in.data(), in.size(), max_out);
}

// The bytes inflated, or "error: " and the message.
std::string outcome(const Bytes& in) {
    try {
        const Bytes out = inflate_bytes(in);
        return std::string(out.begin(), out.end());
    } catch (const std::runtime_error& e) {
        return std::string("error: ") + e.what();
    }
}

// Fixed block: the given literals, then each (length symbol, distance symbol) pair, end of block.
// After a stored block "ab" (not final) when `after_stored`.
Bytes fixed_block(const std::string& literals, std::vector<std::pair<int, int>> copies, bool after_stored = false) {
    BitWriter w;
    if (after_stored) {
        w.field(0, 8);  // not final, stored, padding
        w.field(2, 16);
        w.field(0xFFFD, 16);
        w.field('a', 8);
        w.field('b', 8);
    }
    w.field(1, 1);
    w.field(1, 2);
    for (char c : literals) w.fixed_litlen(static_cast<uint8_t>(c));
    for (auto [len_sym, dist_sym] : copies) {
        w.fixed_litlen(len_sym);
        w.fixed_dist(dist_sym);
    }
    w.fixed_litlen(256);
    return w.bytes();
}

// A dynamic block whose code-length codes are 1, 16, 17 and 18, all two bits long (codes 00, 01,
// 10, 11); literal 'a' and end-of-block get one-bit codes, one distance code. `tail_repeat` adds
// an 18 after the lengths are complete, to show that a repeat past the end is cut.
Bytes dynamic_block(bool tail_repeat) {
    BitWriter w;
    w.field(1, 1);
    w.field(2, 2);
    w.field(0, 5);   // HLIT 257
    w.field(tail_repeat ? 1 : 0, 5);  // HDIST 1 or 2
    w.field(14, 4);  // HCLEN 18: up to symbol 1 in the sending order
    const int order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
    for (int sym : order) w.field(sym == 1 || sym >= 16 ? 2 : 0, 3);
    w.bits("01");  w.field(3, 2);    // 16 first: repeats "the previous length", 0, six times
    w.bits("11");  w.field(74, 7);   // 18: 85 zeros -> 91
    w.bits("10");  w.field(3, 3);    // 17: 6 zeros -> 97
    w.bits("00");                    // 'a' (97): length 1
    w.bits("11");  w.field(127, 7);  // 18: 138 zeros
    w.bits("11");  w.field(9, 7);    // 18: 20 zeros -> 256
    w.bits("00");                    // 256: length 1
    w.bits("00");                    // distance 0: length 1
    if (tail_repeat) {
        w.bits("11");
        w.field(127, 7);  // 138 zeros where one length is left
    }
    w.bits("0");  // 'a'
    w.bits("0");  // 'a'
    w.bits("1");  // end of block
    return w.bytes();
}

TEST(Inflate, ByteLevelExamplesAndErrors) {
    BitWriter no_cl_codes;  // dynamic block whose code-length code has no codes at all
    no_cl_codes.field(5, 3);
    no_cl_codes.field(0, 26);
    no_cl_codes.field(0xFFFF, 16);
    const std::string truncated = "error: Dados comprimidos truncados";
    const std::pair<Bytes, std::string> rows[] = {
        {{0x01, 0x00, 0x00, 0xFF, 0xFF}, ""},                                  // stored, empty
        {{0x01, 0x03, 0x00, 0xFC, 0xFF, 0x61, 0x62, 0x63}, "abc"},             // stored
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63}, "abc"},             // NLEN ignored
        {{0x4B, 0x4C, 0x4A, 0x06, 0x00}, "abc"},                               // fixed
        {{0x01, 0x01, 0x00, 0xFE, 0xFF, 0x7A, 0x07, 0xFF}, "z"},               // data after the final block ignored
        {{0x00, 0x01, 0x00, 0xFE, 0xFF, 0x61, 0x4B, 0x4C, 0x4A, 0x06, 0x00}, "aabc"},  // stored, then fixed
        // 'x', then length 258 (symbol 285) at distance 1 (symbol 0): an overlapping copy.
        {fixed_block("x", {{285, 0}}), std::string(259, 'x')},
        {fixed_block("", {{259, 1}}, true), "abababa"},  // a copy reaching into the earlier block
        {dynamic_block(false), "aa"},                    // the lengths start with a repeat (16)
        {dynamic_block(true), "aa"},                     // a repeat past the last length is cut
        {{}, truncated},
        {{0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61, 0x62}, truncated},  // stored LEN beyond the input
        {{0x01, 0x03}, truncated},                                // stored header cut
        {{0x4B, 0x4C, 0x4A}, truncated},                          // fixed block cut
        {{0x00, 0x00, 0x00, 0xFF, 0xFF}, truncated},              // no final block
        {{0x07}, "error: Invalid deflate block type"},
        {fixed_block("a", {{286, 0}}), "error: Código de comprimento inválido"},
        {fixed_block("a", {{287, 0}}), "error: Código de comprimento inválido"},
        {fixed_block("a", {{257, 30}}), "error: Código de distância inválido"},
        {fixed_block("a", {{257, 31}}), "error: Código de distância inválido"},
        {fixed_block("a", {{257, 1}}), "error: Distância inválida no fluxo comprimido"},  // before the start
        {fixed_block("", {{257, 0}}), "error: Distância inválida no fluxo comprimido"},   // nothing to copy
        {no_cl_codes.bytes(), "error: Invalid Huffman code"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(outcome(rows[i].first), rows[i].second) << "row " << i;
}

TEST(Inflate, OutputLimitCutsStoredAndCompressedData) {
    Bytes stored = {0x01, 0x03, 0x00, 0xFC, 0xFF, 0x61, 0x62, 0x63};
    EXPECT_EQ(inflate_bytes(stored, 2), (Bytes{0x61, 0x62}));
    EXPECT_EQ(inflate_bytes(stored, 0), Bytes{});
    Bytes run = fixed_block("x", {{285, 0}, {285, 0}});
    EXPECT_EQ(inflate_bytes(run).size(), 517u);
    EXPECT_EQ(inflate_bytes(run, 300), Bytes(300, 'x'));
    EXPECT_EQ(inflate_bytes(run, 517).size(), 517u);
    EXPECT_EQ(inflate_bytes(run, 518).size(), 517u);
    // A bomb that turns into garbage after its first megabyte: with a limit below that point the
    // caller gets the bytes, not the error.
    std::vector<std::pair<int, int>> copies(4100, {285, 0});
    copies.push_back({286, 0});
    Bytes bomb = fixed_block("x", copies);
    EXPECT_EQ(outcome(bomb), "error: Código de comprimento inválido");
    EXPECT_EQ(inflate_bytes(bomb, 1 << 20).size(), size_t{1} << 20);
}

}  // namespace
