#include "imaging/ccitt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// "0111 11" -> bytes, MSB first, blanks ignored, the last byte padded with 0 bits.
Bytes bits(const std::string& text) {
    Bytes out;
    size_t n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

const std::string EOL = "000000000001";

int walk(const std::vector<ccitt::HuffNode>& tree, const std::string& code) {
    int node = 0;
    for (char c : code) {
        if (tree[static_cast<size_t>(node)].value >= 0) return -2;  // a shorter code ended first
        node = c == '0' ? tree[static_cast<size_t>(node)].child0 : tree[static_cast<size_t>(node)].child1;
        if (node < 0) return -1;
    }
    return tree[static_cast<size_t>(node)].value;
}

Bytes g3(const std::string& text, int width, int rows, bool two_d = false, bool aligned = false) {
    Bytes in = bits(text);
    return ccitt::decode_group3(in.data(), in.size(), width, rows, two_d, aligned);
}

Bytes g4(const std::string& text, int width, int rows) {
    Bytes in = bits(text);
    return ccitt::decode_group4(in.data(), in.size(), width, rows);
}

TEST(CcittTables, TreesHaveTheT4Shape) {
    const ccitt::Tables* t = ccitt::get_tables();
    ASSERT_TRUE(t->built);
    EXPECT_EQ(t->white.size(), 208u);
    EXPECT_EQ(t->black.size(), 208u);
    EXPECT_EQ(ccitt::get_tables(), t);
    for (const auto* tree : {&t->white, &t->black}) {
        size_t leaves = 0;
        for (const auto& n : *tree) {
            if (n.value >= 0) {
                ++leaves;
                EXPECT_EQ(n.child0, -1);
                EXPECT_EQ(n.child1, -1);
            }
        }
        EXPECT_EQ(leaves, 64u + 27u + 13u);
    }
}

TEST(CcittTables, SampleCodes) {
    const ccitt::Tables* t = ccitt::get_tables();
    struct Row {
        const char* code;
        int white;  // -1: no code of that colour
        int black;
    };
    const Row rows[] = {
        {"00110101", 0, -1},     {"0000110111", -1, 0},  {"11011", 64, -2},
        {"0000001111", -1, 64},  {"00000001000", 1792, 1792}, {"000000011111", 2560, 2560},
        {"010011011", 1728, -2}, {"0000001100101", -1, 1728}, {"0111", 2, -2},
        {"11", -1, 2},           {"00000000", -1, -1},   {EOL.c_str(), -1, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        int w = walk(t->white, row.code);
        int b = walk(t->black, row.code);
        if (row.white >= 0) EXPECT_EQ(w, row.white);
        else EXPECT_LT(w, 0);
        if (row.black >= 0) EXPECT_EQ(b, row.black);
        else EXPECT_LT(b, 0);
    }
}

#if GTEST_HAS_DEATH_TEST
TEST(CcittTables, FirstCallFromManyThreadsBuildsOnce) {
    // Runs in a fresh process so that the trees really are built by the racing threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<bool> go{false};
            std::vector<const ccitt::Tables*> seen(8, nullptr);
            std::vector<std::thread> threads;
            for (size_t i = 0; i < seen.size(); ++i) {
                threads.emplace_back([&, i] {
                    while (!go) std::this_thread::yield();
                    seen[i] = ccitt::get_tables();
                });
            }
            go = true;
            for (auto& th : threads) th.join();
            bool ok = true;
            for (const auto* p : seen) {
                ok = ok && p == seen[0] && p->built && p->white.size() == 208 && p->black.size() == 208;
            }
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST(Ccitt, NoInputOrNoSize) {
    EXPECT_EQ(ccitt::decode_group3(nullptr, 0, 10, 3, false), Bytes(6, 0));
    EXPECT_EQ(ccitt::decode_group4(nullptr, 0, 10, 3), Bytes(6, 0));
    EXPECT_EQ(g4("1111", 0, 5), Bytes{});
    EXPECT_EQ(g3("0111 11", 4, 0), Bytes{});
    EXPECT_THROW(ccitt::decode_group4(nullptr, 0, -100, 5), std::length_error);
    EXPECT_THROW(ccitt::decode_group3(nullptr, 0, 8, -1, false), std::length_error);
}

TEST(Ccitt, Group4Lines) {
    struct Row {
        const char* name;
        std::string bits;
        int width, rows;
        Bytes expected;
    };
    const Row rows[] = {
        // horizontal (white 3, black 2), then V0 against the empty reference: to the width
        {"horizontal_then_v0", "001 1000 11 1", 8, 1, {0x18}},
        {"v0_on_empty_reference", "1", 8, 1, {0x00}},
        // Second line: VR1, V0, V0 against 3, 5, 8
        {"second_line_vertical", "001 1000 11 1  011 1 1", 8, 2, {0x18, 0x08}},
        {"pass_mode", "001 1000 11 1  0001 1", 8, 2, {0x18, 0x00}},
        // Second line against 2, 7, 16: VL3 from 2 (clamped to 0), VR2 from 7, V0 to the width
        {"vl3_and_vr2", "001 0111 0011 1  0000010 000011 1", 16, 2, {0x3E, 0x00, 0xFF, 0x80}},
        // The reference is the decoded list 0, 0, 8 (white 0, black 0, V0), not the pixels: the
        // next line's V0 lands on 0 and the line turns black
        {"decoded_list_is_the_reference", "001 00110101 0000110111 1  1 1", 8, 2, {0x00, 0xFF}},
        // End of facsimile block: stops, later rows stay white
        {"eofb_stops", "1 " + EOL + EOL + " 1", 8, 3, {0x00, 0x00, 0x00}},
        {"cut_inside_horizontal", "001 1000", 8, 1, {0x00}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(g4(row.bits, row.width, row.rows), row.expected);
    }
}

TEST(Ccitt, Decode2dLineChangeLists) {
    auto line = [](const std::string& text, const std::vector<int>& reference, std::vector<int>& current) {
        const Bytes in = bits(text);
        ccitt::BitReader r(in.data(), in.size());
        return ccitt::decode_2d_line(r, reference, current, 8);
    };
    std::vector<int> current;
    EXPECT_TRUE(line("001 1000 11 1", {}, current));
    EXPECT_EQ(current, (std::vector<int>{3, 5, 8}));
    EXPECT_TRUE(line("1", {}, current));
    EXPECT_EQ(current, std::vector<int>{8});
    // Six 0 bits end the line: usable only when something was decoded before them.
    EXPECT_FALSE(line(EOL, {}, current));
    EXPECT_TRUE(line("011 " + EOL, {2, 4}, current));
    EXPECT_EQ(current, std::vector<int>{3});
}

TEST(Ccitt, Decode2dLineGivesUpAfterTooManyModes) {
    // VL1 against an empty reference lands on 7 again and again: a0 never reaches the width.
    std::string text;
    for (int i = 0; i < 100; ++i) text += "010";
    Bytes in = bits(text);
    ccitt::BitReader r(in.data(), in.size());
    std::vector<int> current;
    EXPECT_FALSE(ccitt::decode_2d_line(r, {}, current, 8));
    EXPECT_EQ(r.bitpos, (2u * 8u + 64u) * 3u);
    EXPECT_EQ(g4(text + " 1", 8, 2), Bytes(2, 0));
}

TEST(Ccitt, Group3OneDimensional) {
    struct Row {
        const char* name;
        std::string bits;
        int width, rows;
        Bytes expected;
    };
    const Row rows[] = {
        {"plain", "0111 11", 4, 1, {0x30}},
        {"after_eol", EOL + "0111 11", 4, 1, {0x30}},
        {"after_fill_and_eol", "0000000" + EOL + "0111 11", 4, 1, {0x30}},
        {"repeated_eols", EOL + EOL + "0111 11", 4, 1, {0x30}},
        {"two_rows_with_eols", EOL + "0111 11" + EOL + "1000 010", 4, 2, {0x30, 0x10}},
        {"data_ends_after_eol", "00" + EOL + "0111 11" + EOL, 4, 2, {0x30, 0x00}},
        {"white_line_needs_no_black_run", "1000", 3, 1, {0x00}},
        {"black_to_the_end", "00110101 0000111", 12, 1, {0xFF, 0xF0}},
        // make-up + terminating: white 64 + 2, black 62 (to the width)
        {"make_up_codes", "11011 0111 000001100110", 128, 1,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // runs longer than the line are cut to it
        {"run_cut_to_width", "00110101 0000001111 0000110111", 8, 1, {0xFF}},
        // white 64 then 8 zeros (no code): the run is the 64 of the make-up code; then black 2
        // and white 62 finish the line
        {"make_up_then_invalid", "11011 00000000 11 00110011", 128, 1,
         {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0}},
        // first code of row 1 invalid: everything stays white, valid data after it included
        {"invalid_first_code_stops", "00000000 0111 11" + EOL + "0111 11", 4, 2, {0x00, 0x00}},
        // white 3, black 2, then no code: row 1 is kept; row 2 is searched from the next bit
        {"partial_line_kept", "1000 11 00000000 " + EOL + "00110101 0000010111", 16, 2,
         {0x18, 0x00, 0xFF, 0xFF}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(g3(row.bits, row.width, row.rows), row.expected);
    }
}

TEST(Ccitt, Group3TwoDimensional) {
    struct Row {
        const char* name;
        std::string bits;
        Bytes expected;
    };
    const std::string first = EOL + "1 1000 11 1000";  // tag 1: one-dimensional, 00011000
    const Row rows[] = {
        {"tag_1_then_tag_0", first + EOL + "0 011 1 1", {0x18, 0x08}},
        {"tag_1_twice", first + EOL + "1 1000 11 1000", {0x18, 0x18}},
        {"no_eol_is_one_dimensional", "1000 11 1000" + EOL + "0 1 1 1", {0x18, 0x18}},
        {"2d_line_failing_stops", first + EOL + "0 " + EOL, {0x18, 0x00}},
        // Row 1 is a partial one-dimensional line (white 2, black 3, then no code); row 2 copies
        // it with V0 codes.
        {"reference_is_the_painted_partial_row", EOL + "1 0111 10 00000000" + EOL + "0 1 1 1", {0x38, 0x38}},
        // Row 1 decodes to the list 0, 0, 8 but paints nothing: the reference is empty, so a lone
        // V0 in row 2 runs white to the width (Group 4 would have turned it black).
        {"reference_is_not_the_decoded_list", EOL + "0 001 00110101 0000110111 1" + EOL + "0 1", {0x00, 0x00}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(g3(row.bits, 8, 2, true), row.expected);
    }
    // With two_dimensional false there is no tag bit: "01000" reads as white 11, a white row.
    EXPECT_EQ(g3(EOL + "0 1000 11 1000", 8, 1, false), (Bytes{0x00}));
}

TEST(Ccitt, ByteAlignedRowsForCompression2) {
    // Row 1: white 2, black 2 (6 bits, 2 padding bits); row 2: white 3, black 1.
    const std::string text = "0111 11 00  1000 010 0";
    EXPECT_EQ(g3(text, 4, 2, false, true), (Bytes{0x30, 0x10}));
    // Without realignment row 2 starts inside the padding: "001000" is white 12, a white row.
    EXPECT_EQ(g3(text, 4, 2, false, false), (Bytes{0x30, 0x00}));
}

}  // namespace
