// Start-up, message loop and shutdown of the desktop application, in pieces that the tests can
// run one by one in their own process.
#pragma once

#include <windows.h>

// Common controls, the two brushes, the service client, the icons and the window class. Objects that already exist
// are kept, so a second call (a test's next window) only fills in what the last window deleted.
void app_startup(HINSTANCE instance);

// GetDeviceCaps(LOGPIXELSX) of the screen, or of the window when given; 96 for readings below 1.
int read_dpi(HWND window);

// The window's own DPI (GetDpiForWindow when user32 has it); 96 for readings below 1.
int window_dpi(HWND window);

// Creates the main window at the current g_dpi; null when that fails.
HWND create_main_window(HINSTANCE instance);

// GetMessageW loop with dialog navigation; returns the WM_QUIT code.
int run_message_loop(HWND window);

// The whole program: start-up, window, loop. Never returns while a worker thread still runs:
// it ends the process instead (see shell.cpp).
int run_app(HINSTANCE instance, int show);
