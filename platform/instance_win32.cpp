#include "platform/platform.h"

#include <windows.h>

namespace platform {

// Only the existence of the name matters: the mutex is never owned, and the name lives as long
// as any process holds a handle to it, so a crashed installer frees it with its handles.
InstanceLock AcquireInstanceLock(const std::string&, void*& handle, int& error) {
    handle = nullptr;
    // A stale error from earlier calls must not read as "another copy runs".
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "FeltoUpdater");
    error = static_cast<int>(GetLastError());
    if (!mutex)
        return InstanceLock::HeldElsewhere;
    if (error != 0) {
        CloseHandle(mutex);
        return InstanceLock::HeldElsewhere;
    }
    handle = mutex;
    return InstanceLock::Taken;
}

void ReleaseInstanceLock(void* handle) {
    ReleaseMutex(static_cast<HANDLE>(handle));
    CloseHandle(static_cast<HANDLE>(handle));
}

} // namespace platform
