// Entry point: settle the install folder, point the log there, make sure only one installer
// runs, start the install worker and idle until some thread ends the process.

#include "app/idle.h"
#include "app/install_folder.h"
#include "app/install_worker.h"
#include "app/installer_state.h"
#include "app/messages.h"
#include "app/single_instance.h"
#include "platform/platform.h"
#include "support/log.h"

#include <cstdlib>

int main(int, char**) {
    const std::string defaultDir = platform::DefaultInstallDir();
    int makeError = 0;
    strInstallDir = ChooseInstallFolder(makeError);
    if (strInstallDir.empty()) {
        // Installing at the root of the drive is never what the player wanted: end the run.
        UseStandardErrorForLog();
        WriteLog(FormatString("cannot make the install folder %s: %s", defaultDir.c_str(),
                              platform::SystemErrorText(makeError).c_str()));
        WriteLog("no install folder was chosen, nothing installed");
        std::exit(0);
    }

    // The lock comes before the log: a second copy must not start the running copy's log afresh.
    TakeSingleInstanceLock();
    SetLogPath(strInstallDir + "/FeltoInstaller.log");

    OpenProgressDisplay();
    if (!platform::StartDetachedThread(InstallWorker, nullptr)) {
        WriteLog("CreateThread InstallWorker faild!");
        FailWith(11);
    }
    IdleUntilExit();
}
