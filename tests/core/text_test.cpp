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

TEST(Text, ConvertsBothWaysAndReplacesIllFormedText) {
    const std::wstring emoji = WIDE_IS_UTF16 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)} : std::wstring(1, wchar_t(0x1F600));
    const std::pair<std::string, std::wstring> cases[] = {
        {"", L""}, {"C:\\docs\\a.pdf", L"C:\\docs\\a.pdf"}, {"a\xC3\xA7\xC3\xA3o", L"a\u00E7\u00E3o"},
        {"\xE2\x80\x94 \xE2\x86\x92", L"\u2014 \u2192"}, {"x\xF0\x9F\x98\x80y", L"x" + emoji + L"y"},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::to_wide(c.first), c.second) << c.first;
        EXPECT_EQ(text::to_utf8(c.second), c.first);
    }
    EXPECT_EQ(text::to_wide("a\xFF" "b\xE2\x82"), L"a\uFFFDb\uFFFD");
    EXPECT_EQ(text::to_utf8(std::wstring{L'a', wchar_t(0xD800), L'b'}), "a\xEF\xBF\xBD" "b");
}

// What a hostile service could send to the operator's terminal, and what the terminal gets.
TEST(Text, DisplaySafeEscapesControlsAndIllFormedText) {
    const std::pair<std::string, std::string> rows[] = {
        {"a\xC3\xA7\xE2\x80\x94 \xF0\x9F\x98\x80", "a\xC3\xA7\xE2\x80\x94 \xF0\x9F\x98\x80"}, {"\x1b[2J\a", "\\x1b[2J\\x07"},
        {std::string("a\0b", 3), "a\\x00b"}, {"l1\nl2\tc\r\x7f", "l1\\x0al2\\x09c\\x0d\\x7f"},
        {"\xC2\x85\xC2\x9B\xC2\xA0", "\\u0085\\u009b\xC2\xA0"}, {"a\xFF\x9B" "b\xED\xA0\x80\xC0\xAF", "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& r : rows) EXPECT_EQ(text::display_safe(r.first), r.second) << r.first;
}

TEST(Text, ReadAllReadsWholeFilesAndNothingElse) {
    TempDir dir;
    std::vector<uint8_t> big(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    const std::string name = dir.file("a\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xF0\x9F\x98\x80.bin");
    write_bytes(name, big);
    EXPECT_EQ(text::read_all(name), big);
    write_bytes(dir.file("empty.bin"), {});
    for (const std::string& nothing : {dir.file("missing.bin"), dir.path(), dir.file("empty.bin")}) {
        EXPECT_TRUE(text::read_all(nothing).empty()) << nothing;
    }
    fileutils::OutFile out;
    ASSERT_TRUE(out.create(dir.file("busy.txt")));
    ASSERT_TRUE(out.write("abc", 3));
    ASSERT_TRUE(out.flush());
#ifdef _WIN32
    EXPECT_TRUE(text::read_all(dir.file("busy.txt")).empty());  // read sharing only: a writer locks readers out
#else
    EXPECT_EQ(text::read_all(dir.file("busy.txt")).size(), 3u);  // no share modes here
#endif
    out.close();
    EXPECT_EQ(text::read_all(dir.file("busy.txt")), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

}  // namespace
