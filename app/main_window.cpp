#include "app/main_window.h"

#include <memory>
#include <vector>

#include "app/app_state.h"
#include "app/layout.h"
#include "app/theme.h"
#include "app/workflows.h"
#include "core/fileutils.h"
#include "core/sys.h"
#include "core/text.h"
#include "files/scan.h"
#include "service/defaults.h"

namespace {

constexpr DWORD EDIT_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD LIST_STYLE = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS |
                             LBS_OWNERDRAWFIXED;

}  // namespace

const std::array<ChildControl, 15> CHILD_CONTROLS = {{
    {&AppState::url_edit, IDC_URL, L"EDIT", dorvane::DEFAULT_BASE_URL, EDIT_STYLE, &g_fontUI, WhileBusy::Unchanged},
    {&AppState::key_edit, IDC_API_KEY, L"EDIT", "", EDIT_STYLE | ES_PASSWORD, &g_fontUI, WhileBusy::Unchanged},
    {&AppState::folder_edit, IDC_FOLDER, L"EDIT", nullptr, EDIT_STYLE, &g_fontUI, WhileBusy::Unchanged},
    {&AppState::btn_connect, IDC_CONNECT, nullptr, "Conectar", 0, &g_fontBold, WhileBusy::Disabled, BtnKind::Primary},
    {&AppState::btn_scan, IDC_SCAN, nullptr, "Buscar", 0, &g_fontBold, WhileBusy::Disabled},
    {&AppState::btn_browse, IDC_BROWSE, nullptr, "Selecionar...", 0, &g_fontBold, WhileBusy::Disabled},
    {&AppState::btn_convert, IDC_CONVERT, nullptr, "Converter TIFFs", 0, &g_fontBold, WhileBusy::Disabled},
    {&AppState::btn_send_selected, IDC_SEND_SELECTED, nullptr, "Enviar selecionados", 0, &g_fontBold,
     WhileBusy::Disabled},
    {&AppState::btn_send_all, IDC_SEND_ALL, nullptr, "Enviar todos", 0, &g_fontBold, WhileBusy::Disabled,
     BtnKind::Primary},
    {&AppState::btn_cancel, IDC_CANCEL, nullptr, "Cancelar", 0, &g_fontBold, WhileBusy::Enabled, BtnKind::Danger},
    {&AppState::btn_clear, IDC_CLEAR, nullptr, "Limpar", 0, &g_fontBold, WhileBusy::Unchanged},
    {&AppState::ops_list, IDC_OPERATIONS, L"LISTBOX", "", LIST_STYLE | LBS_NOTIFY, nullptr, WhileBusy::Unchanged},
    {&AppState::files_list, IDC_FILES, L"LISTBOX", "", LIST_STYLE | LBS_EXTENDEDSEL, nullptr, WhileBusy::Unchanged},
    {&AppState::chk_sync, IDC_SYNC, L"BUTTON", "Aguardar resultado (síncrono)",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, &g_fontUI, WhileBusy::Unchanged},
    // Not a tab stop: Tab never lands in the log.
    {&AppState::log_edit, IDC_LOG, L"EDIT", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL |
     ES_MULTILINE, &g_fontMono, WhileBusy::Unchanged},
}};

namespace {

// Most log lines appended at once; keeps the window responsive while a worker floods the log.
constexpr int MAX_LOG_BATCH = 1000;

// Takes ownership of a string payload first, so every path of a handler deletes it.
std::unique_ptr<std::string> take_payload(LPARAM lparam) {
    return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lparam));
}

bool carries_string(UINT message) {
    return message == WM_APP_LOG || message == WM_APP_STATUS || message == WM_APP_MESSAGE_BOX;
}

HWND make_control(HWND parent, HINSTANCE instance, const wchar_t* cls, const std::string& label, int id,
                  DWORD style) {
    return CreateWindowExW(0, cls, text::to_wide(label).c_str(), style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

// Selects, and on destruction restores and deletes, the off-screen bitmap of one paint.
class BackBuffer {
public:
    BackBuffer(HDC target, int width, int height)
        : dc_(CreateCompatibleDC(target)), bitmap_(CreateCompatibleBitmap(target, width, height)) {
        old_ = SelectObject(dc_, bitmap_);
    }
    ~BackBuffer() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;
    HDC dc() const { return dc_; }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_ = nullptr;
};

void fill_solid(HDC hdc, const RECT& r, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(hdc, &r, brush);
    DeleteObject(brush);
}

void draw_card(HDC hdc, const RECT& card, const std::string& title, const std::string& subtitle) {
    theme::fill_round_rect(hdc, card, S(10), COLOR_CARD, COLOR_BORDER);
    draw_section_title(hdc, card, title, subtitle);
}

void draw_label(HDC hdc, const std::string& label, const RECT& r) {
    theme::draw_text(hdc, label, r, g_fontUI, COLOR_MUTED, DT_SINGLELINE | DT_VCENTER);
}

void draw_input_frame(HDC hdc, const RECT& frame, HWND edit) {
    COLORREF border = (edit && edit == g_app.focused_edit) ? COLOR_ACCENT : COLOR_BORDER;
    theme::fill_round_rect(hdc, frame, S(8), COLOR_CARD, border);
}

void draw_header(HDC hdc) {
    const RECT& h = g_layout.header;
    if (g_iconLarge) {
        DrawIconEx(hdc, h.left, h.top + S(4), g_iconLarge, S(36), S(36), 0, nullptr, DI_NORMAL);
    }
    theme::draw_text(hdc, APP_NAME, {h.left + S(48), h.top + S(2), h.right, h.top + S(26)}, g_fontTitle,
                     COLOR_ACCENT, DT_SINGLELINE | DT_VCENTER);
    theme::draw_text(hdc, "Envio em massa de documentos", {h.left + S(48), h.top + S(26), h.right, h.top + S(44)},
                     g_fontSmall, COLOR_MUTED, DT_SINGLELINE | DT_VCENTER);
    theme::draw_text(hdc, std::string("v") + APP_VERSION, {h.left, h.top + S(24), h.right, h.top + S(44)},
                     g_fontSmall, COLOR_MUTED, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    theme::fill_round_rect(hdc, {h.left, h.bottom + S(4), h.left + S(46), h.bottom + S(7)}, S(2), COLOR_AMBER,
                           COLOR_NONE);
}

void draw_progress(HDC hdc) {
    const RECT& bar = g_layout.progress_bar;
    int percent = g_app.progress < 0 ? 0 : (g_app.progress > 100 ? 100 : g_app.progress);
    int height = bar.bottom - bar.top;
    int radius = height / 2;
    theme::fill_round_rect(hdc, bar, radius, COLOR_LIGHT, COLOR_BORDER);
    int width = (bar.right - bar.left) * percent / 100;
    // A fill narrower than the bar is tall would not look round: only the track shows.
    if (width >= height) {
        theme::fill_round_rect(hdc, {bar.left, bar.top, bar.left + width, bar.bottom}, radius, COLOR_ACCENT,
                               COLOR_NONE);
    }
}

void paint_content(HDC hdc, const RECT& client) {
    fill_solid(hdc, client, COLOR_PAGE);
    draw_header(hdc);

    const Layout& l = g_layout;
    draw_card(hdc, l.card_connection, "Conexão", "");
    draw_label(hdc, "URL", {l.card_connection.left + S(14), l.input_url.top, l.input_url.left - S(8), l.input_url.bottom});
    draw_label(hdc, "API Key", {l.input_url.right + S(16), l.input_key.top, l.input_key.left - S(6), l.input_key.bottom});
    draw_input_frame(hdc, l.input_url, g_app.url_edit);
    draw_input_frame(hdc, l.input_key, g_app.key_edit);

    const size_t files = file_count();
    draw_card(hdc, l.card_operation, "Operação", operation_count() == 0 ? "conecte-se" : "");
    draw_card(hdc, l.card_files, "Arquivos", files == 0 ? "" : std::to_string(files) + " arquivo(s)");
    draw_label(hdc, "Pasta", {l.card_files.left + S(14), l.input_folder.top, l.input_folder.left - S(6), l.input_folder.bottom});
    draw_input_frame(hdc, l.input_folder, g_app.folder_edit);

    draw_card(hdc, l.card_log, "Registro de atividade", "");
    draw_progress(hdc);

    theme::draw_text(hdc, g_app.status, l.status_line, g_fontUI, COLOR_MUTED, DT_SINGLELINE | DT_VCENTER);
    if (g_app.progress > 0) {
        theme::draw_text(hdc, std::to_string(g_app.progress) + "%", l.status_line, g_fontBold, COLOR_ACCENT,
                         DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
}

void draw_item_background(HDC hdc, const RECT& r, bool selected) {
    if (!selected) {
        fill_solid(hdc, r, COLOR_CARD);
        return;
    }
    fill_solid(hdc, r, COLOR_LIGHT);
    fill_solid(hdc, {r.left, r.top, r.left + S(3), r.bottom}, COLOR_ACCENT);
}

void draw_operation_item(const DRAWITEMSTRUCT& item) {
    dorvane::Operation operation;
    if (item.itemID == static_cast<UINT>(-1) || !operation_at(item.itemID, operation)) {
        return;
    }
    const RECT& r = item.rcItem;
    bool selected = (item.itemState & ODS_SELECTED) != 0;
    draw_item_background(item.hDC, r, selected);
    theme::draw_text(item.hDC, operation.name, {r.left + S(12), r.top + S(6), r.right - S(10), r.top + S(24)},
                     g_fontBold, selected ? COLOR_ACCENT : COLOR_TEXT, DT_SINGLELINE | DT_END_ELLIPSIS);
    theme::draw_text(item.hDC, operation_details(operation.code, operation.cost),
                     {r.left + S(12), r.top + S(23), r.right - S(10), r.bottom - S(4)}, g_fontSmall, COLOR_MUTED,
                     DT_SINGLELINE | DT_END_ELLIPSIS);
}

void draw_file_item(const DRAWITEMSTRUCT& item) {
    FileRow row;
    if (item.itemID == static_cast<UINT>(-1) || !file_at(item.itemID, row)) {
        return;
    }
    const RECT& r = item.rcItem;
    bool selected = (item.itemState & ODS_SELECTED) != 0;
    draw_item_background(item.hDC, r, selected);
    if (!row.info.empty()) {
        theme::draw_text(item.hDC, row.info, {r.right - S(130), r.top, r.right - S(10), r.bottom}, g_fontSmall,
                         COLOR_MUTED, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
    theme::draw_text(item.hDC, fileutils::base_name(row.path), {r.left + S(12), r.top, r.right - S(140), r.bottom},
                     g_fontUI, selected ? COLOR_ACCENT : COLOR_TEXT, DT_SINGLELINE | DT_VCENTER | DT_PATH_ELLIPSIS);
}

void refill_list(HWND list, const std::vector<std::string>& items) {
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text::to_wide(item).c_str()));
    }
}

// --- message handlers ---

LRESULT on_create(HWND hwnd, const CREATESTRUCTW& create) {
    g_app.hwnd = hwnd;
    HINSTANCE instance = create.hInstance;

    for (const ChildControl& c : CHILD_CONTROLS) {
        const std::string text = c.text ? c.text : fileutils::current_dir();
        HWND control = c.window_class ? make_control(hwnd, instance, c.window_class, text, c.id, c.style)
                                      : make_button(hwnd, text, c.id, c.kind);
        g_app.*c.field = control;
        if (control && c.busy == WhileBusy::Enabled) {
            EnableWindow(control, FALSE);
        }
    }
    // An edit stops taking text at its default limit (30,000 characters under Wine, 32,767 on
    // Windows), which would silently drop log lines; 0 lifts it to the largest size.
    SendMessageW(g_app.log_edit, EM_SETLIMITTEXT, 0, 0);

    create_fonts();
    apply_fonts();
    RECT client;
    GetClientRect(hwnd, &client);
    compute_layout(client.right - client.left, client.bottom - client.top);
    append_log(welcome_line());
    return 0;
}

// Posted messages still queued for the window would be dropped with their heap strings; free
// them. A worker's later post fails and ui_post frees its copy.
void free_queued_payloads(HWND hwnd) {
    MSG msg;
    while (PeekMessageW(&msg, hwnd, WM_APP_LOG, WM_APP_MESSAGE_BOX, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Wine hands out a pending WM_QUIT whatever the filter; put it back for the loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (carries_string(msg.message)) {
            take_payload(msg.lParam);
        }
    }
}

LRESULT on_destroy(HWND hwnd) {
    free_queued_payloads(hwnd);
    destroy_fonts();
    if (g_brushPage) {
        DeleteObject(g_brushPage);
        g_brushPage = nullptr;
    }
    if (g_brushCard) {
        DeleteObject(g_brushCard);
        g_brushCard = nullptr;
    }
    PostQuitMessage(0);
    return 0;
}

// The controls die with the window; nothing may reach them through g_app afterwards. g_app.hwnd
// keeps the dead handle on purpose: workers read it without a lock, and a post to it fails, so
// ui_post frees its copy.
void on_nc_destroy() {
    for (const ChildControl& c : CHILD_CONTROLS) {
        g_app.*c.field = nullptr;
    }
    g_app.focused_edit = nullptr;
}

LRESULT on_paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    if (width > 0 && height > 0) {
        BackBuffer buffer(hdc, width, height);
        paint_content(buffer.dc(), client);
        BitBlt(hdc, 0, 0, width, height, buffer.dc(), 0, 0, SRCCOPY);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

LRESULT on_close(HWND hwnd) {
    if (g_app.busy.load()) {
        if (message_box(hwnd, "Há um envio em andamento. Deseja realmente sair?", MB_ICONWARNING | MB_YESNO) != IDYES) {
            return 0;
        }
        request_cancel();
    }
    DestroyWindow(hwnd);
    return 0;
}

LRESULT on_draw_item(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
    if (item.CtlType == ODT_BUTTON) {
        paint_button(item);
        return 1;
    }
    if (item.CtlType != ODT_LISTBOX) {
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    if (item.CtlID == IDC_OPERATIONS) {
        draw_operation_item(item);
    } else if (item.CtlID == IDC_FILES) {
        draw_file_item(item);
    }
    return 1;
}

LRESULT on_command(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const UINT code = HIWORD(wparam);
    if (code == EN_SETFOCUS || code == EN_KILLFOCUS) {
        g_app.focused_edit = code == EN_SETFOCUS ? reinterpret_cast<HWND>(lparam) : nullptr;
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    if (code == LBN_SELCHANGE) {
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    const bool busy = g_app.busy.load();
    switch (LOWORD(wparam)) {
    case IDC_CONNECT:
        if (!busy) do_connect();
        return 0;
    case IDC_SCAN:
        if (!busy) do_scan();
        return 0;
    case IDC_BROWSE:
        if (!busy) do_browse();
        return 0;
    case IDC_CONVERT:
        if (!busy) do_convert_tiffs();
        return 0;
    case IDC_SEND_SELECTED:
        if (!busy) do_send(false);
        return 0;
    case IDC_SEND_ALL:
        if (!busy) do_send(true);
        return 0;
    case IDC_CANCEL:
        if (request_cancel()) {
            log_line("Cancelamento solicitado — aguardando o arquivo atual terminar...");
            ui_post(WM_APP_STATUS, "Cancelando...");
        }
        return 0;
    case IDC_CLEAR:
        SetWindowTextW(g_app.log_edit, L"");
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

LRESULT on_ctl_color(UINT message, HDC hdc, HWND control) {
    if (message == WM_CTLCOLORSTATIC && control != g_app.log_edit) {
        SetBkMode(hdc, TRANSPARENT);
        SetTextColor(hdc, COLOR_TEXT);
        return reinterpret_cast<LRESULT>(g_brushPage);
    }
    SetBkColor(hdc, COLOR_CARD);
    if (message != WM_CTLCOLORLISTBOX) {
        SetTextColor(hdc, COLOR_TEXT);
    }
    return reinterpret_cast<LRESULT>(g_brushCard);
}

LRESULT on_dpi_changed(HWND hwnd, WPARAM wparam, LPARAM lparam) {
    g_dpi = HIWORD(wparam) < 1 ? 96 : HIWORD(wparam);
    destroy_fonts();
    create_fonts();
    apply_fonts();
    const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
    SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

// The lines already queued right behind this one go into the log in the same append: the edit
// control's cost per insertion grows with its line count (it walks its list of lines to place the
// caret), so a flood of single-line appends would take quadratic time. Only messages at the head
// of the window's queue are taken, so nothing is reordered.
LRESULT on_app_log(HWND hwnd, LPARAM lparam) {
    auto line = take_payload(lparam);
    if (!line) {
        return 0;
    }
    std::string batch = std::move(*line);
    MSG next;
    for (int taken = 1; taken < MAX_LOG_BATCH; ++taken) {
        if (!PeekMessageW(&next, hwnd, 0, 0, PM_NOREMOVE | PM_NOYIELD) || next.message != WM_APP_LOG ||
            !PeekMessageW(&next, hwnd, WM_APP_LOG, WM_APP_LOG, PM_REMOVE | PM_NOYIELD)) {
            break;
        }
        auto queued = take_payload(next.lParam);
        if (queued) {
            batch += "\r\n";
            batch += *queued;
        }
    }
    append_log(batch);
    return 0;
}

LRESULT on_app_status(HWND hwnd, LPARAM lparam) {
    auto status = take_payload(lparam);
    if (status) {
        g_app.status = *status;
    }
    InvalidateRect(hwnd, &g_layout.status_line, FALSE);
    return 0;
}

LRESULT on_app_progress(HWND hwnd, WPARAM wparam, LPARAM lparam) {
    const int done = static_cast<int>(wparam);
    const int total = static_cast<int>(lparam);
    g_app.progress = total > 0 ? static_cast<int>(static_cast<int64_t>(done) * 100 / total) : 0;
    InvalidateRect(hwnd, &g_layout.progress_bar, FALSE);
    InvalidateRect(hwnd, &g_layout.status_line, FALSE);
    return 0;
}

LRESULT on_app_busy(HWND hwnd, WPARAM wparam) {
    const bool busy = wparam != 0;
    g_app.busy.exchange(busy);
    for (const ChildControl& c : CHILD_CONTROLS) {
        if (c.busy != WhileBusy::Unchanged) {
            EnableWindow(g_app.*c.field, (c.busy == WhileBusy::Enabled) == busy);
        }
    }
    if (!busy) {
        g_app.progress = 0;
        InvalidateRect(hwnd, nullptr, FALSE);
    }
    return 0;
}

LRESULT on_app_ops_loaded(HWND hwnd) {
    std::vector<std::string> names;
    for (const dorvane::Operation& operation : operations_copy()) {
        names.push_back(operation.name);
    }
    refill_list(g_app.ops_list, names);
    if (!names.empty()) {
        SendMessageW(g_app.ops_list, LB_SETCURSEL, 0, 0);
    }
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
}

LRESULT on_app_files_changed(HWND hwnd) {
    refill_list(g_app.files_list, file_paths());
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
}

LRESULT on_app_message_box(HWND hwnd, LPARAM lparam) {
    auto text = take_payload(lparam);
    if (text) {
        message_box(hwnd, *text, MB_ICONWARNING);
    }
    return 0;
}

}  // namespace

std::string welcome_line() {
    return "[" + sys::local_time("%H:%M:%S") + "] " + APP_NAME + " v" + APP_VERSION +
           " — informe a API Key e clique em Conectar.";
}

std::string operation_details(const std::string& code, int cost) {
    return code + "  ·  " + std::to_string(cost) + " crédito" + (cost == 1 ? "" : "s");
}

std::string file_info(const std::string& path) {
    std::string info;
    fileutils::FileFormat format = fileutils::detect_format(path);
    if (format != fileutils::FileFormat::Unknown) {
        info = fileutils::format_name(format);
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(fileutils::win32_path(path).c_str(), GetFileExInfoStandard, &data)) {
        unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size != 0) {
            info += (info.empty() ? "" : "  ") + fileutils::format_size(size);
        }
    }
    return info;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return on_create(hwnd, *reinterpret_cast<const CREATESTRUCTW*>(lparam));
    case WM_DESTROY:
        return on_destroy(hwnd);
    case WM_NCDESTROY:
        on_nc_destroy();
        return DefWindowProcW(hwnd, message, wparam, lparam);
    case WM_SIZE:
        compute_layout(LOWORD(lparam), HIWORD(lparam));
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_PAINT:
        return on_paint(hwnd);
    case WM_CLOSE:
        return on_close(hwnd);
    case WM_ERASEBKGND:
        return 1;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
        info->ptMinTrackSize = {S(940), S(700)};
        return 0;
    }
    case WM_DRAWITEM:
        return on_draw_item(hwnd, message, wparam, lparam);
    case WM_COMMAND:
        return on_command(hwnd, message, wparam, lparam);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
        return on_ctl_color(message, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DPICHANGED:
        return on_dpi_changed(hwnd, wparam, lparam);
    case WM_APP_LOG:
        return on_app_log(hwnd, lparam);
    case WM_APP_STATUS:
        return on_app_status(hwnd, lparam);
    case WM_APP_PROGRESS:
        return on_app_progress(hwnd, wparam, lparam);
    case WM_APP_BUSY:
        return on_app_busy(hwnd, wparam);
    case WM_APP_OPS_LOADED:
        return on_app_ops_loaded(hwnd);
    case WM_APP_FILES_CHANGED:
        return on_app_files_changed(hwnd);
    case WM_APP_MESSAGE_BOX:
        return on_app_message_box(hwnd, lparam);
    default:
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}
