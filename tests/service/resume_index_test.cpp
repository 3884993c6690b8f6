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

using testing_support::TempDir;
using testing_support::write_text;

std::string record(const std::string& op, const std::string& content, const std::string& task, bool success = true) {
    return "{\"attempts\":1,\"file\":\"C:\\\\docs\\\\a.pdf\",\"status\":\"pending\",\"success\":" +
           std::string(success ? "true" : "false") + ",\"taskId\":\"" + task + "\",\"operation\":\"" + op +
           "\",\"size\":" + std::to_string(content.size()) + ",\"sha256\":\"" + sha256::hex(content) +
           "\",\"sentAt\":\"2024-01-31T14:25:01\"}\n";
}

struct IndexCase {
    const char* label;
    std::string text;
    size_t indexed;
};

TEST(ResumeIndex, ReadsWholeRecordsOnly) {
    const std::string a = record("ocr", "conteúdo A", "t-a");
    const std::string b = record("ocr", "conteúdo B", "t-b");
    const IndexCase cases[] = {
        {"cut in the middle of the last line", a + b.substr(0, b.size() / 2), 1},
        {"cut just before the closing brace", a + b.substr(0, b.size() - 2), 1},
        {"record from before fingerprints",
         "{\"attempts\":1,\"file\":\"a.pdf\",\"status\":\"pending\",\"success\":true,\"taskId\":\"t-old\"}\n" + a, 1},
        {"failed upload", record("ocr", "x", "t-x", false), 0},
        {"no task id", record("ocr", "x", ""), 0},
        {"line feeds only, CR LF, blank lines", "\n\r\n" + a + "\r\n\n" + b, 2},
        {"not JSON at all", std::string("\x00\xff{\"success\":true,\"sha256\":[", 28), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        dorvane::ResumeIndex index;
        index.add_text(c.text);
        EXPECT_EQ(index.size(), c.indexed);
    }
}

TEST(ResumeIndex, MatchesOperationSizeAndDigestTogether) {
    dorvane::ResumeIndex index;
    index.add_text(record("ocr", "abc", "t-1"));
    const dorvane::EarlierSend* hit = index.find("ocr", 3, sha256::hex("abc"));
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->task_id, "t-1");
    EXPECT_EQ(hit->sent_at, "2024-01-31T14:25:01");
    EXPECT_EQ(index.find("classify", 3, sha256::hex("abc")), nullptr);
    EXPECT_EQ(index.find("ocr", 3, sha256::hex("abd")), nullptr);
    EXPECT_TRUE(index.knows_size("ocr", 3));
    EXPECT_FALSE(index.knows_size("ocr", 4));
}

// A thousand results files (months of batches) are all read, and only those files: the JSON twin
// and other names in the folder are not results logs.
TEST(ResumeIndex, ReadsEveryResultsFileOfTheFolder) {
    TempDir dir;
    const std::string folder = dorvane::results_folder_for(dir.path());
    ASSERT_TRUE(fileutils::create_directory(folder));
    std::vector<std::string> docs;
    for (int i = 0; i < 1000; ++i) {
        const std::string content = "documento " + std::to_string(i);
        char name[64];
        std::snprintf(name, sizeof name, "resultados_2024%04d_120000.jsonl", i);
        write_text(fileutils::join(folder, name), record("ocr", content, "t-" + std::to_string(i)));
        if (i % 100 == 7) {
            docs.push_back(dir.file("doc" + std::to_string(i) + ".pdf"));
            write_text(docs.back(), content);
        }
    }
    write_text(fileutils::join(folder, "resultados_20240001_120000.json"), record("ocr", "documento 5", "t-json"));
    write_text(fileutils::join(folder, "outro.jsonl"), record("ocr", "documento 5", "t-other"));
    docs.push_back(dir.file("doc5.pdf"));
    write_text(docs.back(), "documento 5");
    docs.push_back(dir.file("changed.pdf"));
    write_text(docs.back(), "documento x");  // the size of sent ones, other bytes

    const auto found = dorvane::find_already_sent(docs, "ocr", dir.path(), 52428800);
    EXPECT_EQ(found.size(), 11u);
    EXPECT_EQ(found.count(docs.back()), 0u);
    ASSERT_EQ(found.count(dir.file("doc5.pdf")), 1u);
    EXPECT_EQ(found.at(dir.file("doc5.pdf")).task_id, "t-5");
    EXPECT_EQ(found.at(dir.file("doc107.pdf")).task_id, "t-107");
    EXPECT_TRUE(dorvane::find_already_sent(docs, "classify", dir.path(), 52428800).empty());
}

TEST(ResumeIndex, DisplayTimeIsDayMonthYear) {
    EXPECT_EQ(dorvane::display_time("2024-01-31T14:25:01"), "31/01/2024 14:25:01");
    EXPECT_EQ(dorvane::display_time("ontem"), "ontem");
}

}  // namespace
