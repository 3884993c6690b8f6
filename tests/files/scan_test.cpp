#include "files/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "support/support.h"

namespace {

using fileutils::FileFormat;
using fileutils::join;
using testing_support::TempDir;
using testing_support::write_bytes;
using testing_support::write_text;

// Builds a folder tree from relative paths written with '/'; a trailing '/' makes a folder.
class ScanTest : public ::testing::Test {
protected:
    std::string path(const std::string& rel) const {
        std::string out = root.path();
        size_t start = 0;
        while (start < rel.size()) {
            const size_t slash = rel.find('/', start);
            const size_t end = slash == std::string::npos ? rel.size() : slash;
            if (end > start) out = join(out, rel.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }

    void make(std::initializer_list<const char*> entries) {
        for (const std::string rel : entries) {
            // Create every folder on the way.
            for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1))
                fileutils::create_directory(path(rel.substr(0, slash)));
            if (rel.back() != '/') write_text(path(rel), "x");
        }
    }

    std::vector<std::string> paths(std::initializer_list<const char*> rels) const {
        std::vector<std::string> out;
        for (const char* rel : rels) out.push_back(path(rel));
        return out;
    }

    TempDir root;
};

const std::vector<std::string> PDF = {".pdf"};

TEST_F(ScanTest, MatchesLastExtensionIgnoringCase) {
    make({"A.PDF", "b.pdf", "a.Pdf.bak", "archive.tar.pdf", "noext", "pdf", ".pdf", "notes.txt", "folder.pdf/",
          "x.pdf.bak", "Img.JPG", "c.Png"});
    EXPECT_EQ(fileutils::scan_directory(root.path(), PDF, 1),
              paths({".pdf", "A.PDF", "archive.tar.pdf", "b.pdf"}));
    EXPECT_EQ(fileutils::scan_directory(root.path(), {".png", ".jpg", ".jpeg"}, 1), paths({"Img.JPG", "c.Png"}));
    EXPECT_TRUE(fileutils::scan_directory(root.path(), {".tif", ".tiff"}, 1).empty());
}

TEST_F(ScanTest, ScansOneSubfolderLevelAndSkipsOutputFolders) {
    make({"top.pdf", "sub/in.pdf", "sub/deeper/no.pdf", "other/z.pdf", "dorvane_results/r.pdf",
          "dorvane_results/r.tif", "dorvane_converted/t.tif", "sub/a.tif"});
    EXPECT_EQ(fileutils::scan_directory(root.path(), {".tif"}, 1), paths({"sub/a.tif"}));
    // Any depth above 0 means one level.
    EXPECT_EQ(fileutils::scan_directory(root.path(), {".tif"}, 5), paths({"sub/a.tif"}));
    EXPECT_EQ(fileutils::scan_directory(root.path(), PDF, 1), paths({"other/z.pdf", "sub/in.pdf", "top.pdf"}));
    EXPECT_EQ(fileutils::scan_directory(root.path(), PDF, 0), paths({"top.pdf"}));
}

TEST_F(ScanTest, AddsConvertedPdfsTwoLevelsDownEvenAtDepthZero) {
    make({"top.pdf", "sub/in.pdf", "dorvane_converted/c0.pdf", "dorvane_converted/c0.tif",
          "dorvane_converted/l1/c1.PDF", "dorvane_converted/l1/l2/c2.pdf", "dorvane_converted/l1/l2/l3/no.pdf",
          "dorvane_converted/dorvane_results/c1b.pdf"});
    const auto converted = paths({"dorvane_converted/c0.pdf", "dorvane_converted/dorvane_results/c1b.pdf",
                                  "dorvane_converted/l1/c1.PDF", "dorvane_converted/l1/l2/c2.pdf"});
    auto at_zero = converted;
    at_zero.push_back(path("top.pdf"));
    std::sort(at_zero.begin(), at_zero.end());
    EXPECT_EQ(fileutils::scan_directory(root.path(), PDF, 0), at_zero);

    auto at_one = at_zero;
    at_one.push_back(path("sub/in.pdf"));
    std::sort(at_one.begin(), at_one.end());
    EXPECT_EQ(fileutils::scan_directory(root.path(), {".png", ".pdf"}, 1), at_one);
    // Without ".pdf" in the list the converted folder is not visited at all.
    EXPECT_TRUE(fileutils::scan_directory(root.path(), {".tif"}, 1).empty());
}

TEST_F(ScanTest, OutputFolderNamesCompareCaseSensitively) {
    // Its own tree: on Windows the two spellings would be one folder.
    make({"Dorvane_Converted/p.png", "DORVANE_RESULTS/q.png"});
    EXPECT_EQ(fileutils::scan_directory(root.path(), {".png"}, 1),
              paths({"DORVANE_RESULTS/q.png", "Dorvane_Converted/p.png"}));
}

TEST_F(ScanTest, ConvertedFileInsteadOfFolderIsIgnored) {
    make({"dorvane_converted", "a.pdf"});  // a file named like the folder
    EXPECT_EQ(fileutils::scan_directory(root.path(), PDF, 0), paths({"a.pdf"}));
}

TEST_F(ScanTest, SortsByteWiseWithoutDuplicates) {
    // Names differ by more than case: Windows folders do not tell b.pdf from B.pdf.
    make({"b.pdf", "C.pdf", "a.pdf", "_.pdf", "\xC3\xA7\xC3\xA3o.pdf", "Z/1.pdf"});
    const auto found = fileutils::scan_directory(root.path(), {".pdf", ".pdf"}, 1);
    EXPECT_EQ(found, paths({"C.pdf", "Z/1.pdf", "_.pdf", "a.pdf", "b.pdf", "\xC3\xA7\xC3\xA3o.pdf"}));
}

TEST_F(ScanTest, MissingFolderGivesNothingAndScanFolderForAppendsFilesOnly) {
    EXPECT_TRUE(fileutils::scan_directory(path("missing"), PDF, 1).empty());
    EXPECT_TRUE(fileutils::list_subdirs(path("missing")).empty());
    EXPECT_TRUE(fileutils::list_dir(path("missing")).empty());
    std::vector<std::string> out = {"kept"};
    fileutils::scan_folder_for(path("missing"), PDF, out);
    EXPECT_EQ(out, std::vector<std::string>{"kept"});
    // A real folder: its files only are appended.
    make({"one.pdf", "two.pdf/", "sub/three.pdf"});
    fileutils::scan_folder_for(root.path(), PDF, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "kept");
    EXPECT_EQ(out[1], path("one.pdf"));
}

TEST_F(ScanTest, ListsSubfoldersIncludingHiddenOnes) {
    make({".hidden/", "s\xC3\xA3o/", "plain/", "file.txt"});
    auto subdirs = fileutils::list_subdirs(root.path());
    std::sort(subdirs.begin(), subdirs.end());
    EXPECT_EQ(subdirs, paths({".hidden", "plain", "s\xC3\xA3o"}));

    auto entries = fileutils::list_dir(root.path());
    ASSERT_EQ(entries.size(), 4u);
    std::sort(entries.begin(), entries.end(),
              [](const fileutils::DirEntry& a, const fileutils::DirEntry& b) { return a.name < b.name; });
    EXPECT_EQ(entries[0].name, ".hidden");
    EXPECT_TRUE(entries[0].is_dir);
    EXPECT_EQ(entries[1].name, "file.txt");
    EXPECT_FALSE(entries[1].is_dir);
}

TEST(FileFormat, DetectsFromFirstBytesTable) {
    TempDir dir;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        FileFormat expected;
    } cases[] = {
        {"empty", {}, FileFormat::Unknown},
        {"three bytes of pdf", {'%', 'P', 'D'}, FileFormat::Unknown},
        {"three bytes of jpeg", {0xFF, 0xD8, 0xFF}, FileFormat::Unknown},
        {"three bytes of bmp", {'B', 'M', 0}, FileFormat::Unknown},
        {"pdf four bytes", {'%', 'P', 'D', 'F'}, FileFormat::Pdf},
        {"pdf header", {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', '%', 0xE2, 0xE3, 0xCF, 0xD3, '\n', '1', ' ', '0'},
         FileFormat::Pdf},
        {"lower-case pdf", {'%', 'p', 'd', 'f'}, FileFormat::Unknown},
        {"tiff little-endian", {'I', 'I', 0x2A, 0x00, 8, 0, 0, 0}, FileFormat::Tiff},
        {"bigtiff little-endian", {'I', 'I', 0x2B, 0x00}, FileFormat::Tiff},
        {"tiff big-endian", {'M', 'M', 0x00, 0x2A}, FileFormat::Tiff},
        {"bigtiff big-endian", {'M', 'M', 0x00, 0x2B}, FileFormat::Tiff},
        {"tiff wrong order II", {'I', 'I', 0x00, 0x2A}, FileFormat::Unknown},
        {"tiff wrong order MM", {'M', 'M', 0x2A, 0x00}, FileFormat::Unknown},
        {"mixed byte order", {'I', 'M', 0x2A, 0x00}, FileFormat::Unknown},
        {"png six bytes", {0x89, 'P', 'N', 'G', '\r', '\n'}, FileFormat::Unknown},
        {"png seven bytes", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}, FileFormat::Unknown},
        {"png eight bytes", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, FileFormat::Png},
        {"jpeg", {0xFF, 0xD8, 0xFF, 0xE0}, FileFormat::Jpeg},
        {"jpeg no third ff", {0xFF, 0xD8, 0xFE, 0x00}, FileFormat::Unknown},
        {"bmp", {'B', 'M', 0x36, 0x00}, FileFormat::Bmp},
        {"bm text", {'B', 'M', 'W', ' ', 'x'}, FileFormat::Bmp},
        {"text", {'h', 'e', 'l', 'l', 'o'}, FileFormat::Unknown},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("f" + std::to_string(n++) + ".bin");
        write_bytes(file, c.bytes);
        EXPECT_EQ(fileutils::detect_format(file), c.expected);
    }
}

TEST(FileFormat, ContentDecidesNotTheNameAndUnreadableIsUnknown) {
    TempDir dir;
    write_text(dir.file(".tif"), "%PDF-1.7");
    EXPECT_EQ(fileutils::detect_format(dir.file(".tif")), FileFormat::Pdf);
    write_bytes(dir.file("scan.pdf"), {'I', 'I', 0x2A, 0x00});
    EXPECT_EQ(fileutils::detect_format(dir.file("scan.pdf")), FileFormat::Tiff);
    EXPECT_EQ(fileutils::detect_format(dir.file("missing.pdf")), FileFormat::Unknown);
    EXPECT_EQ(fileutils::detect_format(dir.path()), FileFormat::Unknown);
    EXPECT_EQ(fileutils::detect_format(""), FileFormat::Unknown);
}

TEST(FileFormat, NamesTable) {
    const std::pair<FileFormat, const char*> rows[] = {
        {FileFormat::Pdf, "PDF"},   {FileFormat::Tiff, "TIFF"},         {FileFormat::Png, "PNG"},
        {FileFormat::Jpeg, "JPEG"}, {FileFormat::Bmp, "BMP"},           {FileFormat::Unknown, "Desconhecido"},
        {static_cast<FileFormat>(42), "Desconhecido"}};
    for (const auto& row : rows) EXPECT_EQ(fileutils::format_name(row.first), row.second);
    EXPECT_EQ(static_cast<int>(FileFormat::Bmp), 5);
}

}  // namespace
