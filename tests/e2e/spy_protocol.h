// What the spy hook (loaded into the client) sends to the end-to-end driver: one WM_COPYDATA per
// bridge message (WM_APP + 1 to WM_APP + 7), a SpyRecord followed by the string payload's bytes.
#pragma once

#include <windows.h>

#include <cstdint>

namespace e2e {

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
