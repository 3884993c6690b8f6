// The writer's output checked by strict outside readers: Python's json module (UTF-8 decoded
// strictly, NaN/Infinity refused, control bytes refused) and jq when present.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/json.h"
#include "support/support.h"

namespace {

using json::Array;
using json::Object;
using json::Value;
using testing_support::TempDir;
using testing_support::write_text;

const char* const PYTHON = "/usr/bin/python3";

// Reads every line (or the whole file) strictly and writes each document back as ASCII-only JSON
// with sorted keys, one per line.
const char* const ORACLE = R"(import json, sys
def refuse(name):
    raise ValueError("non-standard constant " + name)
text = open(sys.argv[1], "rb").read().decode("utf-8", "strict")
docs = [l for l in text.split("\n") if l] if sys.argv[2] == "lines" else [text]
out = [json.dumps(json.loads(d, parse_constant=refuse), ensure_ascii=True, sort_keys=True) for d in docs]
sys.stdout.write("\n".join(out) + "\n")
)";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs the oracle on `docs` written to a file; returns its output lines, or fails the test.
std::vector<std::string> run_python(const TempDir& dir, const std::string& docs, const char* mode) {
    write_text(dir.file("oracle.py"), ORACLE);
    write_text(dir.file("docs.json"), docs);
    const std::string cmd = std::string(PYTHON) + " '" + dir.file("oracle.py") + "' '" + dir.file("docs.json") +
                            "' " + mode + " > '" + dir.file("out.txt") + "' 2> '" + dir.file("err.txt") + "'";
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << slurp(dir.file("err.txt"));
    return split_lines(slurp(dir.file("out.txt")));
}

class JsonOracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fileutils::exists(PYTHON)) GTEST_SKIP() << "no " << PYTHON;
    }
    TempDir dir;
};

// Strings built to hurt: quotes, backslashes, every control byte, valid multi-byte UTF-8,
// stray and truncated sequences, encoded surrogates (paired and alone).
std::string hostile_string(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "\"", "\\", "/", "\n", "\r", "\t", "\b", "\f", std::string(1, '\0'), "\x1b", "\x7f", "a", "Z", " ",
        "\xC3\xA9", "\xE2\x80\x94", "\xE2\x86\x92", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "\xEF\xBB\xBF",
        "\xE2\x80\xA8", "\xFF", "\xC0\xAF", "\xE2\x82", "\xF4\x90\x80\x80", "\xED\xA0\xBD\xED\xB8\x80",
        "\xED\xA0\xBD", "\xED\xB8\x80", "\x80", "\xC3", "\\u0041"};
    std::uniform_int_distribution<size_t> count(0, 12), pick(0, pieces.size() - 1), byte(0, 255);
    std::string s;
    for (size_t n = count(rng); n > 0; --n) {
        if (rng() % 4 == 0)
            s += static_cast<char>(byte(rng));
        else
            s += pieces[pick(rng)];
    }
    return s;
}

Value hostile_value(std::mt19937& rng, int depth, int& key_serial) {
    const unsigned kind = depth > 3 ? rng() % 4 : rng() % 6;
    switch (kind) {
        case 0: return Value();
        case 1: return Value(rng() % 2 == 0);
        case 2: return Value(static_cast<int>(rng() % 2000) - 1000);
        case 3: return Value(hostile_string(rng));
        case 4: {
            Array items;
            for (unsigned n = rng() % 4; n > 0; --n) items.push_back(hostile_value(rng, depth + 1, key_serial));
            return Value(std::move(items));
        }
        default: {
            // A serial prefix keeps keys distinct after ill-formed bytes become U+FFFD.
            Object members;
            for (unsigned n = rng() % 4; n > 0; --n)
                members["k" + std::to_string(key_serial++) + hostile_string(rng)] =
                    hostile_value(rng, depth + 1, key_serial);
            return Value(std::move(members));
        }
    }
}

TEST_F(JsonOracle, PythonReadsHostileDocumentsAndGivesTheSameValues) {
    std::mt19937 rng(20261206);
    std::vector<std::string> written;
    int key_serial = 0;
    // Every single byte as a string and as a key.
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        written.push_back(json::stringify(Value(Object{{one, Value(one)}})));
    }
    for (int i = 0; i < 400; ++i) written.push_back(json::stringify(hostile_value(rng, 0, key_serial)));

    std::string docs;
    for (const auto& line : written) docs += line + "\n";
    const std::vector<std::string> back = run_python(dir, docs, "lines");
    ASSERT_EQ(back.size(), written.size());
    // Python's reading, parsed and written again by us, must give our text byte for byte: it
    // saw exactly the characters we meant.
    for (size_t i = 0; i < written.size(); ++i) {
        SCOPED_TRACE(written[i]);
        EXPECT_EQ(json::stringify(json::parse(back[i])), written[i]) << back[i];
    }
}

TEST_F(JsonOracle, PythonReadsIndentedOutputAndSpecialNumbers) {
    const Value record(Object{
        {"arquivo", "C:\\docs\\rela\xC3\xA7\xC3\xA3o \xE2\x80\x94 final.pdf"},
        {"status", "erro\x01\x02"},
        {"nan", std::nan("")},
        {"inf", Array{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}},
        {"big", 2147483648.0},
        {"tiny", 0.00001},
        {"vazio", Object{}},
        {"lista", Array{Array{}, Object{{"\t", Value()}}}},
    });
    const std::string pretty = json::stringify(record, 2);
    const std::vector<std::string> back = run_python(dir, pretty, "whole");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0],
              R"({"arquivo": "C:\\docs\\rela\u00e7\u00e3o \u2014 final.pdf", "big": 2147480000.0, )"
              R"("inf": [null, null], "lista": [[], {"\t": null}], "nan": null, "status": "erro\u0001\u0002", )"
              R"("tiny": 1e-05, "vazio": {}})");
}

TEST_F(JsonOracle, PythonReadsDeepestParsableDocument) {
    const std::string deep = std::string(json::MAX_DEPTH, '[') + std::string(json::MAX_DEPTH, ']');
    const std::string written = json::stringify(json::parse(deep), 1);
    // Python's own recursion limit is near 1000, above our bound.
    EXPECT_EQ(run_python(dir, written, "whole").size(), 1u);
}

TEST_F(JsonOracle, JqAcceptsHostileDocuments) {
    if (!fileutils::exists("/usr/bin/jq")) GTEST_SKIP() << "no jq";
    std::mt19937 rng(7);
    int key_serial = 0;
    std::string docs;
    for (int i = 0; i < 200; ++i) docs += json::stringify(hostile_value(rng, 0, key_serial)) + "\n";
    write_text(dir.file("docs.jsonl"), docs);
    const std::string cmd = "/usr/bin/jq -c . '" + dir.file("docs.jsonl") + "' > '" + dir.file("jq.txt") + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << slurp(dir.file("jq.txt"));
    EXPECT_EQ(split_lines(slurp(dir.file("jq.txt"))).size(), 200u);
}

}  // namespace
