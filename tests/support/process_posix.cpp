#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/process.h"
#include "support/support.h"

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Starts `argv` with the given descriptors as its standard input, output and error. Every other
// descriptor of ours is close-on-exec: a copy inherited by long-lived grandchildren (Wine's
// wineserver and services) would keep a pipe open after the program exits, so reading it to the
// end would never finish.
int spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, int in, int out,
          int err) {
    const int pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid > 0) return pid;
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const auto& e : env) {
        if (e.second.empty()) {
            unsetenv(e.first.c_str());
        } else {
            setenv(e.first.c_str(), e.second.c_str(), 1);
        }
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int open_fd(const std::string& path, int flags) { return open(path.c_str(), flags | O_CLOEXEC, 0600); }

// Waits for the child until `deadline`, then kills it. The exit status, or -1 when killed.
int reap(int pid, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        const int r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0) return -1;
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void stop(int pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    reap(pid, Clock::now() + std::chrono::seconds(10));
}

}  // namespace

std::string bin_path(const std::string& name) { return std::string(DORVANE_BIN_DIR) + "/" + name; }

RunResult run_program(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      int timeout_seconds, const std::function<bool(int pid)>& on_tick, const std::string& stdin_path) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int in = open_fd(stdin_path.empty() ? "/dev/null" : stdin_path, O_RDONLY);
    const int pid = spawn(argv, env, in, out_pipe[1], err_pipe[1]);
    for (const int fd : {in, out_pipe[1], err_pipe[1]}) close(fd);
    RunResult result;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    bool ticking = static_cast<bool>(on_tick);
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && Clock::now() < deadline) {
        if (ticking && on_tick(pid)) ticking = false;
        if (poll(fds, 2, 100) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (const auto& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    result.exit_code = reap(pid, deadline);
    return result;
}

DemoService::DemoService(const std::vector<std::string>& extra_args) {
    char log_template[] = "/tmp/dorvane_demo_log_XXXXXX";
    const int log_fd = mkostemp(log_template, O_CLOEXEC);
    log_path_ = log_template;
    int out_pipe[2];
    if (log_fd < 0 || pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("mkstemp or pipe failed");
    std::vector<std::string> argv = {bin_path("dorvane-demo-service"), "--host", "127.0.0.1", "--port", "0"};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    const int null_fd = open_fd("/dev/null", O_RDONLY);
    pid_ = spawn(argv, {}, null_fd, out_pipe[1], log_fd);
    for (const int fd : {null_fd, out_pipe[1], log_fd}) close(fd);

    // The first stdout line names the port: "listening on http://127.0.0.1:PORT".
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    pollfd pfd{out_pipe[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        if (poll(&pfd, 1, 100) <= 0) continue;
        char buf[256];
        const ssize_t n = read(out_pipe[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out_pipe[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("demo service did not start: " + line + log());
    }
    port_ = std::atoi(line.c_str() + prefix.size());
    url_ = "http://127.0.0.1:" + std::to_string(port_);
}

DemoService::~DemoService() {
    stop(pid_);
    unlink(log_path_.c_str());
}

std::string DemoService::log() const {
    const auto bytes = read_bytes(log_path_);
    return std::string(bytes.begin(), bytes.end());
}

TlsServer::TlsServer() {
    char dir_template[] = "/tmp/dorvane_tls_XXXXXX";
    if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = dir_template;
    const std::string key = dir_ + "/key.pem", cert = dir_ + "/cert.pem";
    // Made here, for this run only: a certificate no system store trusts.
    const RunResult made = run_program({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                        key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1"});
    if (made.exit_code != 0) throw std::runtime_error("openssl req failed: " + made.err);
    port_ = unused_port();
    const int null_fd = open_fd("/dev/null", O_RDWR);
    pid_ = spawn({"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_), "-cert", cert,
                  "-key", key, "-www", "-quiet"},
                 {}, null_fd, null_fd, null_fd);
    close(null_fd);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port_);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (up) break;
        if (Clock::now() > deadline) throw std::runtime_error("openssl s_server did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    url_ = "https://127.0.0.1:" + std::to_string(port_);
}

TlsServer::~TlsServer() {
    stop(pid_);
    run_program({"/bin/rm", "-rf", dir_});
}

}  // namespace testing_support
