#include "service/connect.h"

#include <utility>

#include "service/defaults.h"

namespace dorvane {

const char* const MISSING_KEY_TEXT =
    "Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API.";

std::string set_connection(ApiClient& client, const std::string& url, const std::string& key) {
    client.set_credentials(ApiClient::normalize_base_url(url.empty() ? std::string(DEFAULT_BASE_URL) : url), key);
    return "Conectando em " + client.base() + " ...";
}

ConnectResult check_key_and_list(ApiClient& client, const std::function<void(const std::string&)>& log,
                                 const std::function<void(std::vector<Operation>)>& take) {
    ConnectResult result;
    if (!client.verify_key(result.error)) {
        log("[ERRO] Falha ao conectar — " + result.error.to_string());
        result.status = result.error.kind == ApiError::Http ? ConnectStatus::KeyRejected : ConnectStatus::Unreachable;
        return result;
    }
    std::vector<Operation> catalogue;
    if (!client.list_operations(catalogue, result.error)) {
        log("[ERRO] Não foi possível listar as operações — " + result.error.to_string());
        result.status = ConnectStatus::CatalogueFailed;
        return result;
    }
    const size_t n = catalogue.size();
    take(std::move(catalogue));
    log("[OK] " + std::to_string(n) + " operação(ões) disponível(is).");
    return result;
}

std::string connect_failure_text(ConnectStatus status, const std::string& error_text) {
    switch (status) {
        case ConnectStatus::Ok: return {};
        case ConnectStatus::KeyRejected:
            return "API Key inválida ou desativada.\n\nGere uma nova chave no painel do Dorvane, em Configurações → API.";
        case ConnectStatus::Unreachable:
            return "Não foi possível falar com o servidor.\n\n" + error_text +
                   "\n\nConfira a URL e a conexão com a internet.";
        case ConnectStatus::CatalogueFailed:
            return "A chave foi aceita, mas o catálogo de operações não pôde ser carregado.\n\n" + error_text;
    }
    return {};
}

}  // namespace dorvane
