// `dorvane send` as a user runs it: the real program in a child process against a loopback
// service, checked by its exit status, its output and what reached the server.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/fileutils.h"
#include "imaging/tiff_builder.h"
#include "support/support.h"
#include "support/test_server.h"

namespace {

using testing_support::HttpReply;
using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_text(const std::string& path) {
    const auto b = testing_support::read_bytes(path);
    return std::string(b.begin(), b.end());
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// Starts bin/dorvane with stdin from /dev/null and stdout/stderr into files of `dir`.
pid_t spawn(const std::vector<std::string>& args, const TempDir& dir, const std::string& cwd) {
    const std::string program = std::string(DORVANE_BIN_DIR) + "/dorvane";
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    std::vector<std::string> all = {program, "send"};
    all.insert(all.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        unsetenv("DORVANE_URL");
        unsetenv("DORVANE_API_KEY");
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

Outcome finish(pid_t pid, const TempDir& dir) {
    Outcome r;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = read_text(dir.file("stdout.txt"));
    r.err = read_text(dir.file("stderr.txt"));
    return r;
}

class SendCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.handle("GET", "/api/operations/00000000-0000-0000-0000-000000000000",
                      [](const HttpRequest&) { return json_reply(404, "{\"error\":\"tarefa não encontrada\"}"); });
        server.handle("GET", "/api/operations", [](const HttpRequest&) {
            return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\",\"cost\":1},"
                                   "{\"code\":\"free\",\"name\":\"Grátis\",\"cost\":0}]}");
        });
        server.handle("POST", "/api/operations", [this](const HttpRequest&) {
            return json_reply(202, "{\"taskId\":\"t-" + std::to_string(++accepted) + "\",\"status\":\"pending\"}");
        });
        results = out_dir.path();
    }

    std::vector<std::string> base_args() const {
        return {"--url", server.url(), "--key", "k", "--operation", "ocr", "--results-dir", results, "--pause-ms", "0"};
    }

    Outcome run(std::vector<std::string> args, bool with_base = true, const std::string& cwd = "") {
        if (with_base) {
            auto all = base_args();
            all.insert(all.end(), args.begin(), args.end());
            args = all;
        }
        return finish(spawn(args, out_dir, cwd), out_dir);
    }

    std::string file(const std::string& name, const std::string& content = "%PDF-1.4 x") {
        const std::string path = docs.file(name);
        testing_support::write_text(path, content);
        return path;
    }

    size_t posts() const {
        size_t n = 0;
        for (const auto& r : server.requests()) n += r.method == "POST";
        return n;
    }

    testing_support::TestServer server;
    TempDir docs;
    TempDir out_dir;
    std::string results;
    std::atomic<int> accepted{0};
};

struct UsageCase {
    const char* label;
    std::vector<std::string> args;
    const char* err_part;  // a text the error output must hold
};

class SendUsageTest : public SendCommandTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(SendUsageTest, ExitsWithUsageStatusAndSendsNothing) {
    std::vector<std::string> args;
    for (const auto& a : GetParam().args) args.push_back(a == "URL" ? server.url() : a == "FILE" ? file("a.pdf") : a);
    const Outcome r = run(args, false);
    EXPECT_EQ(r.status, 64) << r.err;
    EXPECT_TRUE(contains(r.err, GetParam().err_part)) << r.err;
    EXPECT_EQ(posts(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Args, SendUsageTest,
    ::testing::Values(UsageCase{"NoOperation", {"--url", "URL", "--key", "k", "a.pdf"}, ""},
                      UsageCase{"NoPath", {"--url", "URL", "--key", "k", "--operation", "ocr"}, ""},
                      UsageCase{"UnknownOption", {"--operation", "ocr", "--depressa", "a.pdf"}, ""},
                      UsageCase{"FlagWithValue", {"--operation", "ocr", "--yes=1", "a.pdf"}, ""},
                      UsageCase{"BadPause", {"--operation", "ocr", "--pause-ms", "-5", "a.pdf"}, ""},
                      UsageCase{"UnknownOperation",
                                {"--url", "URL", "--key", "k", "--operation", "nada", "--yes", "FILE"}, "nada"}),
    [](const ::testing::TestParamInfo<UsageCase>& i) { return std::string(i.param.label); });

TEST_F(SendCommandTest, HelpGoesToStdout) {
    const Outcome r = run({"--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Uso: dorvane send --operation CÓDIGO", 0), 0u) << r.out;
}

TEST_F(SendCommandTest, WithoutTerminalShowsConfirmationAndAsksForYes) {
    const Outcome r = run({file("a.pdf"), file("b.pdf")});
    EXPECT_EQ(r.status, 64);
    EXPECT_TRUE(contains(r.err, "\nEnviar 2 arquivo(s)?\n\nOperação: OCR (ocr)\nCusto: 1 crédito(s) por arquivo\n"
                                "Custo estimado: 2 crédito(s)\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "--yes")) << r.err;
    EXPECT_EQ(posts(), 0u);
}

TEST_F(SendCommandTest, SendsFilesAndScannedFolders) {
    const std::string folder = docs.file("pasta");
    ASSERT_TRUE(fileutils::create_directory(folder));
    ASSERT_TRUE(fileutils::create_directory(fileutils::join(folder, "sub")));
    testing_support::write_text(fileutils::join(folder, "a.pdf"), "%PDF a");
    testing_support::write_text(fileutils::join(folder, "b.PNG"), "png");
    testing_support::write_text(fileutils::join(folder, "c.txt"), "texto");
    testing_support::write_text(fileutils::join(fileutils::join(folder, "sub"), "d.jpg"), "jpg");
    const std::string single = file("e.pdf");

    const Outcome r = run({"--yes", "--await", folder, single, fileutils::join(folder, "a.pdf")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Concluído: 4/4 enviado(s)\n");
    EXPECT_TRUE(contains(r.err, "] Iniciando envio de 4 arquivo(s) — operação OCR.\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [OK] [4/4] task t-4 (pending)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [FIM] 4 enviado(s), 0 com erro, 0 pulado(s) de 4.\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] Resultados salvos em " +
                                    fileutils::join(fileutils::join(results, "dorvane_results"), "resultados_")))
        << r.err;
    EXPECT_TRUE(contains(r.err, "Modo síncrono")) << r.err;
    ASSERT_EQ(posts(), 4u);
    for (const auto& req : server.requests()) {
        if (req.method == "POST") {
            EXPECT_TRUE(contains(req.body, "name=\"awaitResult\"\r\n\r\ntrue\r\n"));
        }
    }
}

TEST_F(SendCommandTest, SkippedFileGivesStatusOne) {
    const Outcome r = run({"--yes", file("a.pdf"), file("vazio.pdf", "")});
    EXPECT_EQ(r.status, 1) << r.err;
    // Left out before the confirmation, so never counted in the batch.
    EXPECT_EQ(r.out, "Concluído: 1/1 enviado(s)\n");
    EXPECT_TRUE(contains(r.err, "] [PULADO] vazio.pdf — arquivo vazio ou inacessível\n")) << r.err;
}

TEST_F(SendCommandTest, EmptyFolderSendsNothing) {
    const std::string folder = docs.file("vazia");
    ASSERT_TRUE(fileutils::create_directory(folder));
    const Outcome r = run({"--yes", folder});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Não há arquivos para enviar.")) << r.err;
    EXPECT_EQ(server.request_count(), 0u);
}

TEST_F(SendCommandTest, StopReasonGivesStatusTwoAndTheWarning) {
    server.handle("POST", "/api/operations",
                  [](const HttpRequest&) { return json_reply(401, "{\"error\":\"chave revogada\"}"); });
    const Outcome r = run({"--yes", file("a.pdf"), file("b.pdf")});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "\nEnvio interrompido.\n\nAPI Key inválida ou desativada — verifique a chave.\n"))
        << r.err;
    EXPECT_EQ(posts(), 1u);
}

TEST_F(SendCommandTest, UnreachableServiceGivesStatusTwo) {
    const Outcome r = run({"--url", "http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "--key", "k",
                       "--operation", "ocr", "--yes", file("a.pdf")},
                      false);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "Não foi possível falar com o servidor.")) << r.err;
}

TEST_F(SendCommandTest, ResultsGoToTheCurrentFolderByDefault) {
    const std::string a = file("a.pdf");
    const Outcome r = run({"--url", server.url(), "--key", "k", "--operation", "free", "--yes", "--pause-ms", "0", a}, false,
                      results);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fileutils::is_directory(fileutils::join(results, "dorvane_results")));
}

// Ctrl+C during a back-off wait: the batch ends at once, the file counts as cancelled, the results
// written so far stay, and the status is 130.
TEST_F(SendCommandTest, InterruptCancelsTheBatch) {
    server.handle("POST", "/api/operations",
                  [](const HttpRequest&) { return json_reply(503, "{\"error\":\"ocupado\"}"); });
    auto args = base_args();
    for (const char* f : {"a.pdf", "b.pdf", "c.pdf"}) args.push_back(file(f));
    args.push_back("--yes");
    const pid_t pid = spawn(args, out_dir, "");
    const auto start = std::chrono::steady_clock::now();
    while (posts() < 1 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // inside the 2 s back-off
    kill(pid, SIGINT);
    const Outcome r = finish(pid, out_dir);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(posts(), 1u);
    EXPECT_TRUE(contains(r.err, "] Cancelamento solicitado — aguardando o arquivo atual terminar...\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [CANCELADO] Envio interrompido pelo usuário.\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [FIM] 0 enviado(s), 0 com erro, 1 pulado(s) de 3.\n")) << r.err;
    const auto saved = r.err.find("Resultados salvos em ");
    ASSERT_NE(saved, std::string::npos);
    const std::string path = r.err.substr(saved + 21, r.err.find('\n', saved) - saved - 21);
    EXPECT_TRUE(contains(read_text(path), "\"status\":\"cancelled\"")) << path;
}

// The results folder is made (every level) before anything is sent; when it cannot be made,
// nothing is sent and not even the service is asked.
TEST_F(SendCommandTest, ResultsFolderIsMadeOrTheBatchNeverStarts) {
    const std::string deep = fileutils::join(fileutils::join(out_dir.file("a"), "b"), "c");
    const std::string blocker = file("bloqueio.txt", "x");
    struct Case {
        std::string dir;
        int status;
    };
    for (const Case& c : {Case{deep, 0}, Case{blocker, 2}}) {
        SCOPED_TRACE(c.dir);
        const size_t before = server.request_count();
        auto args = base_args();
        args[7] = c.dir;  // the value of --results-dir
        args.insert(args.end(), {"--yes", file("a.pdf")});
        const Outcome r = run(args, false);
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string folder = fileutils::join(c.dir, "dorvane_results");
        if (c.status == 0) {
            EXPECT_TRUE(contains(r.err, "] Resultados salvos em " + fileutils::join(folder, "resultados_"))) << r.err;
            EXPECT_TRUE(fileutils::is_directory(folder));
        } else {
            EXPECT_TRUE(contains(r.err, "] [ERRO] Não foi possível criar o arquivo de resultados em " + folder + " — " +
                                            blocker + ": "))
                << r.err;
            EXPECT_FALSE(contains(r.err, "Resultados salvos")) << r.err;
            EXPECT_EQ(server.request_count(), before);
        }
    }
}

// Two Ctrl+C presses while the service holds the upload: the process ends at once, yet the file
// that may have been charged is in both results files as "interrupted".
TEST_F(SendCommandTest, SecondInterruptRecordsTheFileInFlight) {
    server.handle("POST", "/api/operations", [](const HttpRequest&) {
        HttpReply slow = json_reply(202, "{\"taskId\":\"t-1\"}");
        slow.delay_ms = 20000;
        return slow;
    });
    auto args = base_args();
    args.insert(args.end(), {"--yes", file("a.pdf"), file("b.pdf")});
    const pid_t pid = spawn(args, out_dir, "");
    const auto start = std::chrono::steady_clock::now();
    while (posts() < 1 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
    const Outcome r = finish(pid, out_dir);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.status, 130) << r.err;
    const auto saved = r.err.find("Resultados salvos em ");
    ASSERT_NE(saved, std::string::npos) << r.err;
    const std::string path = r.err.substr(saved + 21, r.err.find('\n', saved) - saved - 21);
    const std::string line = read_text(path);
    EXPECT_TRUE(contains(line, "\"error\":\"envio interrompido — o serviço pode ter recebido o arquivo\"")) << line;
    EXPECT_TRUE(contains(line, "\"file\":\"" + docs.file("a.pdf") + "\"")) << line;
    EXPECT_TRUE(contains(line, "\"status\":\"interrupted\"")) << line;
    EXPECT_TRUE(contains(read_text(path.substr(0, path.size() - 1)), "\"interrupted\"")) << path;
}

// A hostile service: escape sequences, BEL, NUL, line feeds and tabs in its names, task ids and
// messages. None of their control bytes reaches the terminal; a task id holding them is no task id.
TEST_F(SendCommandTest, HostileServiceTextsReachTheTerminalEscaped) {
    server.handle("GET", "/api/operations", [](const HttpRequest&) {
        return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\\u001b]0;x\\u0007\\n\\tz\",\"cost\":1}]}");
    });
    std::atomic<int> n{0};
    server.handle("POST", "/api/operations", [&n](const HttpRequest&) {
        if (++n == 1) return json_reply(200, "{\"taskId\":\"t\\u001b[2J\",\"status\":\"ok\\u0000\"}");
        return json_reply(400, "{\"error\":\"\\u001b[31mruim\\u0000\\u0007\\r\\n\xC2\x9B\"}");
    });
    const Outcome r = run({"--yes", file("a.pdf"), file("b.pdf")});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const std::string* text : {&r.out, &r.err}) {
        for (const char c : *text) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << *text;
        EXPECT_FALSE(contains(*text, "\xC2\x9B")) << *text;
    }
    EXPECT_TRUE(contains(r.err, "Operação: OCR\\x1b]0;x\\x07\\x0a\\x09z (ocr)")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [ERRO] [1/2] a.pdf — resposta inválida: resposta sem taskId\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [ERRO] [2/2] b.pdf — HTTP 400 — \\x1b[31mruim\\x00\\x07\\x0d\\x0a\\u009b\n"))
        << r.err;
}

std::vector<std::string> uploaded_names(const testing_support::TestServer& server) {
    std::vector<std::string> names;
    for (const auto& req : server.requests()) {
        std::vector<testing_support::FormPart> parts;
        if (req.method != "POST" || !testing_support::parse_multipart(req.header("Content-Type"), req.body, parts))
            continue;
        for (const auto& part : parts)
            if (part.name == "file") names.push_back(part.filename + (part.data.rfind("%PDF", 0) == 0 ? ":pdf" : ""));
    }
    return names;
}

std::vector<uint8_t> small_tiff() {
    return tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}});
}

// Files named directly go by content: a TIFF arrives as its PDF, a text file or a program is never
// uploaded, and the confirmation counts only what will be sent.
TEST_F(SendCommandTest, NamedFilesAreJudgedByContent) {
    const std::string tif = docs.file("scan.tif");
    testing_support::write_bytes(tif, small_tiff());
    const Outcome r = run({"--yes", file("a.pdf"), file("notes.txt", "texto"), file("prog.exe", "MZ\x90\x00 exe"),
                           tif, file("falso.pdf", "")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(uploaded_names(server), (std::vector<std::string>{"a.pdf:pdf", "scan.pdf:pdf"}));
    EXPECT_TRUE(contains(r.err, "] [PULADO] notes.txt — formato não suportado (Desconhecido)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [PULADO] falso.pdf — arquivo vazio ou inacessível\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [AVISO] 3 arquivo(s) nomeado(s) ficaram de fora")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nEnviar 2 arquivo(s)?")) << r.err;
    EXPECT_TRUE(fileutils::exists(fileutils::join(docs.file("dorvane_converted"), "scan.pdf")));
}

// A folder: deeper files are counted and left out unless --recursive; TIFFs get a hint, or are
// converted first with --convert.
TEST_F(SendCommandTest, FolderDepthAndTiffs) {
    const std::string root = docs.file("pasta");
    const std::string deep = fileutils::join(fileutils::join(root, "a"), "b");
    ASSERT_TRUE(fileutils::create_directory(root));
    ASSERT_TRUE(fileutils::create_directory(fileutils::join(root, "a")));
    ASSERT_TRUE(fileutils::create_directory(deep));
    testing_support::write_text(fileutils::join(root, "top.pdf"), "%PDF top");
    testing_support::write_text(fileutils::join(deep, "fundo.pdf"), "%PDF fundo");
    testing_support::write_bytes(fileutils::join(root, "fax.tif"), small_tiff());
    struct Case {
        std::vector<std::string> flags;
        std::vector<std::string> sent;
        std::vector<std::string> lines;
    } cases[] = {
        {{},
         {"top.pdf:pdf"},
         {"] [AVISO] 1 arquivo(s) em subpastas mais profundas ficaram de fora — use --recursive para incluí-los.\n",
          "] Encontrados também 1 TIFF(s) — use \"dorvane convert " + root + "\" ou --convert para incluí-los no envio.\n"}},
        {{"--recursive", "--convert", "--resend"}, {"fundo.pdf:pdf", "fax.pdf:pdf", "top.pdf:pdf"}, {"] [OK] fax.tif → fax.pdf\n"}},
    };
    for (const Case& c : cases) {
        const size_t before = uploaded_names(server).size();
        std::vector<std::string> args = c.flags;
        args.insert(args.end(), {"--yes", root});
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto all = uploaded_names(server);
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()), c.sent);
        for (const auto& line : c.lines) EXPECT_TRUE(contains(r.err, line)) << r.err;
    }
}

// For scripts: the key from a file, only errors and the summary on stderr, one strict JSON object
// on stdout.
TEST_F(SendCommandTest, QuietJsonAndKeyFile) {
    const std::string key = out_dir.file("chave.txt");
    testing_support::write_text(key, "  k  \r\nlixo\n");
    const Outcome r = run({"--url", server.url(), "--key-file", key, "--operation", "ocr", "--results-dir", results,
                           "--pause-ms", "0", "--quiet", "--json", "--yes", file("a.pdf"), file("b.txt", "x")},
                          false);
    EXPECT_EQ(r.status, 1) << r.err;
    for (const auto& req : server.requests()) EXPECT_EQ(req.header("x-api-key"), "k");
    EXPECT_FALSE(contains(r.err, "[ENVIO]")) << r.err;
    EXPECT_FALSE(contains(r.err, "Enviar 1 arquivo(s)?")) << r.err;
    EXPECT_TRUE(contains(r.err, "] [FIM] 1 enviado(s), 0 com erro, 0 pulado(s) de 1.\n")) << r.err;
    const std::string py =
        "import json,sys\n"
        "d=json.loads(open(sys.argv[1]).read())\n"
        "assert open(d['results']['jsonl']).read().count('\\n')==1\n"
        "print(d['total'],d['succeeded'],d['left_out'],d['files'][0]['taskId'],d['results']['json'][-5:])\n";
    testing_support::write_text(out_dir.file("check.py"), py);
    const std::string cmd = "python3 " + out_dir.file("check.py") + " " + out_dir.file("stdout.txt") + " > " +
                            out_dir.file("py.txt") + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << read_text(out_dir.file("py.txt")) << r.out;
    EXPECT_EQ(read_text(out_dir.file("py.txt")), "1 1 1 t-1 .json\n");

    testing_support::write_text(key, "\n");
    EXPECT_EQ(run({"--url", server.url(), "--key-file", key, "--operation", "ocr", "--yes", file("a.pdf")}, false).status,
              64);

    // "-": the key comes from standard input.
    testing_support::write_text(key, "chave-da-entrada\n");
    const std::string piped = std::string(DORVANE_BIN_DIR) + "/dorvane operations --url " + server.url() +
                              " --key-file - < " + key + " > /dev/null 2>&1";
    EXPECT_EQ(std::system(piped.c_str()), 0);
    EXPECT_EQ(server.requests().back().header("x-api-key"), "chave-da-entrada");
}

// On a terminal the progress line moves during a long upload: the bytes of the current file and
// the elapsed time, not only the count of files done.
TEST_F(SendCommandTest, ProgressLineShowsBytesAndElapsedTimeOnATerminal) {
    server.handle("POST", "/api/operations", [](const HttpRequest&) {
        HttpReply slow = json_reply(202, "{\"taskId\":\"t-1\"}");
        slow.delay_ms = 1500;
        return slow;
    });
    const std::string big = file("grande.pdf", "%PDF" + std::string(3 * 1024 * 1024, 'x'));
    auto args = base_args();
    args.insert(args.begin(), {std::string(DORVANE_BIN_DIR) + "/dorvane", "send"});
    args.insert(args.end(), {"--yes", big});
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string screen;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;  // EIO once the child has gone
        screen.append(buf, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_TRUE(contains(screen, "] 0/1  00:0")) << screen;
    EXPECT_TRUE(contains(screen, "  3 MB/3 MB  Enviando 1/1: grande.pdf")) << screen;
    EXPECT_TRUE(contains(screen, "] 0/1  00:01")) << screen;  // the clock moved while the service worked
}

// A TIFF scanned again after it was sent is converted again, and the service gets the new PDF.
TEST_F(SendCommandTest, EditedTiffIsConvertedAgainAndItsNewContentSent) {
    const std::string tif = docs.file("scan.tif");
    const std::string pdf = fileutils::join(docs.file("dorvane_converted"), "scan.pdf");
    auto last_upload = [this] {
        std::vector<testing_support::FormPart> parts;
        const HttpRequest req = server.requests().back();
        EXPECT_TRUE(testing_support::parse_multipart(req.header("Content-Type"), req.body, parts));
        return parts.empty() ? std::string() : parts.back().data;
    };
    testing_support::write_bytes(tif, small_tiff());
    ASSERT_EQ(run({"--yes", tif}).status, 0);
    const std::string first = last_upload();
    EXPECT_EQ(testing_support::read_bytes(pdf), std::vector<uint8_t>(first.begin(), first.end()));

    testing_support::write_bytes(tif, tiff_builder::Builder().build({{tiff_builder::image(16, 2, 1, 1, 0), {{1, 2, 3, 4}}}}));
    namespace fs = std::filesystem;
    fs::last_write_time(fs::u8path(pdf), fs::last_write_time(fs::u8path(tif)) - std::chrono::hours(1));
    const Outcome r = run({"--yes", "--resend", tif});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "] [OK] scan.tif → scan.pdf")) << r.err;
    const std::string second = last_upload();
    EXPECT_NE(second, first);
    EXPECT_EQ(testing_support::read_bytes(pdf), std::vector<uint8_t>(second.begin(), second.end()));
}

}  // namespace
