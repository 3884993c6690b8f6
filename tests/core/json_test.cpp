#include "core/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using json::Array;
using json::Object;
using json::Value;

// The parser is lenient (it reads what services send) and stops after the first value.
TEST(Json, ParsesValidTable) {
    const struct { std::string input; Value expected; size_t end_pos; } cases[] = {
        {"42   xyz", Value(42), 2}, {" \t\r\n7", Value(7), 5}, {"-12", Value(-12), 3}, {"0.1", Value(0.1), 3},
        {"1.5e3", Value(1500), 5}, {"2E+2", Value(200), 4}, {"25e-1", Value(2.5), 5}, {"007", Value(7), 3},
        {"1.", Value(1), 2}, {"-.5", Value(-0.5), 3}, {"1e", Value(1), 2}, {"true", Value(true), 4},
        {"false", Value(false), 5}, {"null", Value(), 4}, {"tru", Value(true), 4}, {"fals", Value(false), 5},
        {"nul", Value(), 4}, {"txyz,", Value(true), 4}, {"{ \n }", Value(Object{}), 5}, {"[ ]", Value(Array{}), 3},
        {"[1, \"a\", null, true]", Value(Array{1, "a", Value(), true}), 20},
        {"{\"a\":[{\"b\":{}}]}", Value(Object{{"a", Array{Object{{"b", Object{}}}}}}), 16},
        {"{\"a\":1,\"a\":2}", Value(Object{{"a", 2}}), 13},
        {" { \"k\" : [ 1 , 2 ] } ", Value(Object{{"k", Array{1, 2}}}), 20},
        {R"("\"\\\/\b\f\n\r\t")", Value("\"\\/\b\f\n\r\t"), 18}, {R"("\q")", Value("q"), 4},
        {R"("\u00e9\u20AC")", Value("\xC3\xA9\xE2\x82\xAC"), 14},
        {R"("\ud83d\ude00")", Value("\xED\xA0\xBD\xED\xB8\x80"), 14},  // surrogates kept apart
        {R"("\u41zz!")", Value("A!"), 9}, {R"("\u0000")", Value(std::string(1, '\0')), 8},
        {"\"\x01\xFF\xC3\"", Value("\x01\xFF\xC3"), 5}, {"\"abc", Value("abc"), 4}, {"\"ab\\", Value("ab"), 4},
        {"\"\\u4", Value("\x04"), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        json::Parser parser(c.input);
        Value got;
        ASSERT_NO_THROW(got = parser.parse_value());
        EXPECT_EQ(got, c.expected) << json::stringify(got);
        EXPECT_EQ(parser.pos, c.end_pos);
    }
    EXPECT_TRUE(std::signbit(json::parse("-0").as_number()));
}

TEST(Json, RejectsInvalidTable) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "Unexpected char: "}, {"[1, 2,]", "Unexpected char: ]"}, {"+1", "Unexpected char: +"},
        {"\xC3\xA9", "Unexpected char: \xC3"}, {"'a'", "Unexpected char: '"},
        {"[1", "Expected ']' got '"},  // what() ends at the NUL that stands for "end of text"
        {"[1 2]", "Expected ']' got '2' at pos 4"}, {"{a:1}", "Expected '\"' got 'a' at pos 2"},
        {"{\"a\" 1}", "Expected ':' got '1' at pos 6"}, {"{\"a\":1 \"b\":2}", "Expected '}' got '\"' at pos 8"},
        {"{\"a\":1,}", "Expected '\"' got '}' at pos 8"}, {"{\"a\":}", "Unexpected char: }"},
    };
    for (const auto& c : cases) {
        try {
            json::parse(c.first);
            ADD_FAILURE() << "no exception for " << c.first;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.second);
        }
    }
    EXPECT_THROW(json::parse("-x"), std::invalid_argument);
    EXPECT_THROW(json::parse("1e999"), std::out_of_range);
}

// Service answers are parsed on worker threads, whose stacks may be smaller than main's: the
// deepest document parses there, one level deeper throws instead of overflowing.
TEST(Json, NestingIsBoundedAndTheDeepestDocumentParsesOnAWorkerThread) {
    std::string deepest;
    for (int i = 0; i < json::MAX_DEPTH; ++i) deepest += "{\"k\":";
    deepest += "0" + std::string(json::MAX_DEPTH, '}');
    const int over = json::MAX_DEPTH + 1;
    bool parsed = false;
    std::string errors;
    std::thread worker([&] {
        parsed = json::parse(deepest).is_object();
        for (const std::string& text : {std::string(100000, '['), std::string(over, '[') + std::string(over, ']')}) {
            try {
                json::parse(text);
            } catch (const std::runtime_error& e) {
                errors += std::string(e.what()) + ";";
            }
        }
    });
    worker.join();
    EXPECT_TRUE(parsed);
    EXPECT_EQ(errors, "JSON nesting too deep;JSON nesting too deep;");
    std::string wide = "[";  // many siblings at shallow depth are fine: the bound is on nesting
    for (int i = 0; i < 5000; ++i) wide += "[[]],";
    EXPECT_EQ(json::parse(wide + "{}]").as_array().size(), 5001u);
}

TEST(Json, GettersFallBackWithoutConverting) {
    const Value obj = json::parse(R"({"s":"text","n":5,"b":true,"z":null,"o":{},"a":[1]})");
    EXPECT_EQ(obj.get_string("s", "fb"), "text");
    for (const char* key : {"n", "b", "z", "o", "missing"}) EXPECT_EQ(obj.get_string(key, "fb"), "fb") << key;
    EXPECT_EQ(Value("s").get_string("s", "fb"), "fb");
    EXPECT_EQ(obj.get("a"), Value(Array{1}));
    EXPECT_TRUE(obj.get("missing").is_null());
    EXPECT_TRUE(Value(3).get("n").is_null());
}

// Everything written is strict JSON whatever the text held: controls escaped, ill-formed UTF-8
// (overlong forms and surrogates included) replaced by U+FFFD, non-finite numbers written as null.
TEST(Json, WritesGoldenForms) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::string fffd = "\xEF\xBF\xBD";
    const struct { Value value; std::string expected; } cases[] = {
        {Value(), "null"}, {Value(false), "false"}, {Value(3.0), "3"}, {Value(-0.0), "0"},
        {Value(2147483647.0), "2147483647"}, {Value(-2147483648.0), "-2147483648"}, {Value(2147483648.0), "2.14748e+09"},
        {Value(0.1), "0.1"}, {Value(3.14159265), "3.14159"}, {Value(0.00001), "1e-05"}, {Value(0.0001), "0.0001"},
        {Value(123456.7), "123457"}, {Value(1.5e-300), "1.5e-300"}, {Value(std::nan("")), "null"}, {Value(-inf), "null"},
        {Value("\"\\\n\r\t/"), R"("\"\\\n\r\t/")"}, {Value(std::string("\f\0\x1b\x1f\x7f", 5)), R"("\u000c\u0000\u001b\u001f\u007f")"},
        {Value("\xC2\x85\xC2\x9F\xC2\xA0"), "\"\\u0085\\u009f\xC2\xA0\""},
        {Value("\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), "\"\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF\""},
        {Value("a\x80z"), "\"a" + fffd + "z\""}, {Value("\xE2\x82z"), "\"" + fffd + "z\""},
        {Value("\xC0\xAF"), "\"" + fffd + fffd + "\""}, {Value("\xC1\xBF"), "\"" + fffd + fffd + "\""},
        {Value("\xE0\x80\x80"), "\"" + fffd + fffd + fffd + "\""}, {Value("\xF0\x9F\x98"), "\"" + fffd + "\""},
        {Value("\xF4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\""}, {Value("caf\xE9"), "\"caf" + fffd + "\""},
        {Value("\xED\xA0\xBD\xED\xB8\x80"), "\"\xF0\x9F\x98\x80\""},  // an escaped pair comes back joined
        {Value("\xED\xA0\xBDx"), "\"" + fffd + "x\""}, {Value("\xED\xB8\x80"), "\"" + fffd + "\""},
        {Value(Array{1, "x", Value(), Array{}, Object{}}), "[1,\"x\",null,[],{}]"},
        {Value(Object{{"b", 1}, {"a", 2}, {"B", 3}}), "{\"B\":3,\"a\":2,\"b\":1}"},
        {Value(Object{{"a\"b\n\x01", 1}, {"\xFF", 2}}), "{\"a\\\"b\\n\\u0001\":1,\"" + fffd + "\":2}"},
    };
    for (const auto& c : cases) EXPECT_EQ(json::stringify(c.value), c.expected);
    const Value v(Object{{"list", Array{1, Object{{"k", "v"}}, Array{}}}, {"empty", Object{}}, {"n", 0.5}});
    EXPECT_EQ(json::stringify(v, 2),
              "{\n  \"empty\": {},\n  \"list\": [\n    1,\n    {\n      \"k\": \"v\"\n    },\n    []\n  ],\n  \"n\": 0.5\n}");
    EXPECT_EQ(json::stringify(Value(Array{1}), 2, 1), "[\n    1\n  ]");  // a nested call aligns one step in
    EXPECT_EQ(json::parse(json::stringify(v, 2)), v);
}

// Strict JSON forbids raw control bytes in strings; the lenient parser does not, so answers are
// checked apart. Outside strings (white space) and escaped, they are fine.
TEST(Json, FindsRawControlBytesInStrings) {
    const std::pair<std::string, bool> rows[] = {
        {"{\"a\":\"b\"}\n", false}, {"{\"a\":\"\\u0001\\\"\x01\"}", true}, {"{\"a\":\"\\\"\",\n\"b\":1}", false},
        {std::string("[\"a\0\"]", 6), true}, {"\"\x1f", true}, {"\"\x7f\xC2\x85\"", false},
    };
    for (const auto& r : rows) EXPECT_EQ(json::has_raw_control_in_string(r.first), r.second) << r.first;
}

}  // namespace
