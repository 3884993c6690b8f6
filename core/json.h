// JSON values, a lenient recursive-descent parser and a writer.
//
// Every number is a double and every object keeps its members sorted by key (byte order), so
// output is always in key order. The parser is deliberately lenient (it accepts bare words by
// their first letter, ignores text after the first value and never validates UTF-8) because the
// service client relies on exactly that behaviour. Failure style: the parser throws
// std::runtime_error (syntax, nesting deeper than MAX_DEPTH) or what std::stod throws; the
// writer never fails and always produces text that strict JSON readers accept.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace json {

struct Value;
using Array = std::vector<Value>;
using Object = std::map<std::string, Value>;

struct Value {
    // Alternative indices are part of the contract: 0 null, 1 bool, 2 number, 3 string,
    // 4 array, 5 object.
    std::variant<std::monostate, bool, double, std::string, Array, Object> v;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v(b) {}
    Value(double d) : v(d) {}
    Value(int i) : v(static_cast<double>(i)) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(std::string s) : v(std::move(s)) {}
    Value(Array a) : v(std::move(a)) {}
    Value(Object o) : v(std::move(o)) {}

    bool is_null() const { return v.index() == 0; }
    bool is_bool() const { return v.index() == 1; }
    bool is_number() const { return v.index() == 2; }
    bool is_string() const { return v.index() == 3; }
    bool is_array() const { return v.index() == 4; }
    bool is_object() const { return v.index() == 5; }

    // Only valid when the matching is_*() is true (std::get throws otherwise).
    bool as_bool() const { return std::get<1>(v); }
    double as_number() const { return std::get<2>(v); }
    const std::string& as_string() const { return std::get<3>(v); }
    const Array& as_array() const { return std::get<4>(v); }
    const Object& as_object() const { return std::get<5>(v); }
    Array& as_array() { return std::get<4>(v); }
    Object& as_object() { return std::get<5>(v); }

    // The member `key` when this is an object holding it as a string; `fallback` in every other
    // case (not an object, missing member, member of another kind). Never converts kinds.
    std::string get_string(const std::string& key, const std::string& fallback) const;
    // A copy of member `key` when this is an object holding it; null otherwise.
    Value get(const std::string& key) const;

    bool operator==(const Value& other) const { return v == other.v; }
    bool operator!=(const Value& other) const { return !(*this == other); }
};

// Deeper documents are refused with "JSON nesting too deep" instead of exhausting the stack.
constexpr int MAX_DEPTH = 512;

struct Parser {
    const std::string* text = nullptr;  // not owned; must outlive the parser
    size_t pos = 0;                     // next unread byte
    int depth = 0;                      // arrays and objects currently open

    explicit Parser(const std::string& t) : text(&t) {}

    Value parse_value();
    Value parse_object();
    Value parse_array();
    Value parse_number();
    std::string parse_string_raw();
    void expect(char c);

private:
    void skip_ws();
};

// Convenience: Parser(text).parse_value().
Value parse(const std::string& text);

// indent = spaces per level (0: compact, one line); level = depth of `value` (callers pass 0).
std::string stringify(const Value& value, int indent = 0, int level = 0);

// True when a string in `text` holds a raw byte below 0x20, which strict JSON forbids and the
// lenient parser lets through. The service client refuses such answers.
bool has_raw_control_in_string(const std::string& text);

}  // namespace json
