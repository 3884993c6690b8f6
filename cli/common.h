// Plumbing shared by the `dorvane` subcommands: option parsing, resolution of the service URL and
// API key, time-stamped log lines on stderr, and the connect step (key check plus catalogue) with
// the same Portuguese texts as the window's connect workflow.
//
// Failure style: nothing throws; parsing reports a usage error text, connecting returns a status.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/api_client.h"

namespace cli {

// One option a subcommand accepts. `name` includes the dashes ("--url"); options that take a
// value accept both "--url VALUE" and "--url=VALUE".
struct OptionSpec {
    const char* name;
    bool takes_value;
};

struct ParsedArgs {
    std::map<std::string, std::string> values;  // options with a value; the last one given wins
    std::set<std::string> flags;                // options without a value that were given
    std::vector<std::string> positional;        // everything else, in order ("--" ends options)
    bool help = false;                          // "--help" or "-h" was given

    bool has(const std::string& name) const { return flags.count(name) > 0 || values.count(name) > 0; }
    // The option's value; `fallback` when it was not given.
    std::string value(const std::string& name, const std::string& fallback = std::string()) const;
};

// Parses `args` against `specs`. False with `error` set to a Portuguese usage text for an unknown
// option, a missing value, or a value given to a flag ("--yes=1"). "--help"/"-h" are always
// accepted and only set `help`.
[[nodiscard]] bool parse_args(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                              ParsedArgs& out, std::string& error);

// The "Rede:" paragraph of the --help of the commands that talk to the service: where the proxy
// comes from on this platform, and that the server's certificate is always checked.
extern const char* const NETWORK_HELP;

// Prints "dorvane: " + error and a hint to use --help on stderr; returns EXIT_USAGE.
int usage_error(const std::string& command, const std::string& error);

// --url, else DORVANE_URL, else dorvane::DEFAULT_BASE_URL. An empty value counts as not given,
// as an empty URL field does in the window.
std::string resolve_url(const ParsedArgs& args);
// --key, else DORVANE_API_KEY; empty when neither is set.
std::string resolve_key(const ParsedArgs& args);

// --quiet: from then on log_line shows only errors, warnings, skipped files and the closing lines.
void set_quiet(bool quiet);
bool quiet();

// --key-file PATH, or "-" for standard input: the key is the file's first line (blanks and line
// ends around it removed), stored as the value of --key, so that the key never has to appear in
// the process list. False with `error` set when the file cannot be read or holds no key.
[[nodiscard]] bool load_key_file(ParsedArgs& args, std::string& error);

// "[HH:MM:SS] " + message + "\n" on stderr, local time, one write per line (safe from threads).
// The message is shown through text::display_safe: no control character reaches the terminal.
void log_line(const std::string& message);

// True when stdin and stderr are both terminals (a question can be asked and answered).
bool interactive();

// The window's connect step on the command line: stores the normalised URL and the key in
// `client`, checks the key and fetches the catalogue into `operations` (replaced only on success),
// with the window's log lines (time-stamped) and dialog texts, all on stderr. EXIT_OK when
// connected; otherwise the exit status: EXIT_USAGE without a key, EXIT_STOPPED for the rest.
int connect_and_list(const std::string& url, const std::string& key, dorvane::ApiClient& client,
                     std::vector<dorvane::Operation>& operations);

}  // namespace cli
