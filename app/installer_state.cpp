#include "app/installer_state.h"

#include "net/deal_socket.h"
#include "platform/platform.h"

#include <cstdlib>

std::string strInstallDir;
// Constructed after the strings above and destroyed before them: the socket library lives from
// before main to the end of exit processing.
CDealSocket g_dealSocket;

InstallerState& GetInstallerState() {
    static InstallerState state;
    return state;
}

void ExitInstaller() {
    InstallerState& state = GetInstallerState();
    if (state.hMutex)
        platform::ReleaseInstanceLock(state.hMutex);
    std::exit(0);
}
