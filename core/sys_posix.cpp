#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "core/sys.h"

namespace sys {

uint64_t tick_count_ms() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleep_ms(int ms) {
    if (ms <= 0) return;
    struct timespec left {};
    left.tv_sec = ms / 1000;
    left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::string local_time(const char* fmt) {
    const time_t now = time(nullptr);
    struct tm parts {};
    if (localtime_r(&now, &parts) == nullptr) return {};
    char buf[32];
    const size_t n = strftime(buf, sizeof buf, fmt, &parts);
    return std::string(buf, n);  // 0 (empty) when the text does not fit
}

namespace {
// strerror_r comes in two flavours: the XSI one fills the buffer and returns a status, the GNU
// one may return a static text instead. Overloading picks the right reading for either.
[[maybe_unused]] std::string strerror_text(int, const char* buf) { return buf; }
[[maybe_unused]] std::string strerror_text(const char* text, const char*) { return text ? text : ""; }
}  // namespace

std::string last_error_text() {
    const int code = errno;
    char buf[256] = {};
    return strerror_text(strerror_r(code, buf, sizeof buf), buf);
}

void advise_large_buffer(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
    // Only whole large pages inside the buffer can be backed by one; the hint must not leave a
    // failure reason behind for a caller that reads errno later.
    constexpr uintptr_t large = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + large - 1) & ~(large - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(large - 1);
    if (data == nullptr || end <= begin) return;
    const int saved = errno;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    errno = saved;
#else
    (void)data;
    (void)size;
#endif
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool stdin_is_terminal() { return isatty(fileno(stdin)) != 0; }
bool stderr_is_terminal() { return isatty(fileno(stderr)) != 0; }

}  // namespace sys
