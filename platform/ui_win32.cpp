#include "platform/platform.h"
#include "platform/player_text_win32.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <vector>

namespace platform {

std::vector<wchar_t> WideFromCodePage(const std::string& text, unsigned codePage) {
    std::vector<wchar_t> wide(1, L'\0');
    if (text.empty())
        return wide;
    int length = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return wide;
    wide.assign(static_cast<std::size_t>(needed) + 1, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
    return wide;
}

namespace {

// The program's own texts are code page 936 bytes whatever the system's code page is.
constexpr UINT kTextCodePage = 936;

using WideText = std::vector<wchar_t>;

// A system without the tables of code page 936 (XP without East Asian support) cannot turn the
// texts; read in its own code page they show what the ANSI calls always showed, not nothing.
WideText TextForPlayer(const std::string& text) {
    WideText wide = WideFromCodePage(text, kTextCodePage);
    return wide.size() == 1 && !text.empty() ? WideFromCodePage(text, CP_ACP) : wide;
}

// The path in the system's code page, or false when some character of it has no place there.
// The way back must give the very same characters: a best-fit or "?" stand-in would name
// another folder, or none.
bool ToSystemCodePage(const wchar_t* wide, std::string& path) {
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1)
        return false;
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, &narrow[0], needed, nullptr, nullptr) != needed)
        return false;
    narrow.resize(static_cast<std::size_t>(needed - 1));
    WideText back = WideFromCodePage(narrow, CP_ACP);
    if (std::wcscmp(back.data(), wide) != 0)
        return false;
    path = narrow;
    return true;
}

// Puts the start folder in front of the player as soon as the dialog is up; the dialog's own
// start is the desktop, which is never where the game belongs.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data)
        SendMessageA(window, BFFM_SETSELECTIONA, 1, data);
    return 0;
}

// Set by the thread that owns the progress window, read by whichever thread shows a box.
std::atomic<HWND> messageOwner{nullptr};

} // namespace

std::vector<wchar_t> PlayerText(const std::string& text) {
    return TextForPlayer(text);
}

const char* StandardErrorLinePrefix() {
    return "";
}

void NoteProgressLineShown() {}

void SetMessageOwner(void* window) {
    messageOwner.store(static_cast<HWND>(window));
}

void ShowMessage(const std::string& text, const std::string& caption) {
    WideText wideText = TextForPlayer(text);
    WideText wideCaption = TextForPlayer(caption);
    MessageBoxW(messageOwner.load(), wideText.data(), wideCaption.data(), MB_OK);
}

FolderChoice BrowseForFolder(const std::string& title, const std::string& initial,
                             std::string& folder) {
    WideText wideTitle = TextForPlayer(title);
    wchar_t displayName[MAX_PATH] = {};

    BROWSEINFOW info = {};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = wideTitle.data();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE; // 0x51
    info.lpfn = BrowseCallback;
    info.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
    info.iImage = 0;

    // The new dialog style is built on COM and shows nothing usable without it.
    bool comReady = SUCCEEDED(CoInitialize(nullptr));
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    wchar_t path[MAX_PATH] = {};
    bool havePath = false;
    if (item) {
        havePath = SHGetPathFromIDListW(item, path) != FALSE;
        CoTaskMemFree(item);
    }
    if (comReady)
        CoUninitialize();
    if (!havePath)
        return FolderChoice::Cancelled;
    return ToSystemCodePage(path, folder) ? FolderChoice::Chosen : FolderChoice::Unusable;
}

std::string SystemDriveRoot() {
    char windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length >= 2 && length < MAX_PATH && windows[1] == ':')
        return std::string(windows, 2) + "\\";
    return "C:\\";
}

} // namespace platform
