// The folder conversion shared by "Converter TIFFs" and `dorvane convert FOLDER`, on real files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/fileutils.h"
#include "service/convert_tiffs.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;
using testing_support::write_bytes;

namespace {

std::vector<uint8_t> small_tiff() {
    return tiff_builder::Builder().build({{tiff_builder::image(4, 2, 8, 1, 1), {{0, 50, 100, 150, 200, 250, 255, 0}}}});
}

struct Recorder {
    std::vector<std::string> log, status, files;
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

std::string sub(const std::string& dir, const std::string& name) { return fileutils::join(dir, name); }

}  // namespace

TEST(ConvertTiffs, OutputNames) {
    const std::pair<const char*, const char*> rows[] = {
        {"C:\\scans\\scan.final.tif", "scan.final.pdf"},
        {"/home/x/fax.TIFF", "fax.pdf"},
        {"dir\\sub/page.tif", "page.pdf"},
        {"noext", "noext.pdf"},
        {".tif", ".pdf"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        EXPECT_EQ(dorvane::converted_pdf_name(row.first), row.second);
    }
}

TEST(ConvertTiffs, FirstRunConvertsRefusesAndReports) {
    TempDir dir;
    const std::string root = dir.path();
    write_bytes(sub(root, "a.tif"), small_tiff());
    write_bytes(sub(root, "broken.tif"), {'I', 'I', 42, 0, 0, 0, 0, 0});
    testing_support::write_text(sub(root, "report.tif"), "%PDF-1.4\n");
    ASSERT_TRUE(fileutils::create_directory(sub(root, "sub")));
    write_bytes(sub(sub(root, "sub"), "b.tiff"), small_tiff());
    ASSERT_TRUE(fileutils::create_directory(sub(root, "dorvane_results")));
    write_bytes(sub(sub(root, "dorvane_results"), "hidden.tif"), small_tiff());

    const std::vector<std::string> tiffs = dorvane::find_tiffs(root);
    ASSERT_EQ(tiffs.size(), 4u);
    Recorder rec;
    const dorvane::ConvertSummary s = dorvane::convert_tiffs(tiffs, root, rec.callbacks());
    EXPECT_EQ(s.converted, 2);
    EXPECT_EQ(s.already_converted, 0);
    EXPECT_EQ(s.not_tiff, 1);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(rec.log, (std::vector<std::string>{
                           "[OK] a.tif → a.pdf",
                           "[ERRO] broken.tif — No readable pages in TIFF",
                           "[PULADO] report.tif — na verdade é PDF, não TIFF.",
                           "[OK] b.tiff → b.pdf",
                       }));
    EXPECT_EQ(rec.status, (std::vector<std::string>{"Convertendo 1/4: a.tif", "Convertendo 2/4: broken.tif",
                                                    "Convertendo 4/4: b.tiff"}));
    EXPECT_EQ(rec.progress, (std::vector<std::pair<size_t, size_t>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    const std::string conv = sub(root, "dorvane_converted");
    EXPECT_EQ(rec.files, (std::vector<std::string>{sub(conv, "a.pdf"), sub(conv, "b.pdf")}));
    EXPECT_EQ(dorvane::convert_summary_lines(s, 2),
              (std::vector<std::string>{"1 arquivo(s) não eram TIFF.", "[AVISO] 1 falha(s) na conversão.",
                                        "[FIM] 2 convertido(s) — 2 arquivo(s) prontos para envio."}));
    EXPECT_EQ(dorvane::convert_finished_status(7), "7 arquivo(s) pronto(s)");
    EXPECT_EQ(dorvane::convert_start_line(4), "Convertendo 4 TIFF(s) para PDF...");
    EXPECT_EQ(dorvane::no_tiff_message(root), "Nenhum arquivo TIFF encontrado em:\n" + root);

    // A second run reuses both PDFs; an emptied PDF is converted again.
    testing_support::write_text(sub(conv, "b.pdf"), "");
    Recorder again;
    const dorvane::ConvertSummary s2 = dorvane::convert_tiffs(tiffs, root, again.callbacks());
    EXPECT_EQ(s2.converted, 1);
    EXPECT_EQ(s2.already_converted, 1);
    EXPECT_EQ(again.log.back(), "[OK] b.tiff → b.pdf");
    Recorder third;
    const dorvane::ConvertSummary s3 = dorvane::convert_tiffs(tiffs, root, third.callbacks());
    EXPECT_EQ(s3.converted, 0);
    EXPECT_EQ(s3.already_converted, 2);
    EXPECT_EQ(third.files.size(), 2u);
    EXPECT_EQ(dorvane::convert_summary_lines(s3, 5).front(), "2 já convertido(s) anteriormente.");
    EXPECT_EQ(dorvane::convert_summary_lines(s3, 5).back(), "[FIM] 0 convertido(s) — 5 arquivo(s) prontos para envio.");
}

TEST(ConvertTiffs, SameOutputNameIsConvertedOnce) {
    TempDir dir;
    write_bytes(dir.file("scan.tif"), small_tiff());
    write_bytes(dir.file("scan.tiff"), small_tiff());
    Recorder rec;
    const auto s = dorvane::convert_tiffs(dorvane::find_tiffs(dir.path()), dir.path(), rec.callbacks());
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(s.already_converted, 1);
    EXPECT_EQ(rec.files.size(), 2u);
}

// A TIFF scanned again after its conversion is converted again; an untouched one is reused.
TEST(ConvertTiffs, TiffNewerThanItsPdfIsConvertedAgain) {
    TempDir dir;
    write_bytes(dir.file("a.tif"), small_tiff());
    const std::string pdf = sub(sub(dir.path(), "dorvane_converted"), "a.pdf");
    ASSERT_EQ(dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), {}).converted, 1);
    const auto old_pdf = testing_support::read_bytes(pdf);
    ASSERT_EQ(dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), {}).already_converted, 1);

    write_bytes(dir.file("a.tif"), tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}));
    namespace fs = std::filesystem;
    fs::last_write_time(fs::u8path(pdf), fs::last_write_time(fs::u8path(dir.file("a.tif"))) - std::chrono::hours(1));
    Recorder rec;
    const auto s = dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), rec.callbacks());
    EXPECT_EQ(s.converted, 1);
    EXPECT_EQ(s.already_converted, 0);
    EXPECT_EQ(rec.files, std::vector<std::string>{pdf});
    EXPECT_NE(testing_support::read_bytes(pdf), old_pdf);
}

TEST(ConvertTiffs, OutputFolderThatCannotBeCreatedFailsEachFile) {
    TempDir dir;
    write_bytes(dir.file("a.tif"), small_tiff());
    testing_support::write_text(dir.file("dorvane_converted"), "a file in the way");
    Recorder rec;
    const auto s = dorvane::convert_tiffs({dir.file("a.tif")}, dir.path(), rec.callbacks());
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(rec.log, (std::vector<std::string>{"[ERRO] a.tif — Failed to write PDF"}));
    EXPECT_TRUE(rec.files.empty());
}

TEST(ConvertTiffs, UnreadableFileIsTreatedAsTiff) {
    TempDir dir;
    const std::string missing = dir.file("gone.tif");
    Recorder rec;
    const auto s = dorvane::convert_tiffs({missing}, dir.path(), {});
    EXPECT_EQ(s.failed, 1);
    dorvane::convert_tiffs({missing}, dir.path(), rec.callbacks());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"[ERRO] gone.tif — Não foi possível ler o arquivo: " + missing}));
}
