// Started by exit_test: the real run_app, and a second thread that starts a worker which keeps
// using g_app (log lines, the service client, the file list), makes the window busy, closes it
// and answers the exit question with Yes. The process must then end with code 0 while the worker
// still runs, without running static destructors under it. With "finishing" the worker ends by
// itself before the window closes (the normal path).
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app_state.h"
#include "app/shell.h"

namespace {

// Static destruction with a worker still running is the fault under test: this destructor runs
// among the other static destructors and reports it with exit code 42.
struct DestructionWatch {
    ~DestructionWatch() {
        if (running_workers() > 0) ExitProcess(42);
    }
} g_destruction_watch;

DWORD WINAPI drive(LPVOID finishing_flag) {
    const bool finishing = finishing_flag != nullptr;
    while (!g_app.hwnd || !IsWindowVisible(g_app.hwnd)) Sleep(10);
    PostMessageW(g_app.hwnd, WM_APP_BUSY, 1, 0);
    const bool started = start_worker([finishing] {
        for (int i = 0; !finishing || i < 50; ++i) {
            log_line("trabalhando " + std::to_string(i));
            add_file(g_app.client->base() + "/" + std::to_string(i));
            if (file_count() > 100) set_files({});
            Sleep(1);
        }
        PostMessageW(g_app.hwnd, WM_APP_BUSY, 0, 0);
    });
    if (!started) ExitProcess(3);
    while (finishing && running_workers() > 0) Sleep(5);
    PostMessageW(g_app.hwnd, WM_CLOSE, 0, 0);
    for (DWORD pid = 0; !finishing; Sleep(10)) {
        // The exit question: a box with the application's caption, of this process.
        HWND box = FindWindowW(L"#32770", L"Dorvane API Client");
        if (box && GetWindowThreadProcessId(box, &pid) && pid == GetCurrentProcessId()) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
            break;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool finishing = argc > 1 && std::strcmp(argv[1], "finishing") == 0;
    CloseHandle(CreateThread(nullptr, 0, drive, finishing ? &g_destruction_watch : nullptr, 0, nullptr));
    return run_app(GetModuleHandleW(nullptr), SW_SHOW);
}
