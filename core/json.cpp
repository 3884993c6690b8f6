#include "core/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "core/utf8.h"

namespace json {

std::string Value::get_string(const std::string& key, const std::string& fallback) const {
    if (!is_object()) return fallback;
    const Object& members = as_object();
    auto it = members.find(key);
    if (it == members.end() || !it->second.is_string()) return fallback;
    return it->second.as_string();
}

Value Value::get(const std::string& key) const {
    if (!is_object()) return Value();
    const Object& members = as_object();
    auto it = members.find(key);
    return it == members.end() ? Value() : it->second;
}

// The leniencies below (bare words judged by their first letter, no check after the first value,
// strtoul on \u digits, bytes copied without UTF-8 validation) are relied on by the service
// client; every read is still bounded by the text's length, including after the advances that
// may run past its end.

namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Counts one open array or object for as long as it is being parsed.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : depth_(depth) {
        if (++depth_ > MAX_DEPTH) {
            --depth_;
            throw std::runtime_error("JSON nesting too deep");
        }
    }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& depth_;
};

}  // namespace

void Parser::skip_ws() {
    const std::string& t = *text;
    while (pos < t.size() && is_ws(t[pos])) ++pos;
}

void Parser::expect(char c) {
    skip_ws();
    const std::string& t = *text;
    char found = '\0';
    if (pos < t.size()) found = t[pos++];
    if (found == c) return;
    std::string message = "Expected '";
    message += c;
    message += "' got '";
    message += found;
    message += "' at pos ";
    message += std::to_string(pos);
    throw std::runtime_error(message);
}

Value Parser::parse_value() {
    skip_ws();
    const std::string& t = *text;
    if (pos >= t.size()) throw std::runtime_error(std::string("Unexpected char: ") + '\0');
    const char c = t[pos];
    switch (c) {
        case '"':
            return Value(parse_string_raw());
        case '[':
            return parse_array();
        case '{':
            return parse_object();
        case 't':
            pos += 4;
            return Value(true);
        case 'f':
            pos += 5;
            return Value(false);
        case 'n':
            pos += 4;
            return Value();
        default:
            if (c == '-' || is_digit(c)) return parse_number();
            throw std::runtime_error(std::string("Unexpected char: ") + c);
    }
}

Value Parser::parse_array() {
    DepthGuard guard(depth);
    expect('[');
    Array items;
    skip_ws();
    const std::string& t = *text;
    if (pos < t.size() && t[pos] == ']') {
        expect(']');
        return Value(std::move(items));
    }
    for (;;) {
        items.push_back(parse_value());
        skip_ws();
        if (pos >= t.size() || t[pos] != ',') break;
        ++pos;
    }
    expect(']');
    return Value(std::move(items));
}

Value Parser::parse_object() {
    DepthGuard guard(depth);
    expect('{');
    Object members;
    skip_ws();
    const std::string& t = *text;
    if (pos < t.size() && t[pos] == '}') {
        expect('}');
        return Value(std::move(members));
    }
    for (;;) {
        std::string key = parse_string_raw();
        expect(':');
        members[std::move(key)] = parse_value();  // the last duplicate wins
        skip_ws();
        if (pos >= t.size() || t[pos] != ',') break;
        ++pos;
    }
    expect('}');
    return Value(std::move(members));
}

std::string Parser::parse_string_raw() {
    expect('"');
    const std::string& t = *text;
    std::string out;
    while (pos < t.size()) {
        const char c = t[pos++];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= t.size()) break;  // a backslash as the last byte ends the string
        const char e = t[pos++];
        switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                // strtoul stops at the first non-hex byte; the four positions are consumed
                // anyway. Each escape is encoded on its own, so surrogate halves stay apart.
                const std::string digits = t.substr(pos, 4);
                const unsigned long n = std::strtoul(digits.c_str(), nullptr, 16);
                pos += 4;
                if (n <= 0x7F) {
                    out += static_cast<char>(n);
                } else if (n <= 0x7FF) {
                    out += static_cast<char>(0xC0 | (n >> 6));
                    out += static_cast<char>(0x80 | (n & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (n >> 12));
                    out += static_cast<char>(0x80 | ((n >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (n & 0x3F));
                }
                break;
            }
            default:  // '"', '\\', '/' and any unknown escape stand for themselves
                out += e;
                break;
        }
    }
    return out;  // the text ended inside the string: keep what was read
}

Value Parser::parse_number() {
    skip_ws();
    const std::string& t = *text;
    const size_t start = pos;
    const auto digits = [&] {
        while (pos < t.size() && is_digit(t[pos])) ++pos;
    };
    if (pos < t.size() && t[pos] == '-') ++pos;
    digits();
    if (pos < t.size() && t[pos] == '.') {
        ++pos;
        digits();
    }
    if (pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
        ++pos;
        if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) ++pos;
        digits();
    }
    return Value(std::stod(t.substr(start, pos - start)));
}

Value parse(const std::string& text) {
    Parser parser(text);
    return parser.parse_value();
}

namespace {

void write_number(std::string& out, double d) {
    if (std::isnan(d) || std::isinf(d)) {
        out += "null";  // JSON has no spelling for them
        return;
    }
    // The range test comes first: converting a double outside int32 range is undefined.
    if (d >= -2147483648.0 && d <= 2147483647.0 && static_cast<double>(static_cast<int32_t>(d)) == d) {
        out += std::to_string(static_cast<int32_t>(d));
        return;
    }
    // Same text as an ostream's default formatting of a double.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    out += buf;
}

// The five short escapes, \u00xx for the other control bytes (DEL and C1 included), valid UTF-8 copied unchanged and
// ill-formed UTF-8 replaced by U+FFFD, so that strict readers accept every string we write. An
// encoded surrogate pair (what the parser makes of an escaped pair) is written as the character
// it stands for; a lone surrogate becomes U+FFFD.
void write_string(std::string& out, const std::string& s) {
    out += '"';
    size_t pos = 0;
    while (pos < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[pos]);
        if (c < 0x80) {
            ++pos;
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        static const char HEX[] = "0123456789abcdef";
                        out += "\\u00";
                        out += HEX[c >> 4];
                        out += HEX[c & 0x0F];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            continue;
        }
        const size_t start = pos;
        const char32_t cp = text::decode_utf8(s, pos);
        if (!text::is_surrogate(cp)) {
            // A valid sequence, or ill-formed bytes that decoded to U+FFFD.
            if (cp == text::REPLACEMENT_CHAR) {
                text::append_utf8(out, cp);
            } else if (cp <= 0x9F) {
                // C1 controls are escaped too, so that our JSON is safe to show on a terminal.
                static const char HEX[] = "0123456789abcdef";
                out += "\\u00";
                out += HEX[cp >> 4];
                out += HEX[cp & 0x0F];
            } else {
                out.append(s, start, pos - start);
            }
            continue;
        }
        if (cp <= 0xDBFF && pos < s.size()) {
            size_t next = pos;
            const char32_t low = text::decode_utf8(s, next);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                text::append_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                pos = next;
                continue;
            }
        }
        text::append_utf8(out, text::REPLACEMENT_CHAR);
    }
    out += '"';
}

void write_value(std::string& out, const Value& value, int indent, int level) {
    switch (value.v.index()) {
        case 0:
            out += "null";
            return;
        case 1:
            out += value.as_bool() ? "true" : "false";
            return;
        case 2:
            write_number(out, value.as_number());
            return;
        case 3:
            write_string(out, value.as_string());
            return;
        default:
            break;
    }

    const std::string close_pad(static_cast<size_t>(level) * static_cast<size_t>(indent), ' ');
    const std::string item_pad(static_cast<size_t>(indent) * static_cast<size_t>(level + 1), ' ');
    const char* line_break = indent >= 1 ? "\n" : "";
    const char* key_sep = indent >= 1 ? " " : "";

    if (value.is_array()) {
        const Array& items = value.as_array();
        if (items.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        out += line_break;
        for (size_t i = 0; i < items.size(); ++i) {
            out += item_pad;
            write_value(out, items[i], indent, level + 1);
            if (i + 1 < items.size()) out += ',';
            out += line_break;
        }
        out += close_pad;
        out += ']';
        return;
    }

    const Object& members = value.as_object();
    if (members.empty()) {
        out += "{}";
        return;
    }
    out += '{';
    out += line_break;
    size_t i = 0;
    for (const auto& [key, member] : members) {
        out += item_pad;
        write_string(out, key);
        out += ':';
        out += key_sep;
        write_value(out, member, indent, level + 1);
        if (++i < members.size()) out += ',';
        out += line_break;
    }
    out += close_pad;
    out += '}';
}

}  // namespace

std::string stringify(const Value& value, int indent, int level) {
    // Negative counts would make no sense as padding; treat them as compact / top level.
    if (indent < 0) indent = 0;
    if (level < 0) level = 0;
    std::string out;
    write_value(out, value, indent, level);
    return out;
}

bool has_raw_control_in_string(const std::string& text) {
    bool in_string = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!in_string) {
            in_string = c == '"';
        } else if (c == '\\') {
            ++i;  // the escaped byte is never a delimiter
        } else if (c == '"') {
            in_string = false;
        } else if (c < 0x20) {
            return true;
        }
    }
    return false;
}

}  // namespace json
