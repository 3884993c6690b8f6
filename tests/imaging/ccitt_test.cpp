#include "imaging/ccitt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
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

Bytes g3(const std::string& text, int width, int rows, bool two_d = false, bool aligned = false) {
    Bytes in = bits(text);
    return ccitt::decode_group3(in.data(), in.size(), width, rows, two_d, aligned);
}

Bytes g4(const std::string& text, int width, int rows) {
    Bytes in = bits(text);
    return ccitt::decode_group4(in.data(), in.size(), width, rows);
}

TEST(Ccitt, NoInputOrNoSize) {
    EXPECT_EQ(ccitt::decode_group3(nullptr, 0, 10, 3, false), Bytes(6, 0));
    EXPECT_EQ(ccitt::decode_group4(nullptr, 0, 10, 3), Bytes(6, 0));
    EXPECT_EQ(g4("1111", 0, 5), Bytes{});
    EXPECT_EQ(g3("0111 11", 4, 0), Bytes{});
}

enum Coding { G4, G3, G3_2D };

TEST(Ccitt, Lines) {
    const std::string first = EOL + "1 1000 11 1000";  // G3 2-D, tag 1: one-dimensional, 00011000
    std::string never_ends;  // VL1 on an empty reference lands on 7 again and again: given up
    for (int i = 0; i < 100; ++i) never_ends += "010";
    const struct Row {
        const char* name;
        Coding coding;
        std::string bits;
        int width, rows;
        Bytes expected;
    } rows[] = {
        // horizontal (white 3, black 2), then V0 against the empty reference: to the width
        {"horizontal_then_v0", G4, "001 1000 11 1", 8, 1, {0x18}},
        {"v0_on_empty_reference", G4, "1", 8, 1, {0x00}},
        // Second line: VR1, V0, V0 against 3, 5, 8
        {"second_line_vertical", G4, "001 1000 11 1  011 1 1", 8, 2, {0x18, 0x08}},
        {"pass_mode", G4, "001 1000 11 1  0001 1", 8, 2, {0x18, 0x00}},
        // Second line against 2, 7, 16: VL3 from 2 (clamped to 0), VR2 from 7, V0 to the width
        {"vl3_and_vr2", G4, "001 0111 0011 1  0000010 000011 1", 16, 2, {0x3E, 0x00, 0xFF, 0x80}},
        // The reference is the decoded list 0, 0, 8 (white 0, black 0, V0), not the pixels: the
        // next line's V0 lands on 0 and the line turns black
        {"decoded_list_is_the_reference", G4, "001 00110101 0000110111 1  1 1", 8, 2, {0x00, 0xFF}},
        // End of facsimile block: stops, later rows stay white
        {"eofb_stops", G4, "1 " + EOL + EOL + " 1", 8, 3, {0x00, 0x00, 0x00}},
        {"cut_inside_horizontal", G4, "001 1000", 8, 1, {0x00}},
        {"line_that_never_ends", G4, never_ends + " 1", 8, 2, {0x00, 0x00}},
        {"plain", G3, "0111 11", 4, 1, {0x30}},
        {"after_eol", G3, EOL + "0111 11", 4, 1, {0x30}},
        {"after_fill_and_eol", G3, "0000000" + EOL + "0111 11", 4, 1, {0x30}},
        {"repeated_eols", G3, EOL + EOL + "0111 11", 4, 1, {0x30}},
        {"two_rows_with_eols", G3, EOL + "0111 11" + EOL + "1000 010", 4, 2, {0x30, 0x10}},
        {"data_ends_after_eol", G3, "00" + EOL + "0111 11" + EOL, 4, 2, {0x30, 0x00}},
        {"white_line_needs_no_black_run", G3, "1000", 3, 1, {0x00}},
        {"black_to_the_end", G3, "00110101 0000111", 12, 1, {0xFF, 0xF0}},
        // make-up + terminating: white 64 + 2, black 62 (to the width)
        {"make_up_codes", G3, "11011 0111 000001100110", 128, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // runs longer than the line are cut to it
        {"run_cut_to_width", G3, "00110101 0000001111 0000110111", 8, 1, {0xFF}},
        // white 64 then 8 zeros (no code): the run is the 64 of the make-up code; then black 2
        // and white 62 finish the line
        {"make_up_then_invalid", G3, "11011 00000000 11 00110011", 128, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0}},
        // first code of row 1 invalid: everything stays white, valid data after it included
        {"invalid_first_code_stops", G3, "00000000 0111 11" + EOL + "0111 11", 4, 2, {0x00, 0x00}},
        // white 3, black 2, then no code: row 1 is kept; row 2 is searched from the next bit
        {"partial_line_kept", G3, "1000 11 00000000 " + EOL + "00110101 0000010111", 16, 2, {0x18, 0x00, 0xFF, 0xFF}},
        // Without the two-dimensional option there is no tag bit: "01000" reads as white 11.
        {"no_tag_bit_in_1d", G3, EOL + "0 1000 11 1000", 8, 1, {0x00}},
        {"tag_1_then_tag_0", G3_2D, first + EOL + "0 011 1 1", 8, 2, {0x18, 0x08}},
        {"tag_1_twice", G3_2D, first + EOL + "1 1000 11 1000", 8, 2, {0x18, 0x18}},
        {"no_eol_is_one_dimensional", G3_2D, "1000 11 1000" + EOL + "0 1 1 1", 8, 2, {0x18, 0x18}},
        {"2d_line_failing_stops", G3_2D, first + EOL + "0 " + EOL, 8, 2, {0x18, 0x00}},
        // Row 1 is a partial one-dimensional line (white 2, black 3, then no code); row 2 copies
        // it with V0 codes.
        {"reference_is_the_painted_partial_row", G3_2D, EOL + "1 0111 10 00000000" + EOL + "0 1 1 1", 8, 2, {0x38, 0x38}},
        // Row 1 decodes to the list 0, 0, 8 but paints nothing: the reference is empty, so a lone
        // V0 in row 2 runs white to the width (Group 4 would have turned it black).
        {"reference_is_not_the_decoded_list", G3_2D, EOL + "0 001 00110101 0000110111 1" + EOL + "0 1", 8, 2, {0x00, 0x00}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.coding == G4 ? g4(row.bits, row.width, row.rows) : g3(row.bits, row.width, row.rows, row.coding == G3_2D),
                  row.expected);
    }
}

TEST(Ccitt, ByteAlignedRowsForCompression2) {
    // Row 1: white 2, black 2 (6 bits, 2 padding bits); row 2: white 3, black 1.
    const std::string text = "0111 11 00  1000 010 0";
    EXPECT_EQ(g3(text, 4, 2, false, true), (Bytes{0x30, 0x10}));
    // Without realignment row 2 starts inside the padding: "001000" is white 12, a white row.
    EXPECT_EQ(g3(text, 4, 2, false, false), (Bytes{0x30, 0x00}));
}

}  // namespace
