#include <gtest/gtest.h>

#include <vector>

#include "imaging/msb_bits.h"

// The reader under both LZW and CCITT: codes that straddle bytes, and the zero bits it makes up
// past the end (the whole-word load and the byte-by-byte tail must agree).
TEST(MsbBitReader, ReadsAcrossBytesAndPadsWithZeros) {
    const std::vector<uint8_t> data = {0xA5, 0x0F, 0xFF, 0x00, 0x81};
    imaging::MsbBitReader r(data.data(), data.size());
    EXPECT_EQ(r.peek(1), 1u);
    EXPECT_EQ(r.peek(8), 0xA5u);
    EXPECT_EQ(r.read(4), 0xAu);
    EXPECT_EQ(r.peek(8), 0x50u);
    EXPECT_EQ(r.read(12), 0x50Fu);
    EXPECT_EQ(r.bits_left(), 24u);
    EXPECT_EQ(r.peek(25), 0xFF0081u << 1);  // one made-up 0 bit
    r.bitpos = 3;
    EXPECT_EQ(r.peek(25), (0xA50FFF00u >> 4) & 0x1FFFFFFu);  // a whole word from the first byte
    r.bitpos = 37;
    EXPECT_EQ(r.bits_left(), 3u);
    EXPECT_EQ(r.read(8), 0x20u);  // 001 and five made-up zeros
    EXPECT_TRUE(r.at_end());
    EXPECT_EQ(r.bits_left(), 0u);
    EXPECT_EQ(r.peek(12), 0u);
}
