#include "core/fileutils.h"

#include <algorithm>
#include <cctype>

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

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Win32 drops one period that ends an inner part ("dir." is "dir"), and every trailing period
// and blank of the last part ("name. " is "name"); "..." inside a path is a real name.
std::string trimmed_part(std::string part, bool last) {
    if (last) {
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    } else if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') {
        part.pop_back();
    }
    return part;
}

}  // namespace

std::string extended_length_path(const std::string& path) {
    std::string root;
    size_t pos = 0;
    size_t fixed_parts = 0;  // the UNC server and share, which ".." never climbs above
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                       is_separator(path[2]);
    if (drive) {
        root = "\\\\?\\" + path.substr(0, 2);
        pos = 3;
    } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        // "\\?\" (already long) and "\\.\" (devices) are left to the platform as they are.
        if (path.size() >= 3 && (path[2] == '?' || path[2] == '.') && (path.size() == 3 || is_separator(path[3])))
            return path;
        root = "\\\\?\\UNC";
        pos = 2;
        fixed_parts = 2;
    } else {
        return path;
    }

    std::vector<std::string> parts;
    while (pos < path.size()) {
        const size_t end = std::min(path.size(), path.find_first_of("\\/", pos));
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        const bool last = end >= path.size();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.size() > fixed_parts) parts.pop_back();
            continue;
        }
        part = trimmed_part(std::move(part), last);
        if (!part.empty()) parts.push_back(std::move(part));
    }
    if (parts.size() < fixed_parts) return path;  // "\\server" alone names no share

    std::string out = root;
    for (const std::string& part : parts) out += "\\" + part;
    if (parts.empty()) out += "\\";  // the drive's root
    return out;
}

bool write_file(const std::string& path, const void* data, size_t size) {
    OutFile file;
    if (!file.create(path)) return false;
    const bool ok = file.write(data, size);
    file.close();
    return ok;
}

}  // namespace fileutils
