// The end-to-end driver's view of a running dorvane-client.exe: it starts the program, works its
// controls from outside the process the way an operator would (edit texts, button presses, message
// box answers), reads what the window shows (log, lists, enabled buttons), records the bridge
// messages through the spy hook, and takes screenshots. Also the demo service's control calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/text.h"

namespace e2e {

struct Config {
    std::wstring client_exe;  // dorvane-client.exe
    std::string service_url;  // http://127.0.0.1:PORT of the demo service
    std::wstring samples;     // the sample folder the wrapper made; copied afresh for every test
    std::wstring work_root;   // where the copies go
    std::wstring screens;     // where screenshots go
};
extern Config g_config;

// Control ids of the main window, as the operator's tools would name them.
enum Control : int {
    URL = 100, KEY = 101, FOLDER = 102, CONNECT = 103, OPERATIONS = 104, FILES = 105, SCAN = 106,
    BROWSE = 107, SYNC = 108, CONVERT = 109, SEND_SELECTED = 110, SEND_ALL = 111, CANCEL = 112,
    LOG = 113, CLEAR = 114,
};

// One bridge message the window took from its queue, in the order taken.
struct Event {
    UINT message = 0;
    int64_t wparam = 0;
    int64_t lparam = 0;
    bool has_text = false;
    std::string text;
    // "LOG text" (time stamp removed), "STATUS text", "PROGRESS d/t", "BUSY 1", "OPS_LOADED",
    // "FILES_CHANGED", "BOX text".
    std::string describe() const;
};

// Runs the driver's own message loop until pred holds or timeout_ms passes.
bool pump_until(const std::function<bool()>& pred, int timeout_ms);
void pump_for(int ms);

inline std::wstring widen(const std::string& s) { return text::to_wide(s); }
inline std::string narrow(const std::wstring& s) { return text::to_utf8(s); }
// A Unix path as Wine's drive Z: sees it; Windows paths pass unchanged.
std::wstring windows_path(const std::string& path);

void copy_tree(const std::wstring& from, const std::wstring& to);
// Names of the regular files directly in a folder, sorted.
std::vector<std::string> files_in(const std::wstring& folder);
std::string read_file(const std::wstring& path);

// The demo service's control interface.
json::Value service_call(const std::wstring& method, const std::string& path, const std::string& body = "");

class ClientSession {
public:
    ClientSession() = default;
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Starts the client with cwd as its current folder, waits for its window and hooks the spy in.
    bool start(const std::wstring& cwd);
    // Closes the window (answering the exit question with Yes) and waits for the process.
    // Returns its exit code, or -1 when it had to be killed.
    int close();

    HWND window() const { return hwnd_; }
    HANDLE process() const { return process_; }
    HWND control(int id) const { return GetDlgItem(hwnd_, id); }

    void set_text(int id, const std::string& text) const;
    std::string text(int id) const;
    // Posted, so that a workflow's modal box does not block the driver.
    void press(int id) const;
    void post_close() const;
    bool enabled(int id) const;
    bool idle() const;  // the six commands enabled, "Cancelar" disabled
    std::string describe_state() const;  // for failure messages

    std::vector<std::string> log_lines() const;  // the log edit, time stamps removed
    std::vector<std::string> list_items(int id) const;
    int list_cursor(int id) const;

    // The visible message box (or other #32770 dialog) of the client, waiting up to timeout_ms.
    HWND wait_box(int timeout_ms) const;
    HWND find_box() const;
    static std::string box_text(HWND box);
    // Presses a button of the box by its id (IDOK, IDYES, IDNO) and waits for the box to go.
    bool answer(HWND box, int id) const;

    size_t mark() const;
    std::vector<std::string> trace(size_t since) const;
    // Waits for the spy to report BUSY 0 after `since` and for the buttons to show idle.
    bool wait_busy_end(size_t since, int timeout_ms) const;
    // Waits for a log line starting with prefix among the messages after `since`.
    bool wait_log(size_t since, const std::string& prefix, int timeout_ms) const;

    // A BMP of the window as it is on the screen, into the screenshot folder.
    void screenshot(const std::string& name) const;

    bool exited(int timeout_ms, DWORD& code) const;

private:
    HWND hwnd_ = nullptr;
    DWORD pid_ = 0;
    DWORD tid_ = 0;
    HANDLE process_ = nullptr;
    HHOOK hook_ = nullptr;
};


// Creates the driver's spy window and loads the hook DLL; once, before the first session.
void install_spy(const std::wstring& dll_path);

}  // namespace e2e
