#include "app/installer_state.h"

#include "net/deal_socket.h"
#include "platform/platform.h"

#include <cstdlib>

#ifndef FELTO_SERVER_URL
#define FELTO_SERVER_URL "http://127.0.0.1"
#endif

const std::string strManifestUrl = "microclient/download/launcher_manifest.js";
const std::string strManifestUrlX64 = "microclient/download/launcher_manifest_x64.js";
const std::string strIncomingDir = "incoming";
std::string strInstallDir;
const std::string strServerUrl = FELTO_SERVER_URL;
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
