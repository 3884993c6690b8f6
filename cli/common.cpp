#include "cli/common.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <utility>

#include "cli/commands.h"
#include "core/sys.h"
#include "core/text.h"
#include "service/connect.h"
#include "service/defaults.h"

namespace cli {

namespace {

const OptionSpec* find_spec(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const auto& s : specs) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

// Whole lines in one call, so that lines from the batch worker and the main thread never mix.
void write_stderr(const std::string& text) {
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

std::string ParsedArgs::value(const std::string& name, const std::string& fallback) const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

bool parse_args(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs, ParsedArgs& out,
                std::string& error) {
    out = ParsedArgs();
    bool options_ended = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_ended || a.size() < 2 || a[0] != '-') {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        size_t eq = a.find('=');
        std::string name = a.substr(0, eq);
        const OptionSpec* spec = find_spec(specs, name);
        if (!spec) {
            error = "opção desconhecida: " + name;
            return false;
        }
        if (!spec->takes_value) {
            if (eq != std::string::npos) {
                error = "a opção " + name + " não aceita valor";
                return false;
            }
            out.flags.insert(name);
            continue;
        }
        if (eq != std::string::npos) {
            out.values[name] = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            out.values[name] = args[++i];
        } else {
            error = "a opção " + name + " exige um valor";
            return false;
        }
    }
    return true;
}

int usage_error(const std::string& command, const std::string& error) {
    write_stderr("dorvane " + command + ": " + error + "\nUse \"dorvane " + command +
                 " --help\" para ver as opções.\n");
    return EXIT_USAGE;
}

std::string resolve_url(const ParsedArgs& args) {
    std::string url = args.value("--url");
    if (url.empty()) url = sys::environment("DORVANE_URL");
    if (url.empty()) url = dorvane::DEFAULT_BASE_URL;
    return url;
}

std::string resolve_key(const ParsedArgs& args) {
    std::string key = args.value("--key");
    if (key.empty()) key = sys::environment("DORVANE_API_KEY");
    return key;
}

namespace {
std::atomic<bool> g_quiet{false};

// What --quiet keeps: errors, warnings, files left out, and how the run ended.
bool shown_when_quiet(const std::string& message) {
    for (const char* tag : {"[ERRO]", "[AVISO]", "[PULADO]", "[PARADA]", "[CANCELADO]", "[FIM]", "Resultados salvos em "}) {
        if (message.compare(0, std::strlen(tag), tag) == 0) return true;
    }
    return false;
}
}  // namespace

void set_quiet(bool q) { g_quiet.store(q); }
bool quiet() { return g_quiet.load(); }

bool load_key_file(ParsedArgs& args, std::string& error) {
    if (!args.has("--key-file")) return true;
    const std::string path = args.value("--key-file");
    std::string content;
    if (path == "-") {
        std::getline(std::cin, content);
    } else {
        const std::vector<uint8_t> bytes = text::read_all(path);
        if (bytes.empty()) {
            error = "não foi possível ler a API Key de " + path + " (arquivo vazio ou inacessível)";
            return false;
        }
        content.assign(bytes.begin(), bytes.end());
    }
    const size_t end_of_line = content.find_first_of("\r\n");
    if (end_of_line != std::string::npos) content.erase(end_of_line);
    const size_t first = content.find_first_not_of(" \t");
    const size_t last = content.find_last_not_of(" \t");
    content = first == std::string::npos ? std::string() : content.substr(first, last - first + 1);
    if (content.empty()) {
        error = "nenhuma API Key em " + (path == "-" ? std::string("entrada padrão") : path);
        return false;
    }
    args.values["--key"] = content;
    return true;
}

// Log lines carry the service's texts and file names: made safe here, once, for every command.
void log_line(const std::string& message) {
    if (quiet() && !shown_when_quiet(message)) return;
    write_stderr("[" + sys::local_time("%H:%M:%S") + "] " + text::display_safe(message) + "\n");
}

bool interactive() { return sys::stdin_is_terminal() && sys::stderr_is_terminal(); }

int connect_and_list(const std::string& url, const std::string& key, dorvane::ApiClient& client,
                     std::vector<dorvane::Operation>& operations) {
    if (key.empty()) {
        write_stderr(std::string(dorvane::MISSING_KEY_TEXT) +
                     "\n(use --key ou a variável de ambiente DORVANE_API_KEY)\n");
        return EXIT_USAGE;
    }
    log_line(dorvane::set_connection(client, url, key));
    const dorvane::ConnectResult connected = dorvane::check_key_and_list(
        client, log_line, [&operations](std::vector<dorvane::Operation> catalogue) { operations = std::move(catalogue); });
    if (connected.status == dorvane::ConnectStatus::Ok) return EXIT_OK;
    // The service's words may hold control bytes: made safe here, the layout's line breaks kept.
    write_stderr("\n" +
                 dorvane::connect_failure_text(connected.status, text::display_safe(connected.error.to_string())) +
                 "\n");
    return EXIT_STOPPED;
}

}  // namespace cli
