// The one way tests start a child process: a built program or a tool, with its output captured and
// its exit status (process_posix.cpp, process_win32.cpp); on POSIX also the demo service and a TLS
// server that nobody trusts, for the lifetime of a test.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_server.h"  // unused_port

namespace testing_support {

// The built program `name` beside the test programs (DORVANE_BIN_DIR; on Windows the folder of the
// running test, and "dorvane" finds dorvane.exe).
std::string bin_path(const std::string& name);

struct RunResult {
    int exit_code = -1;  // -1 when the program did not end by itself (killed at the time-out)
    std::string out;     // as written: a Windows console program's line ends arrive as CR LF
    std::string err;
};

// Runs `argv` (argv[0] is a path) with stdin from `stdin_path` (the null device when empty).
// `env` entries are set in the child; an entry whose value is empty is removed from its
// environment instead. `on_tick`, when set, is called with the child's process id about every
// 100 ms while it runs (to interrupt it, say) until it returns true.
RunResult run_program(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                      int timeout_seconds = 120, const std::function<bool(int pid)>& on_tick = nullptr,
                      const std::string& stdin_path = {});

#ifdef _WIN32
// The same with the command line given whole, exactly as the program is to see it (an NSIS
// uninstaller's "_?=FOLDER" must stay unquoted, blanks and all).
RunResult run_command_line(const std::string& command_line, int timeout_seconds = 120);
#else
// dorvane-demo-service on 127.0.0.1, a free port, until destruction (SIGTERM, then SIGKILL).
// Throws std::runtime_error when it does not announce itself within a few seconds.
class DemoService {
public:
    explicit DemoService(const std::vector<std::string>& extra_args = {});
    ~DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    const std::string& url() const { return url_; }  // "http://127.0.0.1:PORT"
    int port() const { return port_; }
    std::string log() const;  // what it wrote on stderr so far

private:
    int pid_ = -1;
    int port_ = 0;
    std::string url_;
    std::string log_path_;
};

// A TLS server on 127.0.0.1 (openssl s_server) with a self-signed certificate made for this run,
// so that every client refuses it; until destruction.
class TlsServer {
public:
    TlsServer();
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;
    const std::string& url() const { return url_; }  // "https://127.0.0.1:PORT"

private:
    int pid_ = -1;
    uint16_t port_ = 0;
    std::string url_;
    std::string dir_;
};
#endif

}  // namespace testing_support
