// The real main window, created in the test's own process, and what the app tests share to drive
// it: a message pump and readers for the window's controls and pixels.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/shell.h"

namespace app_test {

// Dispatches this thread's messages (WM_QUIT included) until `done` holds or timeout_ms passes.
bool pump_until(const std::function<bool()>& done, int timeout_ms = 20000);
void pump();

RECT child_rect(HWND child);  // in its parent's client coordinates
COLORREF pixel(HWND window, int x, int y);
void repaint(HWND window);
std::vector<std::string> log_lines();  // the log edit split at "\r\n"

class MainWindowTest : public ::testing::Test {
protected:
    // g_app back to its start-up values (the process outlives each window), then open_window.
    void SetUp() override;
    void TearDown() override;
    // The window at the current g_dpi, shown and painted.
    void open_window();
    // WM_DPICHANGED to `dpi` with a suggested rectangle of 1470 x 1200.
    void change_dpi(int dpi);

    HWND hwnd = nullptr;
};

}  // namespace app_test
