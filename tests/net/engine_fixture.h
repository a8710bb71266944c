#pragma once
// Shared set-up of the download engine tests: a loopback test server, the engine pointed at its
// port with short time-outs, and the log in a fresh folder.

#include "net/engine_settings.h"
#include "support/log.h"
#include "tests/support/fast_engine.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLogForTesting();
        SetLogPath(dir_ / "FeltoInstaller.log");
        ASSERT_TRUE(server_.Start());
        engine_.Use(server_.port(), 5000);
    }
    void TearDown() override {
        server_.Stop();
        ResetLogForTesting();
        SetLogPath("FeltoInstaller.log");
    }

    void SetReceiveTimeout(int milliseconds) {
        EngineSettings settings = GetEngineSettings();
        settings.receiveTimeoutMs = milliseconds;
        OverrideEngineSettingsForTesting(settings);
    }

    // Shorter limits for slow servers: the response head's deadline and the body's window.
    void SetSlowLimits(int headTimeoutMs, int windowMs, int windowBytes) {
        EngineSettings settings = GetEngineSettings();
        settings.headTimeoutMs = headTimeoutMs;
        settings.slowWindowMs = windowMs;
        settings.slowWindowBytes = windowBytes;
        OverrideEngineSettingsForTesting(settings);
    }

    std::string Log() {
        std::fflush(GetLogStream());
        return ReadFile(dir_ / "FeltoInstaller.log");
    }

    // Range starts of the requests for one path, in ascending order.
    std::vector<std::int64_t> RangeStarts(const std::string& path) {
        return server_.RangeStarts(path);
    }

    TempDir dir_;
    HttpTestServer server_;
    FastEngine engine_;
};
