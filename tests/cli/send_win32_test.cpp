// `dorvane send` in the Windows build: dorvane.exe (beside this test program) started with
// CreateProcessW against a loopback service, checked by exit status, output and results files.
// The POSIX twin with the Ctrl+C case is send_test.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/text.h"
#include "support/support.h"
#include "support/test_server.h"

namespace {

using testing_support::HttpRequest;
using testing_support::json_reply;
using testing_support::TempDir;

struct Outcome {
    DWORD status = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

std::string read_text(const std::string& path) {
    const auto b = testing_support::read_bytes(path);
    return std::string(b.begin(), b.end());
}

// The console streams are in text mode: line ends arrive as CR LF.
std::string without_cr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

std::wstring program_path() {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    std::wstring self(buffer, n);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"dorvane.exe";
}

HANDLE inheritable(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    return CreateFileW(text::to_wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Every argument in double quotes; none of the tests' arguments holds a quote or ends in a
// backslash, so no further escaping is needed.
Outcome run_dorvane(const std::vector<std::string>& args, const TempDir& dir) {
    std::wstring command = L"\"" + program_path() + L"\" send";
    for (const auto& a : args) command += L" \"" + text::to_wide(a) + L"\"";
    const std::string out_path = dir.file("stdout.txt"), err_path = dir.file("stderr.txt");
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    SetHandleInformation(in, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE out = inheritable(out_path, true), err = inheritable(err_path, true);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    Outcome o;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &o.status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    o.out = without_cr(read_text(out_path));
    o.err = without_cr(read_text(err_path));
    return o;
}

class SendCommandWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        server.handle("GET", "/api/operations/00000000-0000-0000-0000-000000000000",
                      [](const HttpRequest&) { return json_reply(404, "{}"); });
        server.handle("GET", "/api/operations", [](const HttpRequest&) {
            return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\",\"cost\":1}]}");
        });
        server.handle("POST", "/api/operations", [this](const HttpRequest&) {
            return json_reply(202, "{\"taskId\":\"t-" + std::to_string(++accepted) + "\",\"status\":\"pending\"}");
        });
    }

    Outcome send(std::vector<std::string> extra, bool yes = true) {
        std::vector<std::string> args = {"--url", server.url(), "--key", "k", "--operation", "ocr",
                                         "--results-dir", out_dir.path(), "--pause-ms", "0"};
        if (yes) args.push_back("--yes");
        args.insert(args.end(), extra.begin(), extra.end());
        return run_dorvane(args, out_dir);
    }

    std::string file(const std::string& name, const std::string& content = "%PDF-1.4 x") {
        const std::string path = docs.file(name);
        testing_support::write_text(path, content);
        return path;
    }

    testing_support::TestServer server;
    TempDir docs;
    TempDir out_dir;
    std::atomic<int> accepted{0};
};

TEST_F(SendCommandWin32Test, SendsAScannedFolderAndSavesResults) {
    file("a.pdf");
    file("b.jpeg");
    file("c.txt");
    const Outcome r = send({docs.path()});
    EXPECT_EQ(r.status, 0u) << r.err;
    EXPECT_EQ(r.out, "Concluído: 2/2 enviado(s)\n");
    EXPECT_TRUE(contains(r.err, "] [OK] [2/2] task t-2 (pending)\n")) << r.err;
    const std::string folder = out_dir.path() + "\\dorvane_results\\resultados_";
    const auto at = r.err.find("] Resultados salvos em " + folder);
    ASSERT_NE(at, std::string::npos) << r.err;
    const auto start = r.err.find(folder, at);
    const std::string path = r.err.substr(start, r.err.find('\n', start) - start);
    const std::string lines = read_text(path);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

TEST_F(SendCommandWin32Test, ExitStatusFollowsTheBatch) {
    EXPECT_EQ(send({file("a.pdf"), file("vazio.pdf", "")}).status, 1u);
    EXPECT_EQ(send({file("a.pdf")}, false).status, 64u);
    server.handle("POST", "/api/operations",
                  [](const HttpRequest&) { return json_reply(402, "{\"error\":\"Sem saldo\"}"); });
    // a.pdf went through above; --resend makes the service see it again instead of skipping it.
    const Outcome stopped = send({"--resend", file("a.pdf"), file("b.pdf")});
    EXPECT_EQ(stopped.status, 2u);
    EXPECT_TRUE(contains(stopped.err, "\nEnvio interrompido.\n\nSem saldo\n")) << stopped.err;
}

// Windows paths: every missing level of --results-dir is made below the drive; a file in the way
// stops the batch before anything is sent, naming the path.
TEST_F(SendCommandWin32Test, ResultsFolderLevelsOrRefusal) {
    const std::string deep = out_dir.path() + "\\a\\b\\c";
    const std::string blocker = file("bloqueio.txt", "x");
    for (const auto& dir : {deep, blocker}) {
        SCOPED_TRACE(dir);
        const bool ok = dir == deep;
        const size_t before = server.request_count();
        const Outcome r = run_dorvane({"--url", server.url(), "--key", "k", "--operation", "ocr", "--results-dir", dir,
                                       "--pause-ms", "0", "--yes", "--resend", file("a.pdf")},
                                      out_dir);
        EXPECT_EQ(r.status, ok ? 0u : 2u) << r.err;
        if (ok) {
            EXPECT_TRUE(fileutils::is_directory(deep + "\\dorvane_results")) << r.err;
        } else {
            EXPECT_TRUE(contains(r.err, "[ERRO] Não foi possível criar o arquivo de resultados em " + blocker +
                                            "\\dorvane_results — "))
                << r.err;
            EXPECT_EQ(server.request_count(), before);
        }
    }
}

}  // namespace
