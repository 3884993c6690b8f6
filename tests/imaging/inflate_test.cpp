#include "imaging/inflate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Deflate bit packing: header fields and extra bits least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
public:
    void field(uint32_t value, int n) {
        for (int i = 0; i < n; ++i) bit((value >> i) & 1);
    }
    void code(uint32_t code, int n) {
        for (int i = n - 1; i >= 0; --i) bit((code >> i) & 1);
    }
    void bits(const char* text) {
        for (; *text; ++text) bit(*text == '1');
    }
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

std::string inflate_text(const Bytes& in) {
    Bytes out = inflate_bytes(in);
    return std::string(out.begin(), out.end());
}

template <class F>
std::string thrown(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

std::string error_of(const Bytes& in) {
    return thrown([&] { inflate_bytes(in); });
}

// Fixed block: the given literals, then each (length symbol, distance symbol) pair, end of block.
Bytes fixed_block(const std::string& literals, std::vector<std::pair<int, int>> copies) {
    BitWriter w;
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

// Stored block "ab" (not final), then a fixed final block copying 5 bytes from distance 2.
Bytes back_reference_into_earlier_block() {
    BitWriter w;
    w.field(0, 1);  // stored, not final: "ab"
    w.field(0, 2);
    w.field(0, 5);
    w.field(2, 16);
    w.field(0xFFFD, 16);
    w.field('a', 8);
    w.field('b', 8);
    w.field(1, 1);  // fixed, final: length 5 (symbol 259) at distance 2 (symbol 1)
    w.field(1, 2);
    w.fixed_litlen(259);
    w.fixed_dist(1);
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

TEST(Inflate, ByteLevelExamples) {
    struct Row {
        const char* name;
        Bytes in;
        std::string expected;
    };
    const Row rows[] = {
        {"stored_empty", {0x01, 0x00, 0x00, 0xFF, 0xFF}, ""},
        {"stored_abc", {0x01, 0x03, 0x00, 0xFC, 0xFF, 0x61, 0x62, 0x63}, "abc"},
        {"stored_nlen_ignored", {0x01, 0x03, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63}, "abc"},
        {"fixed_abc", {0x4B, 0x4C, 0x4A, 0x06, 0x00}, "abc"},
        {"data_after_final_block_ignored", {0x01, 0x01, 0x00, 0xFE, 0xFF, 0x7A, 0x07, 0xFF}, "z"},
        {"stored_then_fixed",
         {0x00, 0x01, 0x00, 0xFE, 0xFF, 0x61, 0x4B, 0x4C, 0x4A, 0x06, 0x00},
         "aabc"},
        // 'x', then length 258 (symbol 285) at distance 1 (symbol 0).
        {"overlapping_copy_repeats_one_byte", fixed_block("x", {{285, 0}}), std::string(259, 'x')},
        {"back_reference_into_an_earlier_block", back_reference_into_earlier_block(), "abababa"},
        {"dynamic_starting_with_repeat_16", dynamic_block(false), "aa"},
        {"dynamic_repeat_past_the_end_is_cut", dynamic_block(true), "aa"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(inflate_text(row.in), row.expected);
    }
}


TEST(Inflate, ErrorMessages) {
    BitWriter no_cl_codes;  // dynamic block whose code-length code has no codes at all
    no_cl_codes.field(1, 1);
    no_cl_codes.field(2, 2);
    no_cl_codes.field(0, 14);
    no_cl_codes.field(0, 12);
    no_cl_codes.field(0xFFFF, 16);

    Bytes stored_long = {0x01, 0x05, 0x00, 0xFA, 0xFF, 0x61, 0x62};
    Bytes cut_fixed = {0x4B, 0x4C, 0x4A};
    Bytes not_final = {0x00, 0x00, 0x00, 0xFF, 0xFF};

    struct Row {
        const char* name;
        Bytes in;
        const char* message;
    };
    const Row rows[] = {
        {"empty", {}, "Dados comprimidos truncados"},
        {"stored_len_beyond_input", stored_long, "Dados comprimidos truncados"},
        {"stored_header_cut", {0x01, 0x03}, "Dados comprimidos truncados"},
        {"fixed_cut_mid_block", cut_fixed, "Dados comprimidos truncados"},
        {"no_final_block", not_final, "Dados comprimidos truncados"},
        {"block_type_3", {0x07}, "Invalid deflate block type"},
        {"length_symbol_286", fixed_block("a", {{286, 0}}), "Código de comprimento inválido"},
        {"length_symbol_287", fixed_block("a", {{287, 0}}), "Código de comprimento inválido"},
        {"distance_symbol_30", fixed_block("a", {{257, 30}}), "Código de distância inválido"},
        {"distance_symbol_31", fixed_block("a", {{257, 31}}), "Código de distância inválido"},
        {"distance_before_start", fixed_block("a", {{257, 1}}), "Distância inválida no fluxo comprimido"},
        {"copy_with_no_output", fixed_block("", {{257, 0}}), "Distância inválida no fluxo comprimido"},
        {"empty_code_length_code", no_cl_codes.bytes(), "Invalid Huffman code"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(error_of(row.in), row.message);
    }
}

TEST(Inflate, BitReaderReadsLsbFirstAndZeroBitsFreely) {
    const uint8_t in[] = {0xB5, 0x01};
    inflate::BitReader r(in, sizeof in);
    EXPECT_EQ(r.bits(0), 0u);
    EXPECT_EQ(r.pos, 0u);  // n = 0 does not touch the input
    EXPECT_EQ(r.bits(1), 1u);
    EXPECT_EQ(r.bits(3), 2u);   // 010
    EXPECT_EQ(r.bits(5), 0x1Bu);  // 1011 then the 1 of the second byte
    EXPECT_EQ(r.bits(7), 0u);
    EXPECT_THROW(r.bits(1), std::runtime_error);
    EXPECT_EQ(inflate::BitReader(nullptr, 0).bits(0), 0u);
}

TEST(Inflate, HuffTableBuildErrors) {
    inflate::HuffTable t;
    uint16_t too_long[2] = {16, 1};
    EXPECT_EQ(thrown([&] { t.build(too_long, 2); }), "Código Huffman longo demais");
    std::vector<uint16_t> many(321, 9);
    EXPECT_EQ(thrown([&] { t.build(many.data(), 321); }), "Tabela de Huffman grande demais");
}

TEST(Inflate, HuffTableDecodeErrors) {
    const uint8_t ones[] = {0xFF, 0xFF};
    inflate::HuffTable t;
    uint16_t one_code[2] = {1, 0};  // only the code 0 exists
    t.build(one_code, 2);
    inflate::BitReader r(ones, sizeof ones);
    EXPECT_EQ(thrown([&] { t.decode(r); }), "Invalid Huffman code");

    inflate::HuffTable bad;  // counts that promise more symbols than the table holds
    bad.counts[1] = 2;
    bad.num_symbols = 1;
    inflate::BitReader r2(ones, sizeof ones);
    EXPECT_EQ(thrown([&] { bad.decode(r2); }), "Tabela de Huffman inconsistente");
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
}

TEST(Inflate, LimitStopsBeforeLaterErrors) {
    // A bomb that turns into garbage after its first megabyte: with a limit below that point the
    // caller gets the bytes, not the error.
    std::vector<std::pair<int, int>> copies(4100, {285, 0});
    copies.push_back({286, 0});
    Bytes bomb = fixed_block("x", copies);
    EXPECT_EQ(error_of(bomb), "Código de comprimento inválido");
    EXPECT_EQ(inflate_bytes(bomb, 1 << 20).size(), size_t{1} << 20);
}

}  // namespace
