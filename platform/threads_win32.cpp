#include "platform/platform.h"

#include <windows.h>

#include <cerrno>
#include <time.h>

namespace platform {

namespace {
struct Start {
    ThreadRoutine routine;
    void* arg;
};

// The system calls thread routines with its own calling convention; ours are plain functions.
DWORD WINAPI Trampoline(LPVOID p) {
    Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    return start.routine(start.arg);
}

HANDLE Launch(ThreadRoutine routine, void* arg) {
    Start* start = new Start{routine, arg};
    HANDLE thread = CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
    if (!thread)
        delete start;
    return thread;
}
} // namespace

bool StartDetachedThread(ThreadRoutine routine, void* arg) {
    HANDLE thread = Launch(routine, arg);
    if (!thread)
        return false;
    // Closing the handle does not stop the thread; nobody waits for it.
    CloseHandle(thread);
    return true;
}

bool StartThread(ThreadRoutine routine, void* arg, ThreadHandle& handle) {
    HANDLE thread = Launch(routine, arg);
    if (!thread)
        return false;
    handle.native = thread;
    return true;
}

void WaitAllThreads(std::vector<ThreadHandle>& handles) {
    std::vector<HANDLE> waiting;
    for (ThreadHandle& handle : handles)
        if (handle.native)
            waiting.push_back(static_cast<HANDLE>(handle.native));
    // One call waits for at most MAXIMUM_WAIT_OBJECTS handles.
    for (std::size_t first = 0; first < waiting.size(); first += MAXIMUM_WAIT_OBJECTS) {
        std::size_t count = waiting.size() - first;
        if (count > MAXIMUM_WAIT_OBJECTS)
            count = MAXIMUM_WAIT_OBJECTS;
        WaitForMultipleObjects(static_cast<DWORD>(count), waiting.data() + first, TRUE, INFINITE);
    }
    for (ThreadHandle& handle : handles) {
        if (handle.native)
            CloseHandle(static_cast<HANDLE>(handle.native));
        handle.native = nullptr;
    }
}

void SleepMs(unsigned milliseconds) {
    Sleep(milliseconds);
}

bool LocalTimeNow(std::tm& out, int& error) {
    __time64_t now = _time64(nullptr);
    if (now == static_cast<__time64_t>(-1)) {
        error = errno;
        return false;
    }
    errno_t rc = _localtime64_s(&out, &now);
    if (rc != 0) {
        error = rc;
        return false;
    }
    return true;
}

} // namespace platform
