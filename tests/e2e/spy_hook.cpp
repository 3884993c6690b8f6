// A WH_GETMESSAGE hook that the end-to-end driver installs on the client's window thread. Windows
// (and Wine) load this DLL into the client for it, so the hook sees every bridge message as the
// window thread takes it from its queue, before the window procedure deletes the string payload,
// and copies it to the driver's spy window.
//
// The payload is read as the std::string the client allocated; both programs are built by the same
// compiler with the same standard library, so the layout agrees.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/spy_protocol.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK e2e_getmessage_hook(int code, WPARAM wparam, LPARAM lparam) {
    const MSG& msg = *reinterpret_cast<const MSG*>(lparam);
    HWND spy = nullptr;
    // PM_NOREMOVE peeks would report the same message twice.
    if (code == HC_ACTION && wparam == PM_REMOVE && msg.message > WM_APP && msg.message <= WM_APP + 7 &&
        (spy = FindWindowW(e2e::SPY_WINDOW_CLASS, nullptr)) != nullptr) {
        // The log, status and message-box messages carry a string.
        const bool carries = msg.message == WM_APP + 1 || msg.message == WM_APP + 2 || msg.message == WM_APP + 7;
        const std::string text = carries && msg.lParam ? *reinterpret_cast<const std::string*>(msg.lParam) : "";
        e2e::SpyRecord record = {msg.message, static_cast<int64_t>(msg.wParam), static_cast<int64_t>(msg.lParam),
                                 carries && msg.lParam ? 1u : 0u};
        std::vector<char> bytes(sizeof record + text.size());
        std::memcpy(bytes.data(), &record, sizeof record);
        std::memcpy(bytes.data() + sizeof record, text.data(), text.size());
        COPYDATASTRUCT data = {e2e::SPY_COPYDATA_TAG, static_cast<DWORD>(bytes.size()), bytes.data()};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(spy, WM_COPYDATA, reinterpret_cast<WPARAM>(msg.hwnd), reinterpret_cast<LPARAM>(&data),
                            SMTO_NORMAL, 5000, &ignored);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
