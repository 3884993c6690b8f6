// `dorvane convert` run as a program: exit statuses and the time-stamped lines on stderr.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::vector<std::string> lines;  // stderr lines without their "[HH:MM:SS] " stamp
    bool all_stamped = true;
};

std::string quote(const std::string& s) { return "'" + s + "'"; }

CliRun dorvane(const TempDir& dir, const std::string& args) {
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    const std::string cmd = "cd " + quote(dir.path()) + " && " + quote(std::string(DORVANE_BIN_DIR) + "/dorvane") +
                            " convert " + args + " >" + quote(out) + " 2>" + quote(err);
    CliRun r;
    const int status = std::system(cmd.c_str());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto o = testing_support::read_bytes(out);
    r.out.assign(o.begin(), o.end());
    const auto e = testing_support::read_bytes(err);
    std::istringstream text(std::string(e.begin(), e.end()));
    static const std::regex stamp("^\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\] (.*)$");
    for (std::string line; std::getline(text, line);) {
        std::smatch m;
        const bool stamped = std::regex_match(line, m, stamp);
        r.lines.push_back(stamped ? m[1].str() : line);
        r.all_stamped = r.all_stamped && stamped;
    }
    return r;
}

void write_tiff(const std::string& path) {
    testing_support::write_bytes(
        path, tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}));
}

}  // namespace

TEST(ConvertCli, HelpAndUsageErrors) {
    TempDir dir;
    CliRun help = dorvane(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Uso: dorvane convert", 0), 0u);
    EXPECT_EQ(dorvane(dir, "a b").status, 64);
    EXPECT_EQ(dorvane(dir, "a.tif b.tif -o x.pdf").status, 64);
    EXPECT_EQ(dorvane(dir, "--bogus").status, 64);
    write_tiff(dir.file("one.tif"));
    EXPECT_EQ(dorvane(dir, "one.tif").status, 64);  // a file without -o
}

TEST(ConvertCli, OneFile) {
    TempDir dir;
    write_tiff(dir.file("in.tif"));
    CliRun ok = dorvane(dir, "in.tif -o out.pdf");
    EXPECT_EQ(ok.status, 0);
    EXPECT_TRUE(ok.all_stamped);
    EXPECT_EQ(ok.lines, (std::vector<std::string>{"[OK] in.tif → out.pdf"}));
    const auto pdf = testing_support::read_bytes(dir.file("out.pdf"));
    ASSERT_GT(pdf.size(), 8u);
    EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 8), "%PDF-1.4");

    CliRun missing = dorvane(dir, "missing.tif --output=x.pdf");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.lines, (std::vector<std::string>{"[ERRO] missing.tif — Não foi possível ler o arquivo: missing.tif"}));

    testing_support::write_text(dir.file("fake.tif"), "\x89PNG\r\n\x1a\n");
    CliRun fake = dorvane(dir, "fake.tif -o y.pdf");
    EXPECT_EQ(fake.status, 1);
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"[PULADO] fake.tif — na verdade é PNG, não TIFF."}));
}

TEST(ConvertCli, FolderLikeTheWindow) {
    TempDir dir;
    const std::string root = dir.file("docs");
    ASSERT_TRUE(fileutils::create_directory(root));
    write_tiff(fileutils::join(root, "a.tif"));
    testing_support::write_text(fileutils::join(root, "report.tif"), "%PDF-1.4\n");
    CliRun first = dorvane(dir, "docs");
    EXPECT_EQ(first.status, 1);
    EXPECT_TRUE(first.all_stamped);
    EXPECT_EQ(first.lines, (std::vector<std::string>{
                               "Convertendo 2 TIFF(s) para PDF...",
                               "[OK] a.tif → a.pdf",
                               "[PULADO] report.tif — na verdade é PDF, não TIFF.",
                               "1 arquivo(s) não eram TIFF.",
                               "[FIM] 1 convertido(s) — 1 arquivo(s) prontos para envio.",
                           }));
    EXPECT_TRUE(fileutils::exists(fileutils::join(fileutils::join(root, "dorvane_converted"), "a.pdf")));

    std::remove(fileutils::join(root, "report.tif").c_str());
    CliRun second = dorvane(dir, "docs");
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.lines, (std::vector<std::string>{
                                "Convertendo 1 TIFF(s) para PDF...",
                                "1 já convertido(s) anteriormente.",
                                "[FIM] 0 convertido(s) — 1 arquivo(s) prontos para envio.",
                            }));

    const std::string empty = dir.file("empty");
    ASSERT_TRUE(fileutils::create_directory(empty));
    CliRun none = dorvane(dir, "empty");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.lines, (std::vector<std::string>{"Nenhum arquivo TIFF encontrado em:", "empty"}));
}

// The output must never replace its own input, and a missing output folder is named as such.
TEST(ConvertCli, RefusesItsOwnInputAndNamesAMissingFolder) {
    TempDir dir;
    write_tiff(dir.file("in.tif"));
    const auto tiff = testing_support::read_bytes(dir.file("in.tif"));
    for (const char* same : {"in.tif -o in.tif", "in.tif -o ./in.tif", "../$(basename \"$PWD\")/in.tif -o in.tif"}) {
        SCOPED_TRACE(same);
        const CliRun r = dorvane(dir, same);
        EXPECT_EQ(r.status, 64);
        ASSERT_FALSE(r.lines.empty());
        EXPECT_NE(r.lines[0].find("o PDF de saída seria o próprio TIFF de entrada"), std::string::npos) << r.lines[0];
        EXPECT_EQ(testing_support::read_bytes(dir.file("in.tif")), tiff);
    }
    const CliRun missing = dorvane(dir, "in.tif -o nada/out.pdf");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.lines, (std::vector<std::string>{"[ERRO] in.tif — a pasta de saída não existe: nada"}));
}

// Deeper TIFFs are counted and left out unless --recursive takes them; --quiet keeps the summary.
TEST(ConvertCli, DeeperFoldersAreCountedOrTakenWithRecursive) {
    TempDir dir;
    const std::string deep = fileutils::join(fileutils::join(dir.file("docs"), "a"), "b");
    ASSERT_TRUE(fileutils::create_directory(dir.file("docs")));
    ASSERT_TRUE(fileutils::create_directory(fileutils::join(dir.file("docs"), "a")));
    ASSERT_TRUE(fileutils::create_directory(deep));
    write_tiff(fileutils::join(deep, "fundo.tif"));
    const CliRun shallow = dorvane(dir, "docs");
    EXPECT_EQ(shallow.status, 0);
    ASSERT_FALSE(shallow.lines.empty());
    EXPECT_EQ(shallow.lines[0],
              "[AVISO] 1 TIFF(s) em subpastas mais profundas ficaram de fora — use --recursive para incluí-los.");
    const CliRun all = dorvane(dir, "--recursive --quiet docs");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.lines, (std::vector<std::string>{"[FIM] 1 convertido(s) — 1 arquivo(s) prontos para envio."}));
    EXPECT_TRUE(fileutils::exists(fileutils::join(fileutils::join(dir.file("docs"), "dorvane_converted"), "fundo.pdf")));
}
