// scripts/make-samples draws the demo's documents: each must be the format its name says, and the
// fax TIFFs must be real fax files (CCITT, 1728 pixels wide, white as zero).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/support.h"
#include "support/process.h"

using testing_support::read_bytes;
using testing_support::run_program;
using testing_support::TempDir;

namespace {

bool starts_with(const std::vector<uint8_t>& data, const std::string& magic) {
    return data.size() >= magic.size() && std::equal(magic.begin(), magic.end(), data.begin(),
                                                     [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

TEST(MakeSamples, DrawsOneDocumentOfEachKind) {
    TempDir dir;
    auto made = run_program({"/bin/bash", DORVANE_SOURCE_DIR "/scripts/make-samples", dir.path()});
    ASSERT_EQ(made.exit_code, 0) << made.err;

    struct Row {
        const char* name;
        std::string magic;
    };
    const Row rows[] = {{"contrato.pdf", "%PDF-1.4"},
                        {"comprovante.png", "\x89PNG\r\n\x1a\n"},
                        {"recibo.jpg", "\xff\xd8\xff"},
                        {"fax_pedido.tif", std::string("II*\0", 4)},
                        {"digitalizacoes/fax_nota.tif", std::string("II*\0", 4)}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_TRUE(starts_with(read_bytes(dir.path() + "/" + r.name), r.magic));
    }

    auto pdf = run_program({"/usr/bin/qpdf", "--check", dir.path() + "/contrato.pdf"});
    EXPECT_EQ(pdf.exit_code, 0) << pdf.out << pdf.err;

    struct Fax {
        const char* name;
        const char* compression;
        size_t pages;
    };
    const Fax faxes[] = {{"fax_pedido.tif", "CCITT Group 4", 1}, {"digitalizacoes/fax_nota.tif", "CCITT Group 3", 2}};
    for (const auto& f : faxes) {
        SCOPED_TRACE(f.name);
        auto info = run_program({"/usr/bin/tiffinfo", dir.path() + "/" + f.name});
        ASSERT_EQ(info.exit_code, 0) << info.err;
        size_t pages = 0;
        for (size_t at = info.out.find("TIFF Directory"); at != std::string::npos;
             at = info.out.find("TIFF Directory", at + 1)) {
            ++pages;
        }
        EXPECT_EQ(pages, f.pages);
        EXPECT_NE(info.out.find(std::string("Compression Scheme: ") + f.compression), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Image Width: 1728"), std::string::npos);
        EXPECT_NE(info.out.find("Photometric Interpretation: min-is-white"), std::string::npos);
        EXPECT_NE(info.out.find("Resolution: 204, 196 pixels/inch"), std::string::npos);
    }
}

TEST(MakeSamples, NeedsExactlyOneFolder) {
    EXPECT_EQ(run_program({"/bin/bash", DORVANE_SOURCE_DIR "/scripts/make-samples"}).exit_code, 64);
}

}  // namespace
