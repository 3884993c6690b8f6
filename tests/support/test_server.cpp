#include "test_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

// The socket calls differ only in names and headers between Winsock and POSIX.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using socket_t = SOCKET;
using socklen_type = int;
const socket_t BAD_SOCKET = INVALID_SOCKET;
static void close_socket(socket_t s) { closesocket(s); }
static void shutdown_socket(socket_t s) { shutdown(s, SD_BOTH); }
constexpr int SEND_FLAGS = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using socket_t = int;
using socklen_type = socklen_t;
const socket_t BAD_SOCKET = -1;
static void close_socket(socket_t s) { ::close(s); }
static void shutdown_socket(socket_t s) { shutdown(s, SHUT_RDWR); }
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#endif

namespace testing_support {

namespace {

void init_sockets() {
#ifdef _WIN32
    static bool done = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }();
    (void)done;
#endif
}

void set_recv_timeout(socket_t s, int ms) {
#ifdef _WIN32
    DWORD t = static_cast<DWORD>(ms);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&t), sizeof(t));
#else
    timeval t{ms / 1000, (ms % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof(t));
#endif
}

socket_t bind_loopback(uint16_t& port) {
    init_sockets();
    socket_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == BAD_SOCKET) throw std::runtime_error("test server: socket() failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close_socket(s);
        throw std::runtime_error("test server: bind() failed");
    }
    socklen_type len = sizeof(addr);
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return s;
}

bool send_all(socket_t s, const char* data, size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int n = send(s, data, chunk, SEND_FLAGS);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool send_all(socket_t s, const std::string& text) { return send_all(s, text.data(), text.size()); }

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return s.substr(a, b - a);
}

// Header lines of `text` from `pos` to `end`, each "Name: value"; lines without a colon are skipped.
void read_header_lines(const std::string& text, size_t pos, size_t end,
                       std::vector<std::pair<std::string, std::string>>& headers) {
    while (pos < end) {
        const size_t line_end = std::min(text.find("\r\n", pos), end);
        const std::string line = text.substr(pos, line_end - pos);
        pos = line_end + 2;
        const size_t colon = line.find(':');
        if (colon != std::string::npos) headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
}

// Reads one request: head up to the blank line, then Content-Length bytes of body.
bool read_request(socket_t s, HttpRequest& request) {
    std::string data;
    char buf[65536];
    size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        const int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0 || data.size() > (1u << 20)) return false;
        data.append(buf, static_cast<size_t>(n));
    }
    const std::string head = data.substr(0, head_end);
    std::string rest = data.substr(head_end + 4);

    const size_t line_end = std::min(head.find("\r\n"), head.size());
    const std::string request_line = head.substr(0, line_end);
    const size_t sp1 = request_line.find(' ');
    const size_t sp2 = request_line.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return false;
    request.method = request_line.substr(0, sp1);
    request.target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
    read_header_lines(head, line_end + 2, head.size(), request.headers);
    const std::string length_text = request.header("Content-Length");
    if (length_text.find_first_not_of("0123456789") != std::string::npos || length_text.size() > 12) return false;
    const size_t length = length_text.empty() ? 0 : static_cast<size_t>(std::stoull(length_text));
    while (rest.size() < length) {
        const int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0) break;
        rest.append(buf, static_cast<size_t>(n));
    }
    request.body = rest.substr(0, std::min(rest.size(), length));
    return true;
}

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
    const std::string wanted = lower(name);
    for (const auto& [key, value] : headers) {
        if (lower(key) == wanted) return value;
    }
    return "";
}

bool HttpRequest::has_header(const std::string& name) const {
    const std::string wanted = lower(name);
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return lower(h.first) == wanted; });
}

HttpReply text_reply(int status, const std::string& body, const std::string& content_type) {
    HttpReply reply;
    reply.status = status;
    reply.body = body;
    reply.headers.emplace_back("Content-Type", content_type);
    return reply;
}

HttpReply json_reply(int status, const std::string& body) { return text_reply(status, body, "application/json"); }

uint16_t unused_port() {
    uint16_t port = 0;
    close_socket(bind_loopback(port));
    return port;
}

TestServer::TestServer() {
    socket_t s = bind_loopback(port_);
    if (listen(s, 64) != 0) {
        close_socket(s);
        throw std::runtime_error("test server: listen() failed");
    }
    listener_ = static_cast<uintptr_t>(s);
    fallback_ = [](const HttpRequest&) { return json_reply(404, "{\"error\":\"not found\"}"); };
    acceptor_ = std::thread([this] { accept_loop(); });
}

TestServer::~TestServer() {
    stopping_ = true;
    acceptor_.join();
    close_socket(static_cast<socket_t>(listener_));
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (uintptr_t c : open_clients_) shutdown_socket(static_cast<socket_t>(c));
        workers.swap(workers_);
    }
    for (auto& w : workers) w.thread.join();
}

std::string TestServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void TestServer::handle(const std::string& method, const std::string& target, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[{method, target}] = std::move(handler);
}

void TestServer::set_fallback(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    fallback_ = std::move(handler);
}

void TestServer::fail_next(int count, const HttpReply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_left_ = count;
    fault_ = reply;
}

std::vector<HttpRequest> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t TestServer::request_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

void TestServer::accept_loop() {
    const socket_t listener = static_cast<socket_t>(listener_);
    while (!stopping_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval wait{0, 50 * 1000};
        if (select(static_cast<int>(listener) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
        const socket_t client = accept(listener, nullptr, nullptr);
        if (client == BAD_SOCKET) continue;
        std::vector<Worker> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto done = std::stable_partition(workers_.begin(), workers_.end(),
                                                    [](const Worker& w) { return !w.finished->load(); });
            std::move(done, workers_.end(), std::back_inserter(finished));
            workers_.erase(done, workers_.end());
            open_clients_.push_back(static_cast<uintptr_t>(client));
            auto flag = std::make_shared<std::atomic<bool>>(false);
            workers_.push_back(Worker{std::thread([this, client, flag] {
                                          serve(static_cast<uintptr_t>(client));
                                          *flag = true;
                                      }),
                                      flag});
        }
        for (auto& w : finished) w.thread.join();
    }
}

HttpReply TestServer::reply_for(const HttpRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        if (faults_left_ > 0) {
            --faults_left_;
            return fault_;
        }
        const auto it = handlers_.find({request.method, request.target});
        handler = it != handlers_.end() ? it->second : fallback_;
    }
    return handler(request);
}

void TestServer::serve(uintptr_t client_id) {
    const socket_t client = static_cast<socket_t>(client_id);
    set_recv_timeout(client, 10000);
    HttpRequest request;
    if (read_request(client, request)) {
        const HttpReply reply = reply_for(request);
        const auto sleep_slices = [this](int ms) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!stopping_ && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        };
        sleep_slices(reply.delay_ms);
        if (!reply.drop && !stopping_) {
            uint64_t announced = reply.body.size();
            if (reply.stream_bytes > 0) announced = reply.stream_bytes;
            if (reply.trickle_ms > 0) announced = 1u << 30;
            // No client reads the reason phrase.
            std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
            for (const auto& [key, value] : reply.headers) head += key + ": " + value + "\r\n";
            head += "Content-Length: " + std::to_string(announced) + "\r\nConnection: close\r\n\r\n";
            bool ok = send_all(client, head);
            if (reply.trickle_ms > 0) {
                while (ok && !stopping_) {
                    ok = send_all(client, "x");
                    sleep_slices(reply.trickle_ms);
                }
            } else if (reply.stream_bytes > 0) {
                const std::string chunk(1 << 16, 'x');
                for (uint64_t left = reply.stream_bytes; ok && left > 0 && !stopping_;) {
                    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
                    ok = send_all(client, chunk.data(), n);
                    left -= n;
                }
            } else {
                send_all(client, reply.body.data(), std::min(reply.cut_at, reply.body.size()));
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    close_socket(client);
    open_clients_.erase(std::remove(open_clients_.begin(), open_clients_.end(), client_id), open_clients_.end());
}

namespace {

// One exchange with a loopback server: the request as given (with "Connection: close"), the
// answer read until the server closes. Status 502 when it cannot be reached or answers nonsense.
HttpReply exchange(uint16_t port, const std::string& request_text) {
    HttpReply bad = text_reply(502, "proxy: upstream failed", "text/plain");
    init_sockets();
    socket_t s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == BAD_SOCKET) return bad;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    set_recv_timeout(s, 30000);
    std::string data;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && send_all(s, request_text)) {
        char buf[65536];
        int n;
        while ((n = recv(s, buf, sizeof(buf), 0)) > 0) data.append(buf, static_cast<size_t>(n));
    }
    close_socket(s);
    const size_t head_end = data.find("\r\n\r\n");
    if (data.compare(0, 5, "HTTP/") != 0 || head_end == std::string::npos) return bad;
    HttpReply reply;
    reply.status = std::atoi(data.c_str() + data.find(' ') + 1);
    read_header_lines(data, data.find("\r\n") + 2, head_end, reply.headers);
    reply.headers.erase(std::remove_if(reply.headers.begin(), reply.headers.end(),
                                       [](const auto& h) {
                                           const std::string key = lower(h.first);
                                           return key == "content-length" || key == "connection" ||
                                                  key == "transfer-encoding";
                                       }),
                        reply.headers.end());
    reply.body = data.substr(head_end + 4);
    return reply;
}

}  // namespace

ForwardingProxy::ForwardingProxy() {
    server_.set_fallback([this](const HttpRequest& request) { return forward(request); });
}

std::string ForwardingProxy::address() const { return "127.0.0.1:" + std::to_string(port()); }

HttpReply ForwardingProxy::forward(const HttpRequest& request) {
    if (require_auth_) {
        HttpReply reply = text_reply(407, "proxy: authentication required", "text/plain");
        reply.headers.emplace_back("Proxy-Authenticate", "Basic realm=\"escritorio\"");
        return reply;
    }
    std::string authority = request.header("Host");
    std::string path = request.target;
    if (lower(path).rfind("http://", 0) == 0) {
        const size_t slash = path.find('/', 7);
        authority = path.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    const size_t colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const int port = colon == std::string::npos ? 80 : std::atoi(authority.c_str() + colon + 1);
    if ((host != "127.0.0.1" && host != "localhost") || port <= 0 || port > 65535) {
        return text_reply(502, "proxy: only loopback targets", "text/plain");
    }
    std::string text = request.method + " " + path + " HTTP/1.1\r\n";
    for (const auto& [name, value] : request.headers) {
        const std::string key = lower(name);
        if (key.rfind("proxy-", 0) == 0 || key == "connection") continue;
        text += name + ": " + value + "\r\n";
    }
    text += "Connection: close\r\n\r\n" + request.body;
    return exchange(static_cast<uint16_t>(port), text);
}

bool parse_multipart(const std::string& content_type, const std::string& body, std::vector<FormPart>& parts) {
    const std::string boundary = demo::boundary_from_content_type(content_type);
    const std::string first = "--" + boundary + "\r\n", last = "\r\n--" + boundary + "--\r\n";
    std::string error;
    return !boundary.empty() && body.rfind(first, 0) == 0 && body.size() >= first.size() + last.size() &&
           body.compare(body.size() - last.size(), last.size(), last) == 0 &&
           demo::parse_form(body, boundary, parts, error);
}

}  // namespace testing_support
