// The platform-free half of the HTTP client: multipart bodies (RFC 7578) and the URL splitter
// that stands in for WinHttpCrackUrl where WinHTTP does not exist.
#include "net/http_client.h"

#include <cctype>
#include <utility>

#include "core/sys.h"
#include "core/text.h"

namespace http {

namespace {

constexpr const char* BOUNDARY_PREFIX = "----DorvaneBoundary";

// WinHttpCrackUrl is given buffers of these sizes (in UTF-16 units, terminator included); longer
// parts make the split fail, and the splitter below keeps the same limits.
constexpr size_t HOST_BUFFER_UNITS = 256;
constexpr size_t PATH_BUFFER_UNITS = 2048;

void append(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// A name is written between double quotes with no escaping of its own, so a quote, CR or LF
// inside it would end the parameter or the header line early and let the name rewrite the
// form. Those three bytes are percent-encoded, as browsers do (HTML form submission rules);
// Windows file names cannot hold them, so names from there pass unchanged.
std::string quoted_name(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        switch (c) {
        case '"': out += "%22"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        default: out += c;
        }
    }
    out += '"';
    return out;
}

// How long `s` is in UTF-16, the measure of WinHttpCrackUrl's buffers.
size_t utf16_units(const std::wstring& s) {
    size_t n = 0;
    for (wchar_t c : s) {
        const uint32_t code_point = static_cast<uint32_t>(c);  // UTF-32 where wchar_t is 32 bits
        n += code_point > 0xFFFF ? 2 : 1;
    }
    return n;
}

bool starts_with_nocase(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    return true;
}

thread_local std::function<void(uint64_t, uint64_t)> t_upload_progress;

}  // namespace

UploadProgressScope::UploadProgressScope(std::function<void(uint64_t, uint64_t)> hook)
    : previous_(std::move(t_upload_progress)) {
    t_upload_progress = std::move(hook);
}

UploadProgressScope::~UploadProgressScope() { t_upload_progress = std::move(previous_); }

const std::function<void(uint64_t, uint64_t)>& upload_progress_hook() { return t_upload_progress; }

std::string multipart_boundary() { return BOUNDARY_PREFIX + std::to_string(sys::tick_count_ms()); }

std::string content_type_for(const std::string& filename) {
    const size_t dot = filename.rfind('.');
    const std::string ext = dot == std::string::npos ? filename : filename.substr(dot + 1);
    if (ext == "pdf") return "application/pdf";
    if (ext == "png") return "image/png";
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "tif" || ext == "tiff") return "image/tiff";
    return "application/octet-stream";
}

std::vector<uint8_t> build_multipart_body(const std::string& boundary, const std::string& field_name,
                                          const std::string& filename, const std::vector<uint8_t>& data,
                                          const std::map<std::string, std::string>& fields) {
    std::vector<uint8_t> body;
    body.reserve(data.size() + 512 + fields.size() * 128);
    for (const auto& [name, value] : fields) {
        append(body, "--" + boundary + "\r\n");
        append(body, "Content-Disposition: form-data; name=" + quoted_name(name) + "\r\n\r\n");
        append(body, value + "\r\n");
    }
    append(body, "--" + boundary + "\r\n");
    append(body, "Content-Disposition: form-data; name=" + quoted_name(field_name) +
                     "; filename=" + quoted_name(filename) + "\r\n");
    append(body, "Content-Type: " + content_type_for(filename) + "\r\n\r\n");
    body.insert(body.end(), data.begin(), data.end());
    append(body, "\r\n--" + boundary + "--\r\n");
    return body;
}

Response Client::post_multipart(const std::string& url, const std::map<std::string, std::string>& headers,
                                const std::string& field_name, const std::string& filename,
                                const std::vector<uint8_t>& data,
                                const std::map<std::string, std::string>& fields, int timeout_seconds) {
    const std::string boundary = multipart_boundary();
    const std::vector<uint8_t> body = build_multipart_body(boundary, field_name, filename, data, fields);
    std::map<std::string, std::string> all_headers = headers;
    all_headers["Content-Type"] = "multipart/form-data; boundary=" + boundary;
    return request("POST", url, all_headers, body, timeout_seconds);
}

bool headers_are_safe(const std::map<std::string, std::string>& headers) {
    const auto breaks_line = [](const std::string& s) {
        return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
    };
    for (const auto& [name, value] : headers) {
        if (name.empty() || name.find(':') != std::string::npos || breaks_line(name) || breaks_line(value))
            return false;
    }
    return true;
}

namespace {

void add_one_header(std::map<std::string, std::string>& headers, const std::string& line) {
    if (starts_with_nocase(line, "http/")) {
        headers.clear();
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t begin = colon + 1;
    size_t end = line.size();
    while (begin < end && is_blank(line[begin])) ++begin;
    while (end > begin && is_blank(line[end - 1])) --end;
    headers[name] = line.substr(begin, end - begin);
}

}  // namespace

void add_header_lines(std::map<std::string, std::string>& headers, const std::string& lines) {
    for (size_t at = 0; at < lines.size();) {
        size_t end = lines.find('\n', at);
        if (end == std::string::npos) end = lines.size();
        add_one_header(headers, lines.substr(at, end - at));
        at = end + 1;
    }
}

std::string refusal_before_send(const void* session, const std::map<std::string, std::string>& headers) {
    if (session == nullptr) return "WinHTTP session not initialized";
    if (!headers_are_safe(headers)) return "Invalid request header";
    return "";
}

ExchangeBounds::ExchangeBounds(int timeout_seconds)
    : started_ms_(sys::tick_count_ms()), bound_seconds_(timeout_seconds > 0 ? timeout_seconds * EXCHANGE_BOUND_FACTOR : 0) {}

uint64_t ExchangeBounds::elapsed_ms() const { return sys::tick_count_ms() - started_ms_; }

bool ExchangeBounds::past_deadline() const {
    return bound_seconds_ > 0 && elapsed_ms() > static_cast<uint64_t>(bound_seconds_) * 1000u;
}

std::string ExchangeBounds::deadline_text() const {
    return "Exchange timed out (more than " + std::to_string(bound_seconds_) + " s)";
}

Response Client::request(const std::string& method, const std::string& url,
                         const std::map<std::string, std::string>& headers,
                         const std::vector<uint8_t>& body, int timeout_seconds) {
    const ExchangeBounds bounds(timeout_seconds);
    Response response;
    response.error = refusal_before_send(session_, headers);
    if (!response.error.empty()) return response;
    return exchange(method, parse_url(url), url, headers, body, timeout_seconds, bounds);
}

std::string no_answer_text(Backend backend, const char* step, long code, const std::string& certificate_detail,
                           const std::string& host, const std::string& proxy) {
    if (is_certificate_failure(backend, code)) return certificate_failure_text(certificate_detail, host, code);
    const std::string transport = std::string(step) + " (error " + std::to_string(code) + ")";
    if (!proxy.empty() && is_connect_failure(backend, code)) return proxy_unreachable_text(proxy, transport);
    return transport;
}

ParsedUrl split_url(const std::string& url) {
    const ParsedUrl failed;
    ParsedUrl out;
    size_t pos;
    if (starts_with_nocase(url, "https://")) {
        out.secure = true;
        out.port = 443;
        pos = 8;
    } else if (starts_with_nocase(url, "http://")) {
        out.secure = false;
        out.port = 80;
        pos = 7;
    } else {
        return failed;
    }

    const size_t authority_end = url.find_first_of("/?#", pos);
    std::string authority = url.substr(pos, authority_end == std::string::npos ? std::string::npos
                                                                                  : authority_end - pos);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);

    std::string host;
    std::string port_text;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return failed;
        host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return failed;
            port_text = rest.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) port_text = authority.substr(colon + 1);
    }
    if (host.empty()) return failed;
    if (!port_text.empty()) {
        if (port_text.size() > 5) return failed;
        unsigned long port = 0;
        for (char c : port_text) {
            if (c < '0' || c > '9') return failed;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535) return failed;
        out.port = static_cast<uint16_t>(port);
    }

    std::string path;
    if (authority_end != std::string::npos) {
        path = url.substr(authority_end);
        const size_t hash = path.find('#');
        if (hash != std::string::npos) path.erase(hash);
        if (!path.empty() && path[0] != '/') path.insert(0, "/");
    }

    // WinHttpCrackUrl works on UTF-16, where ill-formed bytes have become U+FFFD: the same here.
    const std::wstring wide_host = text::to_wide(host);
    const std::wstring wide_path = text::to_wide(path);
    if (wide_host.empty() || utf16_units(wide_host) >= HOST_BUFFER_UNITS || utf16_units(wide_path) >= PATH_BUFFER_UNITS) {
        return failed;
    }
    out.host = text::to_utf8(wide_host);
    out.path = text::to_utf8(wide_path);
    return out;
}

}  // namespace http
