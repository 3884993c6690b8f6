#include "core/fileutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using testing_support::read_bytes;
using testing_support::TempDir;
using testing_support::write_bytes;
using testing_support::write_text;

TEST(FileUtils, FormatsSizesTable) {
    const struct {
        unsigned long long bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {1, "1 B"},
        {1023, "1023 B"},
        {1024, "1 KB"},
        {1536, "1 KB"},
        {1048575, "1023 KB"},
        {1048576, "1 MB"},
        {52428800, "50 MB"},
        {1073741824, "1024 MB"},
        {5ULL * 1024 * 1024 * 1024, "5120 MB"},
        {~0ULL, "17592186044415 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(fileutils::format_size(c.bytes), c.text);
    }
}

TEST(FileUtils, JoinsAndSplitsPaths) {
    const std::string sep(1, fileutils::PATH_SEP);
    EXPECT_EQ(fileutils::join("dir", "a.pdf"), "dir" + sep + "a.pdf");
    EXPECT_EQ(fileutils::join("", "a"), sep + "a");
    EXPECT_EQ(fileutils::base_name("C:\\x\\y.pdf"), "y.pdf");
    EXPECT_EQ(fileutils::base_name("/x/y/z.tif"), "z.tif");
    EXPECT_EQ(fileutils::base_name("a/b\\c"), "c");
    EXPECT_EQ(fileutils::base_name("plain"), "plain");
    EXPECT_EQ(fileutils::base_name("dir/"), "");
}

// A fault here makes a deep folder unreachable (prefix missing or malformed), or sends the
// platform a path it no longer cleans up by itself ('/', ".", "..") and so names another file.
TEST(FileUtils, ExtendedLengthPathTable) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:\\scans\\a.tif", "\\\\?\\C:\\scans\\a.tif"},
        {"c:/scans/2026/a.tif", "\\\\?\\c:\\scans\\2026\\a.tif"},
        {"C:\\", "\\\\?\\C:\\"},
        {"C:\\a\\\\b\\", "\\\\?\\C:\\a\\b"},
        {"C:\\a\\.\\b\\..\\c", "\\\\?\\C:\\a\\c"},
        {"C:\\..\\..\\a", "\\\\?\\C:\\a"},
        {"C:\\dir.\\name. ", "\\\\?\\C:\\dir\\name"},
        {"C:\\...\\x", "\\\\?\\C:\\...\\x"},
        {"C:\\digitalizações\\*", "\\\\?\\C:\\digitalizações\\*"},
        {"\\\\servidor\\scans\\2026\\f.pdf", "\\\\?\\UNC\\servidor\\scans\\2026\\f.pdf"},
        {"//servidor/scans/../x", "\\\\?\\UNC\\servidor\\scans\\x"},
        {"\\\\servidor", "\\\\servidor"},
        {"\\\\?\\C:\\a/./b", "\\\\?\\C:\\a/./b"},
        {"\\\\?\\UNC\\s\\h\\x", "\\\\?\\UNC\\s\\h\\x"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
        {"relative\\a.pdf", "relative\\a.pdf"},
        {"..\\a.pdf", "..\\a.pdf"},
        {"C:a.pdf", "C:a.pdf"},
        {"\\rooted\\a.pdf", "\\rooted\\a.pdf"},
        {"/tmp/a.pdf", "/tmp/a.pdf"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(fileutils::extended_length_path(c.in), c.out);
    }
}

// Every helper on a folder far beyond 260 characters (Windows refuses such paths without the
// prefix; Wine does not, but a malformed prefix still fails there).
TEST(FileUtils, HelpersReachDeepFolders) {
    TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; deep.size() < 320; ++i) {
        deep = fileutils::join(deep, "pasta_de_digitalizações_" + std::to_string(i));
        ASSERT_TRUE(fileutils::create_directory(deep)) << deep;
    }
    EXPECT_TRUE(fileutils::is_directory(deep));
    const std::string file = fileutils::join(deep, "a.pdf");
    ASSERT_TRUE(fileutils::write_file(file, "%PDF-1.4", 8));
    uint64_t size = 0;
    EXPECT_TRUE(fileutils::file_size(file, size));
    EXPECT_EQ(size, 8u);
    EXPECT_TRUE(fileutils::exists(file));
    EXPECT_EQ(fileutils::read_head(file, 4), std::vector<uint8_t>({'%', 'P', 'D', 'F'}));
}

TEST(FileUtils, ReportsFileFacts) {
    const std::string cwd = fileutils::current_dir();
    ASSERT_FALSE(cwd.empty());
    EXPECT_TRUE(fileutils::is_directory(cwd));
    TempDir dir;
    const std::string file = dir.file("f.bin");
    write_bytes(file, std::vector<uint8_t>(1500, 7));
    uint64_t size = 99;
    ASSERT_TRUE(fileutils::file_size(file, size));
    EXPECT_EQ(size, 1500u);
    ASSERT_TRUE(fileutils::file_size(dir.path(), size));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(fileutils::file_size(dir.file("missing"), size));

    EXPECT_TRUE(fileutils::exists(file));
    EXPECT_TRUE(fileutils::exists(dir.path()));
    EXPECT_FALSE(fileutils::exists(dir.file("missing")));
    EXPECT_FALSE(fileutils::is_directory(file));
    EXPECT_TRUE(fileutils::is_directory(dir.path()));
    EXPECT_FALSE(fileutils::is_directory(dir.file("missing")));
}

TEST(FileUtils, CreatesOneFolder) {
    TempDir dir;
    const std::string sub = dir.file("s\xC3\xA3o");
    EXPECT_TRUE(fileutils::create_directory(sub));
    EXPECT_TRUE(fileutils::is_directory(sub));
    EXPECT_FALSE(fileutils::create_directory(sub));  // already there
    EXPECT_FALSE(fileutils::create_directory(fileutils::join(dir.file("no"), "deeper")));
}

TEST(FileUtils, ReadsHead) {
    TempDir dir;
    write_text(dir.file("short"), "%PD");
    write_text(dir.file("long"), "0123456789abcdefXYZ");
    EXPECT_EQ(fileutils::read_head(dir.file("short"), 16), (std::vector<uint8_t>{'%', 'P', 'D'}));
    const auto head = fileutils::read_head(dir.file("long"), 16);
    EXPECT_EQ(std::string(head.begin(), head.end()), "0123456789abcdef");
    EXPECT_TRUE(fileutils::read_head(dir.file("missing"), 16).empty());
    EXPECT_TRUE(fileutils::read_head(dir.path(), 16).empty());
}

TEST(FileUtils, OutFileTruncatesAndLetsReadersIn) {
    TempDir dir;
    const std::string path = dir.file("out.jsonl");
    write_text(path, "old content that is longer");
    fileutils::OutFile out;
    EXPECT_FALSE(out.is_open());
    ASSERT_TRUE(out.create(path));
    EXPECT_TRUE(out.is_open());
    ASSERT_TRUE(out.write("line 1\n", 7));
    ASSERT_TRUE(out.flush());
    // Another reader (sharing reads and writes, like an editor) sees the flushed line at once.
    const auto seen = read_bytes(path);
    EXPECT_EQ(std::string(seen.begin(), seen.end()), "line 1\n");
    ASSERT_TRUE(out.write("line 2\n", 7));
    out.close();
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(out.write("x", 1));
    EXPECT_FALSE(out.flush());
    const auto all = read_bytes(path);
    EXPECT_EQ(std::string(all.begin(), all.end()), "line 1\nline 2\n");
}

TEST(FileUtils, CreateNewRefusesExistingFile) {
    TempDir dir;
    const std::string path = dir.file("r.json");
    write_text(path, "keep me");
    fileutils::OutFile out;
    EXPECT_FALSE(out.create_new(path));
    EXPECT_FALSE(out.is_open());
    const auto kept = read_bytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");

    const std::string fresh = dir.file("fresh.json");
    ASSERT_TRUE(out.create_new(fresh));
    EXPECT_TRUE(out.write("{}", 2));
    out.close();
    EXPECT_EQ(read_bytes(fresh), (std::vector<uint8_t>{'{', '}'}));
}

TEST(FileUtils, WriteFileWritesEveryByte) {
    TempDir dir;
    std::vector<uint8_t> data(2 * 1024 * 1024 + 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    ASSERT_TRUE(fileutils::write_file(dir.file("w.bin"), data.data(), data.size()));
    EXPECT_EQ(read_bytes(dir.file("w.bin")), data);
    ASSERT_TRUE(fileutils::write_file(dir.file("empty.bin"), "", 0));
    EXPECT_TRUE(fileutils::exists(dir.file("empty.bin")));
    EXPECT_FALSE(fileutils::write_file(fileutils::join(dir.file("no"), "x.bin"), "a", 1));
    EXPECT_FALSE(fileutils::write_file(dir.path(), "a", 1));  // a folder is not a file
}

}  // namespace
