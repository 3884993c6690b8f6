#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/text.h"
#include "core/version.h"

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

// The build's platform, for bug reports: the same version number ships for Windows and Linux.
const char* platform_name() {
#if defined(_WIN32) && defined(_WIN64)
    return "Windows x64";
#elif defined(_WIN32)
    return "Windows x86";
#elif defined(__linux__) && defined(__x86_64__)
    return "Linux x86_64";
#elif defined(__linux__) && defined(__aarch64__)
    return "Linux aarch64";
#elif defined(__linux__)
    return "Linux";
#else
    return "POSIX";
#endif
}

void print_usage(FILE* out) {
    std::fprintf(out, "Uso: dorvane COMANDO [opções]\n\nComandos:\n");
    for (const auto& c : cli::registry()) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
    std::fprintf(out, "\nUse \"dorvane COMANDO --help\" para as opções de cada comando");
    std::fprintf(out, " e \"dorvane --version\" para a versão.\n");
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
    if (args[0] == "--version" || args[0] == "-V") {
        std::printf("dorvane %s (%s)\n", version::TEXT, platform_name());
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
