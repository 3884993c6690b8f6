// `dorvane convert` and the upload limit: a scan whose plain PDF would pass 50 MiB is written compact
// (and says so) and then uploads, a small fax keeps its bytes. Faults caught: the size decided after
// writing, or not at all (skipped "excede o limite"); the mend leaking into ordinary files.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/sha256.h"
#include "support/process.h"
#include "support/support.h"

using testing_support::bin_path;
using testing_support::run_program;

// Three A4 colour pages at 300 dpi (78 MB raw), and a one-page 1728-pixel fax at 204 x 196 dpi
// in Group 4, as fax2tiff would leave it after tiffcp -c g4.
const char* const MAKE_TIFFS = R"PY(
import sys
from PIL import Image, ImageDraw
pages = []
for n in range(3):
    im = Image.new("RGB", (2480, 3508), (250, 248, 240))
    d = ImageDraw.Draw(im)
    for y in range(300, 3300, 60):
        d.rectangle([200, y, 2280 - (y * 7 + n * 300) % 900, y + 18], fill=(20 + n * 40, 30, 90))
    pages.append(im)
pages[0].save(sys.argv[1] + "/scan.tif", save_all=True, append_images=pages[1:], dpi=(300, 300))
im = Image.new("1", (1728, 400), 1)
d = ImageDraw.Draw(im)
for y in range(20, 380, 24):
    d.rectangle([100, y, 100 + (y * 37) % 1500, y + 9], fill=0)
im.save(sys.argv[1] + "/fax.tif", dpi=(204, 196), compression="group4")
)PY";

TEST(ConvertMend, OversizedScanIsWrittenCompactAndUploadedSmallFaxKeepsItsBytes) {
    testing_support::TempDir dir;
    ASSERT_EQ(run_program({"/usr/bin/python3", "-c", MAKE_TIFFS, dir.path()}).exit_code, 0);
    const auto conv = run_program({bin_path("dorvane"), "convert", dir.path()});
    ASSERT_EQ(conv.exit_code, 0) << conv.err;
    EXPECT_TRUE(std::regex_search(conv.err, std::regex("\\] \\[OK\\] scan\\.tif → scan\\.pdf \\(compactado: 74 MB → [0-9]+ (KB|MB)\\)\n")))
        << conv.err;
    EXPECT_TRUE(std::regex_search(conv.err, std::regex("\\] \\[OK\\] fax\\.tif → fax\\.pdf\n"))) << conv.err;
    const std::string out = fileutils::join(dir.path(), "dorvane_converted");
    const std::vector<uint8_t> fax = testing_support::read_bytes(fileutils::join(out, "fax.pdf"));
    // The digest of what the converter wrote before compact output existed.
    EXPECT_EQ(sha256::hex(std::string(fax.begin(), fax.end())), "cde6bc5e8fb492d326dd7616e29f844d3f4cdd6752cb5b31ec4982e02ea04b6b");

    testing_support::DemoService service;
    const auto send = run_program({bin_path("dorvane"), "send", "--url", service.url(), "--key", "demo-key", "--operation",
                                   "pdf-compress", "--results-dir", dir.path(), "--yes", fileutils::join(out, "scan.pdf")},
                                  {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}});
    EXPECT_EQ(send.exit_code, 0) << send.out << send.err;
    EXPECT_EQ(send.err.find("excede o limite"), std::string::npos) << send.err;
}
