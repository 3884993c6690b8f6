// The real main window in this process: its controls, the worker messages, the log and the exit
// question.
#include <regex>
#include <stdexcept>
#include <thread>

#include "app/main_window.h"
#include "core/fileutils.h"
#include "service/defaults.h"
#include "support/support.h"
#include "window_fixture.h"

namespace app_test {
namespace {

using MainWindow = MainWindowTest;

TEST_F(MainWindow, StartsWithItsControlsTabOrderAndWelcomeLine) {
    const std::pair<int, std::string> controls[] = {
        {IDC_URL, dorvane::DEFAULT_BASE_URL}, {IDC_API_KEY, ""}, {IDC_FOLDER, fileutils::current_dir()},
        {IDC_CONNECT, "Conectar"}, {IDC_SCAN, "Buscar"}, {IDC_BROWSE, "Selecionar..."},
        {IDC_CONVERT, "Converter TIFFs"}, {IDC_SEND_SELECTED, "Enviar selecionados"},
        {IDC_SEND_ALL, "Enviar todos"}, {IDC_CANCEL, "Cancelar"}, {IDC_CLEAR, "Limpar"}, {IDC_OPERATIONS, ""},
        {IDC_FILES, ""}, {IDC_SYNC, "Aguardar resultado (síncrono)"}, {IDC_LOG, ""}};
    // Creation order, which is also the Tab order of the enabled tab stops: "Cancelar" starts
    // disabled and the log is never one.
    HWND child = GetWindow(hwnd, GW_CHILD), tab = g_app.chk_sync;
    for (const auto& control : controls) {
        SCOPED_TRACE(control.first);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), control.first);
        EXPECT_EQ(control.first == IDC_LOG ? control.second : get_text(child), control.second);
        if (control.first != IDC_LOG && control.first != IDC_CANCEL) {
            tab = GetNextDlgTabItem(hwnd, tab, FALSE);
            EXPECT_EQ(tab, child) << "Tab order";
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
    EXPECT_NE(SendMessageW(g_app.key_edit, EM_GETPASSWORDCHAR, 0, 0), 0) << "the key is never shown";
    EXPECT_TRUE(GetWindowLongW(g_app.log_edit, GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(SendMessageW(g_app.chk_sync, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(IsWindowEnabled(g_app.btn_cancel));
    EXPECT_EQ(get_text(hwnd), "Dorvane API Client v1.0.0");

    // The Tab key goes through the dialog navigation; Enter and Esc do nothing.
    SetForegroundWindow(hwnd);
    SetFocus(g_app.folder_edit);
    MSG key = {g_app.folder_edit, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageW(hwnd, &key));
    pump();
    EXPECT_EQ(GetFocus(), g_app.btn_connect);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pump();
    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\] Dorvane API Client v1\.0\.0 — )"
                                                      R"(informe a API Key e clique em Conectar\.)")))
        << lines[0];
}

// A service's message with NUL, ESC, a line feed or a C1 control would cut the log line or start
// a new one; it arrives escaped, on one line, whole.
TEST_F(MainWindow, LogLinesFromTheServiceArriveEscapedOnOneLine) {
    const char raw[] = "[ERRO] a\0b\x1b[2J\nc\xC2\x85" "d";
    log_line(std::string(raw, sizeof raw - 1));
    pump();
    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(lines[1].find("] ") + 2), "[ERRO] a\\x00b\\x1b[2J\\x0ac\\u0085d");
}

TEST_F(MainWindow, BusyTogglesExactlyTheSixCommandsAndCancel) {
    const HWND commands[] = {g_app.btn_connect, g_app.btn_scan, g_app.btn_browse,
                             g_app.btn_convert, g_app.btn_send_selected, g_app.btn_send_all};
    PostMessageW(hwnd, WM_APP_PROGRESS, 1, 2);
    for (int busy : {1, 0, 1}) {
        SCOPED_TRACE(busy);
        PostMessageW(hwnd, WM_APP_BUSY, busy, 0);
        pump();
        EXPECT_EQ(g_app.busy.load(), busy == 1);
        for (HWND command : commands) EXPECT_EQ(IsWindowEnabled(command) != FALSE, busy == 0) << get_text(command);
        EXPECT_EQ(IsWindowEnabled(g_app.btn_cancel) != FALSE, busy == 1);
        for (HWND control : {g_app.btn_clear, g_app.chk_sync, g_app.url_edit, g_app.files_list, g_app.log_edit}) {
            EXPECT_TRUE(IsWindowEnabled(control)) << GetDlgCtrlID(control);
        }
        EXPECT_TRUE(busy == 1 || g_app.progress == 0) << "leaving busy resets the progress";
    }
    // "Limpar" works while busy.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), reinterpret_cast<LPARAM>(g_app.btn_clear));
    EXPECT_EQ(get_text(g_app.log_edit), "");
}

TEST_F(MainWindow, ProgressIsDoneTimesHundredOverTotalIn64BitsAndStatusTakesTheText) {
    const int rows[][3] = {{1, 3, 33}, {2, 3, 66}, {5, 0, 0}, {1, -4, 0}, {250, 100, 250}, {50000000, 100000000, 50}};
    for (const auto& row : rows) {
        PostMessageW(hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(row[0]), static_cast<LPARAM>(row[1]));
        pump();
        EXPECT_EQ(g_app.progress, row[2]) << row[0] << "/" << row[1];
    }
    // Null payloads are ignored.
    PostMessageW(hwnd, WM_APP_LOG, 0, 0);
    std::thread([] { ui_post(WM_APP_STATUS, "Varrendo pasta..."); }).join();
    PostMessageW(hwnd, WM_APP_STATUS, 0, 0);
    pump();
    EXPECT_EQ(g_app.status, "Varrendo pasta...");
    EXPECT_EQ(log_lines().size(), 1u);
}

TEST_F(MainWindow, ListsAreRefilledFromTheHandedOverContent) {
    set_operations({{"ocr", "OCR de documentos", "", "", 2}, {"split", "Separar páginas", "", "", 1}});
    PostMessageW(hwnd, WM_APP_OPS_LOADED, 0, 0);
    set_files({"C:\\docs\\a.pdf", "C:\\docs\\b.png"});
    PostMessageW(hwnd, WM_APP_FILES_CHANGED, 0, 0);
    pump();
    wchar_t item[64] = {};
    SendMessageW(g_app.ops_list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"Separar páginas");
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCURSEL, 0, 0), 0) << "the first operation is selected";
    SendMessageW(g_app.files_list, LB_SETSEL, TRUE, 1);

    add_file("C:\\docs\\ç.jpg");
    add_file("C:\\docs\\a.pdf");
    PostMessageW(hwnd, WM_APP_FILES_CHANGED, 0, 0);
    set_operations({});
    PostMessageW(hwnd, WM_APP_OPS_LOADED, 0, 0);
    pump();
    ASSERT_EQ(SendMessageW(g_app.files_list, LB_GETCOUNT, 0, 0), 3);
    SendMessageW(g_app.files_list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"C:\\docs\\ç.jpg");
    EXPECT_EQ(SendMessageW(g_app.files_list, LB_GETSELCOUNT, 0, 0), 0) << "a refill drops the selection";
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(MainWindow, CancelRaisesTheUploadersFlagAndSaysSo) {
    auto uploader = std::make_shared<dorvane::BatchUploader>(g_app.client.get());
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
    set_uploader(uploader);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
    pump();
    EXPECT_TRUE(uploader->cancel_requested.load());
    EXPECT_EQ(g_app.status, "Cancelando...");
    ASSERT_EQ(log_lines().size(), 2u) << "an empty slot logs nothing";
    EXPECT_NE(log_lines()[1].find("] Cancelamento solicitado — aguardando o arquivo atual terminar..."),
              std::string::npos);
    EXPECT_EQ(take_uploader(), uploader);
}

TEST_F(MainWindow, AHundredThousandLogLinesAllArriveInOrder) {
    constexpr int COUNT = 100000;
    std::thread worker([] {
        for (int i = 0; i < COUNT; ++i) log_line("linha " + std::to_string(i));
    });
    // The welcome line, COUNT lines and the empty line after the last terminator.
    const bool arrived =
        pump_until([] { return SendMessageW(g_app.log_edit, EM_GETLINECOUNT, 0, 0) >= COUNT + 2; }, 600000);
    worker.join();
    ASSERT_TRUE(arrived);
    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(COUNT) + 1);
    for (int i = 0; i < COUNT; ++i) {
        const std::string& line = lines[static_cast<size_t>(i) + 1];
        const std::string tail = "] linha " + std::to_string(i);
        ASSERT_TRUE(line.size() == 10 + tail.size() - 1 && line.compare(9, tail.size(), tail) == 0) << line;
    }
}

TEST_F(MainWindow, WorkersAreCountedAndAnEscapingExceptionEndsTheBusyState) {
    PostMessageW(hwnd, WM_APP_BUSY, 1, 0);
    pump();
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(start_worker([release] {
        WaitForSingleObject(release, 30000);
        throw std::runtime_error("falha inesperada");
    }));
    EXPECT_EQ(running_workers(), 1);
    SetEvent(release);
    ASSERT_TRUE(pump_until([] { return running_workers() == 0 && !g_app.busy.load(); }));
    EXPECT_TRUE(IsWindowEnabled(g_app.btn_connect));
    CloseHandle(release);
}

// Worker messages still queued for this thread (WM_QUIT, which Wine returns for any filter, aside).
int queued_app_messages() {
    MSG msg;
    int count = 0;
    while (PeekMessageW(&msg, nullptr, WM_APP_LOG, WM_APP_MESSAGE_BOX, PM_REMOVE)) {
        if (msg.message != WM_QUIT) ++count;
    }
    return count;
}

TEST_F(MainWindow, PostsToAGoneWindowFailAndQueuedStringsAreFreed) {
    ui_post(WM_APP_LOG, "fila 1");
    ui_post(WM_APP_STATUS, "fila 2");
    DestroyWindow(hwnd);
    EXPECT_EQ(queued_app_messages(), 0) << "the window freed what was queued for it";
    std::thread([] { EXPECT_FALSE(ui_post(WM_APP_LOG, "tarde demais")); }).join();
    EXPECT_EQ(queued_app_messages(), 0);
}

TEST(MainWindowText, OperationDetailsAndFileInfo) {
    EXPECT_EQ(operation_details("ocr", 2), "ocr  ·  2 créditos");
    EXPECT_EQ(operation_details("ocr", 1), "ocr  ·  1 crédito");
    EXPECT_EQ(operation_details("x", 0), "x  ·  0 créditos");

    testing_support::TempDir dir;
    testing_support::write_text(dir.file("a.pdf"), "%PDF-1.4\n" + std::string(2048 - 9, 'x'));
    testing_support::write_text(dir.file("vazio.bin"), "");
    EXPECT_EQ(file_info(dir.file("a.pdf")), "PDF  2 KB");
    EXPECT_EQ(file_info(dir.file("vazio.bin")), "");
    EXPECT_EQ(file_info(dir.file("nao_existe.pdf")), "");
}

}  // namespace
}  // namespace app_test
