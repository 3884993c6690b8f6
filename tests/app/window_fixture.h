// The real main window, created in the test's own process, plus the helpers the app tests share:
// a message pump, a watcher that answers message boxes from another thread, and readers for the
// window's controls.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/shell.h"

namespace app_test {

// Dispatches the thread's queued messages (WM_QUIT included, so a closed window leaves nothing
// behind) until `done` holds or `timeout_ms` passes; true when `done` held.
bool pump_until(const std::function<bool()>& done, int timeout_ms = 20000);
// Dispatches what is queued now.
void pump();

// Text of a window as UTF-8.
std::string window_text(HWND window);
std::string class_name(HWND window);
// Position and size of a child in its parent's client coordinates.
RECT child_rect(HWND child);
// The colour at (x, y) of a window's client area, and a full repaint of a window and its children.
COLORREF pixel(HWND window, int x, int y);
void repaint(HWND window);
// The log edit's text split at "\r\n" (the empty piece after the last terminator dropped).
std::vector<std::string> log_lines();

// Watches, on its own thread, for a message box of this process; records its caption and text
// and answers it by posting WM_COMMAND with `answer_id` (IDYES, IDNO, IDOK). Message-box button
// labels are Wine's own, so buttons are found by id only.
class DialogWatcher {
public:
    explicit DialogWatcher(int answer_id);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    int seen() const { return seen_.load(); }
    std::string caption() const;
    std::string text() const;

private:
    void run();

    int answer_id_;
    std::atomic<bool> stop_{false};
    std::atomic<int> seen_{0};
    mutable std::mutex mutex_;
    std::string caption_;
    std::string text_;
    std::thread thread_;
};

// Puts g_app back to its start-up values (the process outlives each test's window).
void reset_app_state();

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window at the current g_dpi, shows it and lets it paint.
    void open_window();

    HWND hwnd = nullptr;
};

}  // namespace app_test
