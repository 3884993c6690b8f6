// Clock, sleeping, local time, the environment and the terminal: the few process facilities that
// the engine, the logs and the command line need, behind one header so that platform calls stay in sys_win32.cpp / sys_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sys {

// Milliseconds since an arbitrary start (GetTickCount64 on Windows, a monotonic clock elsewhere).
uint64_t tick_count_ms();

void sleep_ms(int ms);

// The local time now, formatted with strftime; `fmt` such as "%H:%M:%S".
std::string local_time(const char* fmt);

// The system's own words for why the last failed call of this thread failed (errno, or
// GetLastError on Windows), in the system's language, without a trailing period or line break.
// Call it right after the failure: any later call may replace the reason.
std::string last_error_text();

// Asks that a buffer of many megabytes, about to be written end to end, be backed by large
// memory pages where the system offers them: one fault per 2 MiB instead of one per 4 KiB.
// Only a hint; nothing changes for the program when it is not taken.
void advise_large_buffer(void* data, size_t size);

// The environment variable as UTF-8; empty when unset.
std::string environment(const char* name);

// Whether standard input / standard error is a terminal (a question can be asked and answered, a
// progress line can be redrawn in place).
bool stdin_is_terminal();
bool stderr_is_terminal();

}  // namespace sys
