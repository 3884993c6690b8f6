// What earlier batches already sent: an index of the successful records of every results file in
// a batch's "dorvane_results" folder, keyed by operation, size and SHA-256, so that a batch run
// again after a stop does not pay for the same documents twice.
//
// Failure style: nothing throws for unreadable folders, files or lines; they add nothing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace dorvane {

// One earlier successful upload, as its record tells it.
struct EarlierSend {
    std::string task_id;
    std::string sent_at;  // local time, ISO 8601 ("2024-01-31T14:25:01")
    uint64_t size = 0;
    std::string sha256;
};

class ResumeIndex {
public:
    // Every "resultados_*.jsonl" of the folder, oldest name first, so the latest send of a content
    // is the one remembered.
    void add_folder(const std::string& results_folder);
    // The records of one results file. Lines that are not a whole record (the cut last line of a
    // batch that was killed), records of failed uploads and records written before fingerprints
    // existed are passed over.
    void add_text(const std::string& text);

    const EarlierSend* find(const std::string& operation, uint64_t size, const std::string& sha256) const;
    // Whether any content of this size went to this operation: only such files need hashing.
    bool knows_size(const std::string& operation, uint64_t size) const;
    size_t size() const { return sends_.size(); }

private:
    std::unordered_map<std::string, EarlierSend> sends_;
    std::unordered_set<std::string> sizes_;
};

// The folder that receives a batch's results files: results_dir (the current folder when empty)
// plus "dorvane_results".
std::string results_folder_for(const std::string& results_dir);

// The files of `paths` whose current content was already sent successfully to `operation`
// according to the results files of `results_dir`'s results folder, by path. Files larger than
// `max_file_bytes` are never read.
std::map<std::string, EarlierSend> find_already_sent(const std::vector<std::string>& paths, const std::string& operation,
                                                     const std::string& results_dir, uint64_t max_file_bytes);

// "31/01/2024 14:25:01" from "2024-01-31T14:25:01"; other text comes back unchanged.
std::string display_time(const std::string& iso_local);

}  // namespace dorvane
