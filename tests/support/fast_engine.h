#pragma once
// Points the download engine at a test server with time-outs and pauses short enough for tests,
// and puts the program's own settings back when the test is over.

#include "net/engine_settings.h"

class FastEngine {
  public:
    FastEngine() : saved_(GetEngineSettings()) {}
    ~FastEngine() { OverrideEngineSettingsForTesting(saved_); }
    FastEngine(const FastEngine&) = delete;
    FastEngine& operator=(const FastEngine&) = delete;

    void Use(int port, int receiveTimeoutMs) {
        EngineSettings fast = saved_;
        fast.port = port;
        fast.connectTimeoutMs = 2000;
        fast.receiveTimeoutMs = receiveTimeoutMs;
        fast.retryPauseMs = 10;
        fast.afterDownloadPauseMs = 10;
        OverrideEngineSettingsForTesting(fast);
    }

  private:
    EngineSettings saved_;
};
