#include "core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fileutils.h"
#include "support/support.h"

namespace {

using testing_support::TempDir;
using testing_support::write_bytes;

// UTF-16 on Windows (surrogate pairs), UTF-32 elsewhere.
constexpr bool WIDE_IS_UTF16 = sizeof(wchar_t) == 2;

struct RoundTrip {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

TEST(Text, ConvertsBothWaysTable) {
    const std::wstring emoji = WIDE_IS_UTF16 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                             : std::wstring(1, static_cast<wchar_t>(0x1F600));
    const RoundTrip cases[] = {
        {"empty", "", L""},
        {"ascii", "C:\\docs\\a.pdf", L"C:\\docs\\a.pdf"},
        {"latin", "a\xC3\xA7\xC3\xA3o", L"a\u00E7\u00E3o"},
        {"dash and arrow", "\xE2\x80\x94 \xE2\x86\x92", L"\u2014 \u2192"},
        {"non-BMP", "\xF0\x9F\x98\x80", emoji},
        {"non-BMP between", "x\xF0\x9F\x98\x80y", L"x" + emoji + L"y"},
        {"nul inside", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text::to_wide(c.utf8), c.wide);
        EXPECT_EQ(text::to_utf8(c.wide), c.utf8);
    }
    EXPECT_EQ(text::to_wide("\xF0\x9F\x98\x80").size(), WIDE_IS_UTF16 ? 2u : 1u);
}

TEST(Text, IllFormedInputBecomesReplacementCharacter) {
    EXPECT_EQ(text::to_wide("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(text::to_wide("a\xE2\x82"), L"a\uFFFD");
    EXPECT_EQ(text::to_utf8(std::wstring{L'a', wchar_t(0xD800), L'b'}), "a\xEF\xBF\xBD" "b");
}

// What a hostile service could send to the operator's terminal, and what the terminal gets.
TEST(Text, DisplaySafeEscapesControlsAndIllFormedText) {
    const struct {
        std::string in, out;
    } rows[] = {
        {"a\xC3\xA7\xE2\x80\x94 \xF0\x9F\x98\x80", "a\xC3\xA7\xE2\x80\x94 \xF0\x9F\x98\x80"},
        {"\x1b[2J\a", "\\x1b[2J\\x07"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"l1\nl2\tc\r\x7f", "l1\\x0al2\\x09c\\x0d\\x7f"},
        {"\xC2\x85\xC2\x9B\xC2\xA0", "\\u0085\\u009b\xC2\xA0"},
        {"a\xFF\x9B" "b\xED\xA0\x80", "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
    };
    for (const auto& r : rows) EXPECT_EQ(text::display_safe(r.in), r.out) << r.in;
}

TEST(Text, ReadAllGivesEmptyForMissingFolderAndEmptyFile) {
    TempDir dir;
    EXPECT_TRUE(text::read_all(dir.file("missing.bin")).empty());
    EXPECT_TRUE(text::read_all(dir.path()).empty());
    write_bytes(dir.file("empty.bin"), {});
    EXPECT_TRUE(text::read_all(dir.file("empty.bin")).empty());
}

TEST(Text, ReadAllReadsWholeFile) {
    TempDir dir;
    const std::vector<uint8_t> small = {0, 1, 2, 0xFF, '\r', '\n', 0x1A, 7};
    write_bytes(dir.file("small.bin"), small);
    EXPECT_EQ(text::read_all(dir.file("small.bin")), small);

    std::vector<uint8_t> big(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    const std::string name = dir.file("a\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xF0\x9F\x98\x80.bin");
    write_bytes(name, big);
    EXPECT_EQ(text::read_all(name), big);
}

TEST(Text, ReadAllRefusesFileOpenForWriting) {
    TempDir dir;
    const std::string path = dir.file("busy.txt");
    fileutils::OutFile out;
    ASSERT_TRUE(out.create(path));
    ASSERT_TRUE(out.write("abc", 3));
    ASSERT_TRUE(out.flush());
#ifdef _WIN32
    EXPECT_TRUE(text::read_all(path).empty());  // read sharing only: a writer locks readers out
#else
    EXPECT_EQ(text::read_all(path), (std::vector<uint8_t>{'a', 'b', 'c'}));  // no share modes here
#endif
    out.close();
    EXPECT_EQ(text::read_all(path), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

}  // namespace
