// The results log: record layout, lines flushed as they come, the array at the end, file names,
// and that a batch never overwrites the files of an earlier one.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/fileutils.h"
#include "core/json.h"
#include "core/sys.h"
#include "service/batch_uploader.h"
#include "support/support.h"

namespace {

using dorvane::BatchUploader;
using dorvane::OutcomeKind;
using dorvane::UploadOutcome;
using testing_support::TempDir;

std::string read_text(const std::string& path) {
    const auto b = testing_support::read_bytes(path);
    return std::string(b.begin(), b.end());
}

std::string twin(const std::string& jsonl) { return jsonl.substr(0, jsonl.size() - 1); }

std::string stamp_prefix(const std::string& dir) {
    return fileutils::join(fileutils::join(dir, "dorvane_results"), "resultados_");
}

TEST(ResultsWriter, WholeLinesFlushedAsAppendedThenTheArray) {
    TempDir dir;
    const UploadOutcome ok{"C:\\docs\\a.pdf", "não gravado", "t-1", "completed", OutcomeKind::Success, 2, "HTTP 503",
                           json::Object{{"taskId", "t-1"}}, "ocr", 3, "abc", "2024-01-31T14:25:01"};
    const UploadOutcome skipped{"b.pdf", "b.pdf", "", "skipped", OutcomeKind::Skipped, 0, "arquivo vazio", json::Value(), "ocr", 0, "", ""};
    // The fields records gained later follow the original ones, in their own order.
    const std::string first =
        "{\"attempts\":2,\"error\":\"HTTP 503\",\"file\":\"C:\\\\docs\\\\a.pdf\",\"response\":{\"taskId\":\"t-1\"},"
        "\"status\":\"completed\",\"success\":true,\"taskId\":\"t-1\",\"operation\":\"ocr\",\"size\":3,\"sha256\":\"abc\","
        "\"sentAt\":\"2024-01-31T14:25:01\"}\n";
    const std::string second = "{\"attempts\":0,\"error\":\"arquivo vazio\",\"file\":\"b.pdf\",\"status\":\"skipped\","
                               "\"success\":false,\"taskId\":\"\",\"operation\":\"ocr\"}\n";
    std::string path;
    {
        BatchUploader::ResultsWriter w(dir.path());
        path = w.path();
        w.append(ok);
        EXPECT_EQ(read_text(path), first);
        w.append(skipped);
        EXPECT_EQ(read_text(path), first + second);
        EXPECT_FALSE(fileutils::exists(twin(path)));
        w.close();
    }
    const std::string array = read_text(twin(path));
    EXPECT_EQ(json::parse(array), json::Value(json::Array{json::parse(first), json::parse(second)}));
    EXPECT_NE(array.find("[\n  {\n    \"attempts\": 2,"), std::string::npos) << array;
    EXPECT_NE(array.find("\"taskId\": \"t-1\",\n    \"operation\": \"ocr\",\n    \"size\": 3,"), std::string::npos);
    EXPECT_NE(array.find("\"operation\": \"ocr\"\n  }\n]"), std::string::npos);

    // A writer that is never closed (a killed batch) keeps its lines and writes no array.
    TempDir other;
    {
        BatchUploader::ResultsWriter w(other.path());
        w.append(ok);
        path = w.path();
    }
    EXPECT_EQ(read_text(path), first);
    EXPECT_FALSE(fileutils::exists(twin(path)));
}

// The local time stamp names the pair; a second batch in the same second gets "_2" (a third "_3"),
// a leftover array reserves its name too, and the earlier files keep their content.
TEST(ResultsWriter, NamesCarryTheStampAndNeverReuseAPair) {
    for (int tries = 0; tries < 5; ++tries) {
        TempDir dir;
        const std::string second = sys::local_time("%Y%m%d_%H%M%S");
        BatchUploader::ResultsWriter first(dir.path());
        first.append(UploadOutcome{"primeiro.pdf", "", "", "", OutcomeKind::Failed, 0, "", json::Value(), "", 0, "", ""});
        first.close();
        BatchUploader::ResultsWriter again(dir.path());
        testing_support::write_text(stamp_prefix(dir.path()) + second + "_3.json", "[]");
        BatchUploader::ResultsWriter fourth(dir.path());
        if (sys::local_time("%Y%m%d_%H%M%S") != second) continue;  // crossed a second: try again

        const std::string stem = stamp_prefix(dir.path()) + second;
        EXPECT_EQ(first.path(), stem + ".jsonl");
        EXPECT_EQ(again.path(), stem + "_2.jsonl");
        EXPECT_EQ(fourth.path(), stem + "_4.jsonl");
        EXPECT_TRUE(again.is_open());
        again.close();
        EXPECT_NE(read_text(stem + ".json").find("primeiro.pdf"), std::string::npos);
        EXPECT_EQ(read_text(stem + "_3.json"), "[]");
        return;
    }
    FAIL() << "could not create the writers within one second";
}

TEST(ResultsWriter, EmptyDirectoryMeansCurrentDirectory) {
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::u8path(dir.path()));
    std::string path;
    {
        BatchUploader::ResultsWriter w("");
        path = w.path();
        EXPECT_TRUE(w.is_open());
    }
    const std::string here = fileutils::current_dir();
    std::filesystem::current_path(previous);
    EXPECT_EQ(path.rfind(stamp_prefix(here), 0), 0u) << path;
    EXPECT_TRUE(fileutils::exists(fileutils::join(fileutils::join(dir.path(), "dorvane_results"), fileutils::base_name(path))));

}

}  // namespace
