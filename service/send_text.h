// The texts of a send: the confirmation with the estimated cost, the opening line, and the
// closing summary lines. The window's send workflow and `dorvane send` show the same words, so
// they are built here once.
#pragma once

#include <string>

#include "service/api_client.h"
#include "service/batch_uploader.h"

namespace dorvane {

// "Enviar N arquivo(s)?\n\nOperação: ..." with the cost per file and the estimate (computed in 64
// bits, so a large cost times many files does not overflow); the synchronous-mode note is added
// when `await_result` is set.
// With `already_sent` above 0 the estimate counts only the other files and the line "K arquivo(s)
// já foram enviados para esta operação e serão pulados." follows it.
std::string confirmation_text(int file_count, const Operation& operation, bool await_result, int already_sent = 0);

// The window asks with Yes/No/Cancel when files were already sent; this last paragraph says what
// each button does, since "Não" there still sends.
extern const char* const RESEND_CHOICE_LINE;

// "Iniciando envio de N arquivo(s) — operação NAME."
std::string start_line(int file_count, const Operation& operation);

// "[FIM] S enviado(s), F com erro, K pulado(s) de T."
std::string summary_line(const BatchUploader::Summary& summary);

// "Resultados salvos em " + path.
std::string results_line(const std::string& results_path);

// The batch's last log line: results_line when the results file was created, otherwise
// "[AVISO] Nenhum arquivo de resultados foi salvo." (a missing record is never reported as saved).
std::string results_closing_line(const BatchUploader::Summary& summary);

// "Não foi possível criar o arquivo de resultados em " + path, then " — " + the system's reason
// when there is one.
std::string results_failed_text(const std::string& path, const std::string& reason);

// "Concluído: S/T enviado(s)"
std::string finished_status(const BatchUploader::Summary& summary);

// "Envio interrompido.\n\n" + reason: the warning shown when a stop reason ended the batch.
std::string stopped_message(const std::string& stop_reason);

// What the Cancel command logs and shows while the current file finishes.
extern const char* const CANCEL_REQUESTED_LINE;  // "Cancelamento solicitado — aguardando ..."
extern const char* const CANCELLING_STATUS;      // "Cancelando..."

}  // namespace dorvane
