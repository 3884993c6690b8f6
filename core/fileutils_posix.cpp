#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <memory>

#include "core/fileutils.h"

namespace fileutils {

const char PATH_SEP = '/';

std::string current_dir() {
    std::unique_ptr<char, void (*)(void*)> cwd(::getcwd(nullptr, 0), &std::free);
    return cwd ? std::string(cwd.get()) : std::string();
}

bool file_size(const std::string& path, uint64_t& size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool create_directory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool last_write_time(const std::string& path, uint64_t& time) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    time = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return true;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::vector<uint8_t> read_head(const std::string& path, size_t max_bytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::vector<uint8_t> head(max_bytes);
    size_t done = 0;
    while (done < max_bytes) {
        const ssize_t n = ::read(fd, head.data() + done, max_bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of file, or a folder (EISDIR)
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    head.resize(done);
    return head;
}

OutFile::~OutFile() { close(); }

namespace {
intptr_t open_for_writing(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
}  // namespace

bool OutFile::create(const std::string& path) {
    close();
    handle_ = open_for_writing(path, O_TRUNC);
    return is_open();
}

bool OutFile::create_new(const std::string& path) {
    close();
    handle_ = open_for_writing(path, O_EXCL);
    return is_open();
}

bool OutFile::write(const void* data, size_t size) {
    if (!is_open()) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle_), p, size > SSIZE_MAX ? SSIZE_MAX : size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool OutFile::flush() { return is_open() && ::fsync(static_cast<int>(handle_)) == 0; }

void OutFile::close() {
    if (!is_open()) return;
    ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool replace_file(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace fileutils
