#include "core/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/utf8.h"

// wchar_t is UTF-32 here: one unit per code point.

namespace text {

std::string to_utf8(const std::wstring& s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t w : s) {
        const char32_t cp = static_cast<char32_t>(w);
        append_utf8(out, (is_surrogate(cp) || cp > 0x10FFFF) ? REPLACEMENT_CHAR : cp);
    }
    return out;
}

std::wstring to_wide(const std::string& s) {
    std::wstring out;
    out.reserve(s.size());
    size_t pos = 0;
    while (pos < s.size()) {
        const char32_t cp = decode_utf8(s, pos);
        out += static_cast<wchar_t>(is_surrogate(cp) ? REPLACEMENT_CHAR : cp);
    }
    return out;
}

std::vector<uint8_t> read_all(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::vector<uint8_t> data;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        return data;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    data.resize(done);  // the file shrank while being read: keep what was there
    ::close(fd);
    return data;
}

}  // namespace text
