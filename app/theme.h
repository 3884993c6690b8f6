// The window's fixed look: palette, the six fonts, the two drawing primitives, card titles and the
// owner-drawn push buttons with hover feedback. No theme engine, no configuration.
#pragma once

#include <windows.h>

#include <string>

// Palette, COLORREF (0x00BBGGRR).
constexpr COLORREF COLOR_PAGE = 0xFBF6F3;
constexpr COLORREF COLOR_CARD = 0xFFFFFF;
constexpr COLORREF COLOR_BORDER = 0xECE3DE;
constexpr COLORREF COLOR_ACCENT = 0x723E17;
constexpr COLORREF COLOR_ACCENT_HOVER = 0x94521F;
constexpr COLORREF COLOR_ACCENT_PRESSED = 0x562E11;
constexpr COLORREF COLOR_TEXT = 0x292521;
constexpr COLORREF COLOR_MUTED = 0x80726B;
constexpr COLORREF COLOR_LIGHT = 0xF5ECE7;
constexpr COLORREF COLOR_DISABLED_TEXT = 0xBAAFA8;
constexpr COLORREF COLOR_AMBER = 0x00C5FD;
constexpr COLORREF COLOR_AMBER_PRESSED = 0x00AEE0;
constexpr COLORREF COLOR_DANGER = 0x3B3BC5;
// As a border colour: draw no outline.
constexpr COLORREF COLOR_NONE = 0xFFFFFFFF;

extern HFONT g_fontUI;
extern HFONT g_fontBold;
extern HFONT g_fontTitle;
extern HFONT g_fontSection;
extern HFONT g_fontSmall;
extern HFONT g_fontMono;

// The six fonts for the current g_dpi.
void create_fonts();
// Hands the fonts to the controls of g_app and sets the two lists' item heights.
void apply_fonts();
// Deletes every font that is set and resets it to null.
void destroy_fonts();

namespace theme {

// A rectangle (radius < 1) or rounded rectangle filled with `fill`, outlined with `border` unless
// it is COLOR_NONE. Creates and deletes its own brush and pen.
void fill_round_rect(HDC hdc, const RECT& r, int radius, COLORREF fill, COLORREF border);

// UTF-8 text with DrawTextW on a transparent background; the DC's font, colour and background
// mode are restored afterwards.
void draw_text(HDC hdc, const std::string& utf8, RECT r, HFONT font, COLORREF colour, UINT flags);

}  // namespace theme

// A card's title band; the subtitle (when not empty) is drawn right-aligned in the same band.
void draw_section_title(HDC hdc, const RECT& card, const std::string& title, const std::string& subtitle);

enum class BtnKind : int { Primary = 0, Secondary = 1, Accent = 2, Danger = 3 };

// Attached to every button made by make_button (GWLP_USERDATA and subclass data); owned by the
// button and deleted with it.
struct ButtonState {
    BtnKind kind = BtnKind::Primary;
    bool hover = false;
};

// An owner-drawn, tab-stop push button with hover tracking.
HWND make_button(HWND parent, const std::string& text, int id, BtnKind kind);

LRESULT CALLBACK button_proc(HWND button, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                             DWORD_PTR data);

// Fill, border and text colours of a button in one state.
struct ButtonColours {
    COLORREF fill;
    COLORREF border;
    COLORREF text;
};
ButtonColours button_colours(BtnKind kind, bool disabled, bool pressed, bool hover);

// WM_DRAWITEM for an ODT_BUTTON made by make_button.
void paint_button(const DRAWITEMSTRUCT& item);
