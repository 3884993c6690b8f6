#include "imaging/lzw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Packs codes MSB-first, tracking the table growth a TIFF LZW decoder goes through so that each
// code gets the width the decoder will read it with.
class LzwStream {
public:
    void code(int c) {
        raw(c, width_);
        if (c == 256) {
            width_ = 9;
            next_ = 258;
            have_prev_ = false;
            return;
        }
        if (have_prev_ && next_ <= 4095 && ++next_ >= (1 << width_) - 1 && width_ < 12) ++width_;
        have_prev_ = true;
    }
    // Writes `c` with an explicit width and no table bookkeeping.
    void raw(int c, int width) {
        for (int i = width - 1; i >= 0; --i, ++nbits_) {
            if (nbits_ % 8 == 0) bytes_.push_back(0);
            if ((c >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (nbits_ % 8));
        }
    }
    int next() const { return next_; }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    size_t nbits_ = 0;
    int width_ = 9, next_ = 258;
    bool have_prev_ = false;
};

Bytes decode(const Bytes& in, size_t max_out = SIZE_MAX) {
    return tiff::decode_lzw(in.data(), in.size(), max_out);
}

Bytes codes(std::initializer_list<int> list) {
    LzwStream s;
    for (int c : list) s.code(c);
    return s.bytes();
}

TEST(Lzw, ShortStreams) {
    struct Row {
        const char* name;
        std::initializer_list<int> codes;
        Bytes expected;
    };
    const Row rows[] = {
        {"pair_as_new_code", {256, 65, 66, 258, 257}, {0x41, 0x42, 0x41, 0x42}},
        {"kwkwk", {256, 65, 258, 257}, {0x41, 0x41, 0x41}},
        {"first_code_beyond_table", {300, 65, 257}, {}},
        {"beyond_table_after_output", {256, 65, 66, 300, 67, 257}, {0x41, 0x42}},
        {"new_code_right_after_clear", {256, 65, 256, 258, 66, 257}, {0x41}},
        {"end_stops_reading", {65, 257, 66}, {0x41}},
        {"clear_resets_table", {65, 66, 67, 256, 68, 259, 257}, {0x41, 0x42, 0x43, 0x44}},
        {"clear_and_end_are_never_expanded", {65, 66, 256, 67, 257}, {0x41, 0x42, 0x43}},
        // 36 bits in 5 bytes: the 4 padding bits still make one (zero-filled) code.
        {"no_end_of_information", {256, 65, 66, 258}, {0x41, 0x42, 0x41, 0x42, 0x00}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decode(codes(row.codes)), row.expected);
    }
    EXPECT_TRUE(decode({}).empty());
    // 65 then 66 (001000010): only 7 bits of 66 remain in two bytes, so it reads 001000000 = 64.
    Bytes in = codes({65, 66});
    in.resize(2);
    EXPECT_EQ(decode(in), (Bytes{0x41, 0x40}));
}

// The width grows at 511, 1023 and 2047 entries (early change); past 4095 nothing is added.
TEST(Lzw, FullTableKeepsDecodingAt12BitsUntilClear) {
    LzwStream s;
    Bytes expected;
    for (int i = 0; i < 4000; ++i) {
        s.code(i % 251);
        expected.push_back(static_cast<uint8_t>(i % 251));
    }
    ASSERT_EQ(s.next(), 4096);
    // Entry 4095 was the last one added: the string of codes 3837 and 3838 (previous + first).
    s.code(4095);
    expected.push_back(static_cast<uint8_t>(3837 % 251));
    expected.push_back(static_cast<uint8_t>(3838 % 251));
    // No entry is added any more and the width stays 12.
    s.raw(0, 12);
    expected.push_back(0);
    s.code(256);
    s.code(66);
    s.code(257);
    expected.push_back(0x42);
    EXPECT_EQ(decode(s.bytes()), expected);
}

// Each code repeats the longest string so far plus one byte (KwKwK chains): a kilobyte of codes
// expands to hundreds of kilobytes, and the caller's limit cuts the output exactly there.
TEST(Lzw, OutputLimitCutsTheBombExactly) {
    LzwStream s;
    s.code(256);
    s.code(0);
    for (int next = 258; s.bytes().size() < 1024;) {
        s.code(next++);
        if (next == 4095) {
            s.code(256);
            s.code(0);
            next = 258;
        }
    }
    const Bytes full = decode(s.bytes());
    EXPECT_GT(full.size(), 200000u);
    for (size_t limit : {size_t{0}, size_t{1}, size_t{2}, size_t{100}, size_t{4096}, full.size() - 1, full.size(),
                         full.size() + 1}) {
        SCOPED_TRACE(limit);
        const Bytes cut = decode(s.bytes(), limit);
        EXPECT_EQ(cut.size(), std::min(limit, full.size()));
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
    }
}

}  // namespace
