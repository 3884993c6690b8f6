// `dorvane operations`: the window's "Conectar" on the command line. Checks the key, loads the
// catalogue and prints it as a table (code, name, cost) or, with --json, as JSON on stdout; the
// connect texts go to stderr exactly as the window shows them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/common.h"
#include "core/json.h"
#include "core/text.h"
#include "service/api_client.h"

namespace {

const char* const USAGE =
    "Uso: dorvane operations [--url URL] [--key CHAVE | --key-file ARQUIVO] [--json]\n"
    "\n"
    "Confere a API Key e lista o catálogo de operações do serviço: código, nome e custo em créditos.\n"
    "\n"
    "  --url URL     URL do serviço (padrão: DORVANE_URL ou https://api.dorvane.com.br)\n"
    "  --key CHAVE   API Key (padrão: DORVANE_API_KEY)\n"
    "  --key-file ARQUIVO  lê a API Key da primeira linha do ARQUIVO (\"-\": da entrada padrão)\n"
    "  --json        imprime o catálogo em JSON\n"
    "\n"
    "Saída: 0 catálogo listado, 2 chave recusada ou serviço inacessível, 64 uso incorreto.\n";

// Columns line up by characters, not bytes: names carry accented letters.
size_t display_width(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string pad(const std::string& s, size_t width) {
    size_t w = display_width(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

std::string catalogue_table(const std::vector<dorvane::Operation>& operations) {
    const std::string code_title = "CÓDIGO", name_title = "NOME";
    size_t code_w = display_width(code_title), name_w = display_width(name_title);
    // The service's texts, escaped: a line feed or tab in a name must not break the table.
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& op : operations) {
        rows.emplace_back(text::display_safe(op.code), text::display_safe(op.name));
        code_w = std::max(code_w, display_width(rows.back().first));
        name_w = std::max(name_w, display_width(rows.back().second));
    }
    std::string out = pad(code_title, code_w) + "  " + pad(name_title, name_w) + "  CUSTO\n";
    for (size_t i = 0; i < operations.size(); ++i) {
        out += pad(rows[i].first, code_w) + "  " + pad(rows[i].second, name_w) + "  " +
               std::to_string(operations[i].cost) + "\n";
    }
    return out;
}

std::string catalogue_json(const std::vector<dorvane::Operation>& operations) {
    json::Array list;
    for (const auto& op : operations) {
        json::Object o;
        o["code"] = op.code;
        o["name"] = op.name;
        o["description"] = op.description;
        o["category"] = op.category;
        o["cost"] = static_cast<double>(op.cost);
        list.emplace_back(std::move(o));
    }
    return json::stringify(json::Object{{"operations", list}}, 2) + "\n";
}

int run_operations(const std::vector<std::string>& args) {
    static const std::vector<cli::OptionSpec> specs = {
        {"--url", true}, {"--key", true}, {"--key-file", true}, {"--json", false}};
    cli::ParsedArgs parsed;
    std::string error;
    if (!cli::parse_args(args, specs, parsed, error)) return cli::usage_error("operations", error);
    if (parsed.help) {
        std::fputs(USAGE, stdout);
        std::fputs(cli::NETWORK_HELP, stdout);
        return cli::EXIT_OK;
    }
    if (!cli::load_key_file(parsed, error)) return cli::usage_error("operations", error);
    if (!parsed.positional.empty()) return cli::usage_error("operations", "argumento inesperado: " + parsed.positional[0]);

    dorvane::ApiClient client;
    std::vector<dorvane::Operation> operations;
    const int connected = cli::connect_and_list(cli::resolve_url(parsed), cli::resolve_key(parsed), client, operations);
    if (connected != cli::EXIT_OK) return connected;

    const std::string out = parsed.has("--json") ? catalogue_json(operations) : catalogue_table(operations);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return cli::EXIT_OK;
}

const cli::Registrar registrar({"operations", "confere a API Key e lista as operações do serviço", &run_operations});

}  // namespace
