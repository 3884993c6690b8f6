// The desktop application's shared state and the one-way bridge from worker threads to the window.
//
// Workers never touch a control: they reach the main window only by posting the seven WM_APP
// messages below. A string payload is a heap copy made by ui_post; once the post succeeds the
// window owns it (and deletes it on every path), and when the post fails ui_post deletes it.
//
// g_app's catalogue and file list are reached only through the hand-over functions below, which
// hold g_app.data_mutex for the copy and never while calling into a control (a list box may send
// WM_DRAWITEM back synchronously). The uploader slot has its own lock so that "Cancelar" and the
// exit question never reach an uploader being destroyed.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/version.h"
#include "service/api_client.h"
#include "service/batch_uploader.h"

constexpr UINT WM_APP_LOG = WM_APP + 1;
constexpr UINT WM_APP_STATUS = WM_APP + 2;
constexpr UINT WM_APP_PROGRESS = WM_APP + 3;
constexpr UINT WM_APP_BUSY = WM_APP + 4;
constexpr UINT WM_APP_OPS_LOADED = WM_APP + 5;
constexpr UINT WM_APP_FILES_CHANGED = WM_APP + 6;
constexpr UINT WM_APP_MESSAGE_BOX = WM_APP + 7;

constexpr int IDC_URL = 100;
constexpr int IDC_API_KEY = 101;
constexpr int IDC_FOLDER = 102;
constexpr int IDC_CONNECT = 103;
constexpr int IDC_OPERATIONS = 104;
constexpr int IDC_FILES = 105;
constexpr int IDC_SCAN = 106;
constexpr int IDC_BROWSE = 107;
constexpr int IDC_SYNC = 108;
constexpr int IDC_CONVERT = 109;
constexpr int IDC_SEND_SELECTED = 110;
constexpr int IDC_SEND_ALL = 111;
constexpr int IDC_CANCEL = 112;
constexpr int IDC_LOG = 113;
constexpr int IDC_CLEAR = 114;

constexpr int IDI_APP_ICON = 101;

constexpr const char* APP_NAME = "Dorvane API Client";
constexpr const char* APP_VERSION = version::TEXT;
constexpr const wchar_t* WINDOW_CLASS = L"DorvaneClientWnd";

// One entry of the file list: the path and the text drawn at the row's right (format tag and
// size), read from the file when the entry is made so that painting never touches the disk.
struct FileRow {
    std::string path;
    std::string info;
};

struct AppState {
    HWND hwnd = nullptr;
    HWND url_edit = nullptr;
    HWND key_edit = nullptr;
    HWND folder_edit = nullptr;
    HWND ops_list = nullptr;
    HWND files_list = nullptr;
    HWND log_edit = nullptr;
    HWND btn_connect = nullptr;
    HWND btn_scan = nullptr;
    HWND btn_browse = nullptr;
    HWND chk_sync = nullptr;
    HWND btn_convert = nullptr;
    HWND btn_send_selected = nullptr;
    HWND btn_send_all = nullptr;
    HWND btn_cancel = nullptr;
    HWND btn_clear = nullptr;

    // Made by app_startup, so that no HTTP session opens before the program runs.
    std::unique_ptr<dorvane::ApiClient> client;

    // Guarded by data_mutex; only the hand-over functions touch them.
    std::vector<dorvane::Operation> operations;
    std::vector<FileRow> files;
    std::mutex data_mutex;

    // The uploader slot, guarded by uploader_mutex. Shared ownership lets a cancel request keep
    // its uploader alive even if the worker clears the slot at the same moment.
    std::shared_ptr<dorvane::BatchUploader> uploader;
    std::mutex uploader_mutex;

    std::atomic<bool> busy{false};
    int progress = 0;
    std::string status = "Pronto";
    HWND focused_edit = nullptr;
};

// A static object, destroyed after wWinMain returns; run_app never returns while a worker runs
// (see shell.cpp), so its destruction never happens under a worker.
extern AppState g_app;

extern int g_dpi;
extern HBRUSH g_brushPage;
extern HBRUSH g_brushCard;
extern HICON g_iconLarge;
extern HICON g_iconSmall;

// MulDiv(n, g_dpi, 96): one 96-DPI length scaled to the current DPI.
int S(int n);

// Posts msg with a heap copy of text; deletes the copy itself when the post fails (the window is
// gone). Callable from any thread. Returns whether the window took the string.
bool ui_post(unsigned msg, const std::string& text);

// "[HH:MM:SS] " + message, posted as WM_APP_LOG. Callable from any thread.
void log_line(const std::string& message);

// UI thread only: appends line + "\r\n" at the end of the log edit and scrolls to it.
void append_log(const std::string& line);

// UTF-8 text of a control; empty when it has none.
std::string get_text(HWND control);

// MessageBoxW with the application caption.
int message_box(HWND owner, const std::string& text, unsigned flags);

// The hand-over of the catalogue and the file list, under g_app.data_mutex. Workers replace a
// list as a whole (or extend the file list) before they post its refresh message; the window and
// the launchers take copies. A file's row info is read before the lock is taken.
void set_operations(std::vector<dorvane::Operation> operations);
void set_files(const std::vector<std::string>& paths);
// Appends path unless the list already holds it (exact bytes: no case folding, no normalisation).
void add_file(const std::string& path);
std::vector<dorvane::Operation> operations_copy();
std::vector<std::string> file_paths();
size_t operation_count();
size_t file_count();
// Entry `index`; false when the list is shorter (it changed since the list box was filled).
bool operation_at(size_t index, dorvane::Operation& operation);
bool file_at(size_t index, FileRow& row);

// Publishes the running send's uploader (an uploader still held is dropped).
void set_uploader(std::shared_ptr<dorvane::BatchUploader> uploader);
// Empties the slot and returns what it held.
std::shared_ptr<dorvane::BatchUploader> take_uploader();
// Raises the cancel flag of the uploader in the slot; false when the slot is empty.
bool request_cancel();

// Starts fn on a detached thread, counted in running_workers() until fn has returned and its
// captures are destroyed. An exception that escapes fn ends the busy state (WM_APP_BUSY 0)
// instead of leaving the thread. False when no thread could be started (fn never runs).
[[nodiscard]] bool start_worker(std::function<void()> fn);
int running_workers();
