// `dorvane send` against a loopback service: what the command adds to the batch engine (gathering
// paths, the confirmation, exit statuses, Ctrl+C, --quiet/--json, escaping the service's words,
// the progress line). The engine's own rules are tested in tests/service.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/json.h"
#include "imaging/tiff_builder.h"
#include "support/process.h"
#include "support/support.h"

namespace {

using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::RunResult;

std::string read_text(const std::string& path) {
    const auto b = testing_support::read_bytes(path);
    return std::string(b.begin(), b.end());
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// The path after "Resultados salvos em " (the .jsonl file).
std::string results_path(const std::string& err) {
    const size_t at = err.find("Resultados salvos em ");
    return at == std::string::npos ? "" : err.substr(at + 21, err.find('\n', at) - at - 21);
}

class SendTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.handle("GET", "/api/operations/00000000-0000-0000-0000-000000000000",
                      [](const HttpRequest&) { return json_reply(404, "{}"); });
        server.handle("GET", "/api/operations", [](const HttpRequest&) {
            return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\",\"cost\":1}]}");
        });
        reply_to_posts([this](const HttpRequest& req) {
            if (req.header("x-api-key") == "revogada") return json_reply(401, "{\"error\":\"chave revogada\"}");
            return json_reply(202, "{\"taskId\":\"t-" + std::to_string(++accepted) + "\",\"status\":\"pending\"}");
        });
    }
    void reply_to_posts(testing_support::Handler h) { server.handle("POST", "/api/operations", h); }

    // `dorvane send` with the server, a key, the operation and --results-dir `results` before `args`.
    RunResult run(const std::vector<std::string>& args, const std::function<bool(int)>& on_tick = nullptr,
                  const std::string& stdin_path = "") {
        std::vector<std::string> argv = {testing_support::bin_path("dorvane"), "send", "--url", server.url(), "--key", "k",
                                         "--operation", "ocr", "--results-dir", results.path(), "--pause-ms", "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        return testing_support::run_program(argv, {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}}, 60, on_tick,
                                            stdin_path);
    }
    std::string file(const std::string& name, const std::string& content = "%PDF-1.4 x") {
        testing_support::write_text(docs.file(name), content);
        return docs.file(name);
    }
    // The uploaded file names, ":pdf" added when the bytes are a PDF.
    std::vector<std::string> uploaded() const {
        std::vector<std::string> names;
        for (const auto& req : server.requests()) {
            std::vector<testing_support::FormPart> parts;
            if (req.method != "POST" || !testing_support::parse_multipart(req.header("Content-Type"), req.body, parts))
                continue;
            for (const auto& p : parts)
                if (p.name == "file") names.push_back(p.filename + (p.data.rfind("%PDF", 0) == 0 ? ":pdf" : ""));
        }
        return names;
    }
    testing_support::TestServer server;
    testing_support::TempDir docs, results;
    std::atomic<int> accepted{0};
};

std::vector<uint8_t> small_tiff() { return tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}); }

// Each row: the arguments after the common ones ("A", "A2": PDFs, "EMPTY": an empty file,
// "BLOCKER": a file in the way of the results folder; the key "revogada" gets 401 on upload), the
// exit status, a text of stdout + stderr, how many uploads.
TEST_F(SendTest, ExitStatusesAndTheirTexts) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string text;
        size_t posts;
    } rows[] = {
        {{"--help"}, 0, "Uso: dorvane send --operation CÓDIGO", 0},
        {{"--pause-ms", "-5", "A"}, 64, "--pause-ms exige um número", 0},
        {{"--parallel", "9", "A"}, 64, "--parallel exige um número de 1 a 8", 0},
        {{"--yes"}, 64, "informe ao menos um arquivo ou pasta", 0},
        {{"--operation", "nada", "--yes", "A"}, 64, "a operação nada não está no catálogo", 0},
        {{"A", "A"}, 64, "Enviar 1 arquivo(s)?", 0},  // no terminal to ask on: --yes is required
        {{"--key-file", "EMPTY", "--yes", "A"}, 64, "não foi possível ler a API Key de ", 0},
        {{"--results-dir", "BLOCKER", "--yes", "A"}, 2, "[ERRO] Não foi possível criar o arquivo de resultados em ", 0},
        {{"--key", "revogada", "--yes", "A", "A2"}, 2, "\nEnvio interrompido.\n\nAPI Key inválida ou desativada — verifique a chave.\n", 1},
        {{"--key", "revogada", "--quiet", "--yes", "A"}, 2, "] [PARADA] API Key inválida ou desativada", 1},  // why it stopped, even quiet
        {{"--yes", "A", "EMPTY"}, 1, "] [PULADO] vazio.pdf — arquivo vazio ou inacessível\n", 1},
    };
    const std::map<std::string, std::string> files = {
        {"A", file("a.pdf")}, {"A2", file("a2.pdf")}, {"EMPTY", file("vazio.pdf", "")}, {"BLOCKER", file("bloqueio.txt")}};
    for (const auto& row : rows) {
        std::vector<std::string> args;
        for (const auto& s : row.args) args.push_back(files.count(s) ? files.at(s) : s);
        SCOPED_TRACE(args.back());
        const size_t before = uploaded().size();
        const RunResult r = run(args);
        EXPECT_EQ(r.exit_code, row.status) << r.err;
        EXPECT_TRUE(contains(r.out + r.err, row.text)) << r.out << r.err;
        EXPECT_EQ(uploaded().size() - before, row.posts);
    }
}

// Folders are scanned one level down (any letter case), files named twice go once, --await reaches
// the form, and without --results-dir the results go below the current folder.
TEST_F(SendTest, SendsFilesAndScannedFoldersFromTheCurrentFolder) {
    const std::string folder = docs.file("pasta"), sub = fileutils::join(folder, "sub");
    ASSERT_TRUE(fileutils::create_directory(folder) && fileutils::create_directory(sub));
    for (const auto& [dir, name] : {std::pair(folder, "a.pdf"), {folder, "b.PNG"}, {folder, "c.txt"}, {sub, "d.jpg"}})
        testing_support::write_text(fileutils::join(dir, name), std::string("%PDF ") + name);
    const RunResult r = testing_support::run_program(
        {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", results.path(), testing_support::bin_path("dorvane"), "send", "--url",
         server.url(), "--key", "k", "--operation", "ocr", "--pause-ms", "0", "--yes", "--await", folder,
         file("e.pdf"), fileutils::join(folder, "a.pdf")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "Concluído: 4/4 enviado(s)\n");
    EXPECT_EQ(uploaded(), (std::vector<std::string>{"a.pdf:pdf", "b.PNG:pdf", "d.jpg:pdf", "e.pdf:pdf"}));
    EXPECT_TRUE(contains(server.requests().back().body, "name=\"awaitResult\"\r\n\r\ntrue\r\n"));
    const std::string below = fileutils::join(fileutils::join(results.path(), "dorvane_results"), "resultados_");
    EXPECT_EQ(results_path(r.err).rfind(below, 0), 0u) << r.err;
}

// Named files go by content: a TIFF as its PDF, a text file or a program never; folders are
// scanned one level unless --recursive, and their TIFFs get a hint or are converted (--convert).
TEST_F(SendTest, NamedFilesByContentAndFoldersByDepth) {
    testing_support::write_bytes(docs.file("scan.tif"), small_tiff());
    const RunResult named = run({"--yes", file("a.pdf"), file("notes.txt", "texto"), file("prog.exe", "MZ\x90 exe"),
                                 docs.file("scan.tif"), file("falso.pdf", "")});
    EXPECT_EQ(named.exit_code, 1) << named.err;
    EXPECT_EQ(uploaded(), (std::vector<std::string>{"a.pdf:pdf", "scan.pdf:pdf"}));
    EXPECT_TRUE(contains(named.err, "] [PULADO] notes.txt — formato não suportado (Desconhecido)\n")) << named.err;
    EXPECT_TRUE(contains(named.err, "] [AVISO] 3 arquivo(s) nomeado(s) ficaram de fora")) << named.err;
    EXPECT_TRUE(contains(named.err, "\nEnviar 2 arquivo(s)?")) << named.err;

    const std::string root = docs.file("pasta"), deep = fileutils::join(fileutils::join(root, "a"), "b");
    std::string reason;
    ASSERT_TRUE(fileutils::create_directories(deep, reason)) << reason;
    for (const auto& path : {fileutils::join(root, "top.pdf"), fileutils::join(deep, "fundo.pdf")})
        testing_support::write_text(path, "%PDF " + path);
    testing_support::write_bytes(fileutils::join(root, "fax.tif"), small_tiff());
    const struct {
        std::vector<std::string> flags;
        std::vector<std::string> sent;
        std::string line;
    } rows[] = {
        {{}, {"top.pdf:pdf"}, "] [AVISO] 1 arquivo(s) em subpastas mais profundas ficaram de fora — use --recursive"},
        {{}, {}, "] Encontrados também 1 TIFF(s) — use \"dorvane convert " + root + "\" ou --convert"},
        {{"--recursive", "--convert", "--resend"}, {"fundo.pdf:pdf", "fax.pdf:pdf", "top.pdf:pdf"}, "] [OK] fax.tif → fax.pdf\n"},
    };
    for (const auto& row : rows) {
        const size_t before = uploaded().size();
        std::vector<std::string> args = row.flags;
        args.insert(args.end(), {"--yes", root});
        const RunResult r = run(args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const auto all = uploaded();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()), row.sent);
        EXPECT_TRUE(contains(r.err, row.line)) << r.err;
    }
}

// Two Ctrl+C presses while the service holds an upload: the process ends at once (130), and the
// file that may have been charged is in both results files as "interrupted".
TEST_F(SendTest, SecondInterruptEndsAtOnceRecordingTheFileInFlight) {
    reply_to_posts([](const HttpRequest&) {
        HttpReply slow = json_reply(202, "{\"taskId\":\"t-1\"}");
        slow.delay_ms = 20000;
        return slow;
    });
    int presses = 0;
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = run({"--yes", file("a.pdf"), file("b.pdf")}, [&](int pid) {
        if (uploaded().empty()) return false;  // the upload has not reached the service yet
        kill(pid, SIGINT);               // once on each tick, about 100 ms apart
        return ++presses == 2;
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.exit_code, 130) << r.err;
    const std::string path = results_path(r.err);
    const std::string line = read_text(path);
    EXPECT_TRUE(contains(line, "\"file\":\"" + docs.file("a.pdf") + "\"")) << line;
    EXPECT_TRUE(contains(line, "\"status\":\"interrupted\"")) << line;
    EXPECT_TRUE(contains(read_text(path.substr(0, path.size() - 1)), "\"interrupted\"")) << path;
}

// A hostile service: escape sequences, BEL, NUL, line feeds and C1 controls in its names, task ids
// and messages never reach the terminal raw; a task id holding them is no task id.
TEST_F(SendTest, HostileServiceTextsReachTheTerminalEscaped) {
    server.handle("GET", "/api/operations", [](const HttpRequest&) {
        return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\\u001b]0;x\\u0007\\n\\tz\",\"cost\":1}]}");
    });
    reply_to_posts([this](const HttpRequest&) {
        if (++accepted == 1) return json_reply(200, "{\"taskId\":\"t\\u001b[2J\",\"status\":\"ok\\u0000\"}");
        return json_reply(400, "{\"error\":\"\\u001b[31mruim\\u0000\\u0007\\r\\n\xC2\x9B\"}");
    });
    const RunResult r = run({"--yes", file("a.pdf"), file("b.pdf")});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    for (const char c : r.out + r.err) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << r.err;
    EXPECT_FALSE(contains(r.out + r.err, "\xC2\x9B")) << r.err;
    EXPECT_TRUE(contains(r.err, "Operação: OCR\\x1b]0;x\\x07\\x0a\\x09z (ocr)")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [ERRO] [1/2] a.pdf — resposta inválida: resposta sem taskId\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [ERRO] [2/2] b.pdf — HTTP 400 — \\x1b[31mruim\\x00\\x07\\x0d\\x0a\\u009b\n")) << r.err;
}

// For scripts: the key from a file or from standard input, --quiet keeps errors and the summary,
// --json puts one object with the counts and the results files on stdout.
TEST_F(SendTest, QuietJsonAndKeyFile) {
    const std::string key = results.file("chave.txt");
    testing_support::write_text(key, "  chave-do-arquivo  \r\nlixo\n");
    const RunResult r = run({"--key-file", key, "--quiet", "--json", "--yes", file("a.pdf"), file("b.txt", "x")});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(server.requests().back().header("x-api-key"), "chave-do-arquivo");
    EXPECT_FALSE(contains(r.err, "[ENVIO]") || contains(r.err, "Enviar 1 arquivo(s)?")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [FIM] 1 enviado(s), 0 com erro, 0 pulado(s) de 1.\n")) << r.err;
    const json::Value out = json::parse(r.out);
    for (const char* count : {"total", "succeeded", "left_out"}) EXPECT_EQ(out.get(count), json::Value(1)) << count;
    EXPECT_EQ(out.get("files").as_array().at(0).get_string("taskId", ""), "t-1");
    const std::string jsonl = results_path(r.err);
    EXPECT_EQ(out.get("results").get_string("jsonl", ""), jsonl);
    EXPECT_EQ(out.get("results").get_string("json", ""), jsonl.substr(0, jsonl.size() - 1));

    testing_support::write_text(key, "chave-da-entrada\n");
    EXPECT_EQ(run({"--key-file", "-", "--yes", "--resend", file("a.pdf")}, nullptr, key).exit_code, 0);
    EXPECT_EQ(server.requests().back().header("x-api-key"), "chave-da-entrada");
}

// On a terminal the progress line moves during a long upload: bytes of the current file and the
// elapsed time, not only the count of files done.
TEST_F(SendTest, ProgressLineShowsBytesAndElapsedTimeOnATerminal) {
    reply_to_posts([](const HttpRequest&) {
        HttpReply slow = json_reply(202, "{\"taskId\":\"t-1\"}");
        slow.delay_ms = 1500;
        return slow;
    });
    const std::string program = testing_support::bin_path("dorvane"), url = server.url(), dir = results.path();
    const std::string big = file("grande.pdf", "%PDF" + std::string(3 * 1024 * 1024, 'x'));
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);  // the harness has no terminal start
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(program.c_str(), "dorvane", "send", "--url", url.c_str(), "--key", "k", "--operation", "ocr",
              "--results-dir", dir.c_str(), "--yes", big.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string screen;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) screen.append(buf, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_TRUE(contains(screen, "  3 MB/3 MB  Enviando 1/1: grande.pdf")) << screen;
    EXPECT_TRUE(contains(screen, "] 0/1  00:01")) << screen;  // the clock moved while the service worked
}

}  // namespace
