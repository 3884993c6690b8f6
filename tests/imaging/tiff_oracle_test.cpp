// The conversion against libtiff and the renderers, on files made by the helper scripts here.
// tiff_corpus.py: a corpus made by libtiff's tools, ImageMagick and Pillow is converted file by
// file; every PDF must pass qpdf --check and render, with pdftocairo and Ghostscript, to exactly
// what tiff2rgba decodes (JPEG: within a PSNR bound). Files that cannot be shown must be refused
// with a message.
// orientation_oracle.py: TIFFs tagged with every Orientation (Pillow images, libtiff's tiffcp and
// tiffset) must render as the stored picture turned as the tag says, at one unit a pixel.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"
#include "support/support.h"

namespace {

const std::string PYTHON = "/usr/bin/python3";
const std::string SCRIPTS = std::string(DORVANE_SOURCE_DIR) + "/tests/imaging/";

int sh(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

std::string script(const std::string& name) { return PYTHON + " " + quote(SCRIPTS + name) + " "; }

// Runs `name make DIR` and returns DIR/manifest.tsv, one row of tab-separated fields a line.
std::vector<std::vector<std::string>> make_files(const std::string& name, const testing_support::TempDir& dir) {
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(sh(script(name) + "make " + quote(dir.path())), 0);
    std::ifstream manifest(dir.file("manifest.tsv"));
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream in(line);
        rows.emplace_back();
        for (std::string field; std::getline(in, field, '\t');) rows.back().push_back(field);
    }
    return rows;
}

}  // namespace

// Compact output of the same corpus: refused exactly when the default is, with the same message,
// and otherwise the same pixels on a page of the size the resolution gives (within 0.5 %).
TEST(TiffOracle, CompactCorpusShowsTheSamePixelsAtTrueSize) {
    testing_support::TempDir dir;
    const auto rows = make_files("tiff_corpus.py", dir);
    ASSERT_GT(rows.size(), 50u);
    pdf::ConvertOptions compact;
    compact.compact = true;
    for (const auto& row : rows) {
        const std::string &name = row[0], &mode = row[2];
        SCOPED_TRACE(name);
        const std::string tiff = dir.file(name), pdf = dir.file(name + ".pdf"), small = dir.file(name + ".c.pdf");
        std::string error, compact_error;
        const bool ok = pdf::convert_tiff_to_pdf(tiff, pdf, error);
        EXPECT_EQ(pdf::convert_tiff_to_pdf(tiff, small, compact_error, compact), ok);
        EXPECT_EQ(compact_error, error);
        if (!ok) continue;
        EXPECT_EQ(sh("qpdf --check " + quote(small) + " >/dev/null 2>&1"), 0);
        // Single strips of LZW, PackBits and predicted data go through as they are.
        if (name.rfind("onestrip_", 0) == 0) {
            const std::vector<uint8_t> bytes = text::read_all(small);
            const std::string text(bytes.begin(), bytes.end());
            const std::pair<const char*, const char*> marks[] = {
                {"lzw", "/LZWDecode"}, {"packbits", "/RunLengthDecode"}, {"pred", "/Predictor 2"}, {"miw", "/Decode [1 0]"}};
            for (const auto& [part, mark] : marks) {
                if (name.find(part) != std::string::npos) {
                    EXPECT_NE(text.find(mark), std::string::npos) << mark;
                }
            }
        }
        if (mode != "-") {
            EXPECT_EQ(sh(script("tiff_corpus.py") + "compare " + quote(tiff) + " " + quote(small) + " " + mode + " compact"), 0);
        }
    }
}

TEST(TiffOracle, CorpusConvertsLikeLibtiffOrIsRefused) {
    testing_support::TempDir dir;
    const auto rows = make_files("tiff_corpus.py", dir);
    ASSERT_GT(rows.size(), 50u);
    int converted = 0, refused = 0;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const std::string &name = row[0], &expect = row[1], &mode = row[2];  // expect: ok, refuse, any
        SCOPED_TRACE(name);
        const std::string tiff = dir.file(name), pdf = dir.file(name + ".pdf");
        std::string error;
        const bool ok = pdf::convert_tiff_to_pdf(tiff, pdf, error);
        if (expect != "any") {
            EXPECT_EQ(ok, expect == "ok") << error;
        }
        if (!ok) {
            EXPECT_FALSE(error.empty());
            ++refused;
            continue;
        }
        ++converted;
        EXPECT_EQ(sh("qpdf --check " + quote(pdf) + " >/dev/null 2>&1"), 0);
        if (mode != "-") {
            EXPECT_EQ(sh(script("tiff_corpus.py") + "compare " + quote(tiff) + " " + quote(pdf) + " " + mode), 0);
        }
    }
    std::printf("%d converted, %d refused\n", converted, refused);
}

TEST(TiffOrientationOracle, EveryOrientationRendersTurnedAsTagged) {
    testing_support::TempDir dir;
    const auto rows = make_files("orientation_oracle.py", dir);
    ASSERT_EQ(rows.size(), 20u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        const std::string &name = row[0], &orientation = row[1], &mode = row[2], &renderers = row[3];
        SCOPED_TRACE(name);
        const std::string tiff = dir.file(name), pdf = dir.file(name + ".pdf");
        // The tag libtiff wrote is the one the reader hands on.
        const std::vector<uint8_t> bytes = text::read_all(tiff);
        const auto pages = tiff::Reader().read(bytes.data(), bytes.size());
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(std::to_string(pages[0].orientation), orientation);

        std::string error;
        ASSERT_TRUE(pdf::convert_tiff_to_pdf(tiff, pdf, error)) << error;
        EXPECT_EQ(sh("qpdf --check " + quote(pdf) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(sh(script("orientation_oracle.py") + "compare " + quote(tiff) + " " + quote(pdf) + " " + mode + " " +
                     renderers),
                  0);
    }
}
