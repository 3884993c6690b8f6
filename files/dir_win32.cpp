#include <windows.h>

#include "core/fileutils.h"
#include "core/text.h"
#include "files/scan.h"

namespace fileutils {

std::vector<DirEntry> list_dir(const std::string& folder) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(win32_path(folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry e;
        e.name = text::to_utf8(name);
        e.is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;  // 0x10
        entries.push_back(std::move(e));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return entries;
}

}  // namespace fileutils
