// The main window: its controls, commands, the worker messages and the painting of the whole
// surface. Everything here runs on the UI thread.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "app/app_state.h"
#include "app/theme.h"

// What a child control does while a worker runs.
enum class WhileBusy { Unchanged, Disabled, Enabled };

// One child control of the main window: where its handle lives, how it is made, its font and its
// part in the busy state.
struct ChildControl {
    HWND AppState::*field;
    int id;
    const wchar_t* window_class;  // null: an owner-drawn button (make_button) of `kind`
    const char* text;             // null: the process's current folder
    DWORD style;                  // not used for the owner-drawn buttons
    HFONT* font;                  // null: the control draws its items itself
    WhileBusy busy;
    BtnKind kind = BtnKind::Secondary;
};

// Every child control once, in creation order, which is also the Tab order.
extern const std::array<ChildControl, 15> CHILD_CONTROLS;

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// "[HH:MM:SS] Dorvane API Client v1.0.0 — informe a API Key e clique em Conectar."
std::string welcome_line();

// The second line of an operation item: code, "  ·  ", cost and "crédito"/"créditos".
std::string operation_details(const std::string& code, int cost);

// The right-hand info text of a file item: format tag and size, either of them may be missing.
std::string file_info(const std::string& path);
