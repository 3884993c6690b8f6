#include "cli/common.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/commands.h"
#include "service/defaults.h"

namespace {

void set_env(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

const std::vector<cli::OptionSpec> SPECS = {{"--url", true}, {"--key", true}, {"--yes", false}};

struct GoodRow {
    const char* name;
    std::vector<std::string> args;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positional;
    bool help;
};

TEST(CliCommon, ParsesOptionsFlagsAndPositionals) {
    const GoodRow rows[] = {
        {"nothing", {}, {}, {}, {}, false},
        {"separate value", {"--url", "http://h"}, {{"--url", "http://h"}}, {}, {}, false},
        {"joined value", {"--key=a=b"}, {{"--key", "a=b"}}, {}, {}, false},
        {"empty joined value", {"--key="}, {{"--key", ""}}, {}, {}, false},
        {"value that looks like an option", {"--key", "--yes"}, {{"--key", "--yes"}}, {}, {}, false},
        {"last value wins", {"--url", "a", "--url", "b"}, {{"--url", "b"}}, {}, {}, false},
        {"flag and paths", {"p1", "--yes", "p2"}, {}, {"--yes"}, {"p1", "p2"}, false},
        {"lone dash is a path", {"-"}, {}, {}, {"-"}, false},
        {"double dash ends options", {"--", "--yes", "-h"}, {}, {}, {"--yes", "-h"}, false},
        {"help", {"--yes", "-h"}, {}, {"--yes"}, {}, true},
        {"long help", {"--help", "x"}, {}, {}, {"x"}, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        cli::ParsedArgs parsed;
        std::string error;
        ASSERT_TRUE(cli::parse_args(r.args, SPECS, parsed, error)) << error;
        EXPECT_EQ(parsed.values, r.values);
        EXPECT_EQ(parsed.flags, r.flags);
        EXPECT_EQ(parsed.positional, r.positional);
        EXPECT_EQ(parsed.help, r.help);
    }
}

TEST(CliCommon, RefusesBadOptions) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--bogus"}, "opção desconhecida: --bogus"},
        {{"--bogus=1"}, "opção desconhecida: --bogus"},
        {{"-x"}, "opção desconhecida: -x"},
        {{"--url"}, "a opção --url exige um valor"},
        {{"--yes=1"}, "a opção --yes não aceita valor"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.second);
        cli::ParsedArgs parsed;
        std::string error;
        EXPECT_FALSE(cli::parse_args(r.first, SPECS, parsed, error));
        EXPECT_EQ(error, r.second);
    }
}

TEST(CliCommon, UrlAndKeyFallBackToTheEnvironmentThenTheDefault) {
    cli::ParsedArgs none, given, empty;
    std::string error;
    ASSERT_TRUE(cli::parse_args({}, SPECS, none, error));
    ASSERT_TRUE(cli::parse_args({"--url", "http://flag", "--key", "flag-key"}, SPECS, given, error));
    ASSERT_TRUE(cli::parse_args({"--url=", "--key="}, SPECS, empty, error));

    set_env("DORVANE_URL", nullptr);
    set_env("DORVANE_API_KEY", nullptr);
    EXPECT_EQ(cli::resolve_url(none), dorvane::DEFAULT_BASE_URL);
    EXPECT_EQ(cli::resolve_url(none), "https://api.dorvane.com.br");
    EXPECT_EQ(cli::resolve_key(none), "");
    EXPECT_EQ(cli::resolve_url(given), "http://flag");

    set_env("DORVANE_URL", "http://env");
    set_env("DORVANE_API_KEY", "env-key");
    EXPECT_EQ(cli::resolve_url(none), "http://env");
    EXPECT_EQ(cli::resolve_key(none), "env-key");
    EXPECT_EQ(cli::resolve_url(given), "http://flag");
    EXPECT_EQ(cli::resolve_key(given), "flag-key");
    // An empty option counts as not given, like an empty URL field in the window.
    EXPECT_EQ(cli::resolve_url(empty), "http://env");
    EXPECT_EQ(cli::resolve_key(empty), "env-key");
    set_env("DORVANE_URL", nullptr);
    set_env("DORVANE_API_KEY", nullptr);
}

// Without a key nothing is sent and the client keeps its empty settings.
TEST(CliCommon, MissingKeyConnectsNowhere) {
    dorvane::ApiClient client;
    std::vector<dorvane::Operation> ops = {dorvane::Operation{"keep", "", "", "", 0}};
    EXPECT_EQ(cli::connect_and_list("http://127.0.0.1:1", "", client, ops), cli::EXIT_USAGE);
    EXPECT_EQ(client.base(), "");
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].code, "keep");
}

}  // namespace
