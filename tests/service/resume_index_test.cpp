// Which files earlier batches already sent: what the index must read from results folders left by
// batches that were killed, written by older versions, or piled up over months.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/sha256.h"
#include "service/resume_index.h"
#include "support/support.h"

namespace {

using testing_support::write_text;

std::string record(const std::string& op, const std::string& content, const std::string& task, bool success = true) {
    return "{\"attempts\":1,\"file\":\"C:\\\\docs\\\\a.pdf\",\"status\":\"pending\",\"success\":" +
           std::string(success ? "true" : "false") + ",\"taskId\":\"" + task + "\",\"operation\":\"" + op +
           "\",\"size\":" + std::to_string(content.size()) + ",\"sha256\":\"" + sha256::hex(content) +
           "\",\"sentAt\":\"2024-01-31T14:25:01\"}\n";
}

TEST(ResumeIndex, ReadsWholeSuccessfulRecordsOnly) {
    const std::string a = record("ocr", "conteúdo A", "t-a");
    const std::string b = record("ocr", "conteúdo B", "t-b");
    const std::pair<std::string, size_t> cases[] = {
        {a + b.substr(0, b.size() / 2), 1},  // cut in the middle of the last line
        {a + b.substr(0, b.size() - 2), 1},  // cut just before the closing brace
        {"{\"attempts\":1,\"file\":\"a.pdf\",\"status\":\"pending\",\"success\":true,\"taskId\":\"t-old\"}\n" + a, 1},
        {record("ocr", "x", "t-x", false), 0},
        {record("ocr", "x", ""), 0},
        {"\n\r\n" + a + "\r\n\n" + b, 2},
        {std::string("\x00\xff{\"success\":true,\"sha256\":[", 28), 0},
    };
    for (const auto& c : cases) {
        dorvane::ResumeIndex index;
        index.add_text(c.first);
        EXPECT_EQ(index.size(), c.second) << c.first;
    }
}

// Every results file of the folder is read, and only those: the JSON twin and other names in the
// folder are not results logs; a file of a sent one's size with other bytes was not sent.
TEST(ResumeIndex, FindsWhatTheResultsFolderSaysWasSent) {
    testing_support::TempDir dir;
    const std::string folder = dorvane::results_folder_for(dir.path());
    ASSERT_TRUE(fileutils::create_directory(folder));
    std::vector<std::string> docs;
    for (int i = 0; i < 40; ++i) {
        write_text(fileutils::join(folder, "resultados_2024" + std::to_string(1000 + i) + "_120000.jsonl"),
                   record("ocr", "documento " + std::to_string(i), "t-" + std::to_string(i)));
    }
    write_text(fileutils::join(folder, "resultados_20240001_120000.json"), record("ocr", "json twin", "t-json"));
    write_text(fileutils::join(folder, "outro.jsonl"), record("ocr", "json twin", "t-other"));
    for (const char* content : {"documento 7", "documento 17", "documento 27", "documento 37", "json twin", "documento x"}) {
        docs.push_back(dir.file(std::string(content) + ".pdf"));
        write_text(docs.back(), content);
    }

    const auto found = dorvane::find_already_sent(docs, "ocr", dir.path(), 52428800);
    EXPECT_EQ(found.size(), 4u);
    ASSERT_EQ(found.count(dir.file("documento 17.pdf")), 1u);
    EXPECT_EQ(found.at(dir.file("documento 17.pdf")).task_id, "t-17");
    EXPECT_TRUE(dorvane::find_already_sent(docs, "classify", dir.path(), 52428800).empty());
}

}  // namespace
