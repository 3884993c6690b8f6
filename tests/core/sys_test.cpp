#include "core/sys.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

TEST(Sys, ClockSleepAndLocalTime) {
    const uint64_t before = sys::tick_count_ms();
    sys::sleep_ms(50);
    sys::sleep_ms(-5);  // no wait, no hang
    EXPECT_GE(sys::tick_count_ms() - before, 30u);  // Windows ticks are up to ~16 ms apart
    EXPECT_EQ(sys::local_time("%Y%m%d_%H%M%S").size(), 15u);
    // Longer than the 32-byte buffer: strftime gives nothing rather than a cut text.
    EXPECT_EQ(sys::local_time("%Y-%m-%d %H:%M:%S %Y-%m-%d %H:%M:%S"), "");
}

// The large-page hint is only a hint: what the buffer holds stays, and errno, which a caller may
// be about to read for an earlier failure, is left alone.
TEST(Sys, LargeBufferHintKeepsContentsAndErrno) {
    std::vector<uint8_t> buf(size_t(9) << 20);
    for (size_t i = 0; i < buf.size(); i += 4093) buf[i] = uint8_t(i);
    errno = ENOENT;
    sys::advise_large_buffer(buf.data() + 1, buf.size() - 1);
    sys::advise_large_buffer(nullptr, 0);
    EXPECT_EQ(errno, ENOENT);
    for (size_t i = 0; i < buf.size(); i += 4093) ASSERT_EQ(buf[i], uint8_t(i)) << i;
}

}  // namespace
