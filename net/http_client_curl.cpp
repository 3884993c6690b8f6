// The HTTP exchange over libcurl, keeping WinHTTP's observable contract (see http_client.h).
#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "net/http_client.h"
#include "net/proxy.h"

namespace http {

namespace {

// Marker stored in Client::session_ once libcurl is initialised; there is no session object.
int g_session_marker = 0;

bool global_init() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

struct Sink {
    std::string body;
    bool too_large = false;
    std::map<std::string, std::string> headers;
};

size_t take_header(char* data, size_t size, size_t count, void* user) {
    const size_t n = size * count;
    add_header_lines(static_cast<Sink*>(user)->headers, std::string(data, n));
    return n;
}

// libcurl's transfer callback: hands the upload's progress to the thread's hook; never aborts.
int report_upload(void* user, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
    const auto& hook = *static_cast<const std::function<void(uint64_t, uint64_t)>*>(user);
    if (total > 0) hook(static_cast<uint64_t>(sent), static_cast<uint64_t>(total));
    return 0;
}

size_t write_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (ExchangeBounds::too_large(sink->body.size(), n)) {
        sink->too_large = true;
        return 0;  // makes libcurl abort with CURLE_WRITE_ERROR
    }
    sink->body.append(data, n);
    return n;
}

bool same_nocase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

std::string rebuild_url(const ParsedUrl& u) {
    std::string host = u.host;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    const std::string path = u.path.empty() ? "/" : u.path;
    return std::string(u.secure ? "https://" : "http://") + host + ":" + std::to_string(u.port) + path;
}

struct EasyHandle {
    CURL* h = curl_easy_init();
    curl_slist* headers = nullptr;
    std::string url;
    char detail[CURL_ERROR_SIZE] = {};
    Sink sink;
    ~EasyHandle() {
        if (headers) curl_slist_free_all(headers);
        if (h) curl_easy_cleanup(h);
    }
};

// WinHTTP's contract on libcurl: one request on the wire per call, no redirects, and the same
// bound for every phase.
void set_transfer_options(EasyHandle& easy, const ParsedUrl& parsed, const ExchangeBounds& bounds,
                          int timeout_seconds) {
    CURL* h = easy.h;
    const long timeout = timeout_seconds > 0 ? timeout_seconds : 0;
    easy.url = rebuild_url(parsed);
    curl_easy_setopt(h, CURLOPT_URL, easy.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_USERAGENT, USER_AGENT);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // One call is one request on the wire: a reused connection that the server had closed makes
    // libcurl send a POST a second time by itself.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // The same bound for every phase: connecting, and any stretch with no bytes moving while
    // sending or waiting for the answer (WinHTTP's per-phase time-outs). The overall bound stops
    // a body that trickles just fast enough to never stall.
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeout);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(bounds.bound_seconds()));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, easy.detail);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &easy.sink);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &easy.sink);
}

void set_method_and_body(CURL* h, const std::string& method, const std::vector<uint8_t>& body) {
    if (method == "GET" && body.empty()) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (method == "POST" || !body.empty()) {
        static const char empty = '\0';
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.empty() ? &empty : reinterpret_cast<const char*>(body.data()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
}

// Our headers only: libcurl's own Accept, Expect and form Content-Type are removed ("Name:" with
// nothing after the colon removes a header; "Name;" sends one with an empty value).
void set_headers(EasyHandle& easy, const std::map<std::string, std::string>& headers) {
    bool has_content_type = false;
    for (const auto& [key, value] : headers) {
        if (same_nocase(key, "Content-Type")) has_content_type = true;
        const std::string line = value.empty() ? key + ";" : key + ": " + value;
        easy.headers = curl_slist_append(easy.headers, line.c_str());
    }
    easy.headers = curl_slist_append(easy.headers, "Expect:");
    easy.headers = curl_slist_append(easy.headers, "Accept:");
    if (!has_content_type) easy.headers = curl_slist_append(easy.headers, "Content-Type:");
    curl_easy_setopt(easy.h, CURLOPT_HTTPHEADER, easy.headers);
}

// What came of a transfer that has run, in WinHTTP's terms.
Response outcome_of(EasyHandle& easy, CURLcode code, const ParsedUrl& parsed, const ExchangeBounds& bounds,
                    size_t body_size) {
    Response response;
    CURL* h = easy.h;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (easy.sink.too_large) {
        response.error = RESPONSE_TOO_LARGE_TEXT;
        return response;
    }
    // libcurl reports the stall bound and the overall bound with the same code; the stall bound
    // is a quarter of the overall one, so only the overall one gets this far.
    if (code == CURLE_OPERATION_TIMEDOUT && bounds.bound_seconds() > 0 &&
        bounds.elapsed_ms() >= static_cast<uint64_t>(bounds.bound_seconds()) * 900u) {
        response.error = bounds.deadline_text();
        return response;
    }
    // A proxy's 407 comes as the answer of a plain request, or of the CONNECT of an https one.
    long connect_status = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connect_status);
    if (status == 407 || connect_status == 407) {
        response.error = PROXY_AUTH_TEXT;
        return response;
    }
    if (code == CURLE_OK || status != 0) {
        // Once the status line has arrived, WinHTTP hands back a body cut off by the network (or
        // stalled past the time-out) as far as it was read, without an error; so do we.
        response.status = static_cast<int32_t>(status);
        response.body = std::move(easy.sink.body);
        response.headers = std::move(easy.sink.headers);
        return response;
    }

    // No answer. WinHTTP splits this into the send step (resolve, connect, TLS, sending the
    // request) and the wait for the answer; the request counts as sent once its head and the
    // whole body went out.
    long request_size = 0;
    curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &request_size);
    curl_off_t uploaded = 0;
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    const bool sent = request_size > 0 && static_cast<size_t>(uploaded) >= body_size;
    // libcurl chose the proxy from the environment by these same rules.
    const std::string proxy = env_proxy_for(parsed.secure, parsed.host, [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    });
    response.error = no_answer_text(Backend::Curl, sent ? "Receive failed" : "Send failed", static_cast<long>(code),
                                    easy.detail[0] != '\0' ? easy.detail : curl_easy_strerror(code), parsed.host, proxy);
    return response;
}

}  // namespace

ParsedUrl parse_url(const std::string& url) { return split_url(url); }

Client::Client() {
    if (global_init()) session_ = &g_session_marker;
}

Client::~Client() = default;

Response Client::exchange(const std::string& method, const ParsedUrl& parsed, const std::string& /*url*/,
                          const std::map<std::string, std::string>& headers, const std::vector<uint8_t>& body,
                          int timeout_seconds, const ExchangeBounds& bounds) {
    Response response;
    if (parsed.host.empty()) {
        response.error = "Connection failed";
        return response;
    }
    EasyHandle easy;
    if (easy.h == nullptr) {
        response.error = "Request creation failed";
        return response;
    }
    set_transfer_options(easy, parsed, bounds, timeout_seconds);
    set_method_and_body(easy.h, method, body);
    set_headers(easy, headers);
    const auto& progress = upload_progress_hook();
    if (progress && !body.empty()) {
        curl_easy_setopt(easy.h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy.h, CURLOPT_XFERINFOFUNCTION, report_upload);
        curl_easy_setopt(easy.h, CURLOPT_XFERINFODATA, &progress);
    }
    const CURLcode code = curl_easy_perform(easy.h);
    return outcome_of(easy, code, parsed, bounds, body.size());
}

}  // namespace http
