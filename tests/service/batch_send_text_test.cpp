// The texts around a batch that the window and `dorvane send` share.
#include <gtest/gtest.h>

#include <climits>

#include "service/send_text.h"

namespace {

dorvane::Operation op(int cost) {
    dorvane::Operation o;
    o.code = "ocr-br";
    o.name = "OCR de documentos";
    o.cost = cost;
    return o;
}

TEST(SendText, ConfirmationShowsCostAndEstimate) {
    EXPECT_EQ(dorvane::confirmation_text(3, op(2), false),
              "Enviar 3 arquivo(s)?\n\nOperação: OCR de documentos (ocr-br)\nCusto: 2 crédito(s) por arquivo\n"
              "Custo estimado: 6 crédito(s)");
}

TEST(SendText, ConfirmationAddsTheSynchronousNoteOnlyWhenAwaiting) {
    EXPECT_EQ(dorvane::confirmation_text(1, op(0), true),
              "Enviar 1 arquivo(s)?\n\nOperação: OCR de documentos (ocr-br)\nCusto: 0 crédito(s) por arquivo\n"
              "Custo estimado: 0 crédito(s)\n\nModo síncrono: o envio aguarda o resultado de cada documento (até 5 "
              "minutos por arquivo).");
}

// Files already sent are not charged again: the estimate must leave them out, and the operator
// must read how many are skipped before the synchronous note.
TEST(SendText, ConfirmationCountsOnlyFilesNotSentBefore) {
    EXPECT_EQ(dorvane::confirmation_text(10, op(2), true, 3),
              "Enviar 10 arquivo(s)?\n\nOperação: OCR de documentos (ocr-br)\nCusto: 2 crédito(s) por arquivo\n"
              "Custo estimado: 14 crédito(s)\n\n3 arquivo(s) já foram enviados para esta operação e serão pulados."
              "\n\nModo síncrono: o envio aguarda o resultado de cada documento (até 5 minutos por arquivo).");
}

TEST(SendText, EstimateDoesNotOverflowThirtyTwoBits) {
    const std::string text = dorvane::confirmation_text(100000, op(INT_MAX), false);
    EXPECT_NE(text.find("Custo estimado: 214748364700000 crédito(s)"), std::string::npos) << text;
}

TEST(SendText, SummaryLines) {
    dorvane::BatchUploader::Summary s;
    s.total = 7;
    s.succeeded = 4;
    s.failed = 2;
    s.skipped = 1;
    EXPECT_EQ(dorvane::summary_line(s), "[FIM] 4 enviado(s), 2 com erro, 1 pulado(s) de 7.");
    EXPECT_EQ(dorvane::finished_status(s), "Concluído: 4/7 enviado(s)");
    EXPECT_EQ(dorvane::results_line("/tmp/r.jsonl"), "Resultados salvos em /tmp/r.jsonl");
    EXPECT_EQ(dorvane::start_line(7, op(1)), "Iniciando envio de 7 arquivo(s) — operação OCR de documentos.");
    EXPECT_EQ(dorvane::stopped_message("Sem saldo"), "Envio interrompido.\n\nSem saldo");
}

// A results path is chosen even when its file could not be made; only a made file is "salvo".
TEST(SendText, ClosingLineTellsWhetherTheResultsWereSaved) {
    dorvane::BatchUploader::Summary s;
    s.results_path = "/tmp/r.jsonl";
    EXPECT_EQ(dorvane::results_closing_line(s), "[AVISO] Nenhum arquivo de resultados foi salvo.");
    s.results_saved = true;
    EXPECT_EQ(dorvane::results_closing_line(s), "Resultados salvos em /tmp/r.jsonl");
}

}  // namespace
