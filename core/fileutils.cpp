#include "core/fileutils.h"

#include "core/sys.h"

namespace fileutils {

std::string format_size(unsigned long long bytes) {
    if (bytes < 1024ULL) return std::to_string(bytes) + " B";
    if (bytes < 1048576ULL) return std::to_string(bytes / 1024ULL) + " KB";
    return std::to_string(bytes / 1048576ULL) + " MB";
}

std::string join(const std::string& dir, const std::string& name) {
    std::string out;
    out.reserve(dir.size() + 1 + name.size());
    out += dir;
    out += PATH_SEP;
    out += name;
    return out;
}

std::string base_name(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string dir_name(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return {};
    return path.substr(0, cut == 0 ? 1 : cut);
}

bool create_directories(const std::string& path, std::string& reason) {
    std::string p = path;
    // "a/b/" names the same folder as "a/b"; a root ("/", "C:\\") keeps its separator.
    while (p.size() > 1 && (p.back() == '/' || p.back() == '\\') && p[p.size() - 2] != ':') p.pop_back();
    if (p.empty() || is_directory(p)) return true;
    const size_t cut = p.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0) {
        const std::string parent = p.substr(0, cut + (p[cut - 1] == ':' ? 1 : 0));
        if (!create_directories(parent, reason)) return false;
    }
    if (create_directory(p)) return true;
    const std::string why = sys::last_error_text();  // before is_directory replaces it
    if (is_directory(p)) return true;                // made meanwhile by someone else
    reason = p + ": " + why;
    return false;
}

bool write_file(const std::string& path, const void* data, size_t size) {
    OutFile file;
    if (!file.create(path)) return false;
    const bool ok = file.write(data, size);
    file.close();
    return ok;
}

}  // namespace fileutils
