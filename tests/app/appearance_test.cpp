// What a person sees: screenshots of the window at 96 and 144 DPI (saved for review), a few
// sampled pixels against the palette, and the executable's icon, manifest and version resources.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "app/layout.h"
#include "app/theme.h"
#include "core/text.h"
#include "core/version.h"
#include "window_fixture.h"

namespace app_test {
namespace {

// Unix paths from the build; Wine reaches them through drive Z:.
std::string wine_path(const std::string& unix_path) {
    return "Z:" + unix_path;
}

// ImageMagick's import, a Linux program that Wine starts directly, grabs the X screen.
bool save_screenshot(const std::string& name) {
    const std::string target = std::string(SCREENSHOT_DIR) + "/" + name;
    DeleteFileW(text::to_wide(wine_path(target)).c_str());
    std::wstring command = text::to_wide("/usr/bin/import -window root " + target);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\usr\\bin\\import", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // import's exit code does not survive the trip through Wine; the file tells.
    WIN32_FILE_ATTRIBUTE_DATA data;
    for (int i = 0; i < 100; ++i) {
        if (GetFileAttributesExW(text::to_wide(wine_path(target)).c_str(), GetFileExInfoStandard, &data) &&
            data.nFileSizeLow > 0) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

void show_sample_state() {
    set_operations({{"ocr", "OCR de documentos", "", "", 2}, {"resumo", "Resumo de contratos", "", "", 1}});
    set_files({"C:\\docs\\contrato.pdf", "C:\\docs\\digitalizado.tif"});
    PostMessageW(g_app.hwnd, WM_APP_OPS_LOADED, 0, 0);
    PostMessageW(g_app.hwnd, WM_APP_FILES_CHANGED, 0, 0);
    PostMessageW(g_app.hwnd, WM_APP_PROGRESS, 2, 5);
    ui_post(WM_APP_STATUS, "Enviando 3/5: contrato.pdf");
    log_line("[OK] 2 operação(ões) disponível(is).");
    pump();
}

void check_palette(HWND hwnd) {
    repaint(hwnd);
    const Layout& l = g_layout;
    EXPECT_EQ(pixel(hwnd, S(4), S(4)), COLOR_PAGE) << "page background";
    EXPECT_EQ(pixel(hwnd, l.card_connection.right - S(30), l.card_connection.top + S(6)), COLOR_CARD) << "card";
    EXPECT_EQ(pixel(hwnd, l.header.left + S(20), l.header.bottom + S(5)), COLOR_AMBER) << "accent bar";
    RECT connect;
    GetClientRect(g_app.btn_connect, &connect);
    EXPECT_EQ(pixel(g_app.btn_connect, S(8), connect.bottom / 2), COLOR_ACCENT) << "primary button";
    EXPECT_EQ(pixel(g_app.btn_connect, 0, 0), COLOR_PAGE) << "rounded corner shows the page";
    RECT bar = l.progress_bar;
    EXPECT_EQ(pixel(hwnd, bar.left + (bar.right - bar.left) / 5, (bar.top + bar.bottom) / 2), COLOR_ACCENT)
        << "progress fill (40 %)";
    EXPECT_EQ(pixel(hwnd, bar.right - S(20), (bar.top + bar.bottom) / 2), COLOR_LIGHT) << "progress track";
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

TEST_F(Appearance, UrlFieldShowsDescendersWholeAt96And144Dpi) {
    {
        SCOPED_TRACE("96 DPI");
        expect_url_text_whole(hwnd);
    }
    RECT suggested = {0, 0, 1470, 1200};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    pump();
    SCOPED_TRACE("144 DPI");
    expect_url_text_whole(hwnd);
}

TEST_F(Appearance, At96And144DpiMatchesThePaletteAndIsSaved) {
    show_sample_state();
    {
        SCOPED_TRACE("96 DPI");
        check_palette(hwnd);
        EXPECT_TRUE(save_screenshot("app-96dpi.png")) << SCREENSHOT_DIR;
    }
    RECT suggested = {0, 0, 1470, 1200};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    show_sample_state();
    SCOPED_TRACE("144 DPI");
    check_palette(hwnd);
    EXPECT_TRUE(save_screenshot("app-144dpi.png")) << SCREENSHOT_DIR;
}

TEST_F(Appearance, TheWindowUsesIconResource101) {
    EXPECT_NE(g_iconLarge, nullptr);
    EXPECT_NE(g_iconSmall, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(g_iconSmall, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
}

class ProductResources : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExW(text::to_wide(exe_path()).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << exe_path();
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    static std::string exe_path() { return wine_path(std::string(DORVANE_BIN_DIR) + "/dorvane-client.exe"); }

    std::string resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module, name, type);
        if (!found) return std::string();
        HGLOBAL loaded = LoadResource(module, found);
        const char* data = static_cast<const char*>(LockResource(loaded));
        return std::string(data, SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

TEST_F(ProductResources, IconGroup101HoldsSevenSizesAt32Bits) {
    std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(101));
    ASSERT_GE(group.size(), 6u);
    uint16_t count;
    std::memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(count, 7);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const unsigned char*>(group.data() + 6 + 14 * i);
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
        uint16_t bits;
        std::memcpy(&bits, entry + 6, 2);
        EXPECT_EQ(bits, 32) << "entry " << i;
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST_F(ProductResources, ManifestAsksForCommonControls6Utf8AndPerMonitorDpi) {
    std::string manifest = resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* needle :
         {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"",
          "processorArchitecture=\"*\"", ">UTF-8</activeCodePage>", ">true/pm</dpiAware>",
          ">PerMonitorV2, PerMonitor</dpiAwareness>", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
}

TEST_F(ProductResources, VersionIsTheProjectVersionWithProductNameAndDescription) {
    std::wstring path = text::to_wide(exe_path());
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The project version (1.0.0 for this release) reaches the resource, not a number typed there.
    const DWORD ms = static_cast<DWORD>(version::MAJOR) << 16 | static_cast<DWORD>(version::MINOR);
    const DWORD ls = static_cast<DWORD>(version::PATCH) << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    const std::string quad = std::string(version::TEXT) + ".0";
    const std::pair<const wchar_t*, std::string> strings[] = {
        {L"ProductName", "Dorvane"},
        {L"FileDescription", "Dorvane API Client - envio em massa de documentos"},
        {L"FileVersion", quad},
        {L"ProductVersion", quad},
    };
    for (const auto& row : strings) {
        SCOPED_TRACE(text::to_utf8(row.first));
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\041604B0\\") + row.first;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value);
        EXPECT_EQ(text::to_utf8(value), row.second);
    }
}

}  // namespace
}  // namespace app_test
