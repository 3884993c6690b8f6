// What the spy hook (loaded into the client) sends to the end-to-end driver: one WM_COPYDATA per
// bridge message, a SpyRecord followed by the string payload's bytes when it has one.
#pragma once

#include <windows.h>

#include <cstdint>

namespace e2e {

// The bridge's message numbers, spelled out here so that the tests do not borrow them from the
// code they check.
constexpr UINT WM_APP_LOG = 0x8001;
constexpr UINT WM_APP_STATUS = 0x8002;
constexpr UINT WM_APP_PROGRESS = 0x8003;
constexpr UINT WM_APP_BUSY = 0x8004;
constexpr UINT WM_APP_OPS_LOADED = 0x8005;
constexpr UINT WM_APP_FILES_CHANGED = 0x8006;
constexpr UINT WM_APP_MESSAGE_BOX = 0x8007;

constexpr const wchar_t* SPY_WINDOW_CLASS = L"DorvaneE2ESpy";
constexpr ULONG_PTR SPY_COPYDATA_TAG = 0x53505931;  // "SPY1"

#pragma pack(push, 1)
struct SpyRecord {
    uint32_t message;
    int64_t wparam;
    int64_t lparam;
    uint32_t has_text;
};
#pragma pack(pop)

}  // namespace e2e
