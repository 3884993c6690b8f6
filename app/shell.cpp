#include "app/shell.h"

#include <commctrl.h>

#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/theme.h"
#include "core/text.h"

namespace {

int dpi_or_default(int dpi) {
    return dpi < 1 ? 96 : dpi;
}

}  // namespace

void app_startup(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    if (!g_brushPage) {
        g_brushPage = CreateSolidBrush(COLOR_PAGE);
    }
    if (!g_brushCard) {
        g_brushCard = CreateSolidBrush(COLOR_CARD);
    }
    if (!g_app.client) {
        g_app.client = std::make_unique<dorvane::ApiClient>();
    }
    if (!g_iconLarge) {
        g_iconLarge = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    }
    if (!g_iconSmall) {
        g_iconSmall = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    }

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = g_brushPage;
    wc.lpszClassName = WINDOW_CLASS;
    wc.hIcon = g_iconLarge ? g_iconLarge : LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = g_iconSmall ? g_iconSmall : wc.hIcon;
    RegisterClassExW(&wc);
}

int read_dpi(HWND window) {
    HDC dc = GetDC(window);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
    if (dc) {
        ReleaseDC(window, dc);
    }
    return dpi_or_default(dpi);
}

int window_dpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto get_dpi = user32 ? reinterpret_cast<GetDpiForWindowFn>(
                                reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                          : nullptr;
    if (get_dpi) {
        return dpi_or_default(static_cast<int>(get_dpi(window)));
    }
    return read_dpi(window);
}

HWND create_main_window(HINSTANCE instance) {
    std::wstring title = text::to_wide(std::string(APP_NAME) + " v" + APP_VERSION);
    return CreateWindowExW(0, WINDOW_CLASS, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           MulDiv(980, g_dpi, 96), MulDiv(800, g_dpi, 96), nullptr, nullptr, instance, nullptr);
}

int run_message_loop(HWND window) {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int run_app(HINSTANCE instance, int show) {
    app_startup(instance);
    g_dpi = read_dpi(nullptr);
    HWND window = create_main_window(instance);
    if (!window) {
        return 1;
    }
    // The layout picks this up at the next WM_SIZE, the fonts at the next WM_DPICHANGED.
    g_dpi = window_dpi(window);
    ShowWindow(window, show);
    UpdateWindow(window);
    int code = run_message_loop(window);

    // The window is gone but a worker (exit confirmed during a send, scan, conversion or connect)
    // may still run. Returning would destroy g_app, the HTTP session and every other static object
    // under it. ExitProcess stops every other thread before anything is torn down; the worker's
    // work is lost either way, and its results file is already flushed line by line.
    if (running_workers() > 0) {
        ExitProcess(static_cast<UINT>(code));
    }
    return code;
}
