// `dorvane send` in the Windows build (runs under Wine): dorvane.exe against a loopback service,
// with Windows paths. What the command does on both platforms is tested in send_test.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"
#include "imaging/tiff_builder.h"
#include "support/process.h"
#include "support/support.h"

namespace {

using testing_support::HttpRequest;
using testing_support::json_reply;

// A folder with an accented name is scanned, its TIFF converted, and all is sent: the results file
// gets one line a file below the results folder; missing levels of --results-dir are made below the drive, and a file in the way stops the batch
// before anything is sent, naming the Windows path.
TEST(SendWin32, ResultsBelowWindowsPaths) {
    testing_support::TestServer server;
    server.handle("GET", "/api/operations/00000000-0000-0000-0000-000000000000",
                  [](const HttpRequest&) { return json_reply(404, "{}"); });
    server.handle("GET", "/api/operations", [](const HttpRequest&) {
        return json_reply(200, "{\"operations\":[{\"code\":\"ocr\",\"name\":\"OCR\",\"cost\":1}]}");
    });
    server.handle("POST", "/api/operations", [](const HttpRequest&) { return json_reply(202, "{\"taskId\":\"t\"}"); });
    testing_support::TempDir docs, out;
    const std::string folder = docs.file("digitalizações"), deep = out.path() + "\\a\\b\\c";
    ASSERT_TRUE(CreateDirectoryW(text::to_wide(folder).c_str(), nullptr));
    for (const char* name : {"a.pdf", "b.jpeg", "c.txt"}) testing_support::write_text(folder + "\\" + name, "%PDF-1.4 x");
    testing_support::write_bytes(folder + "\\fax.tif", tiff_builder::Builder().build({{tiff_builder::image(8, 1, 1, 1, 0), {{0x5A}}}}));
    const std::string blocker = folder + "\\c.txt";
    for (const std::string& dir : {deep, blocker}) {
        SCOPED_TRACE(dir);
        const size_t before = server.request_count();
        testing_support::RunResult r = testing_support::run_program(
            {testing_support::bin_path("dorvane"), "send", "--url", server.url(), "--key", "k", "--operation", "ocr",
             "--results-dir", dir, "--pause-ms", "0", "--yes", "--convert", folder},
            {{"DORVANE_URL", ""}, {"DORVANE_API_KEY", ""}});
        r.err.erase(std::remove(r.err.begin(), r.err.end(), '\r'), r.err.end());
        if (dir == deep) {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            const std::string prefix = deep + "\\dorvane_results\\resultados_";
            const size_t at = r.err.find("] Resultados salvos em " + prefix);
            ASSERT_NE(at, std::string::npos) << r.err;
            const size_t start = r.err.find(prefix, at);
            const auto bytes = testing_support::read_bytes(r.err.substr(start, r.err.find('\n', start) - start));
            EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 3);  // a.pdf, b.jpeg and fax.pdf
        } else {
            EXPECT_EQ(r.exit_code, 2) << r.err;
            EXPECT_NE(r.err.find("[ERRO] Não foi possível criar o arquivo de resultados em " + blocker + "\\dorvane_results — "),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(server.request_count(), before);
        }
    }
}

}  // namespace
