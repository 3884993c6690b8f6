// What a person sees: sampled pixels of the window against the palette at 96 and 144 DPI, hover,
// focus and progress feedback, text that fits its field, and the executable's icon, manifest and
// version resources.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/layout.h"
#include "app/theme.h"
#include "core/text.h"
#include "core/version.h"
#include "window_fixture.h"

namespace app_test {
namespace {

// Sampled pixels against the palette, with the progress at 40 % and the key edit focused.
void check_palette(HWND hwnd) {
    PostMessageW(hwnd, WM_APP_PROGRESS, 2, 5);
    SetForegroundWindow(hwnd);
    SetFocus(g_app.key_edit);
    pump();
    repaint(hwnd);
    const Layout& l = g_layout;
    EXPECT_EQ(pixel(hwnd, S(4), S(4)), COLOR_PAGE) << "page background";
    EXPECT_EQ(pixel(hwnd, l.card_connection.right - S(30), l.card_connection.top + S(6)), COLOR_CARD) << "card";
    EXPECT_EQ(pixel(hwnd, l.header.left + S(20), l.header.bottom + S(5)), COLOR_AMBER) << "accent bar";
    RECT connect;
    GetClientRect(g_app.btn_connect, &connect);
    EXPECT_EQ(pixel(g_app.btn_connect, S(8), connect.bottom / 2), COLOR_ACCENT) << "primary button";
    EXPECT_EQ(pixel(g_app.btn_connect, 0, 0), COLOR_PAGE) << "rounded corner shows the page";
    const RECT bar = l.progress_bar;
    const int y = (bar.top + bar.bottom) / 2;
    EXPECT_EQ(pixel(hwnd, bar.left + (bar.right - bar.left) / 5, y), COLOR_ACCENT) << "progress fill";
    EXPECT_EQ(pixel(hwnd, bar.right - S(20), y), COLOR_LIGHT) << "progress track";
    EXPECT_EQ(pixel(hwnd, (l.input_key.left + l.input_key.right) / 2, l.input_key.top), COLOR_ACCENT) << "focus ring";
    EXPECT_EQ(pixel(hwnd, (l.input_url.left + l.input_url.right) / 2, l.input_url.top), COLOR_BORDER);
    SetFocus(g_app.btn_connect);
    repaint(hwnd);
    EXPECT_EQ(g_app.focused_edit, nullptr);
    EXPECT_EQ(pixel(hwnd, (l.input_key.left + l.input_key.right) / 2, l.input_key.top), COLOR_BORDER);
}

// Rows [top, bottom] of an area holding ink: pixels at least half as far from the colour at its
// top-left as the inkiest one (so text colours and anti-aliasing compare alike).
std::pair<int, int> ink_rows(HDC dc, int left, int top, int right, int bottom) {
    const COLORREF paper = GetPixel(dc, left, top);
    auto distance = [&](COLORREF c) {
        return std::abs(GetRValue(c) - GetRValue(paper)) + std::abs(GetGValue(c) - GetGValue(paper)) +
               std::abs(GetBValue(c) - GetBValue(paper));
    };
    int inkiest = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) inkiest = std::max(inkiest, distance(GetPixel(dc, x, y)));
    int first = -1, last = -1;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            if (inkiest > 0 && distance(GetPixel(dc, x, y)) * 2 >= inkiest) {
                if (first < 0) first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

// Descenders typed into the URL field are drawn whole, inside the field: the ink on the screen is
// as tall as the same text drawn with the same font on a bitmap of ample size.
void expect_url_text_whole(HWND hwnd) {
    const wchar_t* const TEXT = L"gjpqy";
    SetWindowTextW(g_app.url_edit, TEXT);
    repaint(hwnd);

    HDC screen_dc = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen_dc);
    HBITMAP bitmap = CreateCompatibleBitmap(screen_dc, S(200), S(100));
    ReleaseDC(nullptr, screen_dc);
    HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
    RECT all = {0, 0, S(200), S(100)};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ old_font = SelectObject(memory, g_fontUI);
    SetTextColor(memory, RGB(0, 0, 0));
    SetBkMode(memory, TRANSPARENT);
    TextOutW(memory, S(10), S(20), TEXT, 5);
    const auto drawn = ink_rows(memory, 0, 0, S(200), S(100));
    SelectObject(memory, old_font);
    SelectObject(memory, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);

    const RECT frame = g_layout.input_url;
    POINT origin = {frame.left + 2, frame.top + 2};
    ClientToScreen(hwnd, &origin);
    HDC screen = GetDC(nullptr);
    const auto shown = ink_rows(screen, origin.x, origin.y, origin.x + S(80), origin.y + (frame.bottom - frame.top) - 4);
    ReleaseDC(nullptr, screen);
    ASSERT_GE(drawn.first, 0);
    ASSERT_GE(shown.first, 0) << "no text seen in the URL field";
    EXPECT_GE(shown.second - shown.first, drawn.second - drawn.first - 1) << "the text is cut";
}

using Appearance = MainWindowTest;

TEST_F(Appearance, At96And144DpiMatchesThePaletteAndShowsDescendersWhole) {
    for (int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        if (dpi != 96) change_dpi(dpi);
        check_palette(hwnd);
        expect_url_text_whole(hwnd);
    }
}

TEST_F(Appearance, HoverTurnsOnAtTheFirstMoveAndOffWhenTheMouseLeaves) {
    HWND button = g_app.btn_send_all;
    // The pointer really over the button, so the leave tracking does not fire at once.
    RECT r;
    GetWindowRect(button, &r);
    SetCursorPos(r.left + 5, r.top + 5);
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    repaint(hwnd);
    EXPECT_EQ(pixel(button, S(8), S(19)), COLOR_ACCENT_HOVER) << "hover fill";
    SendMessageW(button, WM_MOUSELEAVE, 0, 0);
    repaint(hwnd);
    EXPECT_EQ(pixel(button, S(8), S(19)), COLOR_ACCENT);
}

TEST_F(Appearance, ProgressFillNarrowerThanTheBarIsTallIsNotDrawn) {
    // A 600-pixel bar, 10 pixels high: 2 % fills 12 pixels, 1 % (6 pixels) only shows the track.
    compute_layout(632, 761);
    const RECT bar = g_layout.progress_bar;
    ASSERT_EQ(bar.right - bar.left, 600);
    const int y = (bar.top + bar.bottom) / 2;
    for (const auto& row : {std::make_pair(2, COLOR_ACCENT), {1, COLOR_LIGHT}, {0, COLOR_LIGHT}, {150, COLOR_ACCENT}}) {
        PostMessageW(hwnd, WM_APP_PROGRESS, static_cast<WPARAM>(row.first), 100);
        pump();
        repaint(hwnd);
        EXPECT_EQ(pixel(hwnd, bar.left + 5, y), row.second) << row.first << " %";
    }
    EXPECT_EQ(pixel(hwnd, bar.right - 5, y), COLOR_ACCENT) << "150 % is drawn as a full bar";
}

// The product executable's resources: icon group 101 with seven sizes at 32 bits, the manifest
// (common controls 6 for the owner-drawn look, UTF-8 as the ANSI code page, per-monitor DPI) and
// the project's version and names.
TEST(ProductResources, IconManifestAndVersion) {
    const std::wstring exe = text::to_wide("Z:" + std::string(DORVANE_BIN_DIR) + "/dorvane-client.exe");
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    auto resource = [&](LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module, name, type);
        return found ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                                   SizeofResource(module, found))
                     : std::string();
    };
    const std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON));
    ASSERT_EQ(group.size(), 6u + 14u * 7);
    std::vector<int> sizes;
    for (size_t entry = 6; entry < group.size(); entry += 14) {
        sizes.push_back(group[entry] == 0 ? 256 : static_cast<unsigned char>(group[entry]));
        EXPECT_EQ(group[entry + 6], 32) << "bits per pixel";
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
    const std::string manifest = resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    for (const char* needle : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                               ">UTF-8</activeCodePage>", ">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
    FreeLibrary(module);

    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), nullptr);
    std::vector<char> info(size);
    ASSERT_TRUE(size > 0 && GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    const std::string quad = std::string(version::TEXT) + ".0";
    const std::pair<const wchar_t*, std::string> strings[] = {
        {L"ProductName", "Dorvane"},
        {L"FileDescription", "Dorvane API Client - envio em massa de documentos"},
        {L"FileVersion", quad},
        {L"ProductVersion", quad},
    };
    for (const auto& row : strings) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041604B0\\") + row.first;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value);
        EXPECT_EQ(text::to_utf8(value), row.second);
    }
}

}  // namespace
}  // namespace app_test
