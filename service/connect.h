// The connect step of the window's "Conectar" and of `dorvane operations` / `dorvane send`: the
// key is checked, then the catalogue is fetched, with the same log lines and dialog texts. Each
// front end shows the texts its own way (a message box, or a block on stderr).
//
// Failure style: nothing throws; the result names the step that failed and the service's error.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "service/api_client.h"

namespace dorvane {

// "Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API."
extern const char* const MISSING_KEY_TEXT;

// Stores the normalised URL (DEFAULT_BASE_URL when `url` is empty) and the key in `client`, and
// returns the line that opens the connect: "Conectando em " + the stored base + " ...".
std::string set_connection(ApiClient& client, const std::string& url, const std::string& key);

enum class ConnectStatus {
    Ok,              // key accepted and catalogue loaded
    KeyRejected,     // the service answered the key check with an error status
    Unreachable,     // no answer, or an unusable one
    CatalogueFailed  // key accepted, catalogue could not be loaded
};

struct ConnectResult {
    ConnectStatus status = ConnectStatus::Ok;
    ApiError error;  // why, when status is not Ok
};

// Checks the key, then fetches the catalogue. A failure logs "[ERRO] Falha ao conectar — ..." or
// "[ERRO] Não foi possível listar as operações — ...". On success the catalogue goes to `take`
// before "[OK] N operação(ões) disponível(is)." is logged: the window's list is refilled before
// that line reaches its log.
ConnectResult check_key_and_list(ApiClient& client, const std::function<void(const std::string&)>& log,
                                 const std::function<void(std::vector<Operation>)>& take);

// The dialog text for a failed connect; `error_text` is the error as the caller shows it.
std::string connect_failure_text(ConnectStatus status, const std::string& error_text);

}  // namespace dorvane
