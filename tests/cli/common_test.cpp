// Option parsing shared by every `dorvane` subcommand.
#include "cli/common.h"

#include <gtest/gtest.h>

namespace {

// The parse as one line: values, flags, 'paths' and "help"; or the usage error.
std::string parse(const std::vector<std::string>& args) {
    static const std::vector<cli::OptionSpec> specs = {{"--url", true}, {"--key", true}, {"--yes", false}};
    cli::ParsedArgs p;
    std::string error;
    if (!cli::parse_args(args, specs, p, error)) return "error: " + error;
    std::string out;
    for (const auto& v : p.values) out += v.first + "=" + v.second + " ";
    for (const auto& f : p.flags) out += f + " ";
    for (const auto& a : p.positional) out += "'" + a + "' ";
    return out + (p.help ? "help" : "");
}

TEST(CliCommon, ParsesOptionsFlagsAndPathsOrRefuses) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--url", "http://h"}, "--url=http://h "},
        {{"--key=a=b"}, "--key=a=b "},
        {{"--key="}, "--key= "},
        {{"--key", "--yes"}, "--key=--yes "},  // a value that looks like an option
        {{"--url", "a", "--url", "b"}, "--url=b "},
        {{"p1", "--yes", "p2"}, "--yes 'p1' 'p2' "},
        {{"-"}, "'-' "},
        {{"--", "--yes", "-h"}, "'--yes' '-h' "},
        {{"--yes", "-h"}, "--yes help"},
        {{"--bogus=1"}, "error: opção desconhecida: --bogus"},
        {{"-x"}, "error: opção desconhecida: -x"},
        {{"--url"}, "error: a opção --url exige um valor"},
        {{"--yes=1"}, "error: a opção --yes não aceita valor"},
    };
    for (const auto& r : rows) EXPECT_EQ(parse(r.first), r.second);
}

}  // namespace
