// Helper of run-installer-test, run under Wine:
//   installer_probe open EXE FOLDER  starts EXE in FOLDER, waits for its main window (found by
//                                    class), prints the window's title and leaves the program
//                                    running; exit 1 when no window shows.
//   installer_probe close            closes the client's window and waits for its process to end;
//                                    exit 1 when there is no such window, 2 when it does not end.
//   installer_probe run COMMANDLINE  runs a command line exactly as given and returns its exit
//                                    status. An NSIS uninstaller's "_?=FOLDER" must be the last
//                                    token, unquoted even when the folder holds blanks, which
//                                    Wine's own argument quoting would not leave alone.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/text.h"

namespace {

constexpr const wchar_t* CLIENT_CLASS = L"DorvaneClientWnd";

struct Search {
    DWORD pid;  // 0: any process
    HWND found;
};

BOOL CALLBACK match_window(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if ((s->pid != 0 && owner != s->pid) || !IsWindowVisible(hwnd) || std::wstring(cls) != CLIENT_CLASS) return TRUE;
    s->found = hwnd;
    return FALSE;
}

HWND wait_for_window(DWORD pid, int timeout_ms) {
    for (int waited = 0; waited <= timeout_ms; waited += 100) {
        Search s{pid, nullptr};
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        Sleep(100);
    }
    return nullptr;
}

int open_client(const std::wstring& exe, const std::wstring& folder) {
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(pi.hThread);
    HWND hwnd = wait_for_window(pi.dwProcessId, 60000);
    if (!hwnd) {
        std::fprintf(stderr, "no visible %ls window\n", CLIENT_CLASS);
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        return 1;
    }
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    std::printf("%s\n", text::to_utf8(title).c_str());
    CloseHandle(pi.hProcess);
    return 0;
}

int close_client() {
    HWND hwnd = wait_for_window(0, 0);
    if (!hwnd) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    // An idle window closes without a question.
    bool ended = process && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    return ended ? 0 : 2;
}

int run_command_line(std::wstring line) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 127;
    }
    CloseHandle(pi.hThread);
    DWORD status = 126;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"open" && argc == 4) return open_client(argv[2], argv[3]);
    if (mode == L"close" && argc == 2) return close_client();
    if (mode == L"run" && argc == 3) return run_command_line(argv[2]);
    std::fprintf(stderr, "usage: installer_probe open EXE FOLDER | close | run COMMANDLINE\n");
    return 64;
}
