// The HTTP exchange over WinHTTP in synchronous mode.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "core/sys.h"
#include "core/text.h"
#include "net/http_client.h"

namespace http {

namespace {

// Closes a WinHTTP handle on every path out of request().
struct Handle {
    HINTERNET h = nullptr;
    explicit Handle(HINTERNET handle) : h(handle) {}
    ~Handle() {
        if (h) WinHttpCloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

std::string failure(const char* step) { return std::string(step) + " (error " + std::to_string(GetLastError()) + ")"; }

}  // namespace

ParsedUrl parse_url(const std::string& url) {
    ParsedUrl out;
    const std::wstring wide = text::to_wide(url);
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return ParsedUrl{};
    out.host.assign(host, parts.dwHostNameLength);
    out.path.assign(path, parts.dwUrlPathLength);
    out.port = parts.nPort;
    out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return out;
}

Client::Client() {
    const std::wstring agent = text::to_wide(USER_AGENT);
    session_ = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
}

Client::~Client() {
    if (session_) WinHttpCloseHandle(session_);
}

Response Client::request(const std::wstring& method, const std::string& url,
                         const std::map<std::string, std::string>& headers,
                         const std::vector<uint8_t>& body, int timeout_seconds) {
    Response response;
    response.error = refusal_before_send(session_, headers);
    if (!response.error.empty()) return response;
    const uint64_t started = sys::tick_count_ms();
    const ParsedUrl parsed = parse_url(url);

    // Windows refuses an empty host here; Wine accepts it and fails later at the send step, so
    // the unsplittable URL is caught before asking.
    Handle connection(parsed.host.empty() ? nullptr
                                          : WinHttpConnect(session_, parsed.host.c_str(), parsed.port, 0));
    if (!connection.h) {
        response.error = "Connection failed";
        return response;
    }
    Handle request(WinHttpOpenRequest(connection.h, method.c_str(), parsed.path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      parsed.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request.h) {
        response.error = "Request creation failed";
        return response;
    }

    const int timeout_ms = timeout_seconds * 1000;
    WinHttpSetTimeouts(request.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
    // Wine waits for the response headers without any bound unless this is set as well; on
    // Windows it already follows the receive time-out, so setting it changes nothing there.
    DWORD header_wait = static_cast<DWORD>(timeout_ms);
    WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &header_wait, sizeof(header_wait));
    // WinHTTP follows a redirect to any host and sends our headers there, the API key included.
    // A 3xx answer comes back as its status instead.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof(no_redirects));

    for (const auto& [key, value] : headers) {
        const std::wstring line = text::to_wide(key + ": " + value);
        WinHttpAddRequestHeaders(request.h, line.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }

    const DWORD length = static_cast<DWORD>(body.size());
    LPVOID data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<uint8_t*>(body.data());
    if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
        response.error = failure("Send failed");
        return response;
    }
    if (!WinHttpReceiveResponse(request.h, nullptr)) {
        response.error = failure("Receive failed");
        return response;
    }

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);

    std::map<std::string, std::string> fields;
    DWORD raw_size = 0;
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &raw_size, WINHTTP_NO_HEADER_INDEX);
    if (raw_size > 0) {
        std::wstring raw(raw_size / sizeof(wchar_t) + 1, L'\0');
        if (WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                                &raw_size, WINHTTP_NO_HEADER_INDEX)) {
            raw.resize(raw_size / sizeof(wchar_t));
            add_header_lines(fields, text::to_utf8(raw));
        }
    }

    // Each read is bounded by the receive time-out; the deadline bounds the sum, so a body that
    // trickles in just fast enough never holds the worker for ever.
    const uint64_t bound_ms = static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0) * EXCHANGE_BOUND_FACTOR;
    std::string received;
    for (;;) {
        if (bound_ms > 0 && sys::tick_count_ms() - started > bound_ms) {
            response.error = "Exchange timed out (more than " +
                             std::to_string(timeout_seconds * EXCHANGE_BOUND_FACTOR) + " s)";
            return response;
        }
        DWORD available = 0;
        WinHttpQueryDataAvailable(request.h, &available);
        if (available == 0) break;
        if (received.size() + available > MAX_RESPONSE_BYTES) {
            response.error = "Response too large (more than 64 MB)";
            return response;
        }
        std::string chunk(available + 1, '\0');
        DWORD read = 0;
        WinHttpReadData(request.h, chunk.data(), available, &read);
        received.append(chunk.data(), read);
    }
    response.status = static_cast<int32_t>(status);
    response.body = std::move(received);
    response.headers = std::move(fields);
    return response;
}

}  // namespace http
