// End-to-end scenarios: the real dorvane-client.exe against the demo service on 127.0.0.1, worked
// from outside the way an operator would (edit texts, button presses, message box answers), with
// the window's bridge messages recorded by the spy hook (spy_hook.cpp): the status line, the
// progress and the order of a workflow's messages, which no control shows. Every test starts a
// fresh client in a fresh copy of the sample folder:
//   doc1.pdf doc2.pdf photo.png scan.jpg sub/notes.pdf    five documents
//   fax.tif (Group 4) sub/color.tiff (RGB, LZW)          two real TIFFs
//   fake.tif                                              a PDF under a TIFF name
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <future>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/text.h"
#include "net/http_client.h"
#include "support/process.h"
#include "tests/e2e/spy_protocol.h"

namespace e2e {
namespace {

std::string g_client_exe, g_service_url, g_samples, g_work_root;  // from the command line
std::vector<std::string> g_trace;  // the bridge messages the spy reported, described
HMODULE g_spy_module = nullptr;

// The window's control ids.
enum Control : int {
    URL = 100, KEY = 101, FOLDER = 102, CONNECT = 103, OPERATIONS = 104, FILES = 105, SCAN = 106,
    BROWSE = 107, SYNC = 108, CONVERT = 109, SEND_SELECTED = 110, SEND_ALL = 111, CANCEL = 112, LOG = 113,
};
constexpr int TIMEOUT_MS = 60000;
const char* const FIRST_OPERATION = "OCR (texto pesquisável)";
const char* const EXIT_QUESTION = "Há um envio em andamento. Deseja realmente sair?";

std::wstring widen(const std::string& s) { return text::to_wide(s); }
bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// "[HH:MM:SS] " taken off a log line; a line without it is marked.
std::string without_time(const std::string& line) {
    const bool stamped = line.size() > 11 && line[0] == '[' && line[3] == ':' && line[6] == ':' && line.compare(9, 2, "] ") == 0;
    return stamped ? line.substr(11) : "(sem hora) " + line;
}

std::string find_line(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines) {
        if (starts_with(line, prefix)) return line;
    }
    return std::string();
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

LRESULT CALLBACK spy_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (message != WM_COPYDATA || !data || data->dwData != SPY_COPYDATA_TAG || data->cbData < sizeof(SpyRecord)) {
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    SpyRecord r;
    std::memcpy(&r, data->lpData, sizeof r);
    const std::string text(static_cast<const char*>(data->lpData) + sizeof r, data->cbData - sizeof r);
    switch (r.message) {
    case WM_APP + 1: g_trace.push_back("LOG " + without_time(text)); break;
    case WM_APP + 2: g_trace.push_back(r.has_text ? "STATUS " + text : "STATUS (nulo)"); break;
    case WM_APP + 3: g_trace.push_back("PROGRESS " + std::to_string(r.wparam) + "/" + std::to_string(r.lparam)); break;
    case WM_APP + 4: g_trace.push_back("BUSY " + std::to_string(r.wparam)); break;
    case WM_APP + 5: g_trace.push_back("OPS_LOADED"); break;
    case WM_APP + 6: g_trace.push_back("FILES_CHANGED"); break;
    default: g_trace.push_back("BOX " + text); break;
    }
    return TRUE;
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void pump_for(int ms) { pump_until([] { return false; }, ms); }

std::wstring class_name(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

// WM_GETTEXT: for another process's window GetWindowTextW returns the caption the system keeps,
// not an edit's current content.
std::string window_text(HWND hwnd) {
    std::wstring buffer(static_cast<size_t>(std::max<LRESULT>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0), 0)) + 1, L'\0');
    buffer.resize(static_cast<size_t>(std::max<LRESULT>(
        SendMessageW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0])), 0)));
    return text::to_utf8(buffer);
}

// A visible top-level window of process `pid` with class `cls`, or null.
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

std::string read_file(const std::string& path) {
    std::ifstream in(widen(path).c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names of the regular files directly in a folder, sorted.
std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(widen(folder + "\\*").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(text::to_utf8(data.cFileName));
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void copy_tree(const std::string& from, const std::string& to) {
    CreateDirectoryW(widen(to).c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(widen(from + "\\*").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::string name = text::to_utf8(data.cFileName);
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) copy_tree(from + "\\" + name, to + "\\" + name);
        else CopyFileW(widen(from + "\\" + name).c_str(), widen(to + "\\" + name).c_str(), FALSE);
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// The demo service's control interface.
json::Value service(const std::string& method, const std::string& path, const std::string& body = "") {
    static http::Client client;
    std::map<std::string, std::string> headers;
    if (!body.empty()) headers["Content-Type"] = "application/json";
    const http::Response response =
        client.request(method, g_service_url + path, headers, std::vector<uint8_t>(body.begin(), body.end()), 10);
    if (response.status != 200) throw std::runtime_error("demo service " + path + ": " + response.error + response.body);
    return json::parse(response.body);
}

json::Array submissions() { return service("GET", "/__control/received").get("submissions").as_array(); }

std::vector<std::string> received_names() {
    std::vector<std::string> names;
    for (const json::Value& s : submissions()) names.push_back(s.get_string("filename", "?"));
    return names;
}

void fault(const std::string& json) { service("POST", "/__control/faults", json); }

std::string confirmation(int n, const std::string& name, const std::string& code, int cost) {
    return "Enviar " + std::to_string(n) + " arquivo(s)?\n\nOperação: " + name + " (" + code + ")\nCusto: " +
           std::to_string(cost) + " crédito(s) por arquivo\nCusto estimado: " + std::to_string(n * cost) +
           " crédito(s)";
}

const std::string OCR_FOR_FIVE = confirmation(5, FIRST_OPERATION, "ocr", 1);

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = g_work_root + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        copy_tree(g_samples, folder_);
        service("POST", "/__control/reset", "{}");
        ASSERT_TRUE(start(folder_)) << "the client window did not come up";
        set_text(FOLDER, folder_);
    }

    void TearDown() override { EXPECT_EQ(close(), 0) << "the client did not exit cleanly"; }

    // Starts the client in `cwd` (it inherits the driver's current folder), waits for its window
    // and hooks the spy into its window thread.
    bool start(const std::string& cwd) {
        SetCurrentDirectoryW(widen(cwd).c_str());
        pid_ = 0;
        code_ = -1;
        exit_code_ = std::async(std::launch::async, [this] {
            return testing_support::run_program({g_client_exe}, {}, 1200, [this](int pid) {
                       pid_ = pid;
                       return true;
                   }).exit_code;
        });
        if (!pump_until([&] { return pid_ && (hwnd_ = find_top_level(pid_, L"DorvaneClientWnd")) != nullptr; }, 30000)) {
            return false;
        }
        auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(g_spy_module, "e2e_getmessage_hook")));
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, hook, g_spy_module, GetWindowThreadProcessId(hwnd_, nullptr));
        // A null status (the window only repaints the status line) proves the hook is in place.
        const size_t before = g_trace.size();
        const bool hooked = pump_until(
            [&] {
                PostMessageW(hwnd_, WM_APP + 2, 0, 0);
                return pump_until([&] { return g_trace.size() > before; }, 500);
            },
            20000);
        SetForegroundWindow(hwnd_);
        pump_for(300);
        return hook_ && hooked;
    }

    // Closes the window (any box left up is dismissed, the exit question answered Yes) and
    // returns the exit code; a client that does not end is killed (-1).
    int close() {
        for (int i = 0; i < 5 && IsWindow(hwnd_) && find_box(); ++i) {
            if (!answer(find_box(), IDNO)) answer(find_box(), IDOK);
        }
        if (IsWindow(hwnd_)) {
            PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            pump_until([&] { return !IsWindow(hwnd_) || find_box() != nullptr; }, 10000);
            if (HWND box = find_box()) answer(box, IDYES);
        }
        if (exit_code(20000) == -1 && exit_code_.valid()) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid_));
            TerminateProcess(process, 99);
            CloseHandle(process);
            exit_code_.wait();
            exit_code_ = {};
        }
        if (hook_) UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
        return code_;
    }

    // The client's exit code once it has ended, waiting up to timeout_ms; -1 while it runs.
    int exit_code(int timeout_ms) {
        const auto ready = [&] { return exit_code_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
        if (exit_code_.valid() && pump_until(ready, timeout_ms)) code_ = exit_code_.get();
        return code_;
    }

    HWND control(int id) const { return GetDlgItem(hwnd_, id); }
    void set_text(int id, const std::string& text) const {
        SendMessageW(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
    }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    bool idle() const {
        return enabled(CONNECT) && enabled(SCAN) && enabled(BROWSE) && enabled(CONVERT) && enabled(SEND_SELECTED) &&
               enabled(SEND_ALL) && !enabled(CANCEL);
    }
    void select(int list, int row) const {
        SendMessageW(control(list), list == FILES ? LB_SETSEL : LB_SETCURSEL, list == FILES ? TRUE : row,
                     list == FILES ? row : 0);
    }

    std::vector<std::string> log_lines() const {
        const std::string all = window_text(control(LOG));
        std::vector<std::string> lines;
        for (size_t start = 0, end; start < all.size(); start = end + 2) {
            end = std::min(all.find("\r\n", start), all.size());
            lines.push_back(without_time(all.substr(start, end - start)));
        }
        return lines;
    }

    std::vector<std::string> list_items(int id) const {
        std::vector<std::string> items;
        for (LRESULT i = 0, n = SendMessageW(control(id), LB_GETCOUNT, 0, 0); i < n; ++i) {
            std::wstring item(static_cast<size_t>(std::max<LRESULT>(SendMessageW(control(id), LB_GETTEXTLEN, i, 0), 0)) + 1, L'\0');
            item.resize(static_cast<size_t>(
                std::max<LRESULT>(SendMessageW(control(id), LB_GETTEXT, i, reinterpret_cast<LPARAM>(&item[0])), 0)));
            items.push_back(text::to_utf8(item));
        }
        return items;
    }

    HWND find_box() const { return find_top_level(static_cast<DWORD>(pid_), L"#32770"); }

    // Presses a button of the box by id and waits for the box to go; false when it has no such button.
    bool answer(HWND box, int id) const {
        HWND button = GetDlgItem(box, id);
        if (!button) return false;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return pump_until([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
    }

    // The next box's text (its longest static), answered with `answer_id`.
    std::string box(int answer_id) {
        HWND box = nullptr;
        if (!pump_until([&] { return (box = find_box()) != nullptr; }, TIMEOUT_MS)) return "(nenhuma caixa)";
        pump_for(150);
        std::wstring text;
        EnumChildWindows(
            box,
            [](HWND child, LPARAM best) -> BOOL {
                const std::wstring t = widen(window_text(child));
                auto* b = reinterpret_cast<std::wstring*>(best);
                if (_wcsicmp(class_name(child).c_str(), L"Static") == 0 && t.size() > b->size()) *b = t;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&text));
        EXPECT_TRUE(answer(box, answer_id)) << "no button " << answer_id << " in: " << text::to_utf8(text);
        return text::to_utf8(text);
    }

    // Posts a command (a workflow's modal box must not block the driver); returns where its trace starts.
    size_t press(int command) const {
        const size_t since = g_trace.size();
        PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), reinterpret_cast<LPARAM>(control(command)));
        return since;
    }

    // The spy's record from `since` on, the driver's null status probes left out.
    static std::vector<std::string> trace(size_t since) {
        std::vector<std::string> out;
        for (size_t i = since; i < g_trace.size(); ++i) {
            if (g_trace[i] != "STATUS (nulo)") out.push_back(g_trace[i]);
        }
        return out;
    }

    bool wait_busy_end(size_t since) const {
        return pump_until([&] { return contains(trace(since), "BUSY 0") && idle(); }, TIMEOUT_MS);
    }

    bool wait_log(size_t since, const std::string& prefix) const {
        return pump_until([&] { return !find_line(trace(since), "LOG " + prefix).empty(); }, TIMEOUT_MS);
    }

    // Presses a command that runs a worker and waits for its end; returns where its trace starts.
    size_t run(int command) {
        const size_t since = press(command);
        EXPECT_TRUE(wait_busy_end(since)) << "command " << command << " did not end";
        return since;
    }

    void connect(const std::string& url = g_service_url, const std::string& key = "demo-key") {
        set_text(URL, url);
        set_text(KEY, key);
        run(CONNECT);
    }

    void connect_and_scan() {
        connect();
        run(SCAN);
        ASSERT_EQ(list_items(FILES).size(), 5u);
    }

    // Sends all with Yes; the batch stops after `sent` uploads with "Envio interrompido." as its
    // last word. Returns the box's text.
    std::string send_until_interrupted(int sent) {
        const size_t since = press(SEND_ALL);
        EXPECT_EQ(box(IDYES), OCR_FOR_FIVE);
        const std::string text = box(IDOK);
        EXPECT_TRUE(starts_with(text, "Envio interrompido.\n\n")) << text;
        EXPECT_TRUE(wait_busy_end(since));
        const std::vector<std::string> t = trace(since);
        EXPECT_EQ(std::vector<std::string>(t.end() - std::min<size_t>(t.size(), 3), t.end()),
                  (std::vector<std::string>{"STATUS Concluído: " + std::to_string(sent) + "/5 enviado(s)", "BOX " + text,
                                            "BUSY 0"}));
        return text;
    }

    std::string path(const std::string& relative) const { return folder_ + "\\" + relative; }
    std::vector<std::string> documents() const {
        return {path("doc1.pdf"), path("doc2.pdf"), path("photo.png"), path("scan.jpg"), path("sub\\notes.pdf")};
    }

    std::string folder_;
    HWND hwnd_ = nullptr;
    HHOOK hook_ = nullptr;
    std::atomic<int> pid_{0};
    std::future<int> exit_code_;
    int code_ = -1;
};

// --- connect ---

TEST_F(EndToEnd, EmptyKeyShowsTheHintLogsNothingAndFocusesTheKey) {
    ASSERT_EQ(log_lines(), std::vector<std::string>{"Dorvane API Client v1.0.0 — informe a API Key e clique em Conectar."});
    const size_t since = press(CONNECT);
    EXPECT_EQ(box(IDOK), "Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API.");
    pump_for(300);
    EXPECT_EQ(log_lines().size(), 1u);
    EXPECT_TRUE(trace(since).empty());
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, control(KEY));
}

// A refused key, a service that does not answer and a catalogue that fails after the key was
// accepted: each its own box, its [ERRO] line with the same reason, "Falha na conexão", no list.
TEST_F(EndToEnd, ConnectFailuresShowTheirBoxAndKeepTheListEmpty) {
    const std::string unreachable_head = "Não foi possível falar com o servidor.\n\n";
    const std::string catalogue_head = "A chave foi aceita, mas o catálogo de operações não pôde ser carregado.\n\n";
    struct {
        std::string url, key, box_head, box_tail, log_head;
    } rows[] = {
        {g_service_url, "chave-errada", "API Key inválida ou desativada.\n\nGere uma nova chave no painel do Dorvane, "
         "em Configurações → API.", "", "[ERRO] Falha ao conectar — "},
        {"http://127.0.0.1:1", "demo-key", unreachable_head, "\n\nConfira a URL e a conexão com a internet.",
         "[ERRO] Falha ao conectar — "},
        {g_service_url, "demo-key", catalogue_head, "", "[ERRO] Não foi possível listar as operações — "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.box_head);
        if (row.box_head == catalogue_head) {
            fault(R"({"method":"GET","path":"/api/operations","status":503,"json":{"error":"catálogo em manutenção"},"count":5})");
        }
        set_text(URL, row.url);
        set_text(KEY, row.key);
        const size_t since = press(CONNECT);
        const std::string text = box(IDOK);
        ASSERT_TRUE(wait_busy_end(since));
        ASSERT_TRUE(starts_with(text, row.box_head) && text.size() >= row.box_head.size() + row.box_tail.size() &&
                    text.compare(text.size() - row.box_tail.size(), row.box_tail.size(), row.box_tail) == 0)
            << text;
        const std::string reason = text.substr(row.box_head.size(), text.size() - row.box_head.size() - row.box_tail.size());
        const std::vector<std::string> t = trace(since);
        ASSERT_GE(t.size(), 7u);
        EXPECT_EQ(t[0], "BUSY 1");
        EXPECT_EQ(t[1], "LOG Conectando em " + row.url + " ...");
        EXPECT_EQ(t[2], "STATUS Buscando operações...");
        EXPECT_TRUE(starts_with(t[3], "LOG " + row.log_head + reason)) << t[3];
        EXPECT_EQ(std::vector<std::string>(t.end() - 3, t.end()),
                  (std::vector<std::string>{"STATUS Falha na conexão", "BOX " + text, "BUSY 0"}));
        EXPECT_TRUE(list_items(OPERATIONS).empty());
    }
}

TEST_F(EndToEnd, GoodKeyListsTheCatalogueAndSelectsTheFirstOperation) {
    // A trailing "/api/operations/" is dropped from the URL.
    set_text(URL, g_service_url + "/api/operations/");
    set_text(KEY, "demo-key");
    const size_t connecting = run(CONNECT);
    EXPECT_EQ(trace(connecting), (std::vector<std::string>{"BUSY 1", "LOG Conectando em " + g_service_url + " ...",
                                                           "STATUS Buscando operações...", "OPS_LOADED",
                                                           "LOG [OK] 5 operação(ões) disponível(is).",
                                                           "STATUS Conectado — 5 operações", "BUSY 0"}));
    const std::vector<std::string> operations = list_items(OPERATIONS);
    EXPECT_TRUE(operations.size() == 5u && operations[0] == FIRST_OPERATION) << ::testing::PrintToString(operations);
    EXPECT_EQ(SendMessageW(control(OPERATIONS), LB_GETCURSEL, 0, 0), 0);
    // Idle, the window closes without a question.
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(exit_code(30000), 0) << "a box is up?";
}

// --- file selection ---

TEST_F(EndToEnd, ScanListsTheDocumentsAndCountsTheTiffs) {
    const size_t since = run(SCAN);
    EXPECT_EQ(trace(since), (std::vector<std::string>{
                                "BUSY 1", "LOG Varrendo " + folder_ + " ...", "STATUS Varrendo pasta...", "FILES_CHANGED",
                                "LOG [OK] 5 arquivo(s) PDF/PNG/JPEG.",
                                "LOG Encontrados também 3 TIFF(s) — use 'Converter TIFFs' para incluí-los no envio.",
                                "STATUS 5 arquivo(s) pronto(s) + 3 TIFF(s)", "BUSY 0"}));
    EXPECT_EQ(list_items(FILES), documents());
    // No TIFF: no TIFF line, no suffix.
    set_text(FOLDER, path("nada"));
    const std::vector<std::string> none = trace(run(SCAN));
    EXPECT_EQ(none.size(), 7u);
    EXPECT_TRUE(contains(none, "STATUS 0 arquivo(s) pronto(s)"));
    EXPECT_TRUE(list_items(FILES).empty());
}

TEST_F(EndToEnd, FileDialogSelectionReplacesTheList) {
    run(SCAN);
    // Names typed into the dialog's name field (the combo box cmb13, or edt1 in older layouts); the
    // dialog opens in the client's current folder. No names: Cancel.
    auto browse = [&](const wchar_t* names) {
        const size_t since = press(BROWSE);
        HWND dialog = nullptr;
        EXPECT_TRUE(pump_until([&] { return (dialog = find_box()) != nullptr; }, TIMEOUT_MS));
        pump_for(500);
        HWND field = GetDlgItem(dialog, 0x47c) ? GetDlgItem(dialog, 0x47c) : GetDlgItem(dialog, 0x480);
        if (names) SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(names));
        EXPECT_TRUE(answer(dialog, names ? IDOK : IDCANCEL));
        pump_until([&] { return trace(since).size() >= 3; }, names ? TIMEOUT_MS : 500);
        return trace(since);
    };
    EXPECT_EQ(browse(L"\"doc2.pdf\" \"photo.png\""),
              (std::vector<std::string>{"FILES_CHANGED", "LOG [OK] 2 arquivo(s) selecionado(s).",
                                        "STATUS 2 arquivo(s) selecionado(s)"}));
    std::vector<std::string> files = list_items(FILES);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{path("doc2.pdf"), path("photo.png")}));
    // One file: the dialog answers with its full path alone.
    EXPECT_TRUE(contains(browse(L"scan.jpg"), "LOG [OK] 1 arquivo(s) selecionado(s)."));
    EXPECT_EQ(list_items(FILES), std::vector<std::string>{path("scan.jpg")});
    EXPECT_TRUE(browse(nullptr).empty());
    EXPECT_EQ(list_items(FILES).size(), 1u);
}

// With the folder field empty, scan and send use the client's current folder.
TEST_F(EndToEnd, EmptyFolderFieldScansAndSendsInTheCurrentFolder) {
    ASSERT_EQ(close(), 0);
    ASSERT_TRUE(start(path("sub")));
    EXPECT_EQ(window_text(control(FOLDER)), path("sub"));
    set_text(FOLDER, "");
    const std::vector<std::string> scan = trace(run(SCAN));
    EXPECT_TRUE(contains(scan, "LOG Varrendo " + path("sub") + " ...")) << ::testing::PrintToString(scan);
    EXPECT_TRUE(contains(scan, "STATUS 1 arquivo(s) pronto(s) + 1 TIFF(s)"));
    EXPECT_EQ(list_items(FILES), std::vector<std::string>{path("sub\\notes.pdf")});
    connect();
    const size_t send = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), confirmation(1, FIRST_OPERATION, "ocr", 1));
    ASSERT_TRUE(wait_busy_end(send));
    EXPECT_TRUE(starts_with(find_line(log_lines(), "Resultados salvos em "),
                            "Resultados salvos em " + path("sub\\dorvane_results\\resultados_")));
    EXPECT_EQ(files_in(path("sub\\dorvane_results")).size(), 2u);
}

// --- TIFF conversion ---

TEST_F(EndToEnd, ConvertWritesPdfsSkipsTheFakeAndReusesThemOnTheSecondRun) {
    const size_t since = run(CONVERT);
    EXPECT_EQ(trace(since), (std::vector<std::string>{
                                "BUSY 1", "LOG Convertendo 3 TIFF(s) para PDF...", "PROGRESS 0/3",
                                "LOG [PULADO] fake.tif — na verdade é PDF, não TIFF.", "PROGRESS 1/3",
                                "STATUS Convertendo 2/3: fax.tif", "LOG [OK] fax.tif → fax.pdf", "PROGRESS 2/3",
                                "STATUS Convertendo 3/3: color.tiff", "LOG [OK] color.tiff → color.pdf", "PROGRESS 3/3",
                                "LOG 1 arquivo(s) não eram TIFF.",
                                "LOG [FIM] 2 convertido(s) — 2 arquivo(s) prontos para envio.", "FILES_CHANGED",
                                "STATUS 2 arquivo(s) pronto(s)", "BUSY 0"}));
    EXPECT_EQ(files_in(path("dorvane_converted")), (std::vector<std::string>{"color.pdf", "fax.pdf"}));
    EXPECT_TRUE(starts_with(read_file(path("dorvane_converted\\fax.pdf")), "%PDF-1.4"));
    const std::vector<std::string> pdfs = {path("dorvane_converted\\fax.pdf"), path("dorvane_converted\\color.pdf")};
    EXPECT_EQ(list_items(FILES), pdfs);

    const std::vector<std::string> again = trace(run(CONVERT));
    EXPECT_TRUE(contains(again, "LOG 2 já convertido(s) anteriormente.")) << ::testing::PrintToString(again);
    EXPECT_TRUE(contains(again, "LOG [FIM] 0 convertido(s) — 2 arquivo(s) prontos para envio."));
    EXPECT_EQ(list_items(FILES), pdfs);
    // A later scan finds the converted PDFs with the documents.
    run(SCAN);
    EXPECT_EQ(list_items(FILES).size(), 7u);
}

// --- send ---

// The hints of the launchers, in the order they check, each without a trace or an upload.
TEST_F(EndToEnd, LaunchersCheckConnectionOperationFilesAndTiffs) {
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Conecte-se primeiro: informe a URL e a API Key e clique em Conectar.");
    set_text(FOLDER, path("sub\\nada"));
    press(CONVERT);
    EXPECT_EQ(box(IDOK), "Nenhum arquivo TIFF encontrado em:\n" + path("sub\\nada"));
    pump_for(300);
    EXPECT_TRUE(trace(since).empty());
    set_text(FOLDER, folder_);
    connect();
    press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Não há arquivos para enviar.");
    run(SCAN);
    press(SEND_SELECTED);
    EXPECT_EQ(box(IDOK), "Nenhum arquivo selecionado.\n\nSelecione na lista ou use 'Enviar todos'.");
    // A row the file list does not have, as when the list changed after the selection.
    SendMessageW(control(FILES), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"fantasma"));
    select(FILES, 5);
    press(SEND_SELECTED);
    EXPECT_EQ(box(IDOK), "Não há arquivos para enviar.");
    select(OPERATIONS, -1);
    const size_t unselected = press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Selecione uma operação na lista.");
    pump_for(300);
    EXPECT_TRUE(trace(unselected).empty());
    EXPECT_TRUE(submissions().empty());
}

TEST_F(EndToEnd, SendAllAsksThenSendsEveryFileAndSavesTheResultsInTheFolder) {
    connect_and_scan();
    size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDNO), OCR_FOR_FIVE);
    // An operation that costs nothing estimates 0 credits.
    select(OPERATIONS, 1);
    press(SEND_ALL);
    EXPECT_EQ(box(IDNO), confirmation(5, "Compressão de PDF", "pdf-compress", 0));
    pump_for(500);
    EXPECT_TRUE(trace(since).empty());
    EXPECT_TRUE(submissions().empty());

    select(OPERATIONS, 0);
    since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), OCR_FOR_FIVE);
    ASSERT_TRUE(wait_busy_end(since));
    std::vector<std::string> names = received_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"doc1.pdf", "doc2.pdf", "notes.pdf", "photo.png", "scan.jpg"}));
    const std::vector<std::string> t = trace(since);
    const std::string start = "LOG Iniciando envio de 5 arquivo(s) — operação " + std::string(FIRST_OPERATION) + ".";
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 2), (std::vector<std::string>{"BUSY 1", start}));
    EXPECT_EQ(std::vector<std::string>(t.end() - 2, t.end()),
              (std::vector<std::string>{"STATUS Concluído: 5/5 enviado(s)", "BUSY 0"}));
    EXPECT_TRUE(contains(t, "STATUS Enviando 1/5: doc1.pdf"));
    EXPECT_TRUE(contains(t, "PROGRESS 5/5"));
    EXPECT_TRUE(contains(t, "LOG [FIM] 5 enviado(s), 0 com erro, 0 pulado(s) de 5."));
    const std::string saved = find_line(log_lines(), "Resultados salvos em ");
    EXPECT_TRUE(starts_with(saved, "Resultados salvos em " + path("dorvane_results\\resultados_"))) << saved;
    EXPECT_EQ(files_in(path("dorvane_results")).size(), 2u);
}

TEST_F(EndToEnd, SendSelectedInSynchronousModeWithAnotherOperation) {
    connect_and_scan();
    SendMessageW(control(SYNC), BM_SETCHECK, BST_CHECKED, 0);
    select(OPERATIONS, 2);
    select(FILES, 0);
    select(FILES, 3);
    const size_t since = press(SEND_SELECTED);
    EXPECT_EQ(box(IDYES), confirmation(2, "Extração de dados de nota fiscal", "invoice-extract", 3) +
                              "\n\nModo síncrono: o envio aguarda o resultado de cada documento (até 5 minutos por arquivo).");
    ASSERT_TRUE(wait_busy_end(since));
    const json::Array received = submissions();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].get_string("filename", ""), "doc1.pdf");
    EXPECT_EQ(received[1].get_string("filename", ""), "scan.jpg");
    for (const json::Value& s : received) {
        EXPECT_EQ(s.get_string("operation", ""), "invoice-extract");
        EXPECT_EQ(s.get_string("awaitResult", ""), "true");
    }
}

TEST_F(EndToEnd, CancelStopsTheBatchAfterTheCurrentFile) {
    connect_and_scan();
    fault(R"({"method":"POST","path":"/api/operations","delay_ms":2500,"count":50})");
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), OCR_FOR_FIVE);
    ASSERT_TRUE(wait_log(since, "[ENVIO]"));
    const size_t cancel = press(CANCEL);
    ASSERT_TRUE(wait_busy_end(since));
    const std::vector<std::string> after = trace(cancel);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], "LOG Cancelamento solicitado — aguardando o arquivo atual terminar...");
    EXPECT_EQ(after[1], "STATUS Cancelando...");
    EXPECT_TRUE(std::none_of(after.begin(), after.end(), [](const std::string& e) { return starts_with(e, "BOX"); }));
    EXPECT_FALSE(find_line(log_lines(), "[CANCELADO]").empty());
    const size_t sent = submissions().size();
    EXPECT_TRUE(sent >= 1 && sent < 5) << sent;
    EXPECT_TRUE(starts_with(trace(since).end()[-2], "STATUS Concluído: "));
}

// A stop for credits ends with the window's box; "Enviar todos" again then asks which files to
// send: Cancelar sends nothing, Sim only the files not sent yet, Não every file again.
TEST_F(EndToEnd, AfterAStopForCreditsSendingAgainAsksWhetherToSkipWhatWasSent) {
    connect_and_scan();
    service("POST", "/__control/credits", R"({"credits":2})");
    const std::string stopped = send_until_interrupted(2);
    EXPECT_NE(stopped.find("Créditos insuficientes"), std::string::npos) << stopped;
    EXPECT_EQ(submissions().size(), 3u);
    service("POST", "/__control/reset", R"({"credits":100})");

    const std::string skip_two = "Enviar 5 arquivo(s)?\n\nOperação: " + std::string(FIRST_OPERATION) +
                                 " (ocr)\nCusto: 1 crédito(s) por arquivo\nCusto estimado: 3 crédito(s)\n\n2 arquivo(s) já foram enviados para esta operação e serão pulados."
                                 "\n\nSim = pular os já enviados, Não = enviar todos de novo, Cancelar = nada.";
    size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDCANCEL), skip_two);
    pump_for(500);
    EXPECT_TRUE(trace(since).empty());
    since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), skip_two);
    ASSERT_TRUE(wait_busy_end(since));
    EXPECT_EQ(received_names(), (std::vector<std::string>{"photo.png", "scan.jpg", "notes.pdf"}));
    EXPECT_TRUE(wait_log(since, "[PULADO] [1/5] doc1.pdf — já enviado em "));
    EXPECT_TRUE(contains(trace(since), "LOG [FIM] 3 enviado(s), 0 com erro, 2 pulado(s) de 5."));

    service("POST", "/__control/reset", R"({"credits":100})");
    since = press(SEND_ALL);
    const std::string all_sent = box(IDNO);
    EXPECT_NE(all_sent.find("Custo estimado: 0 crédito(s)\n\n5 arquivo(s) já foram enviados"), std::string::npos) << all_sent;
    ASSERT_TRUE(wait_busy_end(since));
    EXPECT_EQ(submissions().size(), 5u);
}

// --- closing while a worker runs ---

TEST_F(EndToEnd, ClosingDuringAConnectAsksTooAndExitsWithoutWaiting) {
    fault(R"({"method":"GET","delay_ms":4000})");
    set_text(URL, g_service_url);
    set_text(KEY, "demo-key");
    const size_t since = press(CONNECT);
    ASSERT_TRUE(pump_until([&] { return enabled(CANCEL); }, TIMEOUT_MS));
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(box(IDYES), EXIT_QUESTION);
    EXPECT_EQ(exit_code(30000), 0);
    // The worker was still waiting for the service: its end never reached the window.
    EXPECT_FALSE(contains(trace(since), "BUSY 0")) << ::testing::PrintToString(trace(since));
}

TEST_F(EndToEnd, ClosingDuringASendAsksAndYesEndsTheProcessCleanly) {
    connect_and_scan();
    fault(R"({"method":"POST","path":"/api/operations","delay_ms":3000,"count":50})");
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), OCR_FOR_FIVE);
    ASSERT_TRUE(wait_log(since, "[ENVIO]"));
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(box(IDNO), EXIT_QUESTION);
    pump_for(500);
    ASSERT_TRUE(IsWindow(hwnd_));
    EXPECT_TRUE(enabled(CANCEL));
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(box(IDYES), EXIT_QUESTION);
    EXPECT_EQ(exit_code(30000), 0);
    EXPECT_LT(submissions().size(), 5u);
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // --client=EXE --service=URL --samples=FOLDER --work=FOLDER, Unix paths seen through drive Z:.
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value = arg.substr(arg.find('=') + 1);
        if (!value.empty() && value[0] == '/') {
            std::replace(value.begin(), value.end(), '/', '\\');
            value = "Z:" + value;
        }
        if (e2e::starts_with(arg, "--client=")) e2e::g_client_exe = value;
        if (e2e::starts_with(arg, "--service=")) e2e::g_service_url = arg.substr(10);
        if (e2e::starts_with(arg, "--samples=")) e2e::g_samples = value;
        if (e2e::starts_with(arg, "--work=")) e2e::g_work_root = value;
    }
    if (e2e::g_client_exe.empty() || e2e::g_service_url.empty() || e2e::g_samples.empty() || e2e::g_work_root.empty()) {
        std::fprintf(stderr, "uso: e2e_driver --client=EXE --service=URL --samples=PASTA --work=PASTA\n");
        return 2;
    }
    // The spy's window: top-level, since FindWindowW in the client does not see message-only ones.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = e2e::spy_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = e2e::SPY_WINDOW_CLASS;
    RegisterClassW(&wc);
    CreateWindowExW(0, e2e::SPY_WINDOW_CLASS, L"spy", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    e2e::g_spy_module = LoadLibraryW(e2e::widen(testing_support::bin_path("e2e_spy.dll")).c_str());
    if (!e2e::g_spy_module) return 3;
    CreateDirectoryW(e2e::widen(e2e::g_work_root).c_str(), nullptr);
    return RUN_ALL_TESTS();
}
