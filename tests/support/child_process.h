#pragma once
// Runs a program as a player would and waits for it, never for ever.

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ChildResult {
    bool finished = false; // false: killed at the time limit
    int exitStatus = -1;   // exit status when it finished normally
    std::string stdErr;
};

struct ChildOptions {
    std::map<std::string, std::string> env; // added to / replacing the test's environment
    std::string workingDir;
    int timeoutMs = 60000;
};

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options);

// A child left running while the test does something else; killed by the destructor.
class RunningChild {
  public:
    RunningChild(const std::vector<std::string>& argv, const ChildOptions& options);
    ~RunningChild();
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;
    // Waits up to timeoutMs; false if it is still running.
    bool Wait(int timeoutMs, ChildResult& result);
    void Kill();
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
    std::vector<std::string> argv_;
    int errFd_ = -1;
    std::string err_;
    bool done_ = false;
};

// Polls a condition every few milliseconds up to a limit; a bounded wait, not a sleep.
bool WaitUntil(int timeoutMs, const std::function<bool()>& condition);
