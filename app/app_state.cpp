#include "app/app_state.h"

#include <system_error>
#include <thread>

#include "app/main_window.h"
#include "core/sys.h"
#include "core/text.h"

AppState g_app;

int g_dpi = 96;
HBRUSH g_brushPage = nullptr;
HBRUSH g_brushCard = nullptr;
HICON g_iconLarge = nullptr;
HICON g_iconSmall = nullptr;

namespace {

std::atomic<int> g_workers{0};

// How long a worker waits for room in a full message queue before it tries the post again.
constexpr DWORD QUEUE_FULL_RETRY_MS = 5;

}  // namespace

int S(int n) {
    return MulDiv(n, g_dpi, 96);
}

bool ui_post(unsigned msg, const std::string& text) {
    auto* copy = new std::string(text);
    HWND hwnd = g_app.hwnd;
    for (;;) {
        if (hwnd && PostMessageW(hwnd, msg, 0, reinterpret_cast<LPARAM>(copy))) {
            return true;
        }
        // Windows refuses posts beyond 10,000 queued messages (ERROR_NOT_ENOUGH_QUOTA). A worker
        // that floods the log waits for the window to drain its queue instead of losing lines;
        // the UI thread itself cannot wait for its own queue, and a gone window never drains.
        bool queue_full = hwnd && GetLastError() == ERROR_NOT_ENOUGH_QUOTA && IsWindow(hwnd) &&
                          GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId();
        if (!queue_full) {
            delete copy;
            return false;
        }
        Sleep(QUEUE_FULL_RETRY_MS);
    }
}

// A NUL or another control in a service's text would cut or garble the line in the log edit.
void log_line(const std::string& message) {
    ui_post(WM_APP_LOG, "[" + sys::local_time("%H:%M:%S") + "] " + text::display_safe(message));
}

void append_log(const std::string& line) {
    HWND log = g_app.log_edit;
    if (!log) {
        return;
    }
    int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
    std::wstring wide = text::to_wide(line + "\r\n");
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

std::string get_text(HWND control) {
    int length = GetWindowTextLengthW(control);
    if (length < 1) {
        return std::string();
    }
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(control, &buffer[0], length + 1);
    if (copied < 0) {
        copied = 0;
    }
    buffer.resize(static_cast<size_t>(copied));
    return text::to_utf8(buffer);
}

int message_box(HWND owner, const std::string& text, unsigned flags) {
    return MessageBoxW(owner, text::to_wide(text).c_str(), text::to_wide(APP_NAME).c_str(), flags);
}

void set_operations(std::vector<dorvane::Operation> operations) {
    std::vector<dorvane::Operation> previous;
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    previous.swap(g_app.operations);
    g_app.operations = std::move(operations);
}

void set_files(const std::vector<std::string>& paths) {
    std::vector<FileRow> rows;
    rows.reserve(paths.size());
    for (const std::string& path : paths) {
        rows.push_back({path, file_info(path)});
    }
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    // The old list is released after the lock, with `rows`.
    rows.swap(g_app.files);
}

void add_file(const std::string& path) {
    FileRow row{path, file_info(path)};
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    for (const FileRow& held : g_app.files) {
        if (held.path == path) {
            return;
        }
    }
    g_app.files.push_back(std::move(row));
}

std::vector<dorvane::Operation> operations_copy() {
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    return g_app.operations;
}

std::vector<std::string> file_paths() {
    std::vector<std::string> paths;
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    paths.reserve(g_app.files.size());
    for (const FileRow& row : g_app.files) {
        paths.push_back(row.path);
    }
    return paths;
}

size_t operation_count() {
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    return g_app.operations.size();
}

size_t file_count() {
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    return g_app.files.size();
}

bool operation_at(size_t index, dorvane::Operation& operation) {
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    if (index >= g_app.operations.size()) {
        return false;
    }
    operation = g_app.operations[index];
    return true;
}

bool file_at(size_t index, FileRow& row) {
    std::lock_guard<std::mutex> lock(g_app.data_mutex);
    if (index >= g_app.files.size()) {
        return false;
    }
    row = g_app.files[index];
    return true;
}

void set_uploader(std::shared_ptr<dorvane::BatchUploader> uploader) {
    std::shared_ptr<dorvane::BatchUploader> previous;
    {
        std::lock_guard<std::mutex> lock(g_app.uploader_mutex);
        previous = std::move(g_app.uploader);
        g_app.uploader = std::move(uploader);
    }
}

std::shared_ptr<dorvane::BatchUploader> take_uploader() {
    std::lock_guard<std::mutex> lock(g_app.uploader_mutex);
    return std::move(g_app.uploader);
}

bool request_cancel() {
    std::lock_guard<std::mutex> lock(g_app.uploader_mutex);
    if (!g_app.uploader) {
        return false;
    }
    g_app.uploader->cancel_requested.store(true);
    return true;
}

bool start_worker(std::function<void()> fn) {
    ++g_workers;
    try {
        std::thread([fn = std::move(fn)]() mutable {
            try {
                fn();
            } catch (...) {
                // A workflow reports its own failures; this only keeps the window from staying
                // busy for ever when one escapes.
                PostMessageW(g_app.hwnd, WM_APP_BUSY, 0, 0);
            }
            fn = nullptr;
            --g_workers;
        }).detach();
    } catch (const std::system_error&) {
        --g_workers;
        return false;
    }
    return true;
}

int running_workers() {
    return g_workers.load();
}
