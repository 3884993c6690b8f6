#include "window_fixture.h"

#include <algorithm>
#include <chrono>

#include "core/text.h"

namespace app_test {

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            continue;
        }
        if (g_app.hwnd && IsWindow(g_app.hwnd) && IsDialogMessageW(g_app.hwnd, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pump();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

std::string window_text(HWND window) {
    return get_text(window);
}

std::string class_name(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return text::to_utf8(name);
}

RECT child_rect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<std::string> log_lines() {
    const std::string all = get_text(g_app.log_edit);
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < all.size(); start = end + 2) {
        end = std::min(all.find("\r\n", start), all.size());
        lines.push_back(all.substr(start, end - start));
    }
    return lines;
}

DialogWatcher::DialogWatcher(int answer_id) : answer_id_(answer_id), thread_([this] { run(); }) {}

DialogWatcher::~DialogWatcher() {
    stop_ = true;
    thread_.join();
}

std::string DialogWatcher::caption() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return caption_;
}

std::string DialogWatcher::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

namespace {

// A visible message box of this process, or null.
HWND find_box() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || class_name(window) != "#32770") return TRUE;
            *reinterpret_cast<HWND*>(param) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK find_text(HWND child, LPARAM param) {
    auto* out = reinterpret_cast<std::string*>(param);
    std::string cls = class_name(child);
    if (_stricmp(cls.c_str(), "Static") == 0) {
        std::string t = get_text(child);
        if (!t.empty()) {
            *out = t;
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

void DialogWatcher::run() {
    HWND answered = nullptr;
    while (!stop_) {
        HWND box = find_box();
        if (box && box != answered) {
            std::string message;
            EnumChildWindows(box, find_text, reinterpret_cast<LPARAM>(&message));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                caption_ = get_text(box);
                text_ = message;
            }
            ++seen_;
            answered = box;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_id_, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, answer_id_)));
        }
        Sleep(10);
    }
}

void reset_app_state() {
    g_app.busy = false;
    g_app.progress = 0;
    g_app.status = "Pronto";
    set_operations({});
    set_files({});
    set_uploader(nullptr);
    g_dpi = 96;
}

COLORREF pixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

void repaint(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump();
}

void MainWindowTest::SetUp() {
    reset_app_state();
    open_window();
}

void MainWindowTest::open_window() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    app_startup(instance);
    hwnd = create_main_window(instance);
    ASSERT_NE(hwnd, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    pump();
}

void MainWindowTest::TearDown() {
    if (hwnd && IsWindow(hwnd)) {
        DestroyWindow(hwnd);
    }
    pump();
}

}  // namespace app_test
