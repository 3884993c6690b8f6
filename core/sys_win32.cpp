#include <windows.h>

#include <ctime>

#include "core/sys.h"

namespace sys {

uint64_t tick_count_ms() { return GetTickCount64(); }

void sleep_ms(int ms) { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

std::string local_time(const char* fmt) {
    const __time64_t now = _time64(nullptr);
    struct tm parts {};
    if (_localtime64_s(&parts, &now) != 0) return {};
    char buf[32];
    const size_t n = strftime(buf, sizeof buf, fmt, &parts);
    return std::string(buf, n);  // 0 (empty) when the text does not fit
}

}  // namespace sys
