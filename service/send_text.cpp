#include "service/send_text.h"

#include <algorithm>
#include <cstdint>

#include "core/text.h"

namespace dorvane {

const char* const CANCEL_REQUESTED_LINE = "Cancelamento solicitado — aguardando o arquivo atual terminar...";
const char* const CANCELLING_STATUS = "Cancelando...";

const char* const RESEND_CHOICE_LINE = "Sim = pular os já enviados, Não = enviar todos de novo, Cancelar = nada.";

std::string confirmation_text(int file_count, const Operation& operation, bool await_result, int already_sent) {
    const int64_t estimate = static_cast<int64_t>(operation.cost) * (file_count - std::max(already_sent, 0));
    std::string text = "Enviar " + std::to_string(file_count) + " arquivo(s)?\n\nOperação: " + operation.name + " (" +
                       operation.code + ")\nCusto: " + std::to_string(operation.cost) +
                       " crédito(s) por arquivo\nCusto estimado: " + std::to_string(estimate) + " crédito(s)";
    if (already_sent > 0) {
        text += "\n\n" + std::to_string(already_sent) + " arquivo(s) já foram enviados para esta operação e serão pulados.";
    }
    if (await_result) {
        text += "\n\nModo síncrono: o envio aguarda o resultado de cada documento (até 5 minutos por arquivo).";
    }
    return text;
}

std::string start_line(int file_count, const Operation& operation) {
    return "Iniciando envio de " + std::to_string(file_count) + " arquivo(s) — operação " + operation.name + ".";
}

std::string summary_line(const BatchUploader::Summary& s) {
    return "[FIM] " + std::to_string(s.succeeded) + " enviado(s), " + std::to_string(s.failed) + " com erro, " +
           std::to_string(s.skipped) + " pulado(s) de " + std::to_string(s.total) + ".";
}

std::string results_line(const std::string& results_path) { return "Resultados salvos em " + results_path; }

std::string results_closing_line(const BatchUploader::Summary& s) {
    if (s.results_saved && !s.results_path.empty()) return results_line(s.results_path);
    return "[AVISO] Nenhum arquivo de resultados foi salvo.";
}

std::string results_failed_text(const std::string& path, const std::string& reason) {
    return "Não foi possível criar o arquivo de resultados em " + path + (reason.empty() ? "" : " — " + reason);
}

std::string finished_status(const BatchUploader::Summary& s) {
    return "Concluído: " + std::to_string(s.succeeded) + "/" + std::to_string(s.total) + " enviado(s)";
}

// The reason is often the service's own text: shown safe, so it cannot cut or garble the box.
std::string stopped_message(const std::string& stop_reason) {
    return "Envio interrompido.\n\n" + text::display_safe(stop_reason);
}

}  // namespace dorvane
