// The conversion against libtiff and the renderers, on files made by the helper scripts here.
// tiff_corpus.py: a corpus made by libtiff's tools, ImageMagick and Pillow is converted file by
// file, default and compact; every PDF must pass qpdf --check and render, with pdftocairo and
// Ghostscript, to exactly what tiff2rgba decodes (JPEG: within a PSNR bound; compact pages at the
// size their resolution gives). Files that cannot be shown must be refused with a message, the
// same in both modes.
// orientation_oracle.py: TIFFs tagged with every Orientation (Pillow images, libtiff's tiffcp and
// tiffset) must render as the stored picture turned as the tag says, at one unit a pixel.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"
#include "support/process.h"
#include "support/support.h"

namespace {

const std::string SCRIPTS = std::string(DORVANE_SOURCE_DIR) + "/tests/imaging/";

// The exit status of `/usr/bin/python3 SCRIPT args`, or with an empty `name` of qpdf --check.
int run(const std::string& name, std::vector<std::string> args) {
    const std::vector<std::string> head = name.empty() ? std::vector<std::string>{"/usr/bin/qpdf", "--check"}
                                                       : std::vector<std::string>{"/usr/bin/python3", SCRIPTS + name};
    args.insert(args.begin(), head.begin(), head.end());
    const testing_support::RunResult r = testing_support::run_program(args, {}, 600);
    if (r.exit_code != 0) std::printf("%s%s", r.out.c_str(), r.err.c_str());
    return r.exit_code;
}

// Runs `name make DIR` and returns DIR/manifest.tsv, one row of tab-separated fields a line.
std::vector<std::vector<std::string>> make_files(const std::string& name, const testing_support::TempDir& dir) {
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(run(name, {"make", dir.path()}), 0);
    std::ifstream manifest(dir.file("manifest.tsv"));
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream in(line);
        rows.emplace_back();
        for (std::string field; std::getline(in, field, '\t');) rows.back().push_back(field);
    }
    return rows;
}

}  // namespace

TEST(TiffOracle, CorpusConvertsLikeLibtiffOrIsRefused) {
    testing_support::TempDir dir;
    const auto rows = make_files("tiff_corpus.py", dir);
    ASSERT_GT(rows.size(), 50u);
    pdf::ConvertOptions compact;
    compact.compact = true;
    int converted = 0, refused = 0;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const std::string &name = row[0], &expect = row[1], &mode = row[2];  // expect: ok, refuse, any
        SCOPED_TRACE(name);
        const std::string tiff = dir.file(name), pdf = dir.file(name + ".pdf"), small = dir.file(name + ".c.pdf");
        std::string error, compact_error;
        const bool ok = pdf::convert_tiff_to_pdf(tiff, pdf, error);
        if (expect != "any") {
            EXPECT_EQ(ok, expect == "ok") << error;
        }
        EXPECT_EQ(pdf::convert_tiff_to_pdf(tiff, small, compact_error, compact), ok);
        EXPECT_EQ(compact_error, error);
        if (!ok) {
            EXPECT_FALSE(error.empty());
            ++refused;
            continue;
        }
        ++converted;
        EXPECT_EQ(run("", {pdf}), 0);
        EXPECT_EQ(run("", {small}), 0);
        // Single strips of LZW, PackBits and predicted data go through as they are.
        if (name.rfind("onestrip_", 0) == 0) {
            const std::vector<uint8_t> bytes = text::read_all(small);
            const std::string text(bytes.begin(), bytes.end());
            for (const auto& [part, mark] : {std::pair{"lzw", "/LZWDecode"}, {"packbits", "/RunLengthDecode"},
                                              {"pred", "/Predictor 2"}, {"miw", "/Decode [1 0]"}})
                if (name.find(part) != std::string::npos) {
                    EXPECT_NE(text.find(mark), std::string::npos) << mark;
                }
        }
        if (mode != "-") {
            EXPECT_EQ(run("tiff_corpus.py", {"compare", tiff, pdf, mode}), 0);
            EXPECT_EQ(run("tiff_corpus.py", {"compare", tiff, small, mode, "compact"}), 0);
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
        EXPECT_EQ(run("", {pdf}), 0);
        EXPECT_EQ(run("orientation_oracle.py", {"compare", tiff, pdf, mode, renderers}), 0);
    }
}
