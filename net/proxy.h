// Which proxy an exchange goes through, and the texts for what an office network does to it.
//
// Windows takes the operator's own settings, as Windows keeps them for the current user (a manual
// proxy with its bypass list, or automatic configuration); libcurl on Linux follows the
// environment variables https_proxy, http_proxy, all_proxy and no_proxy. The platform files ask
// the platform; the choosing and the wording are here, platform-free, so that both back ends name
// the same things in the same words and the rules are tested natively.
//
// Certificate checking is always on: a failure is explained, never worked around.
#pragma once

#include <functional>
#include <string>

namespace http {

// The current user's proxy settings, UTF-8 (empty strings when not set).
struct UserProxySettings {
    bool auto_detect = false;     // "detect settings automatically"
    std::string auto_config_url;  // a PAC script's address
    std::string proxy;            // "host:port", or per scheme "http=host:port;https=host:port"
    std::string bypass;           // "<local>;*.empresa.local;10.*"
};

enum class ProxyMode {
    PlatformDefault,  // nothing set for the user: the machine-wide WinHTTP setting, as before
    Named,            // the manual proxy and its bypass list, for the whole session
    Automatic,        // ask the PAC script / auto-detection per request; when that finds nothing,
                      // the manual proxy if one is set, else the machine-wide setting (normally direct)
};

ProxyMode proxy_mode(const UserProxySettings& settings);

// The proxy ("host:port") that a proxy list in Windows' form gives to a URL with this scheme and
// host; empty for a direct connection. List entries are separated by ';' or blanks and are either
// "scheme=host:port" or a bare "host:port" for every scheme; a leading "http://" is dropped. The
// bypass list matches the host case-insensitively with '*' wildcards; "<local>" matches every
// host name without a period.
std::string named_proxy_for(const std::string& proxy_list, const std::string& bypass, bool secure,
                            const std::string& host);

// The proxy libcurl takes from the environment for such a URL, as "host:port" (the port 1080
// when none is given, as libcurl assumes), or empty: https_proxy or HTTPS_PROXY for https,
// http_proxy (lower case only, as libcurl) for http, then all_proxy or ALL_PROXY; none when
// no_proxy or NO_PROXY holds "*", the host itself, or a domain the host ends in.
std::string env_proxy_for(bool secure, const std::string& host,
                          const std::function<std::string(const char*)>& getenv);

// What the operator reads when a proxy answers 407 (status 0, this text as the transport error).
extern const char* const PROXY_AUTH_TEXT;

// "não foi possível conectar ao proxy HOST:PORT — " + the transport text.
std::string proxy_unreachable_text(const std::string& proxy, const std::string& transport_text);

// The back end's numeric failure codes: libcurl's CURLcode, WinHTTP's 12000-series errors.
enum class Backend { Curl, WinHttp };

// True for the codes that mean the server's certificate (or the TLS set-up around it) was refused.
bool is_certificate_failure(Backend backend, long code);

// True for the codes that mean no connection could be made (refused, unresolvable name): with a
// proxy in the way, the proxy is the one that could not be reached.
bool is_connect_failure(Backend backend, long code);

// "o certificado do servidor não é confiável — DETAIL (servidor HOST, erro CODE)".
std::string certificate_failure_text(const std::string& detail, const std::string& host, long code);

// WinHTTP gives which checks failed as WINHTTP_CALLBACK_STATUS_FLAG_* bits (and sometimes only the
// error code): the Portuguese names of those checks, joined by "; ".
std::string winhttp_certificate_detail(unsigned long flags, long code);

}  // namespace http
