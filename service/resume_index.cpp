#include "service/resume_index.h"

#include <algorithm>
#include <exception>

#include "core/fileutils.h"
#include "core/json.h"
#include "core/sha256.h"
#include "core/text.h"
#include "files/scan.h"

namespace dorvane {

namespace {

std::string key_of(const std::string& operation, uint64_t size) {
    return operation + '\n' + std::to_string(size);
}

bool is_hex_digest(const std::string& s) {
    if (s.size() != 64) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

void ResumeIndex::add_folder(const std::string& results_folder) {
    std::vector<std::string> names;
    for (const auto& entry : fileutils::list_dir(results_folder)) {
        if (!entry.is_dir && entry.name.rfind("resultados_", 0) == 0 && ends_with(entry.name, ".jsonl")) {
            names.push_back(entry.name);
        }
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::vector<uint8_t> bytes = text::read_all(fileutils::join(results_folder, name));
        add_text(std::string(bytes.begin(), bytes.end()));
    }
}

void ResumeIndex::add_text(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        // Most lines of a large log are not candidates; skip them before parsing.
        if (line.find("\"success\":true") == std::string::npos || line.find("\"sha256\":") == std::string::npos) {
            continue;
        }
        json::Value record;
        try {
            json::Parser parser(line);
            record = parser.parse_value();
        } catch (const std::exception&) {
            continue;
        }
        if (!record.is_object()) continue;
        const json::Value success = record.get("success");
        const json::Value size = record.get("size");
        if (!success.is_bool() || !success.as_bool() || !size.is_number()) continue;
        const double bytes = size.as_number();
        if (!(bytes >= 1) || bytes > 9.0e15 || bytes != static_cast<double>(static_cast<uint64_t>(bytes))) continue;
        EarlierSend send;
        send.task_id = record.get_string("taskId", "");
        send.sent_at = record.get_string("sentAt", "");
        send.size = static_cast<uint64_t>(bytes);
        send.sha256 = record.get_string("sha256", "");
        const std::string operation = record.get_string("operation", "");
        if (send.task_id.empty() || operation.empty() || !is_hex_digest(send.sha256)) continue;
        const std::string size_key = key_of(operation, send.size);
        sizes_.insert(size_key);
        sends_[size_key + '\n' + send.sha256] = std::move(send);
    }
}

const EarlierSend* ResumeIndex::find(const std::string& operation, uint64_t size, const std::string& sha256) const {
    const auto it = sends_.find(key_of(operation, size) + '\n' + sha256);
    return it == sends_.end() ? nullptr : &it->second;
}

bool ResumeIndex::knows_size(const std::string& operation, uint64_t size) const {
    return sizes_.count(key_of(operation, size)) > 0;
}

std::string results_folder_for(const std::string& results_dir) {
    return fileutils::join(results_dir.empty() ? fileutils::current_dir() : results_dir, fileutils::RESULTS_FOLDER);
}

std::map<std::string, EarlierSend> find_already_sent(const std::vector<std::string>& paths, const std::string& operation,
                                                     const std::string& results_dir, uint64_t max_file_bytes) {
    std::map<std::string, EarlierSend> found;
    ResumeIndex index;
    index.add_folder(results_folder_for(results_dir));
    if (index.size() == 0) return found;
    for (const auto& path : paths) {
        uint64_t size = 0;
        if (!fileutils::file_size(path, size) || size == 0 || size > max_file_bytes) continue;
        if (!index.knows_size(operation, size)) continue;
        const std::vector<uint8_t> data = text::read_all(path);
        if (data.size() != size) continue;
        sha256::Hasher hasher;
        hasher.update(data.data(), data.size());
        const EarlierSend* earlier = index.find(operation, size, hasher.finish_hex());
        if (earlier) found[path] = *earlier;
    }
    return found;
}

std::string display_time(const std::string& iso_local) {
    // "YYYY-MM-DDTHH:MM:SS"
    if (iso_local.size() != 19 || iso_local[4] != '-' || iso_local[7] != '-' || iso_local[10] != 'T') return iso_local;
    return iso_local.substr(8, 2) + "/" + iso_local.substr(5, 2) + "/" + iso_local.substr(0, 4) + " " +
           iso_local.substr(11);
}

}  // namespace dorvane
