#include "window_fixture.h"

#include <algorithm>
#include <chrono>

namespace app_test {

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        if (g_app.hwnd && IsWindow(g_app.hwnd) && IsDialogMessageW(g_app.hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

RECT child_rect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

COLORREF pixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

void repaint(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump();
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

void MainWindowTest::SetUp() {
    g_app.busy = false;
    g_app.progress = 0;
    g_app.status = "Pronto";
    set_operations({});
    set_files({});
    set_uploader(nullptr);
    g_dpi = 96;
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

void MainWindowTest::change_dpi(int dpi) {
    RECT suggested = {0, 0, 1470, 1200};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    pump();
}

void MainWindowTest::TearDown() {
    if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    pump();
}

}  // namespace app_test
