// `dorvane convert` run as a program: exit statuses and the time-stamped lines on stderr.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"
#include "support/process.h"
#include "support/support.h"
#include "tiff_builder.h"

using testing_support::TempDir;
using fileutils::join;
using Lines = std::vector<std::string>;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    Lines lines;  // stderr lines without their "[HH:MM:SS] " stamp
    bool all_stamped = true;
};

CliRun dorvane(std::vector<std::string> args) {
    args.insert(args.begin(), {testing_support::bin_path("dorvane"), "convert"});
    const testing_support::RunResult r = testing_support::run_program(args);
    CliRun run{r.exit_code, r.out, {}, true};
    std::istringstream text(r.err);
    static const std::regex stamp("^\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\] (.*)$");
    for (std::string line; std::getline(text, line);) {
        std::smatch m;
        const bool stamped = std::regex_match(line, m, stamp);
        run.lines.push_back(stamped ? m[1].str() : line);
        run.all_stamped = run.all_stamped && stamped;
    }
    return run;
}

std::vector<uint8_t> tiff_bytes() { return tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}); }

void write_tiff(const std::string& path) { testing_support::write_bytes(path, tiff_bytes()); }

}  // namespace

// One file: usage errors (64), the output that would replace its own input (64), and each outcome
// with its line and status.
TEST(ConvertCli, OneFile) {
    TempDir dir;
    const std::string in = dir.file("in.tif");
    write_tiff(in);
    const CliRun help = dorvane({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Uso: dorvane convert", 0), 0u);
    const std::string round_about = join(join(dir.path(), ".."), fileutils::base_name(dir.path())) + "/in.tif";
    for (const Lines& args : {Lines{"a", "b"}, Lines{"a.tif", "b.tif", "-o", "x.pdf"}, Lines{"--bogus"}, Lines{in},
                              Lines{in, "-o", in}, Lines{in, "-o", dir.file("./in.tif")}, Lines{round_about, "-o", in}}) {
        const CliRun r = dorvane(args);
        EXPECT_EQ(r.status, 64) << args.back();
        if (args.size() == 3) {
            ASSERT_FALSE(r.lines.empty());
            EXPECT_NE(r.lines[0].find("o PDF de saída seria o próprio TIFF de entrada"), std::string::npos) << r.lines[0];
        }
    }
    EXPECT_EQ(testing_support::read_bytes(in), tiff_bytes());

    const CliRun ok = dorvane({in, "-o", dir.file("out.pdf")});
    EXPECT_EQ(ok.status, 0);
    EXPECT_TRUE(ok.all_stamped);
    EXPECT_EQ(ok.lines, Lines{"[OK] in.tif → out.pdf"});
    EXPECT_EQ(testing_support::read_bytes(dir.file("out.pdf")), pdf::Writer().build(tiff::Reader().read(tiff_bytes().data(), tiff_bytes().size())));

    testing_support::write_text(dir.file("fake.tif"), "\x89PNG\r\n\x1a\n");
    const std::pair<Lines, std::string> failures[] = {
        {{dir.file("missing.tif"), "--output=" + dir.file("x.pdf")},
         "[ERRO] missing.tif — Não foi possível ler o arquivo: " + dir.file("missing.tif")},
        {{dir.file("fake.tif"), "-o", dir.file("y.pdf")}, "[PULADO] fake.tif — na verdade é PNG, não TIFF."},
        {{in, "-o", dir.file("nada/out.pdf")}, "[ERRO] in.tif — a pasta de saída não existe: " + dir.file("nada")},
    };
    for (const auto& [args, line] : failures) {
        const CliRun r = dorvane(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.lines, Lines{line});
    }
}

TEST(ConvertCli, FolderLikeTheWindow) {
    TempDir dir;
    const std::string root = dir.file("docs");
    ASSERT_TRUE(fileutils::create_directory(root));
    write_tiff(join(root, "a.tif"));
    testing_support::write_text(join(root, "report.tif"), "%PDF-1.4\n");
    const CliRun first = dorvane({root});
    EXPECT_EQ(first.status, 1);
    EXPECT_TRUE(first.all_stamped);
    EXPECT_EQ(first.lines, (Lines{"Convertendo 2 TIFF(s) para PDF...", "[OK] a.tif → a.pdf",
                                  "[PULADO] report.tif — na verdade é PDF, não TIFF.", "1 arquivo(s) não eram TIFF.",
                                  "[FIM] 1 convertido(s) — 1 arquivo(s) prontos para envio."}));
    EXPECT_TRUE(fileutils::exists(join(join(root, "dorvane_converted"), "a.pdf")));

    std::remove(join(root, "report.tif").c_str());
    const CliRun second = dorvane({root});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.lines, (Lines{"Convertendo 1 TIFF(s) para PDF...", "1 já convertido(s) anteriormente.",
                                   "[FIM] 0 convertido(s) — 1 arquivo(s) prontos para envio."}));

    ASSERT_TRUE(fileutils::create_directory(dir.file("empty")));
    const CliRun none = dorvane({dir.file("empty")});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.lines, (Lines{"Nenhum arquivo TIFF encontrado em:", dir.file("empty")}));
}

// Deeper TIFFs are counted and left out unless --recursive takes them; --quiet keeps the summary.
TEST(ConvertCli, DeeperFoldersAreCountedOrTakenWithRecursive) {
    TempDir dir;
    const std::string docs = dir.file("docs");
    ASSERT_TRUE(fileutils::create_directory(docs));
    ASSERT_TRUE(fileutils::create_directory(join(docs, "a")));
    ASSERT_TRUE(fileutils::create_directory(join(join(docs, "a"), "b")));
    write_tiff(join(join(join(docs, "a"), "b"), "fundo.tif"));
    const CliRun shallow = dorvane({docs});
    EXPECT_EQ(shallow.status, 0);
    ASSERT_FALSE(shallow.lines.empty());
    EXPECT_EQ(shallow.lines[0],
              "[AVISO] 1 TIFF(s) em subpastas mais profundas ficaram de fora — use --recursive para incluí-los.");
    const CliRun all = dorvane({"--recursive", "--quiet", docs});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.lines, Lines{"[FIM] 1 convertido(s) — 1 arquivo(s) prontos para envio."});
    EXPECT_TRUE(fileutils::exists(join(join(docs, "dorvane_converted"), "fundo.pdf")));
}
