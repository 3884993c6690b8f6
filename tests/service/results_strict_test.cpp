// The results files read back by a strict outside reader, python3's json module (UTF-8 decoded
// strictly, NaN and Infinity refused): whatever the service answers and whatever the file names,
// every line and the array must be standard JSON, and the array must hold the lines' records.
#include "batch_fixture.h"
#include "support/process.h"

namespace batch_test {
namespace {

const char* const STRICT_READER = R"PY(
import json, sys
def refuse(name):
    raise ValueError("non-standard constant " + name)
def load(raw):
    return json.loads(raw.decode("utf-8", errors="strict"), parse_constant=refuse)
raw = open(sys.argv[1], "rb").read()
assert raw.endswith(b"\n"), "last line lacks its line feed"
records = []
for number, line in enumerate(raw.split(b"\n")[:-1], 1):
    try:
        records.append(load(line))
    except Exception as e:
        sys.exit("line %d: %s: %r" % (number, e, line[:200]))
assert len(records) == int(sys.argv[3]), "%d lines" % len(records)
assert load(open(sys.argv[2], "rb").read()) == records, "the array differs from the lines"
)PY";

std::string nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') + "1" + std::string(static_cast<size_t>(depth), ']');
}

TEST_F(EngineTest, ResultsStayStrictJsonWhateverTheServiceSends) {
    std::string every_byte;  // each byte once, raw inside a string: controls, DEL, C1, ill-formed UTF-8
    for (int b = 1; b < 256; ++b) every_byte += b == '"' || b == '\\' ? ' ' : static_cast<char>(b);
    const std::vector<HttpReply> answers = {
        json_reply(200, "{\"taskId\":\"t1\",\"k\\\"ey\\nwith\\tbreaks\":\"v\\u0000\\u001f\\/\"}"),
        json_reply(200, "{\"taskId\":\"t2\",\"status\":\"" + every_byte + "\",\"" + every_byte + "\":1}"),
        json_reply(200, "{\"taskId\":\"t3\",\"status\":\"\xff\xfe\xc3\",\"\xe2\x80\":\"\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf\"}"),
        json_reply(200, "{\"taskId\":\"t4\",\"deep\":" + nested(500) + "}"),
        json_reply(200, "{\"taskId\":\"t5\",\"deep\":" + nested(5000) + "}"),
        json_reply(200, "{\"taskId\":\"t6\",\"big\":1e999,\"small\":-1e999,\"n\":2147483648.5}"),
        json_reply(500, std::string("<html>\x01\x02\"quoted\"\r\n\xff\xfe p\xc3\xa1gina\x00 fim</html>", 40)),
        json_reply(422, "{\"taskId\":\"t8\",\"status\":\"failed\",\"errorMessage\":\"linha1\\nlinha2\\u0007\\\"\"}"),
        json_reply(200, "{\"taskId\":\"t9\",\"status\":\"\\ud800 meio par\",\"u\":\"\\uDFFF\",\"par\":\"\\ud83d\\ude00\"}"),
    };
    server.handle("POST", "/api/operations",
                  [&](const HttpRequest&) { return answers[static_cast<size_t>(accepted++) % answers.size()]; });
    std::vector<std::string> paths;
    for (size_t i = 0; i < answers.size(); ++i) paths.push_back(make_file("doc" + std::to_string(i) + ".pdf", 20));
    // Names that only a POSIX file system allows: invalid UTF-8, a quote, a line feed, a control byte.
    paths.push_back(make_file("inv\xff\xfe\xc3lido.pdf", 20));
    paths.push_back(make_file("aspas\"e\nquebra\x01.pdf", 20));
    paths.push_back(dir.file("falta\x7f\xc0\xaf.pdf"));

    auto o = options();
    o.max_attempts = 1;
    const auto s = uploader.run(paths, o, callbacks());
    ASSERT_EQ(s.succeeded + s.failed + s.skipped, static_cast<int>(paths.size()));
    testing_support::write_text(dir.file("strict_reader.py"), STRICT_READER);
    const auto r = testing_support::run_program({"/usr/bin/python3", dir.file("strict_reader.py"), s.results_path,
                                                 s.results_path.substr(0, s.results_path.size() - 1),
                                                 std::to_string(paths.size())});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
}

}  // namespace
}  // namespace batch_test
