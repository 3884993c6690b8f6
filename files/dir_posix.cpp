#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "core/fileutils.h"
#include "files/scan.h"

namespace fileutils {

std::vector<DirEntry> list_dir(const std::string& folder) {
    std::vector<DirEntry> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return entries;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        DirEntry e;
        e.name = entry->d_name;
        // stat follows a symbolic link, so a link to a folder counts as a folder, as a directory
        // junction does on Windows; a dangling link is listed as a file.
        struct stat st {};
        e.is_dir = ::stat(join(folder, e.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    return entries;
}

}  // namespace fileutils
