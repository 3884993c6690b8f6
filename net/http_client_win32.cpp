// The HTTP exchange over WinHTTP in synchronous mode.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "core/sys.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/proxy.h"

namespace http {

struct ProxySetup {
    UserProxySettings user;
    ProxyMode mode = ProxyMode::PlatformDefault;
    // Auto-detection that found no script is not repeated for every file of a batch: a network
    // without one costs seconds per attempt.
    mutable std::atomic<uint64_t> detection_failed_at{0};
    // One session per answer of the PAC script (a proxy list, or direct): a proxy set on a single
    // request (WINHTTP_OPTION_PROXY) is ignored by Wine, a session's named proxy is honoured.
    mutable std::mutex mutex;
    mutable std::map<std::wstring, HINTERNET> sessions;

    ~ProxySetup() {
        for (const auto& kept : sessions) WinHttpCloseHandle(kept.second);
    }

    // The session for this proxy list and bypass list (an empty list: direct); null on failure.
    HINTERNET session_for(const std::wstring& list, const std::wstring& bypass) const {
        std::lock_guard<std::mutex> lock(mutex);
        const std::wstring key = list + L"\n" + bypass;
        const auto found = sessions.find(key);
        if (found != sessions.end()) return found->second;
        const std::wstring agent = text::to_wide(USER_AGENT);
        HINTERNET session =
            list.empty() ? WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0)
                         : WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, list.c_str(),
                                       bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
        if (session) sessions.emplace(key, session);
        return session;
    }
};

namespace {

constexpr uint64_t DETECTION_RETRY_MS = 5 * 60 * 1000;
constexpr size_t SEND_PIECE_BYTES = 64 * 1024;

std::wstring take(LPWSTR s) {
    if (s == nullptr) return L"";
    const std::wstring out = s;
    GlobalFree(s);
    return out;
}

std::shared_ptr<ProxySetup> read_user_proxy() {
    auto setup = std::make_shared<ProxySetup>();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        setup->user.auto_detect = config.fAutoDetect != FALSE;
        setup->user.auto_config_url = text::to_utf8(take(config.lpszAutoConfigUrl));
        setup->user.proxy = text::to_utf8(take(config.lpszProxy));
        setup->user.bypass = text::to_utf8(take(config.lpszProxyBypass));
    }
    setup->mode = proxy_mode(setup->user);
    return setup;
}

// Asks the PAC script or auto-detection about this URL. When it answers, `session` becomes the
// session that goes where it said and the result is the proxy ("host:port") or empty for direct;
// when it does not, `session` is left alone (the manual proxy, or direct) and `answered` is false.
std::string ask_automatic_proxy(const ProxySetup& setup, const std::string& url, const ParsedUrl& parsed,
                                HINTERNET& session, bool& answered) {
    answered = false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    const std::wstring script = text::to_wide(setup.user.auto_config_url);
    const uint64_t failed_at = setup.detection_failed_at.load();
    const bool detect =
        setup.user.auto_detect && (failed_at == 0 || sys::tick_count_ms() - failed_at > DETECTION_RETRY_MS);
    if (detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!script.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script.c_str();
    }
    if (options.dwFlags == 0) return "";
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    const std::wstring wide_url = text::to_wide(url);
    if (!WinHttpGetProxyForUrl(session, wide_url.c_str(), &options, &info)) {
        if (detect && GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED) {
            setup.detection_failed_at.store(sys::tick_count_ms() | 1);
        }
        return "";
    }
    std::wstring list = take(info.lpszProxy);
    std::wstring bypass = take(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        list.clear();
        bypass.clear();
    }
    HINTERNET chosen = setup.session_for(list, bypass);
    if (!chosen) return "";
    answered = true;
    session = chosen;
    return named_proxy_for(text::to_utf8(list), text::to_utf8(bypass), parsed.secure, parsed.host);
}

// Which certificate checks failed, as WinHTTP reports them during the send.
void CALLBACK note_secure_failure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context != 0 && info != nullptr &&
        length >= sizeof(DWORD)) {
        *reinterpret_cast<DWORD*>(context) |= *static_cast<const DWORD*>(info);
    }
}

// Closes a WinHTTP handle on every path out of request().
struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    ~Handle() {
        if (h) WinHttpCloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// Where a request goes: the session that reaches its proxy (or goes direct), and that proxy's
// name, to say so if it cannot be reached.
struct Route {
    HINTERNET session;
    std::string proxy;
};

Route route_for(const std::shared_ptr<const ProxySetup>& setup, HINTERNET session, const std::string& url,
                const ParsedUrl& parsed) {
    Route route{session, ""};
    bool automatic = false;
    if (setup && setup->mode == ProxyMode::Automatic && !parsed.host.empty()) {
        route.proxy = ask_automatic_proxy(*setup, url, parsed, route.session, automatic);
    }
    if (setup && !automatic && !setup->user.proxy.empty() && setup->mode != ProxyMode::PlatformDefault) {
        route.proxy = named_proxy_for(setup->user.proxy, setup->user.bypass, parsed.secure, parsed.host);
    }
    return route;
}

// Opens the connection and the request with our time-outs and redirect policy; the failure text
// when either cannot be made.
std::string open_request(HINTERNET session, const ParsedUrl& parsed, const std::string& method, int timeout_seconds,
                         Handle& connection, Handle& request) {
    // Windows refuses an empty host here; Wine accepts it and fails later at the send step, so
    // the unsplittable URL is caught before asking.
    const std::wstring host = text::to_wide(parsed.host);
    connection.h = host.empty() ? nullptr : WinHttpConnect(session, host.c_str(), parsed.port, 0);
    if (!connection.h) return "Connection failed";
    const std::wstring wide_method = text::to_wide(method);
    const std::wstring path = text::to_wide(parsed.path);
    request.h = WinHttpOpenRequest(connection.h, wide_method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, parsed.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request.h) return "Request creation failed";

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
    return "";
}

// The headers go out with the whole length announced, then the body in pieces, so that a long
// upload can say how far it has got. False on a failure (GetLastError tells which).
bool send_request(HINTERNET request, const std::map<std::string, std::string>& headers,
                  const std::vector<uint8_t>& body, DWORD* certificate_flags) {
    for (const auto& [key, value] : headers) {
        const std::wstring line = text::to_wide(key + ": " + value);
        WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }
    WinHttpSetStatusCallback(request, note_secure_failure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    const DWORD length = static_cast<DWORD>(body.size());
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, length,
                            reinterpret_cast<DWORD_PTR>(certificate_flags))) {
        return false;
    }
    const auto& progress = upload_progress_hook();
    for (size_t sent = 0; sent < body.size();) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(body.size() - sent, SEND_PIECE_BYTES));
        if (!WinHttpWriteData(request, body.data() + sent, piece, &written) || written == 0) return false;
        sent += written;
        if (progress) progress(sent, body.size());
    }
    return true;
}

std::map<std::string, std::string> answer_headers(HINTERNET request) {
    std::map<std::string, std::string> fields;
    DWORD raw_size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &raw_size, WINHTTP_NO_HEADER_INDEX);
    if (raw_size > 0) {
        std::wstring raw(raw_size / sizeof(wchar_t) + 1, L'\0');
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                                &raw_size, WINHTTP_NO_HEADER_INDEX)) {
            raw.resize(raw_size / sizeof(wchar_t));
            add_header_lines(fields, text::to_utf8(raw));
        }
    }
    return fields;
}

// Each read is bounded by the receive time-out; the deadline bounds the sum, so a body that
// trickles in just fast enough never holds the worker for ever. The failure text, or empty.
std::string read_body(HINTERNET request, const ExchangeBounds& bounds, std::string& received) {
    for (;;) {
        if (bounds.past_deadline()) return bounds.deadline_text();
        DWORD available = 0;
        WinHttpQueryDataAvailable(request, &available);
        if (available == 0) return "";
        if (ExchangeBounds::too_large(received.size(), available)) return RESPONSE_TOO_LARGE_TEXT;
        std::string chunk(available + 1, '\0');
        DWORD read = 0;
        WinHttpReadData(request, chunk.data(), available, &read);
        received.append(chunk.data(), read);
    }
}

}  // namespace

ParsedUrl parse_url(const std::string& url) {
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
    ParsedUrl out;
    out.host = text::to_utf8(std::wstring(host, parts.dwHostNameLength));
    out.path = text::to_utf8(std::wstring(path, parts.dwUrlPathLength));
    out.port = parts.nPort;
    out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return out;
}

Client::Client() {
    const std::wstring agent = text::to_wide(USER_AGENT);
    auto setup = read_user_proxy();
    // The operator's manual proxy becomes the session's; automatic configuration is asked per
    // request (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY is not used: Wine accepts it and then ignores
    // it). When it finds nothing and there is no manual proxy behind it, the machine-wide setting
    // applies as before: direct, unless an administrator set one with netsh. "Detect settings
    // automatically" is on by default, so that fallback is the everyday case.
    DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    if (!setup->user.proxy.empty() && setup->mode != ProxyMode::PlatformDefault) {
        access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    }
    const std::wstring proxy = text::to_wide(setup->user.proxy);
    const std::wstring bypass = text::to_wide(setup->user.bypass);
    const bool named = access == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    session_ = WinHttpOpen(agent.c_str(), access, named ? proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                           named && !bypass.empty() ? bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0);
    proxy_ = std::move(setup);
}

Client::~Client() {
    if (session_) WinHttpCloseHandle(session_);
}

Response Client::exchange(const std::string& method, const ParsedUrl& parsed, const std::string& url,
                          const std::map<std::string, std::string>& headers, const std::vector<uint8_t>& body,
                          int timeout_seconds, const ExchangeBounds& bounds) {
    Response response;
    const Route route = route_for(proxy_, session_, url, parsed);
    Handle connection;
    Handle request;
    response.error = open_request(route.session, parsed, method, timeout_seconds, connection, request);
    if (!response.error.empty()) return response;

    DWORD certificate_flags = 0;
    const auto no_answer = [&](const char* step) {
        const long code = static_cast<long>(GetLastError());
        return no_answer_text(Backend::WinHttp, step, code, winhttp_certificate_detail(certificate_flags, code),
                              parsed.host, route.proxy);
    };
    if (!send_request(request.h, headers, body, &certificate_flags)) {
        response.error = no_answer("Send failed");
        return response;
    }
    if (!WinHttpReceiveResponse(request.h, nullptr)) {
        response.error = no_answer("Receive failed");
        return response;
    }

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
    if (status == 407) {
        response.error = PROXY_AUTH_TEXT;
        return response;
    }
    std::map<std::string, std::string> fields = answer_headers(request.h);
    std::string received;
    response.error = read_body(request.h, bounds, received);
    if (!response.error.empty()) return response;
    response.status = static_cast<int32_t>(status);
    response.body = std::move(received);
    response.headers = std::move(fields);
    return response;
}

}  // namespace http
