// compute_layout on the real controls: the 96-DPI worked example, the same window at 144 DPI
// (every constant rounded on its own), and a client too short for the log card.
#include <algorithm>
#include <cstdlib>

#include "app/layout.h"
#include "window_fixture.h"

namespace app_test {
namespace {

struct Box {
    int a, b, c, d;  // a drawn rectangle: left, top, right, bottom; a control: x, y, width, height
};

struct LayoutCase {
    const char* name;
    int dpi;
    int width;
    int height;
    // Drawn rectangles, in Layout order.
    Box header, card_connection, card_operation, card_files, card_log, input_url, input_key, input_folder,
        progress_bar, status_line;
    // Controls.
    Box connect, scan, browse, convert, send_selected, send_all, cancel, clear, ops, files, sync, log, url, key,
        folder;
};

const LayoutCase CASES[] = {
    {"96 DPI worked example", 96, 964, 761,
     {16, 14, 948, 58}, {16, 70, 948, 162}, {16, 176, 429, 390}, {443, 176, 948, 390}, {16, 482, 948, 715},
     {74, 114, 502, 146}, {590, 114, 800, 146}, {507, 218, 714, 250}, {16, 458, 948, 468}, {16, 723, 948, 743},
     {812, 113, 122, 34}, {726, 217, 84, 34}, {818, 217, 116, 34}, {454, 404, 146, 38}, {610, 404, 178, 38},
     {798, 404, 150, 38}, {340, 404, 104, 38}, {846, 492, 88, 28}, {30, 218, 385, 158}, {457, 262, 477, 114},
     {18, 414, 260, 20}, {30, 524, 904, 177}, {83, 124, 410, 12}, {599, 124, 192, 12}, {516, 228, 189, 12}},
    {"144 DPI, each constant scaled and rounded alone", 144, 1446, 1142,
     {24, 21, 1422, 87}, {24, 105, 1422, 243}, {24, 264, 643, 585}, {664, 264, 1422, 585}, {24, 723, 1422, 1073},
     {111, 171, 753, 219}, {885, 171, 1200, 219}, {760, 327, 1071, 375}, {24, 687, 1422, 702},
     {24, 1085, 1422, 1115},
     {1218, 169, 183, 51}, {1089, 325, 126, 51}, {1227, 325, 174, 51}, {681, 606, 219, 57}, {915, 606, 267, 57},
     {1197, 606, 225, 57}, {510, 606, 156, 57}, {1269, 738, 132, 42}, {45, 327, 577, 237}, {685, 393, 716, 171},
     {27, 621, 390, 30}, {45, 786, 1356, 266}, {125, 187, 614, 17}, {899, 187, 287, 17}, {774, 343, 283, 17}},
    {"120 DPI, too short: the log card keeps S(120)", 120, 964, 300,
     {20, 18, 944, 73}, {20, 88, 944, 205}, {20, 223, 427, 491}, {445, 223, 944, 491}, {20, 608, 944, 758},
     {93, 144, 384, 184}, {495, 144, 758, 184}, {526, 277, 651, 317}, {20, 577, 944, 590}, {20, 768, 944, 793},
     {773, 143, 153, 43}, {666, 276, 105, 43}, {781, 276, 145, 43}, {324, 509, 183, 48}, {520, 509, 223, 48},
     {756, 509, 188, 48}, {181, 509, 130, 48}, {816, 621, 110, 35}, {38, 277, 371, 196}, {463, 332, 463, 141},
     {23, 522, 325, 25}, {38, 662, 888, 78}, {104, 156, 269, 15}, {506, 156, 241, 15}, {537, 289, 103, 15}},
};

void expect_rect(const char* what, const RECT& actual, const Box& expected) {
    SCOPED_TRACE(what);
    EXPECT_EQ(actual.left, expected.a);
    EXPECT_EQ(actual.top, expected.b);
    EXPECT_EQ(actual.right, expected.c);
    EXPECT_EQ(actual.bottom, expected.d);
}

void expect_control(const char* what, HWND control, const Box& expected) {
    SCOPED_TRACE(what);
    RECT r = child_rect(control);
    EXPECT_EQ(r.left, expected.a);
    EXPECT_EQ(r.top, expected.b);
    EXPECT_EQ(r.right - r.left, expected.c);
    EXPECT_EQ(r.bottom - r.top, expected.d);
}

// An edit keeps the table's left and width; vertically it holds one whole line of its font (or
// all the frame's inside, when that is smaller), centred in its frame.
void expect_edit(const char* what, HWND edit, const RECT& frame, const Box& expected) {
    SCOPED_TRACE(what);
    const RECT r = child_rect(edit);
    EXPECT_EQ(r.left, expected.a);
    EXPECT_EQ(r.right - r.left, expected.c);
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    const int inside = (frame.bottom - frame.top) - 2;
    EXPECT_EQ(r.bottom - r.top, std::min<int>(metrics.tmHeight, inside));
    EXPECT_LE(std::abs((r.top - frame.top) - (frame.bottom - r.bottom)), 1);
}

using LayoutTest = MainWindowTest;

TEST_F(LayoutTest, MatchesTheWorkedExamplesAtEachDpi) {
    for (const LayoutCase& c : CASES) {
        SCOPED_TRACE(c.name);
        g_dpi = c.dpi;
        compute_layout(c.width, c.height);
        const ::Layout& l = g_layout;
        expect_rect("header", l.header, c.header);
        expect_rect("card_connection", l.card_connection, c.card_connection);
        expect_rect("card_operation", l.card_operation, c.card_operation);
        expect_rect("card_files", l.card_files, c.card_files);
        expect_rect("card_log", l.card_log, c.card_log);
        expect_rect("input_url", l.input_url, c.input_url);
        expect_rect("input_key", l.input_key, c.input_key);
        expect_rect("input_folder", l.input_folder, c.input_folder);
        expect_rect("progress_bar", l.progress_bar, c.progress_bar);
        expect_rect("status_line", l.status_line, c.status_line);
        expect_control("Conectar", g_app.btn_connect, c.connect);
        expect_control("Buscar", g_app.btn_scan, c.scan);
        expect_control("Selecionar...", g_app.btn_browse, c.browse);
        expect_control("Converter TIFFs", g_app.btn_convert, c.convert);
        expect_control("Enviar selecionados", g_app.btn_send_selected, c.send_selected);
        expect_control("Enviar todos", g_app.btn_send_all, c.send_all);
        expect_control("Cancelar", g_app.btn_cancel, c.cancel);
        expect_control("Limpar", g_app.btn_clear, c.clear);
        expect_control("operations", g_app.ops_list, c.ops);
        expect_control("files", g_app.files_list, c.files);
        expect_control("sync", g_app.chk_sync, c.sync);
        expect_control("log", g_app.log_edit, c.log);
        expect_edit("url edit", g_app.url_edit, l.input_url, c.url);
        expect_edit("key edit", g_app.key_edit, l.input_key, c.key);
        expect_edit("folder edit", g_app.folder_edit, l.input_folder, c.folder);
    }
}

TEST_F(LayoutTest, ResizingTheWindowLaysItOutAgain) {
    SetWindowPos(hwnd, nullptr, 0, 0, 1200, 900, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    pump();
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(g_layout.header.right, client.right - 16);
    EXPECT_EQ(g_layout.card_log.bottom, client.bottom - 16 - 30);
    EXPECT_EQ(child_rect(g_app.btn_send_all).right, client.right - 16);
}

TEST_F(LayoutTest, DpiChangeRebuildsFontsAndTakesTheSuggestedRectangle) {
    RECT before;
    GetWindowRect(hwnd, &before);
    RECT suggested = {before.left, before.top, before.left + 1470, before.top + 1200};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    pump();
    EXPECT_EQ(g_dpi, 144);
    RECT after;
    GetWindowRect(hwnd, &after);
    EXPECT_EQ(after.right - after.left, 1470);
    EXPECT_EQ(after.bottom - after.top, 1200);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(g_layout.header.left, 24);
    EXPECT_EQ(g_layout.header.top, 21);
    EXPECT_EQ(g_layout.header.right, client.right - 24);
    EXPECT_EQ(g_layout.header.bottom, 87);
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETITEMHEIGHT, 0, 0), 69);
    EXPECT_EQ(SendMessageW(g_app.files_list, LB_GETITEMHEIGHT, 0, 0), 42);
    MINMAXINFO info = {};
    SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 1410);
    EXPECT_EQ(info.ptMinTrackSize.y, 1050);
}

TEST_F(LayoutTest, FirstWindowAt144DpiIsScaledByOneAndAHalf) {
    DestroyWindow(hwnd);
    pump();
    g_dpi = 144;
    open_window();
    RECT r;
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, 1470);
    EXPECT_EQ(r.bottom - r.top, 1200);
}

}  // namespace
}  // namespace app_test
