// A WH_GETMESSAGE hook that the end-to-end driver installs on the client's window thread. Windows
// (and Wine) load this DLL into the client for it, so the hook sees every bridge message (WM_APP+1
// to WM_APP+7) as the window thread takes it from its queue, before the window procedure deletes
// the string payload. Each one is copied to the driver's spy window with WM_COPYDATA. That is how
// the driver checks what the window itself never shows as a control: the status line, the
// progress numbers and the exact order of a workflow's messages.
//
// The payload is read as the std::string the client allocated; both programs are built by the same
// compiler with the same standard library, so the layout agrees.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/spy_protocol.h"

namespace {

bool carries_string(UINT message) {
    return message == e2e::WM_APP_LOG || message == e2e::WM_APP_STATUS || message == e2e::WM_APP_MESSAGE_BOX;
}

void forward(const MSG& msg) {
    HWND spy = FindWindowW(e2e::SPY_WINDOW_CLASS, nullptr);
    if (!spy) {
        return;
    }
    e2e::SpyRecord record = {};
    record.message = msg.message;
    record.wparam = static_cast<int64_t>(msg.wParam);
    record.lparam = static_cast<int64_t>(msg.lParam);
    std::string text;
    if (carries_string(msg.message) && msg.lParam != 0) {
        text = *reinterpret_cast<const std::string*>(msg.lParam);
        record.has_text = 1;
    }
    std::vector<char> bytes(sizeof record + text.size());
    std::memcpy(bytes.data(), &record, sizeof record);
    if (!text.empty()) {
        std::memcpy(bytes.data() + sizeof record, text.data(), text.size());
    }
    COPYDATASTRUCT data = {};
    data.dwData = e2e::SPY_COPYDATA_TAG;
    data.cbData = static_cast<DWORD>(bytes.size());
    data.lpData = bytes.data();
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(spy, WM_COPYDATA, reinterpret_cast<WPARAM>(msg.hwnd), reinterpret_cast<LPARAM>(&data),
                        SMTO_NORMAL, 5000, &ignored);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK e2e_getmessage_hook(int code, WPARAM wparam, LPARAM lparam) {
    // PM_NOREMOVE peeks would report the same message twice.
    if (code == HC_ACTION && wparam == PM_REMOVE) {
        const MSG& msg = *reinterpret_cast<const MSG*>(lparam);
        if (msg.message >= e2e::WM_APP_LOG && msg.message <= e2e::WM_APP_MESSAGE_BOX) {
            forward(msg);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
