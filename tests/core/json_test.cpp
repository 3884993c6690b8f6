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

std::string nul_message(const char* head) { return std::string(head) + '\0'; }

struct ValidCase {
    const char* name;
    std::string input;
    Value expected;
    size_t end_pos;  // where parse_value leaves the parser
};

TEST(Json, ParsesValidTable) {
    const ValidCase cases[] = {
        {"integer", "42", Value(42), 2},
        {"integer then garbage", "42   xyz", Value(42), 2},
        {"leading blanks", " \t\r\n7", Value(7), 5},
        {"negative", "-12", Value(-12), 3},
        {"fraction", "0.1", Value(0.1), 3},
        {"exponent", "1.5e3", Value(1500), 5},
        {"exponent upper signed", "2E+2", Value(200), 4},
        {"negative exponent", "25e-1", Value(2.5), 5},
        {"leading zeros", "007", Value(7), 3},
        {"trailing point", "1.", Value(1), 2},
        {"no integer part", "-.5", Value(-0.5), 3},
        {"exponent without digits", "1e", Value(1), 2},
        {"minus zero", "-0", Value(-0.0), 2},
        {"true", "true", Value(true), 4},
        {"false", "false", Value(false), 5},
        {"null", "null", Value(), 4},
        {"bare tru", "tru", Value(true), 4},
        {"bare fals", "fals", Value(false), 5},
        {"bare nul", "nul", Value(), 4},
        {"t judged by first letter", "txyz,", Value(true), 4},
        {"empty object", "{}", Value(Object{}), 2},
        {"empty object blanks", "{ \n }", Value(Object{}), 5},
        {"empty array blank", "[ ]", Value(Array{}), 3},
        {"array", "[1, \"a\", null, true]", Value(Array{1, "a", Value(), true}), 20},
        {"nested", "{\"a\":[{\"b\":{}}]}", Value(Object{{"a", Array{Object{{"b", Object{}}}}}}), 16},
        {"duplicate key last wins", "{\"a\":1,\"a\":2}", Value(Object{{"a", 2}}), 13},
        {"blanks everywhere", " { \"k\" : [ 1 , 2 ] } ", Value(Object{{"k", Array{1, 2}}}), 20},
        {"string", "\"abc\"", Value("abc"), 5},
        {"short escapes", R"("\"\\\/\b\f\n\r\t")", Value("\"\\/\b\f\n\r\t"), 18},
        {"unknown escape stands for itself", R"("\q")", Value("q"), 4},
        {"u escape ascii", R"("\u0041")", Value("A"), 8},
        {"u escape two bytes", R"("\u00e9")", Value("\xC3\xA9"), 8},
        {"u escape three bytes", R"("\u20AC")", Value("\xE2\x82\xAC"), 8},
        {"surrogates not combined", R"("\ud83d\ude00")", Value("\xED\xA0\xBD\xED\xB8\x80"), 14},
        {"u escape stops at non hex", R"("\u41zz!")", Value("A!"), 9},
        {"u escape nul", R"("\u0000")", Value(std::string(1, '\0')), 8},
        {"raw bytes copied", "\"\x01\xFF\xC3\"", Value("\x01\xFF\xC3"), 5},
        {"unterminated string", "\"abc", Value("abc"), 4},
        {"backslash last", "\"ab\\", Value("ab"), 4},
        {"u escape past end", "\"\\u4", Value("\x04"), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        json::Parser parser(c.input);
        Value got;
        ASSERT_NO_THROW(got = parser.parse_value());
        EXPECT_EQ(got, c.expected) << json::stringify(got);
        EXPECT_EQ(parser.pos, c.end_pos);
    }
}

TEST(Json, MinusZeroKeepsItsSign) {
    const Value v = json::parse("-0");
    ASSERT_TRUE(v.is_number());
    EXPECT_TRUE(std::signbit(v.as_number()));
}

struct InvalidCase {
    const char* name;
    std::string input;
    std::string message;
};

TEST(Json, RejectsInvalidTable) {
    const InvalidCase cases[] = {
        {"empty", "", nul_message("Unexpected char: ")},
        {"blanks only", " \t\r\n", nul_message("Unexpected char: ")},
        {"trailing comma", "[1, 2,]", "Unexpected char: ]"},
        {"unknown byte", "x", "Unexpected char: x"},
        {"plus sign", "+1", "Unexpected char: +"},
        {"high byte", "\xC3\xA9", "Unexpected char: \xC3"},
        {"single quotes", "'a'", "Unexpected char: '"},
        {"unclosed array", "[1", nul_message("Expected ']' got '") + "' at pos 2"},
        {"array missing comma", "[1 2]", "Expected ']' got '2' at pos 4"},
        {"key not a string", "{a:1}", "Expected '\"' got 'a' at pos 2"},
        {"missing colon", "{\"a\" 1}", "Expected ':' got '1' at pos 6"},
        {"object missing comma", "{\"a\":1 \"b\":2}", "Expected '}' got '\"' at pos 8"},
        {"trailing comma object", "{\"a\":1,}", "Expected '\"' got '}' at pos 8"},
        {"unterminated string in object", "{\"a\":\"xyz", nul_message("Expected '}' got '") + "' at pos 9"},
        {"unterminated key", "{\"abc", nul_message("Expected ':' got '") + "' at pos 5"},
        {"value missing", "{\"a\":}", "Unexpected char: }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            json::parse(c.input);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            // what() ends at the NUL byte that stands for "end of text" in these messages.
            EXPECT_EQ(std::string(e.what()), c.message.substr(0, c.message.find('\0')));
        }
    }
}

TEST(Json, NumberConversionErrorsComeFromStod) {
    EXPECT_THROW(json::parse("-x"), std::invalid_argument);
    EXPECT_THROW(json::parse("1e999"), std::out_of_range);
    try {
        json::parse("-");
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "stod");
    }
}

TEST(Json, DeepNestingThrowsInsteadOfOverflowing) {
    const std::string deep(100000, '[');
    try {
        json::parse(deep);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "JSON nesting too deep");
    }
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_THROW(json::parse(objects), std::runtime_error);
    // Up to the limit still parses.
    for (int levels : {511, json::MAX_DEPTH}) {
        SCOPED_TRACE(levels);
        const std::string text = std::string(levels, '[') + std::string(levels, ']');
        json::Parser parser(text);
        Value v;
        ASSERT_NO_THROW(v = parser.parse_value());
        EXPECT_EQ(parser.depth, 0);
        EXPECT_EQ(json::stringify(v), text);
    }
    const int over = json::MAX_DEPTH + 1;
    const std::string text = std::string(over, '[') + std::string(over, ']');
    EXPECT_THROW(json::parse(text), std::runtime_error);
}

TEST(Json, DeepestDocumentParsesOnAWorkerThread) {
    // Service answers are parsed on worker threads, whose stacks may be smaller than main's.
    std::string text;
    for (int i = 0; i < json::MAX_DEPTH; ++i) text += "{\"k\":";
    text += "0";
    for (int i = 0; i < json::MAX_DEPTH; ++i) text += "}";
    bool parsed = false;
    std::string deep_error;
    std::thread worker([&] {
        try {
            parsed = json::parse(text).is_object();
            json::parse(std::string(100000, '['));
        } catch (const std::exception& e) {
            deep_error = e.what();
        }
    });
    worker.join();
    EXPECT_TRUE(parsed);
    EXPECT_EQ(deep_error, "JSON nesting too deep");
}

TEST(Json, DepthCountsOpenContainersOnly) {
    // Many siblings at shallow depth are fine: the bound is on nesting, not on size.
    std::string text = "[";
    for (int i = 0; i < 5000; ++i) text += "[[]],";
    text += "{}]";
    EXPECT_EQ(json::parse(text).as_array().size(), 5001u);
}

TEST(Json, GettersFallBackWithoutConverting) {
    const Value obj = json::parse(R"({"s":"text","n":5,"b":true,"z":null,"o":{},"a":[1]})");
    EXPECT_EQ(obj.get_string("s", "fb"), "text");
    for (const char* key : {"n", "b", "z", "o", "missing"}) EXPECT_EQ(obj.get_string(key, "fb"), "fb") << key;
    EXPECT_EQ(Value("s").get_string("s", "fb"), "fb");
    EXPECT_EQ(Value(Array{"s"}).get_string("0", "fb"), "fb");
    // get() copies the member or gives null.
    EXPECT_EQ(obj.get("n"), Value(5));
    EXPECT_EQ(obj.get("a"), Value(Array{1}));
    EXPECT_TRUE(obj.get("missing").is_null());
    EXPECT_TRUE(Value(3).get("n").is_null());
}

struct WriteCase {
    const char* name;
    Value value;
    std::string expected;
};

TEST(Json, WritesGoldenForms) {
    const WriteCase cases[] = {
        {"null", Value(), "null"},
        {"true", Value(true), "true"},
        {"false", Value(false), "false"},
        {"integer", Value(3.0), "3"},
        {"minus zero", Value(-0.0), "0"},
        {"thousand five hundred", Value(1500.0), "1500"},
        {"int32 max", Value(2147483647.0), "2147483647"},
        {"int32 min", Value(-2147483648.0), "-2147483648"},
        {"above int32", Value(2147483648.0), "2.14748e+09"},
        {"below int32", Value(-2147483649.0), "-2.14748e+09"},
        {"half", Value(0.5), "0.5"},
        {"tenth", Value(0.1), "0.1"},
        {"pi", Value(3.14159265), "3.14159"},
        {"small", Value(0.00001), "1e-05"},
        {"smallish", Value(0.0001), "0.0001"},
        {"huge", Value(1e20), "1e+20"},
        {"six digits fraction", Value(123456.7), "123457"},
        {"negative fraction", Value(-2.5), "-2.5"},
        {"exponent three digits", Value(1.5e-300), "1.5e-300"},
        {"nan", Value(std::nan("")), "null"},
        {"infinity", Value(std::numeric_limits<double>::infinity()), "null"},
        {"minus infinity", Value(-std::numeric_limits<double>::infinity()), "null"},
        {"plain string", Value("abc"), "\"abc\""},
        {"five escapes", Value("\"\\\n\r\t"), R"("\"\\\n\r\t")"},
        {"slash not escaped", Value("a/b"), "\"a/b\""},
        {"form feed", Value("\f"), R"("\u000c")"},
        {"nul byte", Value(std::string("a\0b", 3)), R"("a\u0000b")"},
        {"escape byte", Value("\x1b[0m"), R"("\u001b[0m")"},
        {"unit separator", Value("\x1f"), R"("\u001f")"},
        {"del escaped", Value("\x7f"), R"("\u007f")"},
        {"c1 escaped", Value("\xC2\x85\xC2\x9F\xC2\xA0"), "\"\\u0085\\u009f\xC2\xA0\""},
        {"valid two bytes", Value("\xC3\xA9"), "\"\xC3\xA9\""},
        {"valid three bytes", Value("\xE2\x80\x94 \xE2\x86\x92"), "\"\xE2\x80\x94 \xE2\x86\x92\""},
        {"valid four bytes", Value("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\""},
        {"lone continuation", Value("a\x80z"), "\"a\xEF\xBF\xBDz\""},
        {"truncated sequence", Value("\xE2\x82"), "\"\xEF\xBF\xBD\""},
        {"truncated then ascii", Value("\xE2\x82z"), "\"\xEF\xBF\xBDz\""},
        {"overlong", Value("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"overlong three bytes", Value("\xE0\x80\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"noncharacter U+FFFF kept", Value("\xEF\xBF\xBF"), "\"\xEF\xBF\xBF\""},
        {"U+10FFFF kept", Value("\xF4\x8F\xBF\xBF"), "\"\xF4\x8F\xBF\xBF\""},
        {"truncated four bytes", Value("\xF0\x9F\x98"), "\"\xEF\xBF\xBD\""},
        {"above U+10FFFF", Value("\xF4\x90\x80\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"byte FF", Value("\xFF"), "\"\xEF\xBF\xBD\""},
        {"latin1 e acute", Value("caf\xE9"), "\"caf\xEF\xBF\xBD\""},
        {"surrogate pair joined", Value("\xED\xA0\xBD\xED\xB8\x80"), "\"\xF0\x9F\x98\x80\""},
        {"lone high surrogate", Value("\xED\xA0\xBDx"), "\"\xEF\xBF\xBDx\""},
        {"lone low surrogate", Value("\xED\xB8\x80"), "\"\xEF\xBF\xBD\""},
        {"empty array", Value(Array{}), "[]"},
        {"empty object", Value(Object{}), "{}"},
        {"array compact", Value(Array{1, "x", Value()}), "[1,\"x\",null]"},
        {"object key order", Value(Object{{"b", 1}, {"a", 2}, {"B", 3}}), "{\"B\":3,\"a\":2,\"b\":1}"},
        {"key escaped", Value(Object{{"a\"b\n\x01", 1}}), R"({"a\"b\n\u0001":1})"},
        {"invalid key", Value(Object{{"\xFF", 1}}), "{\"\xEF\xBF\xBD\":1}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(json::stringify(c.value), c.expected);
    }
}

// Strict JSON forbids raw control bytes in strings; the lenient parser does not, so answers are
// checked apart. Outside strings (white space) and escaped, they are fine.
TEST(Json, FindsRawControlBytesInStrings) {
    const struct {
        std::string text;
        bool raw;
    } rows[] = {
        {"{\"a\":\"b\"}\n", false},      {"{\"a\":\"\\u0001\\\"\x01\"}", true},
        {"{\"a\":\"\\\"\",\n\"b\":1}", false}, {std::string("[\"a\0\"]", 6), true},
        {"\"\x1f", true},                   {"\"\x7f\xC2\x85\"", false},
    };
    for (const auto& r : rows) EXPECT_EQ(json::has_raw_control_in_string(r.text), r.raw) << r.text;
}

TEST(Json, WritesIndentedLayout) {
    const Value v(Object{{"list", Array{1, Object{{"k", "v"}}, Array{}}}, {"empty", Object{}}, {"n", 0.5}});
    EXPECT_EQ(json::stringify(v, 2),
              "{\n"
              "  \"empty\": {},\n"
              "  \"list\": [\n"
              "    1,\n"
              "    {\n"
              "      \"k\": \"v\"\n"
              "    },\n"
              "    []\n"
              "  ],\n"
              "  \"n\": 0.5\n"
              "}");
    EXPECT_EQ(json::stringify(v), "{\"empty\":{},\"list\":[1,{\"k\":\"v\"},[]],\"n\":0.5}");
    // A nested call with level 1 aligns its closing bracket one step in.
    EXPECT_EQ(json::stringify(Value(Array{1}), 2, 1), "[\n    1\n  ]");
    EXPECT_EQ(json::stringify(Value(Array{}), 4), "[]");
}

TEST(Json, RoundTripsThroughTheWriter) {
    const std::string samples[] = {
        R"({"a":[1,2.5,-3,true,false,null],"b":{"c":"d\"e\\f\n"},"e":"é — →"})",
        R"([[],{},[[{}]],"",0.1,1e+20,1e-05])",
    };
    for (const auto& s : samples) {
        SCOPED_TRACE(s);
        const Value v = json::parse(s);
        EXPECT_EQ(json::parse(json::stringify(v)), v);
        EXPECT_EQ(json::parse(json::stringify(v, 2)), v);
        EXPECT_EQ(json::stringify(v), s);
    }
    EXPECT_EQ(json::stringify(json::parse("1.5e3")), "1500");
    EXPECT_EQ(json::stringify(json::parse("-0")), "0");
    EXPECT_EQ(json::stringify(json::parse("0.1")), "0.1");
    // An escaped surrogate pair comes back as the character it encodes.
    EXPECT_EQ(json::stringify(json::parse(R"("\ud83d\ude00")")), "\"\xF0\x9F\x98\x80\"");
}

TEST(Json, ParsesRealisticCatalogue) {
    const std::string body = R"({
  "operations": [
    {"code": "ocr", "name": "OCR \u00e9", "cost": 2, "category": "text"},
    {"code": "split", "name": "Dividir", "cost": 0.5, "description": null}
  ],
  "remaining": 1500
})";
    const Value v = json::parse(body);
    const Value operations = v.get("operations");  // get() returns a copy: keep it alive
    const Array& ops = operations.as_array();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].get_string("name", ""), "OCR \xC3\xA9");
    EXPECT_EQ(ops[1].get("cost").as_number(), 0.5);
    EXPECT_EQ(ops[1].get_string("description", "-"), "-");
    EXPECT_EQ(v.get("remaining").as_number(), 1500);
}

}  // namespace
