// Small file-system helpers shared by every layer: the current directory, human-readable sizes,
// path joining with the platform separator, file facts, and an output file that other programs
// may read while we write it. Folder scanning and format detection are in files/scan.h.
//
// Failure style: no function throws for file-system failures; they return false, an empty
// string or a default value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fileutils {

// '\\' on Windows, '/' elsewhere.
extern const char PATH_SEP;

// Current directory in UTF-8; empty on failure. No trailing separator unless it is a root.
std::string current_dir();

// "n B" below 1024, "n KB" below 1 MiB, "n MB" above (rounded down, no larger unit).
std::string format_size(unsigned long long bytes);

// dir + PATH_SEP + name, always adding the separator (a doubled separator is accepted by the
// platform).
std::string join(const std::string& dir, const std::string& name);

// The part after the last '\\' or '/'; the whole path when it has neither.
std::string base_name(const std::string& path);

// The folder part: everything before the last '\\' or '/' ("/" for "/x"); empty when the path
// has no separator.
std::string dir_name(const std::string& path);

// The spelling of an absolute Windows path that the Win32 file calls accept beyond MAX_PATH (260
// characters): "C:\a" becomes "\\?\C:\a", "\\server\share\a" becomes "\\?\UNC\server\share\a".
// The prefix also switches off the platform's own clean-up of the path, so that clean-up is done
// here: '/' becomes a backslash, repeated separators collapse, "." and ".." parts are resolved (never
// above the drive or the share), and trailing periods are trimmed the way Win32 trims them.
// Relative, drive-relative ("C:a"), rooted ("\\a"), device ("\\.\") and already prefixed paths
// come back unchanged. The result is for the platform only, never for the operator's eyes.
std::string extended_length_path(const std::string& path);

#ifdef _WIN32
// The UTF-16 form of extended_length_path(path): what every Win32 file call here is given.
std::wstring win32_path(const std::string& path);
#endif

// Size of a regular file. False when the path cannot be queried; folders report size 0.
bool file_size(const std::string& path, uint64_t& size);
bool is_directory(const std::string& path);
bool exists(const std::string& path);

// Creates one folder; every failure (including an existing folder) is ignored by callers.
bool create_directory(const std::string& path);

// The last-write time in the platform's own units (only comparisons between two files mean
// anything). False when the path cannot be queried.
bool last_write_time(const std::string& path, uint64_t& time);

// True when both paths name one existing file, however they are written (links, "..", case on
// Windows). False when either does not exist.
bool same_file(const std::string& a, const std::string& b);

// Creates the folder and every missing folder above it. True when the folder exists at the end;
// otherwise false with `reason` set to the level that could not be made and the system's words
// for why ("/a/b: Not a directory").
bool create_directories(const std::string& path, std::string& reason);

// Up to `max_bytes` bytes from the start of the file (empty when it cannot be opened or read).
std::vector<uint8_t> read_head(const std::string& path, size_t max_bytes);

// An output file opened with create-always (an existing file is truncated), write access and
// read sharing, so readers can open it while it is written.
class OutFile {
public:
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    [[nodiscard]] bool create(const std::string& path);
    // Opens only when no file of that name exists yet (never truncates).
    [[nodiscard]] bool create_new(const std::string& path);
    bool write(const void* data, size_t size);  // all bytes in one call; false on a short write
    bool flush();                               // pushes written bytes to the disk
    void close();
    bool is_open() const { return handle_ != -1; }

private:
    intptr_t handle_ = -1;  // HANDLE on Windows, fd elsewhere
};

// Moves a closed file over `to`, replacing a file of that name in one step, so that `to` is
// always either the old file or the new one.
[[nodiscard]] bool replace_file(const std::string& from, const std::string& to);
bool remove_file(const std::string& path);

// create() + one write + close(); true only when every byte was written.
[[nodiscard]] bool write_file(const std::string& path, const void* data, size_t size);

}  // namespace fileutils
