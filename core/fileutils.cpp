#include "core/fileutils.h"

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

bool write_file(const std::string& path, const void* data, size_t size) {
    OutFile file;
    if (!file.create(path)) return false;
    const bool ok = file.write(data, size);
    file.close();
    return ok;
}

}  // namespace fileutils
