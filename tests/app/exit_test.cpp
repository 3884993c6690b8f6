// Closing the window while a worker still runs ends the process cleanly: exit_probe.exe runs the
// real run_app with a worker that never stops using g_app.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace {

// Exit code of the probe, or -1 when it could not start or did not end within a minute.
long run_probe(const std::string& argument) {
    std::wstring exe = text::to_wide("Z:" + std::string(DORVANE_BIN_DIR) + "/app_exit_probe.exe");
    std::wstring command = L"app_exit_probe.exe " + text::to_wide(argument);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    long result = -1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hProcess);
    return result;
}

TEST(AppExit, ExitEndsTheProcessWithCodeZeroWhetherTheWorkerRunsOrFinished) {
    // A running worker three times over: the race with the worker shows only now and then.
    for (const char* mode : {"running", "running", "running", "finishing"}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(run_probe(mode), 0);
    }
}

}  // namespace
