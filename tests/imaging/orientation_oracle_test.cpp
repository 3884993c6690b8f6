// TIFFs tagged with every Orientation (orientation_oracle.py: Pillow images, libtiff's tiffcp and
// tiffset) are converted, checked with qpdf --check, and rendered with pdftocairo and Ghostscript:
// each page must show the stored picture turned as the tag says, at one unit a pixel.
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
const std::string ORACLE = std::string(DORVANE_SOURCE_DIR) + "/tests/imaging/orientation_oracle.py";

struct Row {
    std::string name;
    std::string orientation;
    std::string mode;       // exact, psnr
    std::string renderers;  // cairo,gs
};

int sh(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

TEST(TiffOrientationOracle, EveryOrientationRendersTurnedAsTagged) {
    testing_support::TempDir dir;
    ASSERT_EQ(sh(PYTHON + " " + quote(ORACLE) + " make " + quote(dir.path())), 0);
    std::ifstream manifest(dir.file("manifest.tsv"));
    std::vector<Row> rows;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream in(line);
        Row r;
        std::getline(in, r.name, '\t');
        std::getline(in, r.orientation, '\t');
        std::getline(in, r.mode, '\t');
        std::getline(in, r.renderers, '\t');
        rows.push_back(r);
    }
    ASSERT_EQ(rows.size(), 20u);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string tiff = dir.file(row.name);
        const std::string pdf = dir.file(row.name + ".pdf");
        // The tag libtiff wrote is the one the reader hands on.
        const std::vector<uint8_t> bytes = text::read_all(tiff);
        tiff::Reader reader;
        const auto pages = reader.read(bytes.data(), bytes.size());
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(std::to_string(pages[0].orientation), row.orientation);

        std::string error;
        ASSERT_TRUE(pdf::convert_tiff_to_pdf(tiff, pdf, error)) << error;
        EXPECT_EQ(sh("qpdf --check " + quote(pdf) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(sh(PYTHON + " " + quote(ORACLE) + " compare " + quote(tiff) + " " + quote(pdf) + " " + row.mode +
                     " " + row.renderers),
                  0);
    }
}
