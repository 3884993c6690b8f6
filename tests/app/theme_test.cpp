// The owner-drawn look: the button colour table, hover tracking, the progress bar's threshold and
// the focus ring of the drawn input frames.
#include "app/layout.h"
#include "app/theme.h"
#include "window_fixture.h"

namespace app_test {
namespace {

struct ButtonRow {
    const char* name;
    BtnKind kind;
    bool disabled, pressed, hover;
    COLORREF fill, border, text;
};

const ButtonRow BUTTON_ROWS[] = {
    {"primary", BtnKind::Primary, false, false, false, 0x723E17, 0x723E17, 0xFFFFFF},
    {"primary hover", BtnKind::Primary, false, false, true, 0x94521F, 0x94521F, 0xFFFFFF},
    {"primary pressed", BtnKind::Primary, false, true, false, 0x562E11, 0x562E11, 0xFFFFFF},
    {"primary pressed hover", BtnKind::Primary, false, true, true, 0x562E11, 0x562E11, 0xFFFFFF},
    {"primary disabled", BtnKind::Primary, true, false, true, 0xF5ECE7, 0xECE3DE, 0xBAAFA8},
    {"secondary", BtnKind::Secondary, false, false, false, 0xFFFFFF, 0xECE3DE, 0x723E17},
    {"secondary pressed", BtnKind::Secondary, false, true, false, 0xF5ECE7, 0xECE3DE, 0x723E17},
    {"secondary hover", BtnKind::Secondary, false, false, true, 0xF5ECE7, 0x723E17, 0x723E17},
    {"secondary pressed hover", BtnKind::Secondary, false, true, true, 0xF5ECE7, 0x723E17, 0x723E17},
    {"secondary disabled", BtnKind::Secondary, true, true, true, 0xFFFFFF, 0xECE3DE, 0xBAAFA8},
    {"accent", BtnKind::Accent, false, false, true, 0x00C5FD, 0x00C5FD, 0x292521},
    {"accent pressed", BtnKind::Accent, false, true, false, 0x00AEE0, 0x00AEE0, 0x292521},
    {"accent disabled", BtnKind::Accent, true, false, false, 0xFFFFFF, 0xECE3DE, 0xBAAFA8},
    {"danger", BtnKind::Danger, false, false, false, 0xFFFFFF, 0xECE3DE, 0x3B3BC5},
    {"danger hover", BtnKind::Danger, false, false, true, 0xFFFFFF, 0x3B3BC5, 0x3B3BC5},
    {"danger pressed", BtnKind::Danger, false, true, false, 0xF5ECE7, 0xECE3DE, 0x3B3BC5},
    {"danger pressed hover", BtnKind::Danger, false, true, true, 0xF5ECE7, 0x3B3BC5, 0x3B3BC5},
    {"danger disabled hover", BtnKind::Danger, true, false, true, 0xFFFFFF, 0xECE3DE, 0xBAAFA8},
};

TEST(Theme, ButtonColoursFollowTheTable) {
    for (const ButtonRow& row : BUTTON_ROWS) {
        SCOPED_TRACE(row.name);
        ButtonColours c = button_colours(row.kind, row.disabled, row.pressed, row.hover);
        EXPECT_EQ(c.fill, row.fill);
        EXPECT_EQ(c.border, row.border);
        EXPECT_EQ(c.text, row.text);
    }
}

using ThemeWindow = MainWindowTest;

TEST_F(ThemeWindow, HoverTurnsOnAtTheFirstMoveAndOffWhenTheMouseLeaves) {
    HWND button = g_app.btn_send_all;
    const auto* state = reinterpret_cast<const ButtonState*>(GetWindowLongPtrW(button, GWLP_USERDATA));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->kind, BtnKind::Primary);
    EXPECT_FALSE(state->hover);
    // The pointer really over the button, so the leave tracking does not fire at once.
    RECT r;
    GetWindowRect(button, &r);
    SetCursorPos(r.left + 5, r.top + 5);
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(state->hover);
    repaint(hwnd);
    EXPECT_EQ(pixel(button, S(8), S(19)), static_cast<COLORREF>(0x94521F)) << "hover fill";
    SendMessageW(button, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(state->hover);
    repaint(hwnd);
    EXPECT_EQ(pixel(button, S(8), S(19)), COLOR_ACCENT);
}

TEST_F(ThemeWindow, ButtonKindsAreThoseOfTheirCommands) {
    struct {
        HWND button;
        BtnKind kind;
    } rows[] = {{g_app.btn_connect, BtnKind::Primary},     {g_app.btn_scan, BtnKind::Secondary},
                {g_app.btn_browse, BtnKind::Secondary},    {g_app.btn_convert, BtnKind::Secondary},
                {g_app.btn_send_selected, BtnKind::Secondary}, {g_app.btn_send_all, BtnKind::Primary},
                {g_app.btn_cancel, BtnKind::Danger},       {g_app.btn_clear, BtnKind::Secondary}};
    for (const auto& row : rows) {
        SCOPED_TRACE(GetDlgCtrlID(row.button));
        const auto* state = reinterpret_cast<const ButtonState*>(GetWindowLongPtrW(row.button, GWLP_USERDATA));
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->kind, row.kind);
    }
}

TEST_F(ThemeWindow, ProgressFillNarrowerThanTheBarIsTallIsNotDrawn) {
    // A 600-pixel bar, 10 pixels high: 2 % fills 12 pixels, 1 % (6 pixels) only shows the track.
    compute_layout(632, 761);
    const RECT bar = g_layout.progress_bar;
    ASSERT_EQ(bar.right - bar.left, 600);
    const int y = (bar.top + bar.bottom) / 2;
    struct {
        int percent;
        COLORREF at_left;
    } rows[] = {{2, COLOR_ACCENT}, {1, COLOR_LIGHT}, {0, COLOR_LIGHT}, {150, COLOR_ACCENT}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.percent);
        PostMessageW(hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(row.percent), 100);
        pump();
        repaint(hwnd);
        EXPECT_EQ(pixel(hwnd, bar.left + 5, y), row.at_left);
    }
    EXPECT_EQ(pixel(hwnd, bar.right - 5, y), COLOR_ACCENT) << "150 % is drawn as a full bar";
}

TEST_F(ThemeWindow, FocusedEditGetsTheAccentFrame) {
    SetForegroundWindow(hwnd);
    SetFocus(g_app.key_edit);
    pump();
    EXPECT_EQ(g_app.focused_edit, g_app.key_edit);
    repaint(hwnd);
    const RECT key = g_layout.input_key;
    const RECT url = g_layout.input_url;
    const int middle_x = (key.left + key.right) / 2;
    EXPECT_EQ(pixel(hwnd, middle_x, key.top), COLOR_ACCENT);
    EXPECT_EQ(pixel(hwnd, (url.left + url.right) / 2, url.top), COLOR_BORDER);

    SetFocus(g_app.btn_connect);
    pump();
    EXPECT_EQ(g_app.focused_edit, nullptr);
    repaint(hwnd);
    EXPECT_EQ(pixel(hwnd, middle_x, key.top), COLOR_BORDER);
}

}  // namespace
}  // namespace app_test
