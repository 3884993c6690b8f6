// Helper of run-installer-test, run under Wine:
//   installer_probe title            waits for the client's main window (found by class), prints
//                                    its title; exit 1 when no window shows within a minute.
//   installer_probe close            closes the client's window and waits for its process to end;
//                                    exit 1 when there is no such window, 2 when it does not end.
//   installer_probe run COMMANDLINE  runs a command line exactly as given and returns its exit
//                                    status (an NSIS uninstaller's "_?=FOLDER" stays unquoted).
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/text.h"
#include "support/process.h"

namespace {

BOOL CALLBACK match_window(HWND hwnd, LPARAM found) {
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (!IsWindowVisible(hwnd) || std::wstring(cls) != L"DorvaneClientWnd") return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

HWND wait_for_window(int timeout_ms) {
    for (int waited = 0; waited <= timeout_ms; waited += 100) {
        HWND found = nullptr;
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&found));
        if (found) return found;
        Sleep(100);
    }
    return nullptr;
}

int print_title() {
    HWND hwnd = wait_for_window(60000);
    if (!hwnd) return 1;
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    std::printf("%s\n", text::to_utf8(title).c_str());
    return 0;
}

int close_client() {
    HWND hwnd = wait_for_window(0);
    if (!hwnd) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    // An idle window closes without a question.
    const bool ended = process && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    return ended ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"title" && argc == 2) return print_title();
    if (mode == L"close" && argc == 2) return close_client();
    if (mode == L"run" && argc == 3) return testing_support::run_command_line(text::to_utf8(argv[2])).exit_code;
    std::fprintf(stderr, "usage: installer_probe title | close | run COMMANDLINE\n");
    return 64;
}
