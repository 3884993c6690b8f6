#include "app/theme.h"

#include <commctrl.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "core/text.h"

HFONT g_fontUI = nullptr;
HFONT g_fontBold = nullptr;
HFONT g_fontTitle = nullptr;
HFONT g_fontSection = nullptr;
HFONT g_fontSmall = nullptr;
HFONT g_fontMono = nullptr;

namespace {

HFONT make_font(const wchar_t* face, int size, int weight) {
    return CreateFontW(-S(size), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FF_SWISS | DEFAULT_PITCH, face);
}

void set_font(HWND control, HFONT font) {
    if (control) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void delete_font(HFONT& font) {
    if (font) {
        DeleteObject(font);
        font = nullptr;
    }
}

}  // namespace

void create_fonts() {
    g_fontUI = make_font(L"Segoe UI", 14, 400);
    g_fontBold = make_font(L"Segoe UI", 14, 600);
    g_fontTitle = make_font(L"Segoe UI", 19, 600);
    g_fontSection = make_font(L"Segoe UI", 14, 600);
    g_fontSmall = make_font(L"Segoe UI", 12, 400);
    g_fontMono = make_font(L"Consolas", 13, 400);
}

void apply_fonts() {
    for (const ChildControl& c : CHILD_CONTROLS) {
        if (c.font) {
            set_font(g_app.*c.field, *c.font);
        }
    }
    if (g_app.ops_list) {
        SendMessageW(g_app.ops_list, LB_SETITEMHEIGHT, 0, S(46));
    }
    if (g_app.files_list) {
        SendMessageW(g_app.files_list, LB_SETITEMHEIGHT, 0, S(28));
    }
}

void destroy_fonts() {
    delete_font(g_fontUI);
    delete_font(g_fontBold);
    delete_font(g_fontTitle);
    delete_font(g_fontSection);
    delete_font(g_fontSmall);
    delete_font(g_fontMono);
}

namespace theme {

void fill_round_rect(HDC hdc, const RECT& r, int radius, COLORREF fill, COLORREF border) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = border != COLOR_NONE ? CreatePen(PS_SOLID, 1, border) : nullptr;
    HGDIOBJ old_brush = SelectObject(hdc, brush);
    HGDIOBJ old_pen = SelectObject(hdc, pen ? static_cast<HGDIOBJ>(pen) : GetStockObject(NULL_PEN));
    if (radius < 1) {
        Rectangle(hdc, r.left, r.top, r.right, r.bottom);
    } else {
        RoundRect(hdc, r.left, r.top, r.right, r.bottom, 2 * radius, 2 * radius);
    }
    SelectObject(hdc, old_brush);
    SelectObject(hdc, old_pen);
    DeleteObject(brush);
    if (pen) {
        DeleteObject(pen);
    }
}

void draw_text(HDC hdc, const std::string& utf8, RECT r, HFONT font, COLORREF colour, UINT flags) {
    std::wstring wide = text::to_wide(utf8);
    HGDIOBJ old_font = SelectObject(hdc, font);
    int old_mode = SetBkMode(hdc, TRANSPARENT);
    COLORREF old_colour = SetTextColor(hdc, colour);
    DrawTextW(hdc, wide.c_str(), static_cast<int>(wide.size()), &r, flags);
    SetTextColor(hdc, old_colour);
    SetBkMode(hdc, old_mode);
    SelectObject(hdc, old_font);
}

}  // namespace theme

void draw_section_title(HDC hdc, const RECT& card, const std::string& title, const std::string& subtitle) {
    RECT band = {card.left + S(14), card.top + S(12), card.right - S(14), card.top + S(32)};
    theme::draw_text(hdc, title, band, g_fontSection, COLOR_TEXT, DT_SINGLELINE | DT_VCENTER);
    if (!subtitle.empty()) {
        theme::draw_text(hdc, subtitle, band, g_fontSmall, COLOR_MUTED, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
}

HWND make_button(HWND parent, const std::string& text, int id, BtnKind kind) {
    HWND button = CreateWindowExW(0, L"BUTTON", text::to_wide(text).c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 10, 10, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (!button) {
        return nullptr;
    }
    auto* state = new ButtonState{kind, false};
    SetWindowLongPtrW(button, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    if (!SetWindowSubclass(button, button_proc, static_cast<UINT_PTR>(id), reinterpret_cast<DWORD_PTR>(state))) {
        SetWindowLongPtrW(button, GWLP_USERDATA, 0);
        delete state;
    }
    return button;
}

LRESULT CALLBACK button_proc(HWND button, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                             DWORD_PTR data) {
    auto* state = reinterpret_cast<ButtonState*>(data);
    switch (message) {
    case WM_MOUSEMOVE:
        if (!state->hover) {
            state->hover = true;
            TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, button, 0};
            TrackMouseEvent(&track);
            InvalidateRect(button, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        state->hover = false;
        InvalidateRect(button, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(button, button_proc, id);
        SetWindowLongPtrW(button, GWLP_USERDATA, 0);
        delete state;
        break;
    default:
        break;
    }
    return DefSubclassProc(button, message, wparam, lparam);
}

ButtonColours button_colours(BtnKind kind, bool disabled, bool pressed, bool hover) {
    switch (kind) {
    case BtnKind::Primary:
        if (disabled) return {COLOR_LIGHT, COLOR_BORDER, COLOR_DISABLED_TEXT};
        if (pressed) return {COLOR_ACCENT_PRESSED, COLOR_ACCENT_PRESSED, COLOR_CARD};
        if (hover) return {COLOR_ACCENT_HOVER, COLOR_ACCENT_HOVER, COLOR_CARD};
        return {COLOR_ACCENT, COLOR_ACCENT, COLOR_CARD};
    case BtnKind::Secondary:
        if (disabled) return {COLOR_CARD, COLOR_BORDER, COLOR_DISABLED_TEXT};
        if (hover) return {COLOR_LIGHT, COLOR_ACCENT, COLOR_ACCENT};
        if (pressed) return {COLOR_LIGHT, COLOR_BORDER, COLOR_ACCENT};
        return {COLOR_CARD, COLOR_BORDER, COLOR_ACCENT};
    case BtnKind::Accent:
        if (disabled) return {COLOR_CARD, COLOR_BORDER, COLOR_DISABLED_TEXT};
        if (pressed) return {COLOR_AMBER_PRESSED, COLOR_AMBER_PRESSED, COLOR_TEXT};
        return {COLOR_AMBER, COLOR_AMBER, COLOR_TEXT};
    case BtnKind::Danger:
        if (disabled) return {COLOR_CARD, COLOR_BORDER, COLOR_DISABLED_TEXT};
        return {pressed ? COLOR_LIGHT : COLOR_CARD, hover ? COLOR_DANGER : COLOR_BORDER, COLOR_DANGER};
    }
    return {COLOR_CARD, COLOR_BORDER, COLOR_TEXT};
}

void paint_button(const DRAWITEMSTRUCT& item) {
    const auto* state = reinterpret_cast<const ButtonState*>(GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA));
    BtnKind kind = state ? state->kind : BtnKind::Secondary;
    bool hover = state && state->hover;
    RECT r = item.rcItem;

    HBRUSH page = CreateSolidBrush(COLOR_PAGE);
    FillRect(item.hDC, &r, page);
    DeleteObject(page);

    ButtonColours colours = button_colours(kind, (item.itemState & ODS_DISABLED) != 0,
                                           (item.itemState & ODS_SELECTED) != 0, hover);
    theme::fill_round_rect(item.hDC, r, S(10) - S(2), colours.fill, colours.border);

    wchar_t buffer[128] = {};
    GetWindowTextW(item.hwndItem, buffer, 128);
    theme::draw_text(item.hDC, text::to_utf8(buffer), r, g_fontBold, colours.text,
                     DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
