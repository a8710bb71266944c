/* Stands in for the player in the tests under Wine that have a display. Usage:
 *   player.exe ok|cancel|<folder> record-file
 * Answers the first folder dialog with OK on the folder it proposes, with Cancel, or by picking
 * the folder given (UTF-8) and pressing OK; a dialog shown again after that is cancelled. Closes
 * every message box with OK, and appends one line per window it answered to the record file, in
 * UTF-8, as it saw the window:
 *   folder dialog|<caption>|<text>|<text>...
 *   message box|<caption>|<text>...
 * The texts are those of the window's static controls. It runs until it is ended, and at most
 * ten minutes. */
#include <windows.h>

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#define MAX_SEEN 64
#define TEXT_BYTES 4096

struct Look {
    BOOL isFolderDialog;
    char texts[TEXT_BYTES];
};

static HWND seen[MAX_SEEN];
static int seenCount;
static BOOL answeredFolderDialog;
static UINT firstAnswer = IDOK;
static WCHAR pick[MAX_PATH];
static const char* recordPath;

static void Append(char* out, const WCHAR* text) {
    char utf8[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    if (n <= 0)
        utf8[0] = '\0';
    if (strlen(out) + strlen(utf8) + 2 < TEXT_BYTES) {
        strcat(out, "|");
        strcat(out, utf8);
    }
}

static BOOL CALLBACK LookAtChild(HWND child, LPARAM data) {
    struct Look* look = (struct Look*)data;
    WCHAR className[64] = L"";
    WCHAR text[512] = L"";
    GetClassNameW(child, className, 64);
    if (lstrcmpiW(className, L"SysTreeView32") == 0)
        look->isFolderDialog = TRUE;
    if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextW(child, text, 512) > 0)
        Append(look->texts, text);
    return TRUE;
}

/* The dialog reads the folder's path in its own process: the text is put there first. */
static void Pick(HWND dialog) {
    DWORD process = 0;
    HANDLE handle;
    void* remote;
    SIZE_T bytes = (lstrlenW(pick) + 1) * sizeof(WCHAR);
    GetWindowThreadProcessId(dialog, &process);
    handle = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process);
    if (!handle)
        return;
    remote = VirtualAllocEx(handle, NULL, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (remote && WriteProcessMemory(handle, remote, pick, bytes, NULL))
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, (LPARAM)remote);
    CloseHandle(handle);
}

static void Record(const char* kind, const char* texts) {
    FILE* record = fopen(recordPath, "ab");
    if (!record)
        return;
    fprintf(record, "%s%s\n", kind, texts);
    fclose(record);
}

static BOOL CALLBACK LookAtWindow(HWND window, LPARAM unused) {
    WCHAR className[64] = L"";
    WCHAR caption[512] = L"";
    DWORD process = 0;
    int i;
    struct Look look;
    (void)unused;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    GetClassNameW(window, className, 64);
    if (lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    for (i = 0; i < seenCount; ++i)
        if (seen[i] == window)
            return TRUE;
    if (seenCount < MAX_SEEN)
        seen[seenCount++] = window;

    memset(&look, 0, sizeof look);
    GetWindowTextW(window, caption, 512);
    Append(look.texts, caption);
    EnumChildWindows(window, LookAtChild, (LPARAM)&look);
    if (look.isFolderDialog) {
        Record("folder dialog", look.texts);
        if (!answeredFolderDialog && pick[0])
            Pick(window);
        PostMessageW(window, WM_COMMAND, answeredFolderDialog ? IDCANCEL : firstAnswer, 0);
        answeredFolderDialog = TRUE;
    } else {
        Record("message box", look.texts);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
}

int main(int argc, char** argv) {
    int round;
    if (argc != 3)
        return 2;
    firstAnswer = strcmp(argv[1], "cancel") == 0 ? IDCANCEL : IDOK;
    if (firstAnswer == IDOK && strcmp(argv[1], "ok") != 0) {
        /* The folder in full: the narrow arguments hold only what the code page can. */
        int count = 0;
        LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
        if (!wide || count != 3 || lstrlenW(wide[1]) >= MAX_PATH)
            return 2;
        lstrcpyW(pick, wide[1]);
    }
    recordPath = argv[2];
    /* Polls the desktop's windows: there is no event for another process's dialog. */
    for (round = 0; round < 12000; ++round) {
        EnumWindows(LookAtWindow, 0);
        Sleep(50);
    }
    return 0;
}
