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

bool OpenWakeEvent(WakeEvent& event) {
    event.native = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event.native != nullptr;
}

void RaiseWakeEvent(WakeEvent& event) {
    if (event.native)
        SetEvent(static_cast<HANDLE>(event.native));
}

void WaitWakeEvent(WakeEvent& event, unsigned milliseconds) {
    if (event.native)
        WaitForSingleObject(static_cast<HANDLE>(event.native), milliseconds);
    else
        Sleep(milliseconds);
}

void CloseWakeEvent(WakeEvent& event) {
    if (event.native)
        CloseHandle(static_cast<HANDLE>(event.native));
    event.native = nullptr;
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

namespace {

// The kernel's GetTickCount64 where it has one (Vista on); XP's 32-bit count elsewhere, which
// only the run-time's timed waits read, and this program times no wait through them.
ULONGLONG WINAPI TickCount64() {
    using TickCount64Fn = ULONGLONG(WINAPI*)();
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "GetTickCount64") : nullptr;
    if (found)
        return reinterpret_cast<TickCount64Fn>(reinterpret_cast<void (*)()>(found))();
    return GetTickCount();
}

} // namespace

// The compiler's POSIX-threads run-time (winpthreads, built for Vista) calls GetTickCount64
// through its import slot; an import of it would keep the program from loading on XP at all.
// The slot is defined here, so the linker takes it instead of the kernel's import, and it leads
// to the kernel's function by name at run time. This file is linked into every program: it
// starts the threads.
#if defined(__i386__)
#define FELTO_TICK_COUNT64_SLOT "__imp__GetTickCount64@0"
#else
#define FELTO_TICK_COUNT64_SLOT "__imp_GetTickCount64"
#endif
extern "C" ULONGLONG(WINAPI* const feltoTickCount64Slot)() __asm__(FELTO_TICK_COUNT64_SLOT);
extern "C" ULONGLONG(WINAPI* const feltoTickCount64Slot)() = TickCount64;
