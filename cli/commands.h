// The `dorvane` command line: each subcommand lives in its own cmd_*.cpp file and registers
// itself here, so the dispatcher in main.cpp needs no edit when a command is added.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Exit statuses shared by every subcommand.
constexpr int EXIT_OK = 0;
constexpr int EXIT_SOME_FAILED = 1;
constexpr int EXIT_STOPPED = 2;  // rejected key, unreachable service, batch stopped
constexpr int EXIT_USAGE = 64;
constexpr int EXIT_CANCELLED = 130;

struct Command {
    const char* name;
    const char* summary;  // one line for `dorvane --help`
    int (*run)(const std::vector<std::string>& args);  // args after the command name, UTF-8
};

std::vector<Command>& registry();

struct Registrar {
    explicit Registrar(const Command& c) { registry().push_back(c); }
};

}  // namespace cli
