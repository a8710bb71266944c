#include "app/install_worker.h"

#include "app/installer_state.h"
#include "app/messages.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"

bool PrepareFolders() {
    MakeDirectories(strInstallDir.c_str());
    return MakeDirectories((strInstallDir + "/" + strIncomingDir).c_str()) != 0;
}

bool AllPendingFinished() {
    bool all = true;
    for (FileEntry* entry : GetInstallerState().pendingEntries)
        all = entry->IsFinished() && all;
    return all;
}

unsigned InstallWorker(void*) {
    platform::SleepMs(100);
    if (!PrepareFolders())
        FailWith(100);
    // The rest of the install is still to come; until then the worker idles.
    for (;;)
        platform::SleepMs(100);
}
