#include "core/text.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/fileutils.h"

namespace text {

std::string to_utf8(const std::wstring& s) {
    if (s.empty() || s.size() > INT_MAX) return {};
    const int units = static_cast<int>(s.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, s.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, s.data(), units, &out[0], bytes, nullptr, nullptr) != bytes) return {};
    return out;
}

std::wstring to_wide(const std::string& s) {
    if (s.empty() || s.size() > INT_MAX) return {};
    const int bytes = static_cast<int>(s.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, s.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, s.data(), bytes, &out[0], units) != units) return {};
    return out;
}

std::vector<uint8_t> read_all(const std::string& path) {
    // Read sharing only: a file another program is still writing is refused, not half-read.
    HANDLE file = CreateFileW(fileutils::win32_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<uint8_t> data;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
        CloseHandle(file);
        return data;
    }
    data.resize(static_cast<size_t>(size.QuadPart));
    // ReadFile takes a 32-bit count; files above this size are read in several requests.
    constexpr size_t MAX_REQUEST = 0x40000000;
    size_t done = 0;
    while (done < data.size()) {
        const size_t want = std::min(data.size() - done, MAX_REQUEST);
        DWORD got = 0;
        if (!ReadFile(file, data.data() + done, static_cast<DWORD>(want), &got, nullptr) || got == 0) break;
        done += got;
    }
    data.resize(done);  // the file shrank while being read: keep what was there
    CloseHandle(file);
    return data;
}

}  // namespace text
