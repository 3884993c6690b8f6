#include "tools/form_parser.h"

#include <cctype>

namespace demo {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// Reads the parameters after the first ';' of a header value ("a; k=v; k2=\"v 2\"") into
// (lower-case name, value) pairs. A quoted value ends at the next quote.
std::vector<std::pair<std::string, std::string>> header_params(const std::string& value, size_t pos) {
    std::vector<std::pair<std::string, std::string>> out;
    while (pos < value.size()) {
        while (pos < value.size() && (value[pos] == ';' || value[pos] == ' ' || value[pos] == '\t')) ++pos;
        size_t eq = value.find('=', pos);
        if (eq == std::string::npos) break;
        std::string name = lower(trim(value.substr(pos, eq - pos)));
        pos = eq + 1;
        std::string v;
        if (pos < value.size() && value[pos] == '"') {
            size_t close = value.find('"', pos + 1);
            if (close == std::string::npos) close = value.size();
            v = value.substr(pos + 1, close - pos - 1);
            pos = close + 1;
        } else {
            size_t semi = value.find(';', pos);
            if (semi == std::string::npos) semi = value.size();
            v = trim(value.substr(pos, semi - pos));
            pos = semi;
        }
        out.emplace_back(name, v);
    }
    return out;
}

bool parse_part_headers(const std::string& block, FormPart& part, std::string& error) {
    bool disposition_seen = false;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t eol = block.find("\r\n", pos);
        if (eol == std::string::npos) eol = block.size();
        std::string line = block.substr(pos, eol - pos);
        pos = eol + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            error = "cabeçalho de parte malformado";
            return false;
        }
        std::string name = lower(trim(line.substr(0, colon)));
        std::string value = trim(line.substr(colon + 1));
        if (name == "content-disposition") {
            size_t semi = value.find(';');
            if (lower(trim(value.substr(0, semi))) != "form-data") {
                error = "parte sem Content-Disposition form-data";
                return false;
            }
            disposition_seen = true;
            if (semi == std::string::npos) continue;
            for (const auto& p : header_params(value, semi)) {
                if (p.first == "name") {
                    part.name = p.second;
                } else if (p.first == "filename") {
                    part.filename = p.second;
                    part.has_filename = true;
                }
            }
        } else if (name == "content-type") {
            part.content_type = value;
        }
    }
    if (!disposition_seen) {
        error = "parte sem Content-Disposition";
        return false;
    }
    return true;
}

}  // namespace

std::string boundary_from_content_type(const std::string& content_type) {
    size_t semi = content_type.find(';');
    if (lower(trim(content_type.substr(0, semi))) != "multipart/form-data" || semi == std::string::npos) return "";
    for (const auto& p : header_params(content_type, semi)) {
        if (p.first == "boundary") return p.second.size() <= 70 ? p.second : std::string();
    }
    return "";
}

bool parse_form(const std::string& body, const std::string& boundary, std::vector<FormPart>& parts,
                std::string& error) {
    parts.clear();
    if (boundary.empty()) {
        error = "boundary ausente";
        return false;
    }
    const std::string delimiter = "--" + boundary;
    const std::string inner = "\r\n" + delimiter;
    size_t pos;
    if (body.compare(0, delimiter.size(), delimiter) == 0) {
        pos = 0;
    } else {
        pos = body.find(inner);
        if (pos == std::string::npos) {
            error = "boundary não encontrado no corpo";
            return false;
        }
        pos += 2;
    }
    // pos is at a delimiter line in every round.
    while (true) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0) return true;
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
        if (body.compare(pos, 2, "\r\n") != 0) {
            error = "delimitador sem CRLF";
            return false;
        }
        pos += 2;
        if (parts.size() >= MAX_FORM_PARTS) {
            error = "partes demais no formulário";
            return false;
        }
        FormPart part;
        size_t content_start;
        if (body.compare(pos, 2, "\r\n") == 0) {
            content_start = pos + 2;  // a part without headers
        } else {
            size_t headers_end = body.find("\r\n\r\n", pos);
            if (headers_end == std::string::npos || headers_end - pos > MAX_PART_HEADER_BYTES) {
                error = "cabeçalhos de parte sem fim";
                return false;
            }
            if (!parse_part_headers(body.substr(pos, headers_end - pos), part, error)) return false;
            content_start = headers_end + 4;
        }
        size_t next = body.find(inner, content_start);
        if (next == std::string::npos) {
            error = "formulário sem delimitador final";
            return false;
        }
        part.data = body.substr(content_start, next - content_start);
        parts.push_back(std::move(part));
        pos = next + 2;
    }
}

}  // namespace demo
