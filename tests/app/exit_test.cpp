// Closing the window while a worker still runs ends the process cleanly: app_exit_probe.exe runs
// the real run_app with a worker that never stops using g_app.
#include <gtest/gtest.h>

#include "support/process.h"

TEST(AppExit, ExitEndsTheProcessWithCodeZeroWhetherTheWorkerRunsOrFinished) {
    // A running worker three times over: the race with the worker shows only now and then.
    for (const char* mode : {"running", "running", "running", "finishing"}) {
        const auto run = testing_support::run_program({testing_support::bin_path("app_exit_probe.exe"), mode}, {}, 60);
        EXPECT_EQ(run.exit_code, 0) << mode;
    }
}
