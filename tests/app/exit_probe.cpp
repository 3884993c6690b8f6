// A stand-in for the product started by exit_test: it runs the real run_app, and from a second
// thread starts a worker that keeps using g_app (log lines, the client's mutex, the file list),
// makes the window busy, closes it and answers the exit question with Yes. The process must then
// end with code 0 while the worker still runs, without running static destructors under it.
//
// Argument "finishing": the worker ends by itself before the window closes (the normal path).
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app_state.h"
#include "app/shell.h"

namespace {

// Static destruction with a worker still running is the fault under test: this object's
// destructor runs among the other static destructors and reports it with exit code 42.
struct DestructionWatch {
    ~DestructionWatch() {
        if (running_workers() > 0) {
            ExitProcess(42);
        }
    }
} g_destruction_watch;

HWND find_message_box() {
    struct Search {
        DWORD pid;
        HWND found;
    } search = {GetCurrentProcessId(), nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            wchar_t cls[16] = {};
            GetClassNameW(window, cls, 16);
            if (pid == s->pid && IsWindowVisible(window) && std::wcscmp(cls, L"#32770") == 0) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void drive(bool finishing) {
    while (!g_app.hwnd || !IsWindowVisible(g_app.hwnd)) {
        Sleep(10);
    }
    HANDLE worker_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PostMessageW(g_app.hwnd, WM_APP_BUSY, 1, 0);
    bool started = start_worker([finishing, worker_done] {
        for (int i = 0; !finishing || i < 50; ++i) {
            log_line("trabalhando " + std::to_string(i));
            add_file(g_app.client->base() + "/" + std::to_string(i));
            if (file_count() > 100) set_files({});
            Sleep(1);
        }
        PostMessageW(g_app.hwnd, WM_APP_BUSY, 0, 0);
        SetEvent(worker_done);
    });
    if (!started) {
        ExitProcess(3);
    }
    if (finishing) {
        WaitForSingleObject(worker_done, 30000);
        while (running_workers() > 0) {
            Sleep(5);
        }
    }
    PostMessageW(g_app.hwnd, WM_CLOSE, 0, 0);
    if (!finishing) {
        for (;;) {
            if (HWND box = find_message_box()) {
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
                break;
            }
            Sleep(10);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool finishing = argc > 1 && std::strcmp(argv[1], "finishing") == 0;
    HANDLE driver = CreateThread(
        nullptr, 0,
        [](LPVOID param) -> DWORD {
            drive(param != nullptr);
            return 0;
        },
        finishing ? reinterpret_cast<LPVOID>(1) : nullptr, 0, nullptr);
    CloseHandle(driver);
    return run_app(GetModuleHandleW(nullptr), SW_SHOW);
}
