// One synchronous HTTP(S) exchange per call, and multipart/form-data uploads on top of it.
//
// Windows uses WinHTTP, Linux libcurl; both keep the same observable contract: user agent
// "DorvaneClient/1.0", default proxy settings, a fresh connection per call, only our own headers
// (no Expect: 100-continue), the body's length announced up front (never chunked), one time-out
// for resolve, connect, send and receive, redirects never followed (a 3xx comes back as its
// status, so the API key never travels to another origin), answers above MAX_RESPONSE_BYTES and
// exchanges that last longer than EXCHANGE_BOUND_FACTOR time-outs end as transport failures.
//
// Failure style: never throws for network failures. A transport failure is status 0 plus one of
// the error texts below; any HTTP status (1xx..5xx) is a response with an empty error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/proxy.h"

namespace http {

struct Response {
    int32_t status = 0;   // 0 when no response was received
    std::string body;     // raw bytes
    std::string error;    // transport error text; empty when the exchange completed
    // The final answer's header fields, names in lower case (a repeated field keeps its last
    // value); empty when no answer arrived. The service's pacing ("retry-after") is read here.
    std::map<std::string, std::string> headers;
};

// Adds raw header lines ("Name: value", one or several, CR LF or LF between them) to `headers`;
// a status line ("HTTP/1.1 100 Continue") starts the set anew, so only the final answer's fields
// remain.
void add_header_lines(std::map<std::string, std::string>& headers, const std::string& lines);

struct ParsedUrl {
    bool secure = true;
    std::string host;  // UTF-8
    uint16_t port = 443;
    std::string path;  // UTF-8
};

// Splits an absolute http/https URL. On failure every field keeps its default (empty host), and
// the following connect fails with "Connection failed".
ParsedUrl parse_url(const std::string& url);

// The platform-free splitter behind parse_url where WinHttpCrackUrl does not exist. Same
// contract: http or https (any case), optional user info (dropped), host (bracketed for IPv6),
// optional port 1..65535, path with any query and without the fragment; a host of 256 UTF-16
// units or more, or a path of 2048 or more, fails like WinHttpCrackUrl's fixed buffers.
ParsedUrl split_url(const std::string& url);

constexpr size_t MAX_RESPONSE_BYTES = 64u * 1024u * 1024u;
constexpr int EXCHANGE_BOUND_FACTOR = 4;
constexpr const char* USER_AGENT = "DorvaneClient/1.0";

// The two bounds of one exchange, whatever the back end: the size of the answer and the time the
// whole exchange may take (EXCHANGE_BOUND_FACTOR time-outs, none for a time-out of 0 or less).
class ExchangeBounds {
public:
    explicit ExchangeBounds(int timeout_seconds);  // the exchange starts now
    int bound_seconds() const { return bound_seconds_; }
    uint64_t elapsed_ms() const;
    bool past_deadline() const;
    // "Exchange timed out (more than N s)"
    std::string deadline_text() const;
    // True when `more` bytes on top of `received` would pass MAX_RESPONSE_BYTES.
    static bool too_large(size_t received, size_t more) { return received + more > MAX_RESPONSE_BYTES; }

private:
    uint64_t started_ms_;
    int bound_seconds_;
};

constexpr const char* RESPONSE_TOO_LARGE_TEXT = "Response too large (more than 64 MB)";

// Transport failure texts (status 0):
//   "WinHTTP session not initialized", "Connection failed", "Request creation failed",
//   "Send failed (error N)", "Receive failed (error N)",
//   "Response too large (more than 64 MB)", "Exchange timed out (more than N s)",
//   "Invalid request header" (a name or value holding CR, LF or NUL: a key pasted with a line
//   break must not smuggle extra header lines onto the wire; nothing is sent),
//   and the office-network texts of net/proxy.h: a proxy's 407 (PROXY_AUTH_TEXT, never an HTTP
//   status), an unreachable proxy named as such, a refused server certificate.

// False when any header name or value holds CR, LF or NUL, or a name is empty or holds ':'.
bool headers_are_safe(const std::map<std::string, std::string>& headers);

// The checks both platform clients make before touching the network: the transport error text
// for a missing session or unsafe headers, empty when the exchange may go ahead.
std::string refusal_before_send(const void* session, const std::map<std::string, std::string>& headers);

// The error text of an exchange that got no answer, from the back end's failure code: the
// certificate's explanation (from `certificate_detail`), the proxy named when it could not be
// reached (`proxy` empty when there is none), else "<step> (error N)" with `step` "Send failed"
// or "Receive failed".
std::string no_answer_text(Backend backend, const char* step, long code, const std::string& certificate_detail,
                           const std::string& host, const std::string& proxy);

// While one lives on a thread, that thread's requests report how much of their body has gone out
// (bytes sent, body size), from inside the transfer, so a long upload can show that it moves.
// A later scope on the same thread replaces the hook until it ends.
class UploadProgressScope {
public:
    explicit UploadProgressScope(std::function<void(uint64_t sent, uint64_t total)> hook);
    ~UploadProgressScope();
    UploadProgressScope(const UploadProgressScope&) = delete;
    UploadProgressScope& operator=(const UploadProgressScope&) = delete;

private:
    std::function<void(uint64_t, uint64_t)> previous_;
};

// The hook of the innermost scope on this thread; empty when there is none.
const std::function<void(uint64_t, uint64_t)>& upload_progress_hook();

struct ProxySetup;  // the user's proxy settings where the platform has them (Windows)

class Client {
public:
    Client();   // opens the platform session
    ~Client();  // closes it
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // `method`: "GET" or "POST".
    Response request(const std::string& method, const std::string& url,
                     const std::map<std::string, std::string>& headers,
                     const std::vector<uint8_t>& body, int timeout_seconds);

    // POSTs `data` as the file part `field_name` named `filename`, after the text `fields`
    // (in key order). Sets "Content-Type: multipart/form-data; boundary=..." in a copy of
    // `headers`.
    Response post_multipart(const std::string& url, const std::map<std::string, std::string>& headers,
                            const std::string& field_name, const std::string& filename,
                            const std::vector<uint8_t>& data,
                            const std::map<std::string, std::string>& fields, int timeout_seconds);

private:
    // The platform's half of request(): the checks every exchange starts with are done.
    Response exchange(const std::string& method, const ParsedUrl& parsed, const std::string& url,
                      const std::map<std::string, std::string>& headers, const std::vector<uint8_t>& body,
                      int timeout_seconds, const ExchangeBounds& bounds);

    void* session_ = nullptr;  // HINTERNET on Windows, a marker elsewhere
    std::shared_ptr<const ProxySetup> proxy_;  // Windows only; libcurl reads the environment itself
};

// Pieces of post_multipart, exposed for tests.
std::string multipart_boundary();  // "----DorvaneBoundary" + tick count in decimal
std::string content_type_for(const std::string& filename);
std::vector<uint8_t> build_multipart_body(const std::string& boundary, const std::string& field_name,
                                          const std::string& filename, const std::vector<uint8_t>& data,
                                          const std::map<std::string, std::string>& fields);

}  // namespace http
