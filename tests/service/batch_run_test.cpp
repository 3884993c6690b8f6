// The batch loop: callbacks in order, the pause between files, the stop rules, cancellation, and
// what a batch does when its results file cannot be made.
#include <chrono>
#include <climits>
#include <thread>

#include "batch_fixture.h"
#include "core/fileutils.h"
#include "service/send_text.h"

namespace batch_test {
namespace {

std::string counts(const BatchUploader::Summary& s) {
    return std::to_string(s.total) + ": " + std::to_string(s.succeeded) + " ok, " + std::to_string(s.failed) + " falhou, " +
           std::to_string(s.skipped) + " pulado" + (s.stopped ? ", parada: " + s.stop_reason : "") +
           (s.cancelled ? ", cancelado" : "");
}

class BatchRunTest : public EngineTest {
protected:
    std::vector<std::string> make_files(int n) {
        std::vector<std::string> paths;
        for (int i = 1; i <= n; ++i) paths.push_back(make_file("doc" + std::to_string(i) + ".pdf", 10 + i));
        return paths;
    }
};

// A failure or a skip does not end the batch; every file is announced, then spaced from the next.
TEST_F(BatchRunTest, FilesReportInOrderAndFailuresDoNotEndTheBatch) {
    server.fail_next(1, json_reply(404, "{}"));
    auto paths = make_files(2);
    paths.insert(paths.begin() + 1, dir.file("ausente.pdf"));
    auto o = options();
    o.delay_between_files_ms = 500;
    const auto s = uploader.run(paths, o, callbacks());
    EXPECT_EQ(counts(s), "3: 1 ok, 1 falhou, 1 pulado");
    EXPECT_TRUE(s.results_saved);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Enviando 1/3: doc1.pdf", "Enviando 2/3: ausente.pdf", "Enviando 3/3: doc2.pdf"}));
    EXPECT_EQ(progress, (std::vector<std::string>{"0/3", "1/3", "2/3", "3/3"}));
    EXPECT_EQ(waits, (std::vector<int>{500, 500}));
}

TEST_F(BatchRunTest, InvalidKeyOnSecondOfFiveStopsTheBatch) {
    server.handle("POST", "/api/operations", [this](const HttpRequest&) {
        return ++accepted == 2 ? json_reply(401, "{\"error\":\"chave revogada\"}") : json_reply(200, "{\"taskId\":\"t\"}");
    });
    const auto s = uploader.run(make_files(5), options(), callbacks());
    EXPECT_EQ(counts(s), "5: 1 ok, 1 falhou, 0 pulado, parada: API Key inválida ou desativada — verifique a chave.");
    EXPECT_EQ(posts(), 2u);
    EXPECT_EQ(logs.back(), "[PARADA] API Key inválida ou desativada — verifique a chave.");
    EXPECT_EQ(statuses.size(), 2u);
    EXPECT_EQ(progress.back(), "5/5");
}

// The real wait: a cancellation ends a long pause within about one slice.
TEST_F(BatchRunTest, CancelDuringPauseEndsItPromptlyAndCancelBeforeRunIsDiscarded) {
    uploader.cancel_requested.store(true);
    EXPECT_EQ(uploader.run(make_files(1), options(), callbacks()).succeeded, 1);

    auto o = options();
    o.wait = nullptr;
    o.delay_between_files_ms = 60000;
    const auto paths = make_files(3);
    BatchUploader::Summary s;
    const int sent_before = accepted.load();
    std::thread worker([&] { s = uploader.run(paths, o, callbacks()); });
    for (int i = 0; i < 2000 && accepted.load() == sent_before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto cancelled_at = std::chrono::steady_clock::now();
    uploader.cancel_requested.store(true);
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled_at, std::chrono::seconds(3));
    EXPECT_EQ(counts(s), "3: 1 ok, 0 falhou, 0 pulado, cancelado");
    EXPECT_EQ(logs.back(), "[CANCELADO] Envio interrompido pelo usuário.");
    EXPECT_EQ(progress.back(), "3/3");
}

// A results folder that cannot be made: the window's batch warns and sends anyway, the command
// line's (require_results_file) sends nothing. Neither reports the missing file as saved.
TEST_F(BatchRunTest, UnwritableResultsFolderWarnsOrRefuses) {
    const std::string blocker = make_file("bloqueio", 1);  // a file where a folder should be
    for (const bool required : {false, true}) {
        logs.clear();
        BatchUploader u{&client};
        auto o = options();
        o.results_dir = blocker;
        o.require_results_file = required;
        const size_t before = posts();
        const auto s = u.run(make_files(2), o, callbacks());
        EXPECT_FALSE(s.results_saved);
        EXPECT_EQ(dorvane::results_closing_line(s), "[AVISO] Nenhum arquivo de resultados foi salvo.");
        EXPECT_FALSE(s.results_error.empty());
        EXPECT_EQ(s.refused, required);
        EXPECT_EQ(posts() - before, required ? 0u : 2u);
        if (!required) {
            EXPECT_EQ(logs.at(0), "[AVISO] Não foi possível criar o arquivo de resultados em " + s.results_path);
        }
    }
}

// The cost estimate must not wrap at 32 bits.
TEST(SendText, EstimateDoesNotOverflow) {
    const dorvane::Operation op{"ocr", "OCR", "", "", INT_MAX};
    EXPECT_NE(dorvane::confirmation_text(100000, op, false).find("Custo estimado: 214748364700000 crédito(s)"), std::string::npos);
}

}  // namespace
}  // namespace batch_test
