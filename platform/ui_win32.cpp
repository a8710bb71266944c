#include "platform/platform.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

namespace platform {

namespace {

// Puts the default folder in front of the player as soon as the dialog is up; the dialog's own
// start is the desktop, which is never where the game belongs.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM) {
    if (message == BFFM_INITIALIZED)
        SendMessageA(window, BFFM_SETSELECTIONA, 1, reinterpret_cast<LPARAM>("D:\\Felto"));
    return 0;
}

} // namespace

void ShowMessage(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool BrowseForFolder(const std::string& title, const std::string& initial, std::string& folder) {
    char buffer[MAX_PATH] = {};
    std::strncpy(buffer, initial.c_str(), sizeof buffer - 1);

    BROWSEINFOA info = {};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE; // 0x51
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    info.iImage = 0;

    // The new dialog style is built on COM and shows nothing usable without it.
    bool comReady = SUCCEEDED(CoInitialize(nullptr));
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    bool chosen = false;
    if (item) {
        chosen = SHGetPathFromIDListA(item, buffer) != FALSE;
        CoTaskMemFree(item);
    }
    if (comReady)
        CoUninitialize();
    if (chosen)
        folder = buffer;
    return chosen;
}

} // namespace platform
