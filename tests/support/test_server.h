// An HTTP/1.1 server on 127.0.0.1 for tests, inside the test process, on plain sockets so that the
// same code runs natively and in the Windows build under Wine. It answers one request per
// connection, records every request it read, and can misbehave on demand: late answers, dropped
// connections, bodies cut short, bodies that trickle for ever, bodies far too large.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/form_parser.h"

namespace testing_support {

struct HttpRequest {
    std::string method;
    std::string target;  // as on the request line: path and any query
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;

    // Value of the first header of that name (any case); empty when missing.
    std::string header(const std::string& name) const;
    bool has_header(const std::string& name) const;
};

struct HttpReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added
    int delay_ms = 0;        // wait this long before answering
    bool drop = false;       // close the connection without any answer
    size_t cut_at = SIZE_MAX;  // announce the whole body, send this many bytes of it, close
    uint64_t stream_bytes = 0;  // instead of `body`, send this many 'x' bytes (announced)
    int trickle_ms = 0;      // announce 1 GB, then send one byte every trickle_ms until the peer goes
};

// A reply with a JSON (or any) body and a Content-Type header.
HttpReply json_reply(int status, const std::string& body);
HttpReply text_reply(int status, const std::string& body, const std::string& content_type);

using Handler = std::function<HttpReply(const HttpRequest&)>;

class TestServer {
public:
    TestServer();  // listening on 127.0.0.1 at a free port when the constructor returns
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    uint16_t port() const { return port_; }
    std::string url() const;  // "http://127.0.0.1:PORT"

    // Handler for requests with this method and exact target; others get the fallback, which
    // answers 404 with {"error":"not found"} until replaced.
    void handle(const std::string& method, const std::string& target, Handler handler);
    void set_fallback(Handler handler);
    // The next `count` requests get `reply`, whatever their handler would have said.
    void fail_next(int count, const HttpReply& reply);

    std::vector<HttpRequest> requests() const;
    size_t request_count() const;

private:
    void accept_loop();
    void serve(uintptr_t client);
    HttpReply reply_for(const HttpRequest& request);

    uintptr_t listener_ = 0;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::vector<Worker> workers_;  // finished ones are joined as new connections arrive
    std::vector<uintptr_t> open_clients_;
    std::map<std::pair<std::string, std::string>, Handler> handlers_;
    Handler fallback_;
    int faults_left_ = 0;
    HttpReply fault_;
    std::vector<HttpRequest> requests_;
};

// A loopback port with nothing listening on it (bound once, then released).
uint16_t unused_port();

// A forwarding HTTP proxy on 127.0.0.1 that logs every request passing through it. The target
// comes from an absolute request target ("GET http://127.0.0.1:8080/x HTTP/1.1") or, when the
// request line carries only the path (Wine's WinHTTP sends that to a proxy), from the Host header.
// Only loopback targets are forwarded (anything else gets 502); no CONNECT tunnels. With
// require_auth set it answers every request 407 instead, as an office proxy does to a program that
// does not authenticate.
class ForwardingProxy {
public:
    ForwardingProxy();
    uint16_t port() const { return server_.port(); }
    std::string address() const;  // "127.0.0.1:PORT"
    std::vector<HttpRequest> requests() const { return server_.requests(); }
    void require_auth(bool on) { require_auth_ = on; }

private:
    HttpReply forward(const HttpRequest& request);
    std::atomic<bool> require_auth_{false};
    TestServer server_;
};

using FormPart = demo::FormPart;

// The demo service's form reader, stricter about the frame: the body starts with the first
// delimiter and ends with the closing one and its CR LF, nothing before or after. False when the
// boundary is missing or the body does not follow RFC 7578 framing.
bool parse_multipart(const std::string& content_type, const std::string& body, std::vector<FormPart>& parts);

}  // namespace testing_support
