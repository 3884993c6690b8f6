#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/sys.h"
#include "core/text.h"

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

std::string last_error_text() {
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring words = n > 0 && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' ||
                              words.back() == L'.')) {
        words.pop_back();
    }
    if (words.empty()) return "erro " + std::to_string(code);
    return text::to_utf8(words);
}

// Large pages on Windows need a privilege that users do not have; the buffer stays as it is.
void advise_large_buffer(void*, size_t) {}

std::string environment(const char* name) {
    const wchar_t* v = _wgetenv(text::to_wide(name).c_str());
    return v ? text::to_utf8(v) : std::string();
}

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }
bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace sys
