#include "app/layout.h"

#include "app/app_state.h"

#include <algorithm>

Layout g_layout;

namespace {

void move(HWND control, int x, int y, int width, int height) {
    if (control) {
        MoveWindow(control, x, y, width, height, TRUE);
    }
}

// One line of the edit's font: an edit shorter than that cuts the descenders off.
int line_height(HWND edit) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0));
    HDC dc = GetDC(edit);
    if (!dc) return 0;
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    return metrics.tmHeight;
}

}  // namespace

// The frame keeps its rectangle; the edit inside is one line of its font tall, centred in it, and
// never taller than the frame's inside (its border is one pixel).
void place_input(HWND edit, RECT frame, int inset) {
    if (!edit) return;
    const int frame_height = frame.bottom - frame.top;
    const int height = std::max(1, std::min(line_height(edit), frame_height - 2));
    move(edit, frame.left + inset, frame.top + (frame_height - height) / 2, (frame.right - frame.left) - 2 * inset,
         height);
}

void compute_layout(int width, int height) {
    const int m = S(16);
    const int p = S(14);
    const int fh = S(32);
    const int bh = S(34);
    const int iw = width - 2 * m;
    const int right = width - m;
    Layout& l = g_layout;

    l.header = {m, S(14), right, S(14) + S(44)};

    const int card_top = S(44) + S(12) + S(14);
    const int card_height = S(18) + p + S(12) + bh + p;
    l.card_connection = {m, card_top, right, card_top + card_height};

    const int row = card_top + p + S(18) + S(12);
    const int connect_x = (right - p) - S(122);
    move(g_app.btn_connect, connect_x, row - S(1), S(122), bh);
    l.input_key = {connect_x - S(12) - S(210), row, connect_x - S(12), row + fh};
    l.input_url = {m + p + S(36) + S(8), row, l.input_key.left - S(6) - S(66) - S(16), row + fh};

    const int middle_top = card_top + card_height + p;
    const int middle_height = S(214);
    const int ops_width = ((iw - p) * 45) / 100;
    l.card_operation = {m, middle_top, m + ops_width, middle_top + middle_height};
    l.card_files = {m + ops_width + p, middle_top, right, middle_top + middle_height};

    const int ops_y = middle_top + p + S(18) + S(10);
    move(g_app.ops_list, m + p, ops_y, ops_width - 2 * p, middle_height - (S(18) + p + S(10)) - p);

    const int files_left = l.card_files.left + p;
    const int files_right = right - p;
    const int files_row = middle_top + p + S(18) + S(10);
    const int browse_x = files_right - S(116);
    const int scan_x = files_right - S(116) - S(8) - S(84);
    move(g_app.btn_browse, browse_x, files_row - S(1), S(116), bh);
    move(g_app.btn_scan, scan_x, files_row - S(1), S(84), bh);
    l.input_folder = {files_left + S(44) + S(6), files_row, scan_x - S(12), files_row + fh};

    const int files_y = files_row + fh + S(12);
    move(g_app.files_list, files_left, files_y, files_right - files_left, (l.card_files.bottom - p) - files_y);

    const int action_top = middle_top + middle_height + p;
    const int action_height = S(38);
    struct ActionButton {
        HWND button;
        int width;
    };
    const ActionButton actions[] = {
        {g_app.btn_send_all, S(150)},
        {g_app.btn_send_selected, S(178)},
        {g_app.btn_convert, S(146)},
        {g_app.btn_cancel, S(104)},
    };
    int x = right;
    for (size_t i = 0; i < sizeof actions / sizeof actions[0]; ++i) {
        x -= (i == 0 ? 0 : S(10)) + actions[i].width;
        move(actions[i].button, x, action_top, actions[i].width, action_height);
    }
    move(g_app.chk_sync, m + S(2), action_top + S(10), S(260), S(20));

    const int progress_top = action_top + S(16) + S(38);
    l.progress_bar = {m, progress_top, right, progress_top + S(10)};

    const int log_top = progress_top + S(14) + S(10);
    int log_height = height - log_top - S(30) - m;
    if (log_height < S(120)) {
        log_height = S(120);
    }
    l.card_log = {m, log_top, right, log_top + log_height};

    move(g_app.btn_clear, (right - p) - S(88), log_top + S(10), S(88), S(28));
    const int log_y = log_top + p + S(18) + S(10);
    move(g_app.log_edit, m + p, log_y, iw - 2 * p, (l.card_log.bottom - p) - log_y);

    l.status_line = {m, l.card_log.bottom + S(8), right, l.card_log.bottom + S(8) + S(20)};

    place_input(g_app.url_edit, l.input_url, S(9));
    place_input(g_app.key_edit, l.input_key, S(9));
    place_input(g_app.folder_edit, l.input_folder, S(9));
}
