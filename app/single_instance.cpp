#include "app/single_instance.h"

#include "app/installer_state.h"
#include "app/messages.h"
#include "platform/platform.h"
#include "support/log.h"

void TakeSingleInstanceLock() {
    InstallerState& state = GetInstallerState();
    int error = 0;
    switch (platform::AcquireInstanceLock(strInstallDir, state.hMutex, error)) {
    case platform::InstanceLock::Taken:
        return;
    case platform::InstanceLock::HeldElsewhere:
        UseStandardErrorForLog();
        FailWith(102);
    case platform::InstanceLock::CannotCreate:
        // No other copy was seen: telling the player that one runs would send them looking for
        // it. The folder cannot be written, which is what 100 asks them to put right.
        UseStandardErrorForLog();
        WriteLog(FormatString("cannot create the single-instance lock in %s: %s",
                              strInstallDir.c_str(), platform::SystemErrorText(error).c_str()));
        FailWith(100);
    }
}
