// The Windows `dorvane.exe` (WinHTTP) under Wine against the native demo service: the same texts
// and exit statuses as the Linux program. Skipped when the Windows build or Wine is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tools/demo_process.h"

using testing_support::DemoService;
using testing_support::RunResult;
using testing_support::run_program;

namespace {

bool file_exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string windows_exe() {
    const char* dir = std::getenv("DORVANE_WINDOWS_BIN_DIR");
    return std::string(dir && *dir ? dir : DORVANE_SOURCE_DIR "/build/windows/bin") + "/dorvane.exe";
}

std::string without_cr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

class WindowsOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!file_exists(windows_exe())) GTEST_SKIP() << "no Windows build at " << windows_exe();
        if (run_program({"/bin/sh", "-c", "command -v wine"}).exit_code != 0) GTEST_SKIP() << "wine is not installed";
    }
    RunResult dorvane(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {DORVANE_SOURCE_DIR "/scripts/wine-run", windows_exe(), "operations"};
        argv.insert(argv.end(), args.begin(), args.end());
        // A first run may have to create the Wine prefix.
        RunResult r = run_program(argv, {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}}, 300);
        r.out = without_cr(r.out);
        r.err = without_cr(r.err);
        return r;
    }
};

TEST_F(WindowsOperationsTest, GoodKeyBadKeyAndUnreachable) {
    DemoService service;
    RunResult good = dorvane({"--url", service.url(), "--key", "demo-key"});
    EXPECT_EQ(good.exit_code, 0) << good.err;
    EXPECT_NE(good.out.find("ocr              OCR (texto pesquisável)           1\n"), std::string::npos) << good.out;
    EXPECT_NE(good.err.find("[OK] 5 operação(ões) disponível(is).\n"), std::string::npos) << good.err;

    RunResult bad = dorvane({"--url", service.url(), "--key", "wrong"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("[ERRO] Falha ao conectar — HTTP 401 — API Key inválida\n\nAPI Key inválida ou desativada.\n"),
              std::string::npos)
        << bad.err;

    RunResult down = dorvane({"--url", "http://127.0.0.1:" + std::to_string(testing_support::unused_port()), "--key", "k"});
    EXPECT_EQ(down.exit_code, 2);
    EXPECT_NE(down.err.find("\nNão foi possível falar com o servidor.\n\nrede: "), std::string::npos) << down.err;
}

}  // namespace
