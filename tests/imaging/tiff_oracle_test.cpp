// The conversion against libtiff: a corpus made by libtiff's tools, ImageMagick and Pillow
// (tiff_corpus.py) is converted file by file; every PDF must pass qpdf --check and render, with
// pdftocairo and Ghostscript, to exactly what tiff2rgba decodes (JPEG: within a PSNR bound).
// Files that cannot be shown must be refused with a message.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/pdf_writer.h"
#include "support/support.h"

namespace {

const std::string PYTHON = "/usr/bin/python3";
const std::string CORPUS = std::string(DORVANE_SOURCE_DIR) + "/tests/imaging/tiff_corpus.py";

struct Row {
    std::string name;
    std::string expect;  // ok, refuse, any
    std::string mode;    // exact, psnr, -
};

int sh(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

TEST(TiffOracle, CorpusConvertsLikeLibtiffOrIsRefused) {
    testing_support::TempDir dir;
    ASSERT_EQ(sh(PYTHON + " " + quote(CORPUS) + " make " + quote(dir.path())), 0);
    std::ifstream manifest(dir.file("manifest.tsv"));
    std::vector<Row> rows;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream in(line);
        Row r;
        std::getline(in, r.name, '\t');
        std::getline(in, r.expect, '\t');
        std::getline(in, r.mode, '\t');
        rows.push_back(r);
    }
    ASSERT_GT(rows.size(), 50u);

    int converted = 0, refused = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string tiff = dir.file(row.name);
        const std::string pdf = dir.file(row.name + ".pdf");
        std::string error;
        const bool ok = pdf::convert_tiff_to_pdf(tiff, pdf, error);
        if (row.expect == "ok") {
            EXPECT_TRUE(ok) << error;
        } else if (row.expect == "refuse") {
            EXPECT_FALSE(ok);
        }
        if (!ok) {
            EXPECT_FALSE(error.empty());
            ++refused;
            continue;
        }
        ++converted;
        EXPECT_EQ(sh("qpdf --check " + quote(pdf) + " >/dev/null 2>&1"), 0);
        if (row.mode != "-") {
            EXPECT_EQ(sh(PYTHON + " " + quote(CORPUS) + " compare " + quote(tiff) + " " + quote(pdf) + " " + row.mode), 0);
        }
    }
    std::printf("%d converted, %d refused\n", converted, refused);
}
