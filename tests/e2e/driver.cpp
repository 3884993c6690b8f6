#include "tests/e2e/driver.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "net/http_client.h"
#include "tests/e2e/spy_protocol.h"

namespace e2e {

Config g_config;

namespace {

std::vector<Event> g_events;
HMODULE g_spy_module = nullptr;
HOOKPROC g_spy_proc = nullptr;

constexpr int POLL_MS = 20;

LRESULT CALLBACK spy_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data && data->dwData == SPY_COPYDATA_TAG && data->cbData >= sizeof(SpyRecord)) {
            SpyRecord record;
            std::memcpy(&record, data->lpData, sizeof record);
            Event event;
            event.message = record.message;
            event.wparam = record.wparam;
            event.lparam = record.lparam;
            event.has_text = record.has_text != 0;
            event.text.assign(static_cast<const char*>(data->lpData) + sizeof record, data->cbData - sizeof record);
            g_events.push_back(std::move(event));
        }
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

// "[HH:MM:SS] " in front of every log line.
bool has_time_stamp(const std::string& line) {
    if (line.size() < 11 || line[0] != '[' || line[3] != ':' || line[6] != ':' || line[9] != ']' || line[10] != ' ') {
        return false;
    }
    for (int i : {1, 2, 4, 5, 7, 8}) {
        if (line[i] < '0' || line[i] > '9') return false;
    }
    return true;
}

std::string without_time_stamp(const std::string& line) {
    return has_time_stamp(line) ? line.substr(11) : "(sem hora) " + line;
}

std::wstring class_name(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

// WM_GETTEXT, not GetWindowTextW: for another process's window the latter returns the caption
// the system keeps, never the edit's current content.
std::wstring window_text(HWND hwnd) {
    LRESULT length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return std::wstring();
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(buffer.size()), reinterpret_cast<LPARAM>(&buffer[0]));
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buffer;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// A visible top-level window of the process `pid` with the class `cls`, or null.
HWND find_top_level(DWORD pid, const wchar_t* cls) {
    struct Find {
        DWORD pid;
        const wchar_t* cls;
        HWND found;
    } find = {pid, cls, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lparam) -> BOOL {
            auto* f = reinterpret_cast<Find*>(lparam);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != f->pid || !IsWindowVisible(hwnd) || class_name(hwnd) != f->cls) return TRUE;
            f->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

BOOL CALLBACK longest_static_proc(HWND hwnd, LPARAM lparam) {
    auto* best = reinterpret_cast<std::wstring*>(lparam);
    if (_wcsicmp(class_name(hwnd).c_str(), L"Static") == 0) {
        std::wstring text = window_text(hwnd);
        if (text.size() > best->size()) *best = text;
    }
    return TRUE;
}

bool write_bmp(const std::wstring& path, int width, int height, const std::vector<uint8_t>& pixels) {
    const uint32_t row = static_cast<uint32_t>(width) * 3;
    const uint32_t stride = (row + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = stride * static_cast<uint32_t>(height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

}  // namespace

std::string Event::describe() const {
    switch (message) {
    case WM_APP_LOG: return "LOG " + without_time_stamp(text);
    case WM_APP_STATUS: return has_text ? "STATUS " + text : "STATUS (nulo)";
    case WM_APP_PROGRESS: return "PROGRESS " + std::to_string(wparam) + "/" + std::to_string(lparam);
    case WM_APP_BUSY: return "BUSY " + std::to_string(wparam);
    case WM_APP_OPS_LOADED: return "OPS_LOADED";
    case WM_APP_FILES_CHANGED: return "FILES_CHANGED";
    case WM_APP_MESSAGE_BOX: return "BOX " + text;
    default: return "MSG " + std::to_string(message);
    }
}

void install_spy(const std::wstring& dll_path) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = spy_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = SPY_WINDOW_CLASS;
    RegisterClassW(&wc);
    // A top-level window, not a message-only one: FindWindowW in the client does not see those.
    CreateWindowExW(0, SPY_WINDOW_CLASS, L"spy", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    g_spy_module = LoadLibraryW(dll_path.c_str());
    if (!g_spy_module) throw std::runtime_error("cannot load the spy hook DLL");
    g_spy_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(g_spy_module, "e2e_getmessage_hook")));
    if (!g_spy_proc) throw std::runtime_error("the spy hook DLL lacks e2e_getmessage_hook");
}

void pump_for(int ms) {
    pump_until([] { return false; }, ms);
}

bool pump_until(const std::function<bool()>& pred, int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (pred()) return true;
        if (GetTickCount64() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, POLL_MS, QS_ALLINPUT);
    }
}

std::wstring windows_path(const std::string& path) {
    std::wstring wide = widen(path);
    if (wide.empty() || wide[0] != L'/') return wide;
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return L"Z:" + wide;
}

void copy_tree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            copy_tree(from + L"\\" + name, to + L"\\" + name);
        } else {
            CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::vector<std::string> files_in(const std::wstring& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(narrow(data.cFileName));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

json::Value service_call(const std::wstring& method, const std::string& path, const std::string& body) {
    static http::Client client;
    std::map<std::string, std::string> headers;
    if (!body.empty()) headers["Content-Type"] = "application/json";
    http::Response response =
        client.request(std::string(method.begin(), method.end()), g_config.service_url + path, headers, std::vector<uint8_t>(body.begin(), body.end()), 10);
    if (response.status != 200) {
        throw std::runtime_error("demo service " + path + ": " + std::to_string(response.status) + " " +
                                 response.error + " " + response.body);
    }
    return json::parse(response.body);
}

ClientSession::~ClientSession() {
    if (process_) {
        close();
    }
}

bool ClientSession::start(const std::wstring& cwd) {
    std::wstring command = L"\"" + g_config.client_exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(g_config.client_exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(),
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    WaitForInputIdle(process_, 20000);
    pump_until([&] { return (hwnd_ = find_top_level(pid_, L"DorvaneClientWnd")) != nullptr; }, 30000);
    if (!hwnd_) return false;
    tid_ = GetWindowThreadProcessId(hwnd_, nullptr);
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, g_spy_proc, g_spy_module, tid_);
    // A harmless bridge message (null status: the window only repaints the status line) proves
    // that the hook is loaded in the client before any scenario starts.
    size_t before = g_events.size();
    bool hooked = pump_until(
        [&] {
            PostMessageW(hwnd_, WM_APP_STATUS, 0, 0);
            return pump_until([&] { return g_events.size() > before; }, 500);
        },
        20000);
    SetForegroundWindow(hwnd_);
    pump_for(300);
    return hook_ != nullptr && hooked;
}

int ClientSession::close() {
    if (!process_) return -1;
    int result = -1;
    if (hwnd_ && IsWindow(hwnd_)) {
        // Any box still up (a failed check left it) is dismissed first.
        for (int i = 0; i < 5; ++i) {
            HWND box = find_box();
            if (!box) break;
            answer(box, IDNO);
            answer(box, IDOK);
        }
        post_close();
        pump_until([&] { return !IsWindow(hwnd_) || find_box() != nullptr; }, 10000);
        if (HWND box = find_box()) answer(box, IDYES);
    }
    DWORD code = 0;
    if (exited(20000, code)) {
        result = static_cast<int>(code);
    } else {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    CloseHandle(process_);
    process_ = nullptr;
    hwnd_ = nullptr;
    return result;
}

bool ClientSession::exited(int timeout_ms, DWORD& code) const {
    bool done = pump_until([&] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, timeout_ms);
    if (done) GetExitCodeProcess(process_, &code);
    return done;
}

void ClientSession::set_text(int id, const std::string& text) const {
    std::wstring wide = widen(text);
    SendMessageW(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

std::string ClientSession::text(int id) const { return narrow(window_text(control(id))); }

void ClientSession::press(int id) const {
    PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control(id)));
}

void ClientSession::post_close() const { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

bool ClientSession::enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }

bool ClientSession::idle() const {
    for (int id : {CONNECT, SCAN, BROWSE, CONVERT, SEND_SELECTED, SEND_ALL}) {
        if (!enabled(id)) return false;
    }
    return !enabled(CANCEL);
}

std::string ClientSession::describe_state() const {
    std::string state = "window " + std::string(IsWindow(hwnd_) ? "alive" : "gone") + ", enabled:";
    for (int id : {CONNECT, SCAN, BROWSE, CONVERT, SEND_SELECTED, SEND_ALL, CANCEL}) {
        state += " " + std::to_string(id) + "=" + (enabled(id) ? "1" : "0");
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return state + ", process " + (code == STILL_ACTIVE ? std::string("running") : "ended " + std::to_string(code));
}

std::vector<std::string> ClientSession::log_lines() const {
    std::vector<std::string> lines = split_lines(text(LOG));
    for (std::string& line : lines) line = without_time_stamp(line);
    return lines;
}

std::vector<std::string> ClientSession::list_items(int id) const {
    std::vector<std::string> items;
    HWND list = control(id);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring buffer(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&buffer[0]));
        buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
        items.push_back(narrow(buffer));
    }
    return items;
}

int ClientSession::list_cursor(int id) const {
    return static_cast<int>(SendMessageW(control(id), LB_GETCURSEL, 0, 0));
}

HWND ClientSession::find_box() const { return find_top_level(pid_, L"#32770"); }

HWND ClientSession::wait_box(int timeout_ms) const {
    HWND box = nullptr;
    pump_until([&] { return (box = find_box()) != nullptr; }, timeout_ms);
    return box;
}

std::string ClientSession::box_text(HWND box) {
    std::wstring best;
    EnumChildWindows(box, longest_static_proc, reinterpret_cast<LPARAM>(&best));
    return narrow(best);
}

bool ClientSession::answer(HWND box, int id) const {
    HWND button = GetDlgItem(box, id);
    if (!button) return false;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return pump_until([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
}

size_t ClientSession::mark() const { return g_events.size(); }

std::vector<std::string> ClientSession::trace(size_t since) const {
    std::vector<std::string> out;
    for (size_t i = since; i < g_events.size(); ++i) {
        if (g_events[i].message == WM_APP_STATUS && !g_events[i].has_text) continue;  // the driver's own probes
        out.push_back(g_events[i].describe());
    }
    return out;
}

bool ClientSession::wait_busy_end(size_t since, int timeout_ms) const {
    return pump_until(
        [&] {
            for (size_t i = since; i < g_events.size(); ++i) {
                if (g_events[i].message == WM_APP_BUSY && g_events[i].wparam == 0) return idle();
            }
            return false;
        },
        timeout_ms);
}

bool ClientSession::wait_log(size_t since, const std::string& prefix, int timeout_ms) const {
    return pump_until(
        [&] {
            for (size_t i = since; i < g_events.size(); ++i) {
                const Event& e = g_events[i];
                if (e.message == WM_APP_LOG && without_time_stamp(e.text).rfind(prefix, 0) == 0) return true;
            }
            return false;
        },
        timeout_ms);
}

void ClientSession::screenshot(const std::string& name) const {
    pump_for(400);  // let the window finish painting what the last messages invalidated
    RECT rect;
    if (!GetWindowRect(hwnd_, &rect)) return;
    // A box that reaches past the window is taken whole.
    RECT box;
    if (HWND dialog = find_box(); dialog && GetWindowRect(dialog, &box)) UnionRect(&rect, &rect, &box);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
        std::vector<uint8_t> pixels(static_cast<const uint8_t*>(bits),
                                    static_cast<const uint8_t*>(bits) + stride * static_cast<size_t>(height));
        write_bmp(g_config.screens + L"\\" + widen(name) + L".bmp", width, height, pixels);
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace e2e
