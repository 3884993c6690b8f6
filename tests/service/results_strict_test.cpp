// End to end: a service that answers with every kind of hostile text, and file names that are not
// valid UTF-8, must still leave results files that a strict JSON reader (python3's json module,
// with NaN and Infinity refused) accepts line by line.
#include <cstdlib>
#include <fstream>

#include "batch_fixture.h"
#include "core/fileutils.h"

namespace batch_test {
namespace {

const char* const STRICT_READER = R"PY(
import json, sys

def refuse(name):
    raise ValueError("non-standard constant " + name)

def load(text):
    return json.loads(text, parse_constant=refuse)

jsonl, array_path, expected = sys.argv[1], sys.argv[2], int(sys.argv[3])
raw = open(jsonl, "rb").read()
assert raw.endswith(b"\n"), "last line lacks its line feed"
records = []
for number, line in enumerate(raw.split(b"\n")[:-1], 1):
    try:
        record = load(line.decode("utf-8", errors="strict"))
    except Exception as e:
        sys.exit("line %d: %s: %r" % (number, e, line[:200]))
    assert isinstance(record, dict), "line %d is not an object" % number
    for key in ("attempts", "file", "status", "success", "taskId"):
        assert key in record, "line %d lacks %s" % (number, key)
    records.append(record)
assert len(records) == expected, "%d lines, expected %d" % (len(records), expected)
array = load(open(array_path, "rb").read().decode("utf-8", errors="strict"))
assert array == records, "the array differs from the lines"
print("ok", len(records))
)PY";

std::string nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') + "1" + std::string(static_cast<size_t>(depth), ']');
}

// One hostile answer per file, in order.
std::vector<HttpReply> hostile_answers() {
    return {
        json_reply(200, "{\"taskId\":\"t1\",\"status\":\"ok\",\"k\\\"ey\\nwith\\tbreaks\":\"v\\u0000\\u001f\"}"),
        json_reply(200, std::string("{\"taskId\":\"t2\",\"status\":\"raw\x01\x02\x1f\x7f\",\"\x05key\":\"x\"}")),
        json_reply(200, "{\"taskId\":\"t3\",\"status\":\"\xff\xfe\xc3\",\"\xe2\x80\":\"\xed\xa0\x80\xf4\x90\x80\x80\"}"),
        json_reply(200, "{\"taskId\":\"t4\",\"deep\":" + nested(500) + "}"),
        json_reply(200, "{\"taskId\":\"t5\",\"deep\":" + nested(5000) + "}"),
        json_reply(200, "{\"taskId\":\"t6\",\"big\":1e999,\"small\":-1e999}"),
        json_reply(500, std::string("<html>\x01\x02\"quoted\"\r\n\xff\xfe p\xc3\xa1gina\x00 fim</html>", 40)),
        json_reply(422, "{\"taskId\":\"t8\",\"status\":\"failed\",\"errorMessage\":\"linha1\\nlinha2\\u0007\\\"\"}"),
        json_reply(200, "{\"taskId\":\"t9\",\"status\":\"\\ud800 meio par\",\"u\":\"\\uDFFF\"}"),
    };
}

TEST_F(EngineTest, ResultsStayStrictJsonWhateverTheServiceSends) {
    const auto answers = hostile_answers();
    server.handle("POST", "/api/operations", [&](const HttpRequest&) {
        const int n = accepted++;
        return answers[static_cast<size_t>(n) % answers.size()];
    });
    std::vector<std::string> paths;
    for (size_t i = 0; i < answers.size(); ++i) paths.push_back(make_file("doc" + std::to_string(i) + ".pdf", 20));
    // Names that only a POSIX file system allows: invalid UTF-8, a quote, a line feed, a control byte.
    paths.push_back(make_file("inv\xff\xfe\xc3lido.pdf", 20));
    paths.push_back(make_file("aspas\"e\nquebra\x01.pdf", 20));
    paths.push_back(dir.file("falta\x7f\xc0\xaf.pdf"));

    auto o = options();
    o.max_attempts = 1;
    const auto s = uploader.run(paths, o, rec.callbacks());
    ASSERT_EQ(s.succeeded + s.failed + s.skipped, static_cast<int>(paths.size()));

    const std::string script = dir.file("strict_reader.py");
    testing_support::write_text(script, STRICT_READER);
    const std::string out = dir.file("reader.out");
    const std::string array = s.results_path.substr(0, s.results_path.size() - 1);
    const std::string command = "/usr/bin/python3 '" + script + "' '" + s.results_path + "' '" + array + "' " +
                                std::to_string(paths.size()) + " > '" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    const auto said = testing_support::read_bytes(out);
    EXPECT_EQ(status, 0) << std::string(said.begin(), said.end());
}

}  // namespace
}  // namespace batch_test
