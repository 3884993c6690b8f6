#include "core/fileutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using testing_support::read_bytes;
using testing_support::TempDir;
using testing_support::write_text;

std::string text_of(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

TEST(FileUtils, SizesAndNames) {
    const std::pair<unsigned long long, const char*> sizes[] = {
        {0, "0 B"}, {1023, "1023 B"}, {1024, "1 KB"}, {1048575, "1023 KB"}, {1048576, "1 MB"},
        {52428800, "50 MB"}, {5ULL << 30, "5120 MB"}, {~0ULL, "17592186044415 MB"},
    };
    for (const auto& s : sizes) EXPECT_EQ(fileutils::format_size(s.first), s.second) << s.first;
    EXPECT_EQ(fileutils::join("dir", "a.pdf"), "dir" + std::string(1, fileutils::PATH_SEP) + "a.pdf");
    for (const char* path : {"C:\\x\\y.pdf", "/x/y.pdf", "a/b\\y.pdf", "y.pdf"}) EXPECT_EQ(fileutils::base_name(path), "y.pdf");
    EXPECT_EQ(fileutils::base_name("dir/"), "");
}

// A fault here makes a deep folder unreachable (prefix missing or malformed), or sends the
// platform a path it no longer cleans up by itself ('/', ".", "..") and so names another file.
TEST(FileUtils, ExtendedLengthPathTable) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\scans\\a.tif", "\\\\?\\C:\\scans\\a.tif"}, {"c:/scans/2026/a.tif", "\\\\?\\c:\\scans\\2026\\a.tif"},
        {"C:\\", "\\\\?\\C:\\"}, {"C:\\a\\\\b\\", "\\\\?\\C:\\a\\b"}, {"C:\\a\\.\\b\\..\\c", "\\\\?\\C:\\a\\c"},
        {"C:\\..\\..\\a", "\\\\?\\C:\\a"}, {"C:\\dir.\\name. ", "\\\\?\\C:\\dir\\name"}, {"C:\\...\\x", "\\\\?\\C:\\...\\x"},
        {"\\\\servidor\\scans\\f.pdf", "\\\\?\\UNC\\servidor\\scans\\f.pdf"}, {"//servidor/scans/../x", "\\\\?\\UNC\\servidor\\scans\\x"},
        {"\\\\servidor", "\\\\servidor"}, {"\\\\?\\C:\\a/./b", "\\\\?\\C:\\a/./b"}, {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
        {"relative\\a.pdf", "relative\\a.pdf"}, {"..\\a.pdf", "..\\a.pdf"}, {"C:a.pdf", "C:a.pdf"},
        {"\\rooted\\a.pdf", "\\rooted\\a.pdf"}, {"/tmp/a.pdf", "/tmp/a.pdf"}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(fileutils::extended_length_path(c.first), c.second) << c.first;
}

// Every helper on a folder far beyond 260 characters (Windows refuses such paths without the
// prefix; Wine does not, but a malformed prefix still fails there), and on what is not a file.
TEST(FileUtils, HelpersReachDeepFoldersAndTellFilesFromFolders) {
    TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; deep.size() < 320; ++i) {
        deep = fileutils::join(deep, "pasta_de_digitalizações_" + std::to_string(i));
        ASSERT_TRUE(fileutils::create_directory(deep)) << deep;
    }
    EXPECT_FALSE(fileutils::create_directory(deep));  // already there
    EXPECT_FALSE(fileutils::create_directory(fileutils::join(dir.file("no"), "deeper")));
    const std::string file = fileutils::join(deep, "a.pdf");
    ASSERT_TRUE(fileutils::write_file(file, "%PDF-1.4", 8));
    uint64_t size = 0;
    EXPECT_TRUE(fileutils::file_size(file, size));
    EXPECT_EQ(size, 8u);
    EXPECT_TRUE(fileutils::exists(file));
    EXPECT_FALSE(fileutils::is_directory(file));
    EXPECT_TRUE(fileutils::is_directory(deep));
    EXPECT_EQ(text_of(fileutils::read_head(file, 4)), "%PDF");
    EXPECT_EQ(text_of(fileutils::read_head(file, 16)), "%PDF-1.4");
    EXPECT_TRUE(fileutils::file_size(dir.path(), size));
    EXPECT_EQ(size, 0u);
    for (const std::string& missing : {dir.file("missing")}) {
        EXPECT_FALSE(fileutils::file_size(missing, size));
        EXPECT_FALSE(fileutils::exists(missing));
        EXPECT_FALSE(fileutils::is_directory(missing));
        EXPECT_TRUE(fileutils::read_head(missing, 16).empty());
    }
    EXPECT_TRUE(fileutils::read_head(dir.path(), 16).empty());
    EXPECT_TRUE(fileutils::is_directory(fileutils::current_dir()));
}

// The results log: lines flushed while another reader has the file open, a fresh name refused
// when taken, every byte of a large write, and no writing into a folder.
TEST(FileUtils, OutFileAndWriteFile) {
    TempDir dir;
    const std::string path = dir.file("out.jsonl");
    write_text(path, "old content that is longer");
    fileutils::OutFile out;
    ASSERT_TRUE(out.create(path));
    ASSERT_TRUE(out.write("line 1\n", 7));
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(text_of(read_bytes(path)), "line 1\n");
    ASSERT_TRUE(out.write("line 2\n", 7));
    out.close();
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(out.write("x", 1));
    EXPECT_EQ(text_of(read_bytes(path)), "line 1\nline 2\n");

    EXPECT_FALSE(out.create_new(path));
    EXPECT_EQ(text_of(read_bytes(path)), "line 1\nline 2\n");
    ASSERT_TRUE(out.create_new(dir.file("fresh.json")));
    out.close();

    std::vector<uint8_t> data(2 * 1024 * 1024 + 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    ASSERT_TRUE(fileutils::write_file(dir.file("w.bin"), data.data(), data.size()));
    EXPECT_EQ(read_bytes(dir.file("w.bin")), data);
    EXPECT_FALSE(fileutils::write_file(fileutils::join(dir.file("no"), "x.bin"), "a", 1));
    EXPECT_FALSE(fileutils::write_file(dir.path(), "a", 1));
}

}  // namespace
