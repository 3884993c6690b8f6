#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace cli {
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}
}  // namespace cli

namespace {

void print_usage(FILE* out) {
    std::fprintf(out, "Uso: dorvane COMANDO [opções]\n\nComandos:\n");
    for (const auto& c : cli::registry()) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
    std::fprintf(out, "\nUse \"dorvane COMANDO --help\" para as opções de cada comando.\n");
}

int dispatch(const std::vector<std::string>& args) {
    if (args.empty()) {
        print_usage(stderr);
        return cli::EXIT_USAGE;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        print_usage(stdout);
        return cli::EXIT_OK;
    }
    for (const auto& c : cli::registry()) {
        if (args[0] == c.name) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::fprintf(stderr, "Comando desconhecido: %s\n\n", args[0].c_str());
    print_usage(stderr);
    return cli::EXIT_USAGE;
}

}  // namespace

#ifdef _WIN32
// UTF-16 arguments, converted once; the console shows UTF-8 output.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(text::to_utf8(argv[i]));
    return dispatch(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return dispatch(args);
}
#endif
