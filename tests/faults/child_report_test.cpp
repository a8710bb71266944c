// In a sanitized build a report from a program a test started must fail that test, even when the
// program then ends the way the test expects (the installer's status is 0 on every path).

#include "tests/support/child_process.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

void RunPrinting(const char* report) {
    ChildOptions options;
    options.timeoutMs = 10000;
    RunChild({"/bin/sh", "-c", std::string("echo '") + report + "' >&2; exit 0"}, options);
}

TEST(ChildReport, SanitizerReportsOfAChildFailTheTest) {
    EXPECT_NONFATAL_FAILURE(RunPrinting("==12==ERROR: AddressSanitizer: heap-use-after-free"),
                            "AddressSanitizer");
    EXPECT_NONFATAL_FAILURE(RunPrinting("WARNING: ThreadSanitizer: data race (pid=12)"),
                            "ThreadSanitizer");
    EXPECT_NONFATAL_FAILURE(RunPrinting("a.cpp:3:5: runtime error: signed integer overflow"),
                            "runtime error");
    // A killed child is checked too.
    EXPECT_NONFATAL_FAILURE(
        {
            ChildOptions options;
            RunningChild child(
                {"/bin/sh", "-c", "echo 'ERROR: LeakSanitizer: leak' >&2; exec sleep 60"}, options);
            ChildResult result;
            WaitUntil(10000, [&] { return child.Wait(0, result) || !result.stdErr.empty(); });
            child.Kill();
        },
        "LeakSanitizer");
}

TEST(ChildReport, OrdinaryErrorOutputIsNoReport) {
    ChildOptions options;
    options.timeoutMs = 10000;
    ChildResult result =
        RunChild({"/bin/sh", "-c", "echo 'error,code:101, ext err:0' >&2; exit 0"}, options);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.stdErr, "error,code:101, ext err:0\n");
}

} // namespace
