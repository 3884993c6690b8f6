// The folder conversion shared by "Converter TIFFs" and `dorvane convert FOLDER`, on real files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/fileutils.h"
#include "service/convert_tiffs.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;
using testing_support::write_bytes;
using fileutils::join;
using Lines = std::vector<std::string>;

namespace {

std::vector<uint8_t> small_tiff(uint32_t width = 4) {
    return tiff_builder::Builder().build({{tiff_builder::image(width, 2, 8, 1, 1), {std::vector<uint8_t>(width * 2, 50)}}});
}

struct Recorder {
    Lines log, status, files;
    std::vector<std::pair<size_t, size_t>> progress;

    dorvane::ConvertCallbacks callbacks() {
        dorvane::ConvertCallbacks cb;
        cb.log = [this](const std::string& s) { log.push_back(s); };
        cb.status = [this](const std::string& s) { status.push_back(s); };
        cb.progress = [this](size_t i, size_t n) { progress.emplace_back(i, n); };
        cb.add_file = [this](const std::string& s) { files.push_back(s); };
        return cb;
    }
};

}  // namespace

TEST(ConvertTiffs, OutputNames) {
    for (const auto& [in, out] : {std::pair{"C:\\scans\\scan.final.tif", "scan.final.pdf"}, {"/home/x/fax.TIFF", "fax.pdf"},
                                  {"dir\\sub/page.tif", "page.pdf"}, {"noext", "noext.pdf"}, {".tif", ".pdf"}})
        EXPECT_EQ(dorvane::converted_pdf_name(in), out) << in;
}

TEST(ConvertTiffs, ConvertsRefusesReportsAndReuses) {
    TempDir dir;
    const std::string root = dir.path(), conv = join(root, "dorvane_converted");
    write_bytes(join(root, "a.tif"), small_tiff());
    write_bytes(join(root, "broken.tif"), {'I', 'I', 42, 0, 0, 0, 0, 0});
    testing_support::write_text(join(root, "report.tif"), "%PDF-1.4\n");
    ASSERT_TRUE(fileutils::create_directory(join(root, "sub")));
    write_bytes(join(join(root, "sub"), "b.tiff"), small_tiff());
    ASSERT_TRUE(fileutils::create_directory(join(root, "dorvane_results")));
    write_bytes(join(join(root, "dorvane_results"), "hidden.tif"), small_tiff());

    const Lines tiffs = dorvane::find_tiffs(root);
    ASSERT_EQ(tiffs.size(), 4u);
    Recorder rec;
    const dorvane::ConvertSummary s = dorvane::convert_tiffs(tiffs, root, rec.callbacks());
    EXPECT_EQ(std::vector<int>({s.converted, s.already_converted, s.not_tiff, s.failed}), std::vector<int>({2, 0, 1, 1}));
    EXPECT_EQ(rec.log, (Lines{"[OK] a.tif → a.pdf", "[ERRO] broken.tif — No readable pages in TIFF",
                              "[PULADO] report.tif — na verdade é PDF, não TIFF.", "[OK] b.tiff → b.pdf"}));
    EXPECT_EQ(rec.status, (Lines{"Convertendo 1/4: a.tif", "Convertendo 2/4: broken.tif", "Convertendo 4/4: b.tiff"}));
    EXPECT_EQ(rec.progress, (std::vector<std::pair<size_t, size_t>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    EXPECT_EQ(rec.files, (Lines{join(conv, "a.pdf"), join(conv, "b.pdf")}));
    EXPECT_EQ(dorvane::convert_summary_lines(s, 2),
              (Lines{"1 arquivo(s) não eram TIFF.", "[AVISO] 1 falha(s) na conversão.",
                     "[FIM] 2 convertido(s) — 2 arquivo(s) prontos para envio."}));
    EXPECT_EQ(dorvane::convert_finished_status(7), "7 arquivo(s) pronto(s)");
    EXPECT_EQ(dorvane::convert_start_line(4), "Convertendo 4 TIFF(s) para PDF...");
    EXPECT_EQ(dorvane::no_tiff_message(root), "Nenhum arquivo TIFF encontrado em:\n" + root);

    // A second run reuses both PDFs; an emptied PDF is converted again.
    testing_support::write_text(join(conv, "b.pdf"), "");
    Recorder again;
    const dorvane::ConvertSummary s2 = dorvane::convert_tiffs(tiffs, root, again.callbacks());
    EXPECT_EQ(std::make_pair(s2.converted, s2.already_converted), std::make_pair(1, 1));
    EXPECT_EQ(again.log.back(), "[OK] b.tiff → b.pdf");
    Recorder third;
    const dorvane::ConvertSummary s3 = dorvane::convert_tiffs(tiffs, root, third.callbacks());
    EXPECT_EQ(std::make_pair(s3.converted, s3.already_converted), std::make_pair(0, 2));
    EXPECT_EQ(third.files.size(), 2u);
    EXPECT_EQ(dorvane::convert_summary_lines(s3, 5),
              (Lines{"2 já convertido(s) anteriormente.", "1 arquivo(s) não eram TIFF.", "[AVISO] 1 falha(s) na conversão.",
                     "[FIM] 0 convertido(s) — 5 arquivo(s) prontos para envio."}));

    // scan.tif and scan.tiff share their output: converted once.
    TempDir twins;
    write_bytes(twins.file("scan.tif"), small_tiff());
    write_bytes(twins.file("scan.tiff"), small_tiff());
    Recorder rec2;
    const auto s4 = dorvane::convert_tiffs(dorvane::find_tiffs(twins.path()), twins.path(), rec2.callbacks());
    EXPECT_EQ(std::make_pair(s4.converted, s4.already_converted), std::make_pair(1, 1));
    EXPECT_EQ(rec2.files.size(), 2u);
}

// A TIFF scanned again after its conversion is converted again; an untouched one is reused.
TEST(ConvertTiffs, TiffNewerThanItsPdfIsConvertedAgain) {
    TempDir dir;
    write_bytes(dir.file("a.tif"), small_tiff());
    const std::string pdf = join(join(dir.path(), "dorvane_converted"), "a.pdf");
    ASSERT_EQ(dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), {}).converted, 1);
    const auto old_pdf = testing_support::read_bytes(pdf);
    ASSERT_EQ(dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), {}).already_converted, 1);

    write_bytes(dir.file("a.tif"), small_tiff(8));
    namespace fs = std::filesystem;
    fs::last_write_time(fs::u8path(pdf), fs::last_write_time(fs::u8path(dir.file("a.tif"))) - std::chrono::hours(1));
    Recorder rec;
    EXPECT_EQ(dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), rec.callbacks()).converted, 1);
    EXPECT_EQ(rec.files, Lines{pdf});
    EXPECT_NE(testing_support::read_bytes(pdf), old_pdf);
}

TEST(ConvertTiffs, EachFailureIsLoggedAndNoFileAdded) {
    TempDir dir, other;
    write_bytes(dir.file("a.tif"), small_tiff());
    testing_support::write_text(dir.file("dorvane_converted"), "a file in the way");
    const std::string missing = other.file("gone.tif");  // unreadable: taken for a TIFF
    for (const auto& [folder, tiff, line] : {std::tuple{dir.path(), dir.file("a.tif"), std::string("[ERRO] a.tif — Failed to write PDF")},
                                             {other.path(), missing, "[ERRO] gone.tif — Não foi possível ler o arquivo: " + missing}}) {
        Recorder rec;
        EXPECT_EQ(dorvane::convert_tiffs({tiff}, folder, rec.callbacks()).failed, 1);
        EXPECT_EQ(rec.log, Lines{line});
        EXPECT_TRUE(rec.files.empty());
        EXPECT_EQ(dorvane::convert_tiffs({tiff}, folder, {}).failed, 1);  // without callbacks
    }
}
