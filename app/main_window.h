// The main window: its controls, commands, the worker messages and the painting of the whole
// surface. Everything here runs on the UI thread.
#pragma once

#include <windows.h>

#include <string>

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// "[HH:MM:SS] Dorvane API Client v1.0.0 — informe a API Key e clique em Conectar."
std::string welcome_line();

// The second line of an operation item: code, "  ·  ", cost and "crédito"/"créditos".
std::string operation_details(const std::string& code, int cost);

// The right-hand info text of a file item: format tag and size, either of them may be missing.
std::string file_info(const std::string& path);
