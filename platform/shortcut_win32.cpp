#include "platform/platform.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace platform {

bool DesktopFolder(std::string& folder) {
    LPITEMIDLIST item = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &item)) || !item)
        return false;
    char path[MAX_PATH] = {};
    bool ok = SHGetPathFromIDListA(item, path) != FALSE;
    CoTaskMemFree(item);
    if (ok)
        folder = path;
    return ok;
}

const char* ShortcutFileSuffix() {
    return "\\Felto.lnk";
}

namespace {
bool SaveLink(const std::string& shortcutPath, const std::string& target,
              const std::string& workingDir) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))) ||
        !link)
        return false;
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(workingDir.c_str());

    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) || !file) {
        link->Release();
        return false;
    }
    wchar_t wide[MAX_PATH];
    // A path that does not fit is not saved under a cut name.
    bool saved = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, shortcutPath.c_str(), -1, wide,
                                     MAX_PATH) != 0 &&
                 SUCCEEDED(file->Save(wide, FALSE));
    file->Release();
    link->Release();
    return saved;
}
} // namespace

bool BeginShellWork() {
    return SUCCEEDED(CoInitialize(nullptr));
}

void EndShellWork() {
    CoUninitialize();
}

bool WriteShortcut(const std::string& shortcutPath, const std::string& target,
                   const std::string& workingDir) {
    return SaveLink(shortcutPath, target, workingDir);
}

} // namespace platform
