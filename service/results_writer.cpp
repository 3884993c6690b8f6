#include <string>

#include "core/fileutils.h"
#include "core/json.h"
#include "core/sys.h"
#include "service/batch_uploader.h"

namespace dorvane {

namespace {

// Two batches started in the same second would otherwise share a name; past this many we give up
// rather than probe the folder forever.
constexpr int MAX_NAME_SUFFIX = 10000;

std::string json_twin(const std::string& jsonl_path) {
    return jsonl_path.substr(0, jsonl_path.size() - 6) + ".json";
}

// Fields that records gained later. They are written after the original ones, in this order, so
// the original fields keep their places for readers that relied on them.
const char* const TRAILING_FIELDS[] = {"operation", "size", "sha256", "sentAt"};

// The record's text as json::stringify would write it (`indent` and `level` alike), except that
// the trailing fields come last.
std::string record_text(const json::Value& record, int indent, int level) {
    if (!record.is_object()) return json::stringify(record, indent, level);
    json::Object head = record.as_object();
    std::string tail;
    const std::string item_pad(static_cast<size_t>(indent) * static_cast<size_t>(level + 1), ' ');
    for (const char* key : TRAILING_FIELDS) {
        auto it = head.find(key);
        if (it == head.end()) continue;
        tail += std::string(",") + (indent > 0 ? "\n" : "") + item_pad + json::stringify(json::Value(key)) + ":" +
                (indent > 0 ? " " : "") + json::stringify(it->second, indent, level + 1);
        head.erase(it);
    }
    // Records always hold the original fields, so the head is never the empty "{}".
    if (tail.empty() || head.empty()) return json::stringify(record, indent, level);
    std::string text = json::stringify(json::Value(std::move(head)), indent, level);
    // Before the line break and padding that precede the closing brace.
    const size_t close = text.size() - 1 - (indent > 0 ? 1 + static_cast<size_t>(indent) * static_cast<size_t>(level) : 0);
    text.insert(close, tail);
    return text;
}

}  // namespace

json::Value UploadOutcome::to_json() const {
    json::Object o;
    o["file"] = file;
    o["taskId"] = task_id;
    o["status"] = status;
    o["success"] = result == OutcomeKind::Success;
    o["attempts"] = static_cast<int>(attempts);
    if (!error.empty()) o["error"] = error;
    if (!response.is_null()) o["response"] = response;
    if (!operation.empty()) o["operation"] = operation;
    if (size > 0) o["size"] = static_cast<double>(size);
    if (!sha256.empty()) o["sha256"] = sha256;
    if (!sent_at.empty()) o["sentAt"] = sent_at;
    return json::Value(std::move(o));
}

// An earlier batch's results are never overwritten: when the stamped name is taken (by either
// file of the pair), "_2", "_3", ... are tried. create_new refuses an existing file atomically, so
// a name taken between the check and the creation is skipped too.
BatchUploader::ResultsWriter::ResultsWriter(const std::string& results_dir) {
    const std::string folder = results_folder_for(results_dir);
    (void)fileutils::create_directory(folder);

    const std::string stem = fileutils::join(folder, "resultados_" + sys::local_time("%Y%m%d_%H%M%S"));
    for (int n = 1; n <= MAX_NAME_SUFFIX; ++n) {
        const std::string candidate = stem + (n == 1 ? std::string() : "_" + std::to_string(n)) + ".jsonl";
        if (n == 1) results_path_ = candidate;
        if (fileutils::exists(candidate) || fileutils::exists(json_twin(candidate))) continue;
        results_path_ = candidate;
        if (file_.create_new(candidate)) return;
        error_ = sys::last_error_text();  // before exists() replaces it
        // Not an existing name: the folder itself is unusable, so stop probing.
        if (!fileutils::exists(candidate)) return;
    }
}

BatchUploader::ResultsWriter::~ResultsWriter() = default;

void BatchUploader::ResultsWriter::append(const UploadOutcome& outcome) {
    records_.push_back(outcome.to_json());
    if (!file_.is_open()) return;
    const std::string line = record_text(records_.back(), 0, 0) + "\n";
    (void)file_.write(line.data(), line.size());
    (void)file_.flush();
}

void BatchUploader::ResultsWriter::close() {
    file_.close();
    if (records_.empty() || results_path_.size() < 6) return;
    std::string text = "[\n";
    for (size_t i = 0; i < records_.size(); ++i) {
        text += "  " + record_text(records_[i], 2, 1) + (i + 1 < records_.size() ? ",\n" : "\n");
    }
    text += "]";
    (void)fileutils::write_file(json_twin(results_path_), text.data(), text.size());
}

}  // namespace dorvane
