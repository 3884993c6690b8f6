// compute_layout on the real controls: the 96-DPI worked example, the same window at 144 DPI
// (every constant rounded on its own), and a client too short for the log card.
#include <cstdlib>
#include <vector>

#include "app/layout.h"
#include "window_fixture.h"

namespace app_test {
namespace {

struct LayoutCase {
    const char* name;
    int dpi, width, height;
    // The ten drawn rectangles of Layout (left, top, right, bottom), then the controls (x, y,
    // width, height): the eight buttons, the two lists, the check box, the log and the three edits.
    int boxes[25][4];
};

const LayoutCase CASES[] = {
    {"96 DPI worked example", 96, 964, 761, {
     {16, 14, 948, 58}, {16, 70, 948, 162}, {16, 176, 429, 390}, {443, 176, 948, 390}, {16, 482, 948, 715},
     {74, 114, 502, 146}, {590, 114, 800, 146}, {507, 218, 714, 250}, {16, 458, 948, 468}, {16, 723, 948, 743},
     {812, 113, 122, 34}, {726, 217, 84, 34}, {818, 217, 116, 34}, {454, 404, 146, 38}, {610, 404, 178, 38},
     {798, 404, 150, 38}, {340, 404, 104, 38}, {846, 492, 88, 28}, {30, 218, 385, 158}, {457, 262, 477, 114},
     {18, 414, 260, 20}, {30, 524, 904, 177}, {83, 124, 410, 12}, {599, 124, 192, 12}, {516, 228, 189, 12}}},
    {"144 DPI, each constant scaled and rounded alone", 144, 1446, 1142, {
     {24, 21, 1422, 87}, {24, 105, 1422, 243}, {24, 264, 643, 585}, {664, 264, 1422, 585}, {24, 723, 1422, 1073},
     {111, 171, 753, 219}, {885, 171, 1200, 219}, {760, 327, 1071, 375}, {24, 687, 1422, 702},
     {24, 1085, 1422, 1115},
     {1218, 169, 183, 51}, {1089, 325, 126, 51}, {1227, 325, 174, 51}, {681, 606, 219, 57}, {915, 606, 267, 57},
     {1197, 606, 225, 57}, {510, 606, 156, 57}, {1269, 738, 132, 42}, {45, 327, 577, 237}, {685, 393, 716, 171},
     {27, 621, 390, 30}, {45, 786, 1356, 266}, {125, 187, 614, 17}, {899, 187, 287, 17}, {774, 343, 283, 17}}},
    {"120 DPI, too short: the log card keeps S(120)", 120, 964, 300, {
     {20, 18, 944, 73}, {20, 88, 944, 205}, {20, 223, 427, 491}, {445, 223, 944, 491}, {20, 608, 944, 758},
     {93, 144, 384, 184}, {495, 144, 758, 184}, {526, 277, 651, 317}, {20, 577, 944, 590}, {20, 768, 944, 793},
     {773, 143, 153, 43}, {666, 276, 105, 43}, {781, 276, 145, 43}, {324, 509, 183, 48}, {520, 509, 223, 48},
     {756, 509, 188, 48}, {181, 509, 130, 48}, {816, 621, 110, 35}, {38, 277, 371, 196}, {463, 332, 463, 141},
     {23, 522, 325, 25}, {38, 662, 888, 78}, {104, 156, 269, 15}, {506, 156, 241, 15}, {537, 289, 103, 15}}},
};

using LayoutTest = MainWindowTest;

TEST_F(LayoutTest, MatchesTheWorkedExamplesAtEachDpi) {
    for (const LayoutCase& c : CASES) {
        SCOPED_TRACE(c.name);
        g_dpi = c.dpi;
        compute_layout(c.width, c.height);
        const ::Layout& l = g_layout;
        std::vector<RECT> actual = {l.header,    l.card_connection, l.card_operation, l.card_files,   l.card_log,
                                    l.input_url, l.input_key,       l.input_folder,   l.progress_bar, l.status_line};
        for (HWND control : {g_app.btn_connect, g_app.btn_scan, g_app.btn_browse, g_app.btn_convert,
                             g_app.btn_send_selected, g_app.btn_send_all, g_app.btn_cancel, g_app.btn_clear,
                             g_app.ops_list, g_app.files_list, g_app.chk_sync, g_app.log_edit, g_app.url_edit,
                             g_app.key_edit, g_app.folder_edit}) {
            const RECT r = child_rect(control);
            actual.push_back({r.left, r.top, r.right - r.left, r.bottom - r.top});
        }
        for (size_t i = 0; i < 25; ++i) {
            SCOPED_TRACE(i);
            const int* e = c.boxes[i];
            const RECT& r = actual[i];
            // An edit is one line of its font tall (the pixel tests look at that), centred in its
            // frame: only its left and width are the table's.
            const bool edit = i >= 22;
            EXPECT_TRUE(r.left == e[0] && (edit || r.top == e[1]) && r.right == e[2] && (edit || r.bottom == e[3]))
                << r.left << " " << r.top << " " << r.right << " " << r.bottom;
            const RECT& frame = actual[edit ? i - 17 : 0];
            EXPECT_TRUE(!edit || std::abs(2 * r.top + r.bottom - frame.top - frame.bottom) <= 1) << "not centred";
        }
    }
}

TEST_F(LayoutTest, SizeAndDpiChangesLayTheWindowOutAgain) {
    SetWindowPos(hwnd, nullptr, 0, 0, 1200, 900, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    pump();
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(g_layout.card_log.bottom, client.bottom - 16 - 30);
    EXPECT_EQ(child_rect(g_app.btn_send_all).right, client.right - 16);

    change_dpi(144);
    EXPECT_EQ(g_dpi, 144);
    RECT window;
    GetWindowRect(hwnd, &window);
    EXPECT_EQ(window.right - window.left, 1470);
    EXPECT_EQ(window.bottom - window.top, 1200);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(g_layout.header.right, client.right - 24);
    EXPECT_EQ(g_layout.header.bottom, 87);
    EXPECT_EQ(SendMessageW(g_app.ops_list, LB_GETITEMHEIGHT, 0, 0), 69);
    EXPECT_EQ(SendMessageW(g_app.files_list, LB_GETITEMHEIGHT, 0, 0), 42);
    MINMAXINFO info = {};
    SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 1410);
    EXPECT_EQ(info.ptMinTrackSize.y, 1050);

    // A first window at 144 DPI is one and a half times as large.
    DestroyWindow(hwnd);
    pump();
    open_window();
    GetWindowRect(hwnd, &window);
    EXPECT_EQ(window.right - window.left, 1470);
    EXPECT_EQ(window.bottom - window.top, 1200);
}

}  // namespace
}  // namespace app_test
