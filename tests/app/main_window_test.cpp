// The real main window in this process: its controls, the worker messages, the log and the exit
// question.
#include <cstring>
#include <memory>
#include <regex>
#include <stdexcept>
#include <thread>

#include "app/main_window.h"
#include "app/theme.h"
#include "core/fileutils.h"
#include "service/defaults.h"
#include "window_fixture.h"

namespace app_test {
namespace {

using MainWindow = MainWindowTest;

struct ControlRow {
    const char* name;
    HWND AppState::*field;
    const char* cls;
    int id;
    std::string text;
    DWORD style;
};

std::vector<ControlRow> control_table() {
    return {
        {"url", &AppState::url_edit, "Edit", 100, dorvane::DEFAULT_BASE_URL, 0x50010080},
        {"key", &AppState::key_edit, "Edit", 101, "", 0x500100A0},
        {"folder", &AppState::folder_edit, "Edit", 102, fileutils::current_dir(), 0x50010080},
        {"connect", &AppState::btn_connect, "Button", 103, "Conectar", 0x5001000B},
        {"scan", &AppState::btn_scan, "Button", 106, "Buscar", 0x5001000B},
        {"browse", &AppState::btn_browse, "Button", 107, "Selecionar...", 0x5001000B},
        {"convert", &AppState::btn_convert, "Button", 109, "Converter TIFFs", 0x5001000B},
        {"send selected", &AppState::btn_send_selected, "Button", 110, "Enviar selecionados", 0x5001000B},
        {"send all", &AppState::btn_send_all, "Button", 111, "Enviar todos", 0x5001000B},
        {"cancel", &AppState::btn_cancel, "Button", 112, "Cancelar", 0x5001000B | WS_DISABLED},
        {"clear", &AppState::btn_clear, "Button", 114, "Limpar", 0x5001000B},
        {"operations", &AppState::ops_list, "ListBox", 104, "", 0x50210151},
        {"files", &AppState::files_list, "ListBox", 105, "", 0x50210950},
        {"sync", &AppState::chk_sync, "Button", 108, "Aguardar resultado (síncrono)", 0x50010003},
        {"log", &AppState::log_edit, "Edit", 113, "", 0x50200844},
    };
}

TEST_F(MainWindow, CreatesTheFifteenControlsInOrderWithIdsStylesAndTexts) {
    std::vector<ControlRow> rows = control_table();
    HWND child = GetWindow(hwnd, GW_CHILD);
    for (const ControlRow& row : rows) {
        SCOPED_TRACE(row.name);
        HWND control = g_app.*row.field;
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(child, control) << "creation order";
        EXPECT_EQ(_stricmp(class_name(control).c_str(), row.cls), 0) << class_name(control);
        EXPECT_EQ(GetDlgCtrlID(control), row.id);
        // Wine leaves WS_VSCROLL off an empty list box; the rest must match exactly.
        DWORD mask = row.id == 104 || row.id == 105 ? ~static_cast<DWORD>(WS_VSCROLL) : ~0u;
        DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
        EXPECT_EQ(style & mask, row.style & mask) << std::hex << style;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE, 0u);
        if (row.id != IDC_LOG) {
            EXPECT_EQ(window_text(control), row.text);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "no sixteenth control";
    EXPECT_EQ(SendMessageW(g_app.chk_sync, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(MainWindow, TabVisitsTheEnabledTabStopsInCreationOrderAndSkipsTheLog) {
    const HWND expected[] = {g_app.url_edit,     g_app.key_edit,          g_app.folder_edit,  g_app.btn_connect,
                             g_app.btn_scan,     g_app.btn_browse,        g_app.btn_convert,  g_app.btn_send_selected,
                             g_app.btn_send_all, g_app.btn_clear,         g_app.ops_list,     g_app.files_list,
                             g_app.chk_sync,     g_app.url_edit};
    HWND at = g_app.url_edit;
    for (size_t i = 1; i < sizeof expected / sizeof expected[0]; ++i) {
        SCOPED_TRACE(i);
        at = GetNextDlgTabItem(hwnd, at, FALSE);
        EXPECT_EQ(at, expected[i]) << window_text(at);
    }
}

TEST_F(MainWindow, TabKeyMovesTheFocusAndEnterOrEscDoNothing) {
    SetForegroundWindow(hwnd);
    SetFocus(g_app.folder_edit);
    pump();
    ASSERT_EQ(GetFocus(), g_app.folder_edit);
    MSG tab = {GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageW(hwnd, &tab));
    pump();
    EXPECT_EQ(GetFocus(), g_app.btn_connect);

    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pump();
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(log_lines().size(), 1u);
    EXPECT_EQ(g_app.status, "Pronto");
}

TEST_F(MainWindow, StartsWithTheWelcomeLineAndIdleState) {
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\] Dorvane API Client v1\.0\.0 — )"
                                                      R"(informe a API Key e clique em Conectar\.)")))
        << lines[0];
    EXPECT_EQ(get_text(g_app.log_edit).substr(get_text(g_app.log_edit).size() - 2), "\r\n");
    EXPECT_EQ(g_app.status, "Pronto");
    EXPECT_EQ(g_app.progress, 0);
    EXPECT_FALSE(g_app.busy.load());
    EXPECT_EQ(window_text(hwnd), "Dorvane API Client v1.0.0");
    EXPECT_EQ(class_name(hwnd), "DorvaneClientWnd");
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

TEST_F(MainWindow, LogEditHasNoPracticalTextLimit) {
    // Wine's default is 30,000 characters, Windows' 32,767; the log must hold far more.
    EXPECT_GE(static_cast<unsigned long>(SendMessageW(g_app.log_edit, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEul);
}

TEST_F(MainWindow, BusyTogglesExactlyTheSixCommandsAndCancel) {
    const HWND commands[] = {g_app.btn_connect, g_app.btn_scan, g_app.btn_browse,
                             g_app.btn_convert, g_app.btn_send_selected, g_app.btn_send_all};
    const HWND untouched[] = {g_app.btn_clear, g_app.chk_sync, g_app.url_edit, g_app.key_edit,
                              g_app.folder_edit, g_app.ops_list, g_app.files_list, g_app.log_edit};
    PostMessageW(hwnd, WM_APP_PROGRESS, 1, 2);
    for (int busy : {1, 0, 1, 0}) {
        SCOPED_TRACE(busy);
        PostMessageW(hwnd, WM_APP_BUSY, busy, 0);
        pump();
        EXPECT_EQ(g_app.busy.load(), busy == 1);
        for (HWND command : commands) {
            EXPECT_EQ(IsWindowEnabled(command) != FALSE, busy == 0) << window_text(command);
        }
        EXPECT_EQ(IsWindowEnabled(g_app.btn_cancel) != FALSE, busy == 1);
        for (HWND control : untouched) {
            EXPECT_TRUE(IsWindowEnabled(control)) << GetDlgCtrlID(control);
        }
        if (busy == 0) {
            EXPECT_EQ(g_app.progress, 0) << "leaving busy resets the progress";
        } else {
            // "Limpar" works while busy.
            log_line("antes");
            pump();
            SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), reinterpret_cast<LPARAM>(g_app.btn_clear));
            EXPECT_EQ(get_text(g_app.log_edit), "");
        }
    }
}

TEST_F(MainWindow, ProgressIsDoneTimesHundredOverTotalIn64Bits) {
    struct Row {
        const char* name;
        int done;
        int total;
        int expected;
    } rows[] = {
        {"one third", 1, 3, 33},           {"two thirds truncates", 2, 3, 66},
        {"zero total", 5, 0, 0},           {"negative total", 1, -4, 0},
        {"complete", 7, 7, 100},           {"above a hundred", 250, 100, 250},
        {"no 32-bit overflow", 50000000, 100000000, 50},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PostMessageW(hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(row.done), static_cast<LPARAM>(row.total));
        pump();
        EXPECT_EQ(g_app.progress, row.expected);
    }
}

TEST_F(MainWindow, StatusTakesTheStringAndNullPayloadsAreIgnored) {
    EXPECT_TRUE(ui_post(WM_APP_STATUS, "Varrendo pasta..."));
    pump();
    EXPECT_EQ(g_app.status, "Varrendo pasta...");
    DialogWatcher watcher(IDOK);
    PostMessageW(hwnd, WM_APP_STATUS, 0, 0);
    PostMessageW(hwnd, WM_APP_LOG, 0, 0);
    PostMessageW(hwnd, WM_APP_MESSAGE_BOX, 0, 0);
    pump();
    Sleep(200);
    pump();
    EXPECT_EQ(g_app.status, "Varrendo pasta...");
    EXPECT_EQ(log_lines().size(), 1u);
    EXPECT_EQ(watcher.seen(), 0);
}

TEST_F(MainWindow, MessageBoxShowsTheWorkersTextWithTheAppCaption) {
    DialogWatcher watcher(IDOK);
    std::thread worker([] { ui_post(WM_APP_MESSAGE_BOX, "Envio interrompido.\n\nCréditos insuficientes."); });
    worker.join();
    ASSERT_TRUE(pump_until([&] { return watcher.seen() == 1; }));
    pump();
    EXPECT_EQ(watcher.caption(), "Dorvane API Client");
    EXPECT_EQ(watcher.text(), "Envio interrompido.\n\nCréditos insuficientes.");
}

TEST_F(MainWindow, CatalogueRefillSelectsTheFirstOperation) {
    set_operations({{"ocr", "OCR de documentos", "", "", 2}, {"split", "Separar páginas", "", "", 1}});
    PostMessageW(hwnd, WM_APP_OPS_LOADED, 0, 0);
    pump();
    ASSERT_EQ(SendMessageW(g_app.ops_list, LB_GETCOUNT, 0, 0), 2);
    wchar_t item[64] = {};
    SendMessageW(g_app.ops_list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"Separar páginas");
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCURSEL, 0, 0), 0);

    set_operations({});
    PostMessageW(hwnd, WM_APP_OPS_LOADED, 0, 0);
    pump();
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(MainWindow, FileListRefillShowsFullPathsAndDropsTheSelection) {
    set_files({"C:\\docs\\a.pdf", "C:\\docs\\b.png"});
    PostMessageW(hwnd, WM_APP_FILES_CHANGED, 0, 0);
    pump();
    SendMessageW(g_app.files_list, LB_SETSEL, TRUE, 1);
    ASSERT_EQ(SendMessageW(g_app.files_list, LB_GETSELCOUNT, 0, 0), 1);
    add_file("C:\\docs\\ç.jpg");
    PostMessageW(hwnd, WM_APP_FILES_CHANGED, 0, 0);
    pump();
    ASSERT_EQ(SendMessageW(g_app.files_list, LB_GETCOUNT, 0, 0), 3);
    wchar_t item[64] = {};
    SendMessageW(g_app.files_list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, L"C:\\docs\\ç.jpg");
    EXPECT_EQ(SendMessageW(g_app.files_list, LB_GETSELCOUNT, 0, 0), 0);
}

TEST_F(MainWindow, WorkerChangingTheFileListNeverOverlapsDrawing) {
    // A worker replaces the vector under the hand-over lock while the window keeps refilling and
    // painting the list from it; the list must end up showing the last content.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int round = 0; round < 100; ++round) {
            std::vector<std::string> next;
            for (int i = 0; i < round % 17; ++i) {
                next.push_back("C:\\pasta\\arquivo_" + std::to_string(round) + "_" + std::to_string(i) + ".pdf");
            }
            set_files(std::move(next));
            PostMessageW(g_app.hwnd, WM_APP_FILES_CHANGED, 0, 0);
        }
        done = true;
    });
    ASSERT_TRUE(pump_until([&] {
        RedrawWindow(g_app.files_list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return done.load();
    }));
    worker.join();
    pump();
    EXPECT_EQ(SendMessageW(g_app.files_list, LB_GETCOUNT, 0, 0), 99 % 17);
}

TEST_F(MainWindow, CancelRaisesTheUploadersFlagAndReportsIt) {
    auto uploader = std::make_shared<dorvane::BatchUploader>(g_app.client.get());
    set_uploader(uploader);
    PostMessageW(hwnd, WM_APP_BUSY, 1, 0);
    pump();
    SendMessageW(g_app.btn_cancel, BM_CLICK, 0, 0);
    pump();
    EXPECT_TRUE(uploader->cancel_requested.load());
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("] Cancelamento solicitado — aguardando o arquivo atual terminar..."), std::string::npos);
    EXPECT_EQ(g_app.status, "Cancelando...");
    EXPECT_EQ(take_uploader(), uploader);
}

TEST_F(MainWindow, LimparEmptiesTheLogWhileLinesKeepArriving) {
    constexpr int COUNT = 2000;
    HANDLE cleared = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        for (int i = 0; i < COUNT; ++i) {
            log_line("linha " + std::to_string(i));
            if (i == COUNT / 2) {
                WaitForSingleObject(cleared, 30000);
            }
        }
    });
    ASSERT_TRUE(pump_until([] { return log_lines().size() > 100; }));
    SendMessageW(g_app.btn_clear, BM_CLICK, 0, 0);
    SetEvent(cleared);
    worker.join();
    ASSERT_TRUE(pump_until([] {
        std::vector<std::string> lines = log_lines();
        return !lines.empty() && lines.back().find("] linha " + std::to_string(COUNT - 1)) != std::string::npos;
    }));
    CloseHandle(cleared);

    std::vector<std::string> lines = log_lines();
    ASSERT_LT(lines.size(), static_cast<size_t>(COUNT)) << "the log was emptied";
    int first = std::stoi(lines.front().substr(lines.front().find("linha ") + 6));
    EXPECT_GT(first, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_NE(lines[i].find("] linha " + std::to_string(first + static_cast<int>(i))), std::string::npos)
            << lines[i];
    }
}

TEST_F(MainWindow, AHundredThousandLogLinesAllArriveInOrder) {
    constexpr int COUNT = 100000;
    std::thread worker([] {
        for (int i = 0; i < COUNT; ++i) {
            log_line("linha " + std::to_string(i));
        }
    });
    // The welcome line, COUNT lines and the empty line after the last terminator.
    bool arrived = pump_until(
        [] { return SendMessageW(g_app.log_edit, EM_GETLINECOUNT, 0, 0) >= COUNT + 2; }, 600000);
    worker.join();
    ASSERT_TRUE(arrived);
    std::vector<std::string> lines = log_lines();
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

TEST_F(MainWindow, CancelNeverReachesAnUploaderBeingReplacedOrDestroyed) {
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            set_uploader(std::make_shared<dorvane::BatchUploader>(g_app.client.get()));
            take_uploader();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        if (i % 100 == 0) pump();
    }
    stop = true;
    worker.join();
    pump();
    for (const std::string& line : log_lines()) {
        if (line.find("Dorvane API Client") != std::string::npos) continue;
        EXPECT_NE(line.find("] Cancelamento solicitado — aguardando o arquivo atual terminar..."), std::string::npos);
    }
}

TEST_F(MainWindow, ClosingAsksOnlyWhileBusyAndYesCancelsTheUploader) {
    struct Row {
        const char* name;
        bool busy, with_uploader;
        int answer;
        bool closes;
    } rows[] = {
        {"idle: no question", false, false, IDNO, true},
        {"busy, No keeps everything", true, true, IDNO, false},
        {"busy, Yes cancels and closes", true, true, IDYES, true},
        {"busy without an uploader still asks", true, false, IDYES, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!IsWindow(hwnd)) {
            reset_app_state();
            open_window();
        }
        auto uploader = std::make_shared<dorvane::BatchUploader>(g_app.client.get());
        set_uploader(row.with_uploader ? uploader : nullptr);
        PostMessageW(hwnd, WM_APP_BUSY, row.busy ? 1 : 0, 0);
        pump();
        DialogWatcher watcher(row.answer);
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
        pump();
        EXPECT_EQ(watcher.seen(), row.busy ? 1 : 0);
        if (row.busy) {
            EXPECT_EQ(watcher.caption(), "Dorvane API Client");
            EXPECT_EQ(watcher.text(), "Há um envio em andamento. Deseja realmente sair?");
        }
        EXPECT_EQ(IsWindow(hwnd) != FALSE, !row.closes);
        EXPECT_EQ(uploader->cancel_requested.load(), row.busy && row.with_uploader && row.answer == IDYES);
        EXPECT_TRUE(row.closes || g_app.busy.load()) << "answering No keeps the busy state";
        take_uploader();
        PostMessageW(hwnd, WM_APP_BUSY, 0, 0);
        pump();
    }
}

// Worker messages still queued for this thread (WM_QUIT, which Wine returns for any filter, is
// not one of them).
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
    EXPECT_FALSE(ui_post(WM_APP_LOG, "tarde demais"));
    std::thread worker([] { log_line("de um worker"); });
    worker.join();
    EXPECT_EQ(queued_app_messages(), 0);
}

TEST_F(MainWindow, MinimumTrackSizeIsScaled) {
    MINMAXINFO info = {};
    SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 940);
    EXPECT_EQ(info.ptMinTrackSize.y, 700);
}

TEST(MainWindowText, OperationDetailsUseSingularOnlyForOneCredit) {
    EXPECT_EQ(operation_details("ocr", 2), "ocr  ·  2 créditos");
    EXPECT_EQ(operation_details("ocr", 1), "ocr  ·  1 crédito");
    EXPECT_EQ(operation_details("ocr", 0), "ocr  ·  0 créditos");
    EXPECT_EQ(operation_details("x", -1), "x  ·  -1 créditos");
}

TEST(MainWindowText, FileInfoShowsTagAndSizeWhenKnown) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string dir = std::string(folder) + "dorvane_app_info_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string pdf = dir + "\\a.pdf";
    std::string empty = dir + "\\vazio.bin";
    std::string pdf_bytes = "%PDF-1.4\n" + std::string(2048 - 9, 'x');
    ASSERT_TRUE(fileutils::write_file(pdf, pdf_bytes.data(), pdf_bytes.size()));
    ASSERT_TRUE(fileutils::write_file(empty, "", 0));
    EXPECT_EQ(file_info(pdf), "PDF  2 KB");
    EXPECT_EQ(file_info(empty), "");
    EXPECT_EQ(file_info(dir + "\\nao_existe.pdf"), "");
    DeleteFileA(pdf.c_str());
    DeleteFileA(empty.c_str());
    RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace app_test
