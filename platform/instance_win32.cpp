#include "platform/platform.h"

#include <windows.h>

namespace platform {

// Only the existence of the name matters: the mutex is never owned, and the name lives as long
// as any process holds a handle to it, so a crashed installer frees it with its handles.
void* AcquireInstanceLock() {
    // A stale error from earlier calls must not read as "another copy runs".
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "FeltoUpdater");
    if (!mutex)
        return nullptr;
    if (GetLastError() != 0) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

void ReleaseInstanceLock(void* handle) {
    ReleaseMutex(static_cast<HANDLE>(handle));
    CloseHandle(static_cast<HANDLE>(handle));
}

} // namespace platform
