// The results log on its own: record layout, file names, and that a batch never overwrites the
// files of an earlier one.
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
using testing_support::read_bytes;
using testing_support::TempDir;

std::string read_text(const std::string& path) {
    const auto b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

UploadOutcome sample(const std::string& file) {
    UploadOutcome o;
    o.file = file;
    o.name = "não gravado";
    o.task_id = "t-1";
    o.status = "completed";
    o.result = OutcomeKind::Success;
    o.attempts = 2;
    o.error = "HTTP 503";
    o.response = json::Object{{"taskId", "t-1"}};
    return o;
}

TEST(UploadOutcomeJson, SuccessRecordHasEveryKeyInOrder) {
    EXPECT_EQ(json::stringify(sample("C:\\docs\\a.pdf").to_json()),
              "{\"attempts\":2,\"error\":\"HTTP 503\",\"file\":\"C:\\\\docs\\\\a.pdf\",\"response\":{\"taskId\":\"t-1\"},"
              "\"status\":\"completed\",\"success\":true,\"taskId\":\"t-1\"}");
}

TEST(UploadOutcomeJson, SkippedRecordOmitsEmptyErrorAndNullResponse) {
    UploadOutcome o;
    o.file = "a.pdf";
    o.status = "failed";
    EXPECT_EQ(json::stringify(o.to_json()),
              "{\"attempts\":0,\"file\":\"a.pdf\",\"status\":\"failed\",\"success\":false,\"taskId\":\"\"}");
}

std::string stamp_prefix(const std::string& dir) {
    return fileutils::join(fileutils::join(dir, "dorvane_results"), "resultados_");
}

TEST(ResultsWriter, NameCarriesTheLocalTimeStamp) {
    TempDir dir;
    std::string before, after, path;
    do {  // retried across a change of second so that the stamp can be checked exactly
        before = sys::local_time("%Y%m%d_%H%M%S");
        BatchUploader::ResultsWriter w(dir.path());
        path = w.path();
        ASSERT_TRUE(w.is_open());
        after = sys::local_time("%Y%m%d_%H%M%S");
        w.close();
    } while (before != after);
    EXPECT_EQ(path.substr(0, path.size() - 6), stamp_prefix(dir.path()) + before);
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
    EXPECT_TRUE(fileutils::exists(fileutils::join(fileutils::join(dir.path(), "dorvane_results"),
                                                  fileutils::base_name(path))));
}

TEST(ResultsWriter, LinesAreFlushedAsTheyAreAppended) {
    TempDir dir;
    BatchUploader::ResultsWriter w(dir.path());
    w.append(sample("a.pdf"));
    EXPECT_EQ(read_text(w.path()), json::stringify(sample("a.pdf").to_json()) + "\n");
    w.append(sample("b.pdf"));
    EXPECT_EQ(read_text(w.path()).size(), 2 * (json::stringify(sample("a.pdf").to_json()).size() + 1));
    EXPECT_FALSE(fileutils::exists(w.path().substr(0, w.path().size() - 1)));
    w.close();
    const json::Value array = json::parse(read_text(w.path().substr(0, w.path().size() - 1)));
    ASSERT_EQ(array.as_array().size(), 2u);
    EXPECT_EQ(array.as_array()[1].get_string("file", ""), "b.pdf");
}

TEST(ResultsWriter, DestroyedWithoutCloseKeepsLinesAndWritesNoArray) {
    TempDir dir;
    std::string path;
    {
        BatchUploader::ResultsWriter w(dir.path());
        w.append(sample("a.pdf"));
        path = w.path();
    }
    EXPECT_EQ(read_text(path), json::stringify(sample("a.pdf").to_json()) + "\n");
    EXPECT_FALSE(fileutils::exists(path.substr(0, path.size() - 1)));
}

// Two batches in the same second: the second gets "_2" (and a third "_3"); the first batch's files
// keep their content.
TEST(ResultsWriter, SecondBatchInTheSameSecondKeepsTheFirstFile) {
    TempDir dir;
    for (int tries = 0; tries < 5; ++tries) {
        const std::string second = sys::local_time("%Y%m%d_%H%M%S");
        BatchUploader::ResultsWriter first(dir.path());
        first.append(sample("primeiro.pdf"));
        first.close();
        BatchUploader::ResultsWriter again(dir.path());
        BatchUploader::ResultsWriter third(dir.path());
        if (sys::local_time("%Y%m%d_%H%M%S") != second) continue;  // crossed a second: try again

        const std::string stem = stamp_prefix(dir.path()) + second;
        EXPECT_EQ(first.path(), stem + ".jsonl");
        EXPECT_EQ(again.path(), stem + "_2.jsonl");
        EXPECT_EQ(third.path(), stem + "_3.jsonl");
        EXPECT_TRUE(again.is_open());
        again.append(sample("segundo.pdf"));
        again.close();
        EXPECT_EQ(read_text(first.path()), json::stringify(sample("primeiro.pdf").to_json()) + "\n");
        EXPECT_NE(read_text(stem + ".json").find("primeiro.pdf"), std::string::npos);
        EXPECT_NE(read_text(stem + "_2.json").find("segundo.pdf"), std::string::npos);
        return;
    }
    FAIL() << "could not create two writers within one second";
}

TEST(ResultsWriter, ALeftoverArrayAlsoReservesTheName) {
    TempDir dir;
    for (int tries = 0; tries < 5; ++tries) {
        const std::string second = sys::local_time("%Y%m%d_%H%M%S");
        const std::string stem = stamp_prefix(dir.path()) + second;
        ASSERT_TRUE(fileutils::create_directory(fileutils::join(dir.path(), "dorvane_results")) ||
                    fileutils::is_directory(fileutils::join(dir.path(), "dorvane_results")));
        testing_support::write_text(stem + ".json", "[]");
        BatchUploader::ResultsWriter w(dir.path());
        if (sys::local_time("%Y%m%d_%H%M%S") != second) continue;
        EXPECT_EQ(w.path(), stem + "_2.jsonl");
        w.append(sample("a.pdf"));
        w.close();
        EXPECT_EQ(read_text(stem + ".json"), "[]");
        return;
    }
    FAIL() << "could not stay within one second";
}

TEST(ResultsWriter, UnusableFolderCollectsRecordsAndFailsQuietly) {
    TempDir dir;
    const std::string blocker = dir.file("arquivo");
    testing_support::write_text(blocker, "x");
    BatchUploader::ResultsWriter w(blocker);
    EXPECT_FALSE(w.is_open());
    EXPECT_EQ(w.path().rfind(stamp_prefix(blocker), 0), 0u);
    w.append(sample("a.pdf"));
    w.close();
    EXPECT_EQ(read_text(blocker), "x");
}

}  // namespace
