#include "files/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "support/support.h"

namespace {

using fileutils::FileFormat;

class ScanTest : public ::testing::Test {
protected:
    // A relative path written with '/' under the root; made with its folders (a trailing '/' makes
    // a folder).
    std::string make(std::string rel) {
        std::string out = root.path();
        for (size_t slash; (slash = rel.find('/')) != std::string::npos; rel.erase(0, slash + 1)) {
            out = fileutils::join(out, rel.substr(0, slash));
            fileutils::create_directory(out);
        }
        if (rel.empty()) return out;
        testing_support::write_text(fileutils::join(out, rel), "x");
        return fileutils::join(out, rel);
    }
    std::vector<std::string> scan(const std::vector<std::string>& extensions, int depth) {
        return fileutils::scan_directory(root.path(), extensions, depth);
    }
    testing_support::TempDir root;
};

// One level of subfolders at any depth above 0, never the output folders;
// the converted PDFs, up to two levels below their folder, whenever ".pdf" is wanted; the last
// extension compared without case; sorted byte-wise without duplicates.
TEST_F(ScanTest, ScanRules) {
    const std::string top = make("A.PDF"), tar = make("archive.tar.pdf"), dot = make(".pdf"), sub = make("Z/in.pdf"),
                      c0 = make("dorvane_converted/c0.pdf"), c1 = make("dorvane_converted/l1/c1.PDF"),
                      c2 = make("dorvane_converted/l1/l2/c2.pdf"), cr = make("dorvane_converted/dorvane_results/r.pdf"),
                      tif = make("sub/a.TIF");
    for (const char* rel : {"a.pdf.bak", "noext", "pdf", "folder.pdf/", "Z/deeper/no.pdf", "dorvane_results/r.pdf",
                            "dorvane_results/r.tif", "dorvane_converted/t.tif", "dorvane_converted/l1/l2/l3/no.pdf"}) {
        make(rel);
    }
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(scan({".pdf"}, 0), sorted({top, tar, dot, c0, c1, c2, cr}));
    EXPECT_EQ(scan({".png", ".pdf", ".pdf"}, 5), sorted({top, tar, dot, sub, c0, c1, c2, cr}));
    EXPECT_EQ(scan({".tif", ".tiff"}, 1), std::vector<std::string>{tif});
    EXPECT_EQ(fileutils::scan_tree(root.path(), {".pdf"}).size(), 9u);  // every level, "Z/deeper" too
    EXPECT_TRUE(fileutils::scan_directory(root.file("missing"), {".pdf"}, 1).empty());
}

TEST_F(ScanTest, ConvertedFileInsteadOfFolderIsIgnored) {
    const std::string pdf = make("a.pdf");
    make("dorvane_converted");
    EXPECT_EQ(scan({".pdf"}, 0), std::vector<std::string>{pdf});
}

TEST(FileFormat, DetectsFromFirstBytesNotTheName) {
    testing_support::TempDir dir;
    const std::pair<std::vector<uint8_t>, FileFormat> cases[] = {
        {{}, FileFormat::Unknown}, {{'%', 'P', 'D'}, FileFormat::Unknown}, {{'%', 'P', 'D', 'F'}, FileFormat::Pdf},
        {{'%', 'p', 'd', 'f'}, FileFormat::Unknown}, {{'I', 'I', 0x2A, 0x00}, FileFormat::Tiff}, {{'I', 'I', 0x2B, 0x00}, FileFormat::Tiff},
        {{'M', 'M', 0x00, 0x2A}, FileFormat::Tiff}, {{'M', 'M', 0x00, 0x2B}, FileFormat::Tiff}, {{'I', 'I', 0x00, 0x2A}, FileFormat::Unknown},
        {{'M', 'M', 0x2A, 0x00}, FileFormat::Unknown}, {{'I', 'M', 0x2A, 0x00}, FileFormat::Unknown},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}, FileFormat::Unknown}, {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, FileFormat::Png},
        {{0xFF, 0xD8, 0xFF, 0xE0}, FileFormat::Jpeg}, {{0xFF, 0xD8, 0xFE, 0x00}, FileFormat::Unknown},
        {{'B', 'M', 0x36, 0x00}, FileFormat::Bmp}, {{'h', 'e', 'l', 'l', 'o'}, FileFormat::Unknown},
    };
    for (const auto& c : cases) {
        testing_support::write_bytes(dir.file("scan.pdf"), c.first);
        EXPECT_EQ(fileutils::detect_format(dir.file("scan.pdf")), c.second) << std::string(c.first.begin(), c.first.end());
    }
    EXPECT_EQ(fileutils::detect_format(dir.file("missing.pdf")), FileFormat::Unknown);
    EXPECT_EQ(fileutils::detect_format(dir.path()), FileFormat::Unknown);
}

}  // namespace
