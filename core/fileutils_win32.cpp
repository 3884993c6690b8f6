#include <windows.h>

#include <algorithm>

#include "core/fileutils.h"
#include "core/text.h"

namespace fileutils {

const char PATH_SEP = '\\';

namespace {
// ReadFile and WriteFile take 32-bit counts; larger buffers go in several requests.
constexpr size_t MAX_REQUEST = 0x40000000;

HANDLE to_handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

std::wstring win32_path(const std::string& path) { return text::to_wide(extended_length_path(path)); }

std::string current_dir() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);  // includes the terminating NUL
    if (needed == 0) return {};
    std::wstring buf(needed, L'\0');
    const DWORD written = GetCurrentDirectoryW(needed, &buf[0]);
    if (written == 0 || written >= needed) return {};  // failed, or the folder changed meanwhile
    buf.resize(written);
    return text::to_utf8(buf);
}

bool file_size(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32_path(path).c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        size = 0;
    else
        size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool is_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::string& path) {
    return GetFileAttributesW(win32_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool last_write_time(const std::string& path, uint64_t& time) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32_path(path).c_str(), GetFileExInfoStandard, &data)) return false;
    time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

namespace {
// Volume serial and file index: what names one file whatever the path.
bool file_identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    // Zero access with full sharing: a file open elsewhere can still be identified.
    HANDLE h = CreateFileW(win32_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}
}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!file_identity(a, ia) || !file_identity(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

bool create_directory(const std::string& path) {
    return CreateDirectoryW(win32_path(path).c_str(), nullptr) != 0;
}

std::vector<uint8_t> read_head(const std::string& path, size_t max_bytes) {
    HANDLE file = CreateFileW(win32_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<uint8_t> head(max_bytes);
    size_t done = 0;
    while (done < max_bytes) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min(max_bytes - done, MAX_REQUEST));
        if (!ReadFile(file, head.data() + done, want, &got, nullptr) || got == 0) break;
        done += got;
    }
    CloseHandle(file);
    head.resize(done);
    return head;
}

OutFile::~OutFile() { close(); }

namespace {
intptr_t open_for_writing(const std::string& path, DWORD disposition) {
    // Read sharing lets the operator open a results file while the batch still appends to it.
    HANDLE h = CreateFileW(win32_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<intptr_t>(h);  // INVALID_HANDLE_VALUE is -1, the closed state
}
}  // namespace

bool OutFile::create(const std::string& path) {
    close();
    handle_ = open_for_writing(path, CREATE_ALWAYS);
    return is_open();
}

bool OutFile::create_new(const std::string& path) {
    close();
    handle_ = open_for_writing(path, CREATE_NEW);
    return is_open();
}

bool OutFile::write(const void* data, size_t size) {
    if (!is_open()) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        const DWORD want = static_cast<DWORD>(std::min(size, MAX_REQUEST));
        if (!WriteFile(to_handle(handle_), p, want, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

bool OutFile::flush() { return is_open() && FlushFileBuffers(to_handle(handle_)) != 0; }

void OutFile::close() {
    if (!is_open()) return;
    CloseHandle(to_handle(handle_));
    handle_ = -1;
}

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExW(win32_path(from).c_str(), win32_path(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool remove_file(const std::string& path) { return DeleteFileW(win32_path(path).c_str()) != 0; }

}  // namespace fileutils
