// DPI-scaled geometry of the main window: the drawn areas the painter reads and the positions of
// every child control. Every length is a 96-DPI constant scaled on its own with S(n) before the
// scaled values are added, so rounding happens per constant.
#pragma once

#include <windows.h>

struct Layout {
    RECT header{};
    RECT card_connection{};
    RECT card_operation{};
    RECT card_files{};
    RECT card_log{};
    RECT input_url{};
    RECT input_key{};
    RECT input_folder{};
    RECT progress_bar{};
    RECT status_line{};
};

// Written only by compute_layout; read by the painter. UI thread only.
extern Layout g_layout;

// Fills g_layout for a client area of width x height pixels and moves every child control of
// g_app into place (controls not created yet are skipped).
void compute_layout(int width, int height);

// Moves an edit inside its drawn frame; the frame is the edit's only border.
void place_input(HWND edit, RECT frame, int inset);
