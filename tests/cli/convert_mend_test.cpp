// `dorvane convert` and the upload limit: a scan whose plain PDF would pass 50 MiB is written
// compact (and says so), and `dorvane send` then uploads it to the demo service; a fax small
// enough keeps today's bytes exactly. Faults caught: the size decided after writing, or not at
// all (the file would be skipped "excede o limite"); the mend leaking into ordinary files.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/sha256.h"
#include "support/support.h"
#include "support/process.h"

using testing_support::bin_path;
using testing_support::run_program;
using testing_support::TempDir;

namespace {

const char* const A4_SCAN = R"PY(
import sys
from PIL import Image, ImageDraw
pages = []
for n in range(3):
    im = Image.new("RGB", (2480, 3508), (250, 248, 240))
    d = ImageDraw.Draw(im)
    for y in range(300, 3300, 60):
        d.rectangle([200, y, 2280 - (y * 7 + n * 300) % 900, y + 18], fill=(20 + n * 40, 30, 90))
    d.ellipse([900, 1200, 1700, 2000], outline=(200, 30, 30), width=12)
    pages.append(im)
pages[0].save(sys.argv[1], save_all=True, append_images=pages[1:], dpi=(300, 300))
)PY";

// A one-page 1728-pixel fax at 204 x 196 dpi, as fax2tiff would leave it after tiffcp -c g4.
const char* const FAX = R"PY(
import sys
from PIL import Image, ImageDraw
im = Image.new("1", (1728, 400), 1)
d = ImageDraw.Draw(im)
for y in range(20, 380, 24):
    d.rectangle([100, y, 100 + (y * 37) % 1500, y + 9], fill=0)
im.save(sys.argv[1], dpi=(204, 196), compression="group4")
)PY";

std::string stamp_free(const std::string& err) {
    return std::regex_replace(err, std::regex("^\\[[0-9:]{8}\\] ", std::regex::multiline), "");
}

}  // namespace

TEST(ConvertMend, OversizedScanIsWrittenCompactAndUploaded) {
    TempDir dir;
    const std::string tiff = dir.file("scan.tif");
    testing_support::write_text(dir.file("a4.py"), A4_SCAN);
    ASSERT_EQ(run_program({"/usr/bin/python3", dir.file("a4.py"), tiff}).exit_code, 0);

    const auto conv = run_program({bin_path("dorvane"), "convert", dir.path()});
    ASSERT_EQ(conv.exit_code, 0) << conv.err;
    // 3 pages of 2480 x 3508 RGB: 78 MB raw, which the upload would refuse.
    EXPECT_TRUE(std::regex_search(stamp_free(conv.err),
                                  std::regex("\\[OK\\] scan\\.tif → scan\\.pdf \\(compactado: 74 MB → [0-9]+ (KB|MB)\\)")))
        << conv.err;
    const std::string pdf = fileutils::join(fileutils::join(dir.path(), "dorvane_converted"), "scan.pdf");
    uint64_t size = 0;
    ASSERT_TRUE(fileutils::file_size(pdf, size));
    EXPECT_LT(size, uint64_t(50) << 20);

    testing_support::DemoService service;
    const auto send = run_program({bin_path("dorvane"), "send", "--url", service.url(), "--key", "demo-key",
                                   "--operation", "pdf-compress", "--results-dir", dir.path(), "--yes", pdf},
                                  {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}});
    EXPECT_EQ(send.exit_code, 0) << send.out << send.err;
    EXPECT_EQ(send.err.find("excede o limite"), std::string::npos) << send.err;
}

TEST(ConvertMend, SmallFaxKeepsTodaysBytes) {
    TempDir dir;
    const std::string tiff = dir.file("fax.tif"), pdf = dir.file("fax.pdf");
    testing_support::write_text(dir.file("fax.py"), FAX);
    ASSERT_EQ(run_program({"/usr/bin/python3", dir.file("fax.py"), tiff}).exit_code, 0);
    const auto conv = run_program({bin_path("dorvane"), "convert", tiff, "-o", pdf});
    ASSERT_EQ(conv.exit_code, 0) << conv.err;
    EXPECT_EQ(conv.err.find("compactado"), std::string::npos);
    const std::vector<uint8_t> bytes = testing_support::read_bytes(pdf);
    // The digest of what the converter wrote before compact output existed.
    EXPECT_EQ(sha256::hex(std::string(bytes.begin(), bytes.end())), "cde6bc5e8fb492d326dd7616e29f844d3f4cdd6752cb5b31ec4982e02ea04b6b");
}
