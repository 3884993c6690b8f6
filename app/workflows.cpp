#include "app/workflows.h"

#include <windows.h>
#include <commdlg.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "app/app_state.h"
#include "core/fileutils.h"
#include "core/text.h"
#include "files/scan.h"
#include "service/api_client.h"
#include "service/batch_uploader.h"
#include "service/connect.h"
#include "service/convert_tiffs.h"
#include "service/defaults.h"
#include "service/send_text.h"

namespace {

// Characters of the file dialog's name buffer; a selection whose names do not fit makes the
// dialog fail, which ends the workflow like a cancel.
constexpr DWORD DIALOG_BUFFER_CHARS = 65536;

void post_busy(bool busy) {
    PostMessageW(g_app.hwnd, WM_APP_BUSY, busy ? 1 : 0, 0);
}

void post_progress(size_t done, size_t total) {
    PostMessageW(g_app.hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(done), static_cast<LPARAM>(total));
}

// Hands fn to a detached worker. The launcher has already posted busy on; when no thread can be
// started nothing would ever post busy off, so the window would stay locked: end it here.
void launch(std::function<void()> fn) {
    if (!start_worker(std::move(fn))) {
        log_line("[ERRO] Não foi possível iniciar a tarefa em segundo plano.");
        post_busy(false);
    }
}

// The folder edit's text, or the process's current folder when it is empty.
std::string chosen_folder() {
    std::string folder = get_text(g_app.folder_edit);
    return folder.empty() ? fileutils::current_dir() : folder;
}

// --- connect ---

void connect_worker() {
    size_t n = 0;
    const dorvane::ConnectResult connected =
        dorvane::check_key_and_list(*g_app.client, log_line, [&n](std::vector<dorvane::Operation> catalogue) {
            n = catalogue.size();
            set_operations(std::move(catalogue));
            PostMessageW(g_app.hwnd, WM_APP_OPS_LOADED, 0, 0);
        });
    if (connected.status != dorvane::ConnectStatus::Ok) {
        ui_post(WM_APP_STATUS, "Falha na conexão");
        ui_post(WM_APP_MESSAGE_BOX, dorvane::connect_failure_text(connected.status, connected.error.to_string()));
    } else {
        ui_post(WM_APP_STATUS, "Conectado — " + std::to_string(n) + " operações");
    }
    post_busy(false);
}

// --- file dialog ---

// The dialog's answer: one full path, or a folder followed by file names, each NUL-terminated,
// with an empty string at the end. Reading stops at the buffer's end whatever the dialog wrote.
std::vector<std::string> dialog_selection(const std::vector<wchar_t>& buffer) {
    auto next_string = [&](size_t from, size_t& end) {
        end = from;
        while (end < buffer.size() && buffer[end] != L'\0') ++end;
        return std::wstring(buffer.begin() + static_cast<std::ptrdiff_t>(from),
                            buffer.begin() + static_cast<std::ptrdiff_t>(end));
    };
    std::vector<std::string> paths;
    size_t end = 0;
    const std::string first = text::to_utf8(next_string(0, end));
    if (end + 1 >= buffer.size() || buffer[end + 1] == L'\0') {
        paths.push_back(first);
        return paths;
    }
    // Several files: the separator is added even after a drive root such as "C:\".
    size_t pos = end + 1;
    while (pos < buffer.size() && buffer[pos] != L'\0') {
        const std::string name = text::to_utf8(next_string(pos, end));
        paths.push_back(first + "\\" + name);
        pos = end + 1;
    }
    return paths;
}

// --- send ---

void send_worker(const std::vector<std::string>& paths, const dorvane::Operation& operation, bool await_result,
                 const std::string& results_dir, std::map<std::string, dorvane::EarlierSend> already_sent) {
    dorvane::BatchUploader::Options options;
    options.already_sent = std::move(already_sent);
    options.operation_code = operation.code;
    options.await_result = await_result;
    options.results_dir = results_dir;

    dorvane::BatchCallbacks callbacks;
    callbacks.log = [](const std::string& line) { log_line(line); };
    callbacks.status = [](const std::string& status) { ui_post(WM_APP_STATUS, status); };
    callbacks.progress = [](int done, int total) {
        PostMessageW(g_app.hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(done), static_cast<LPARAM>(total));
    };

    auto uploader = std::make_shared<dorvane::BatchUploader>(g_app.client.get());
    set_uploader(uploader);
    // Should the engine ever throw, the slot must not keep an uploader that no batch runs;
    // start_worker then ends the busy state.
    struct SlotGuard {
        ~SlotGuard() { take_uploader(); }
    } slot_guard;
    const dorvane::BatchUploader::Summary summary = uploader->run(paths, options, callbacks);

    log_line(dorvane::summary_line(summary));
    log_line(dorvane::results_closing_line(summary));
    ui_post(WM_APP_STATUS, dorvane::finished_status(summary));
    if (summary.stopped) {
        ui_post(WM_APP_MESSAGE_BOX, dorvane::stopped_message(summary.stop_reason));
    }
    // The slot's lock keeps a Cancel press from reaching the uploader once it is out of the slot.
    take_uploader();
    uploader.reset();
    post_busy(false);
}

}  // namespace

void do_connect() {
    std::string url = get_text(g_app.url_edit);
    const std::string key = get_text(g_app.key_edit);
    if (key.empty()) {
        message_box(g_app.hwnd, dorvane::MISSING_KEY_TEXT, MB_ICONINFORMATION);
        SetFocus(g_app.key_edit);
        return;
    }
    if (url.empty()) {
        url = dorvane::DEFAULT_BASE_URL;
        SetWindowTextW(g_app.url_edit, text::to_wide(url).c_str());
    }
    const std::string opening = dorvane::set_connection(*g_app.client, url, key);

    post_busy(true);
    log_line(opening);
    ui_post(WM_APP_STATUS, "Buscando operações...");
    launch(connect_worker);
}

void do_browse() {
    static const wchar_t FILTER[] =
        L"Documentos\0*.pdf;*.png;*.jpg;*.jpeg;*.tif;*.tiff\0"
        L"PDF\0*.pdf\0"
        L"Imagens\0*.png;*.jpg;*.jpeg;*.tif;*.tiff\0"
        L"Todos os arquivos\0*.*\0";
    std::vector<wchar_t> buffer(DIALOG_BUFFER_CHARS, L'\0');

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = g_app.hwnd;
    dialog.lpstrFilter = FILTER;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = DIALOG_BUFFER_CHARS;
    dialog.lpstrTitle = L"Selecionar arquivos para envio";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;
    if (!GetOpenFileNameW(&dialog)) {
        return;
    }

    std::vector<std::string> files = dialog_selection(buffer);
    const size_t n = files.size();
    set_files(files);
    PostMessageW(g_app.hwnd, WM_APP_FILES_CHANGED, 0, 0);
    log_line("[OK] " + std::to_string(n) + " arquivo(s) selecionado(s).");
    ui_post(WM_APP_STATUS, std::to_string(n) + " arquivo(s) selecionado(s)");
}

void do_scan() {
    const std::string folder = chosen_folder();
    post_busy(true);
    log_line("Varrendo " + folder + " ...");
    ui_post(WM_APP_STATUS, "Varrendo pasta...");
    launch([folder] {
        std::vector<std::string> documents = fileutils::scan_directory(folder, fileutils::DOCUMENT_EXTENSIONS, 1);
        const size_t tiffs = dorvane::find_tiffs(folder).size();
        const size_t n = documents.size();
        set_files(documents);
        PostMessageW(g_app.hwnd, WM_APP_FILES_CHANGED, 0, 0);
        log_line("[OK] " + std::to_string(n) + " arquivo(s) PDF/PNG/JPEG.");
        std::string suffix;
        if (tiffs > 0) {
            log_line("Encontrados também " + std::to_string(tiffs) +
                     " TIFF(s) — use 'Converter TIFFs' para incluí-los no envio.");
            suffix = " + " + std::to_string(tiffs) + " TIFF(s)";
        }
        ui_post(WM_APP_STATUS, std::to_string(n) + " arquivo(s) pronto(s)" + suffix);
        post_busy(false);
    });
}

void do_send(bool all) {
    if (!g_app.client->has_credentials()) {
        message_box(g_app.hwnd, "Conecte-se primeiro: informe a URL e a API Key e clique em Conectar.",
                    MB_ICONINFORMATION);
        return;
    }

    const LRESULT row = SendMessageW(g_app.ops_list, LB_GETCURSEL, 0, 0);
    dorvane::Operation operation;
    if (row < 0 || !operation_at(static_cast<size_t>(row), operation)) {
        message_box(g_app.hwnd, "Selecione uma operação na lista.", MB_ICONINFORMATION);
        return;
    }

    std::vector<std::string> paths;
    if (all) {
        paths = file_paths();
    } else {
        const LRESULT count = SendMessageW(g_app.files_list, LB_GETSELCOUNT, 0, 0);
        if (count <= 0) {
            message_box(g_app.hwnd, "Nenhum arquivo selecionado.\n\nSelecione na lista ou use 'Enviar todos'.",
                        MB_ICONINFORMATION);
            return;
        }
        std::vector<int> rows(static_cast<size_t>(count));
        const LRESULT got =
            SendMessageW(g_app.files_list, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(rows.data()));
        rows.resize(got > 0 ? static_cast<size_t>(got) : 0);
        // Rows past the end belong to a list that changed since the operator selected them.
        FileRow file;
        for (int r : rows) {
            if (r >= 0 && file_at(static_cast<size_t>(r), file)) {
                paths.push_back(file.path);
            }
        }
    }
    if (paths.empty()) {
        message_box(g_app.hwnd, "Não há arquivos para enviar.", MB_ICONINFORMATION);
        return;
    }

    const bool await_result = SendMessageW(g_app.chk_sync, BM_GETCHECK, 0, 0) == BST_CHECKED;
    const int n = static_cast<int>(paths.size());
    const std::string results_dir = chosen_folder();
    // Files that an earlier batch of this folder already sent to this operation: the operator
    // chooses to skip them (Sim), send everything again (Não) or nothing (Cancelar).
    std::map<std::string, dorvane::EarlierSend> already_sent =
        dorvane::find_already_sent(paths, operation.code, results_dir, dorvane::BatchUploader::Options().max_file_bytes);
    if (already_sent.empty()) {
        if (message_box(g_app.hwnd, dorvane::confirmation_text(n, operation, await_result), MB_YESNO | MB_ICONQUESTION) !=
            IDYES) {
            return;
        }
    } else {
        const int answer = message_box(g_app.hwnd,
                                       dorvane::confirmation_text(n, operation, await_result,
                                                                  static_cast<int>(already_sent.size())) +
                                           "\n\n" + dorvane::RESEND_CHOICE_LINE,
                                       MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDNO) {
            already_sent.clear();
        } else if (answer != IDYES) {
            return;
        }
    }

    post_busy(true);
    log_line(dorvane::start_line(n, operation));
    launch([paths = std::move(paths), operation, await_result, results_dir, already_sent = std::move(already_sent)] {
        send_worker(paths, operation, await_result, results_dir, already_sent);
    });
}

void do_convert_tiffs() {
    const std::string folder = chosen_folder();
    std::vector<std::string> tiffs = dorvane::find_tiffs(folder);
    if (tiffs.empty()) {
        message_box(g_app.hwnd, dorvane::no_tiff_message(folder), MB_ICONINFORMATION);
        return;
    }

    post_busy(true);
    log_line(dorvane::convert_start_line(tiffs.size()));
    launch([tiffs = std::move(tiffs), folder] {
        dorvane::ConvertCallbacks callbacks;
        callbacks.log = [](const std::string& line) { log_line(line); };
        callbacks.status = [](const std::string& status) { ui_post(WM_APP_STATUS, status); };
        callbacks.progress = post_progress;
        callbacks.add_file = add_file;
        const dorvane::ConvertSummary summary = dorvane::convert_tiffs(tiffs, folder, callbacks);

        const size_t ready = file_count();
        for (const std::string& line : dorvane::convert_summary_lines(summary, ready)) {
            log_line(line);
        }
        PostMessageW(g_app.hwnd, WM_APP_FILES_CHANGED, 0, 0);
        ui_post(WM_APP_STATUS, dorvane::convert_finished_status(ready));
        post_busy(false);
    });
}
