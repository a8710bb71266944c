/* Stands in for the player in the tests under Wine that have a display. Usage:
 *   player.exe ok|cancel|<folder> record-file [watch|cancel@<permille>|close@<permille> [shot.bmp]]
 * Answers the first folder dialog with OK on the folder it proposes, with Cancel, or by picking
 * the folder given (UTF-8) and pressing OK; a dialog shown again after that is cancelled. Closes
 * every message box with OK, and appends one line per window it answered to the record file, in
 * UTF-8, as it saw the window:
 *   folder dialog|<caption>|<text>|<text>...
 *   message box|<caption>|<text>...
 * The texts are those of the window's static controls. A box whose owner is the installer's
 * progress window is recorded as "owned message box"; a yes/no box is answered with yes.
 * With a third argument it also watches the progress window and records each change of it:
 *   progress window|<caption>|<status>|<bar position>
 * and, once a download has moved the bar to the permille given, saves the screen as a bitmap
 * (when a file is named) and presses Cancel (cancel@) or closes the window as Alt+F4 does
 * (close@), once. It runs until it is ended, and at most ten minutes. */
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

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
static int progressAction; /* 0 watch, 1 cancel, 2 close */
static int actionPermille = -1;
static const char* shotPath;
static BOOL actionTaken;
static char lastProgress[TEXT_BYTES];

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

/* The whole screen as a 24-bit bitmap file. */
static void SaveScreen(const char* path) {
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    int row = (width * 3 + 3) & ~3;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BITMAPINFOHEADER info;
    BITMAPFILEHEADER file;
    unsigned char* pixels = (unsigned char*)malloc((size_t)row * height);
    FILE* out;
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    memset(&info, 0, sizeof info);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    if (pixels &&
        GetDIBits(memory, bitmap, 0, height, pixels, (BITMAPINFO*)&info, DIB_RGB_COLORS)) {
        memset(&file, 0, sizeof file);
        file.bfType = 0x4d42;
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + (DWORD)row * height;
        out = fopen(path, "wb");
        if (out) {
            fwrite(&file, sizeof file, 1, out);
            fwrite(&info, sizeof info, 1, out);
            fwrite(pixels, (size_t)row * height, 1, out);
            fclose(out);
        }
    }
    free(pixels);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
}

static void WatchProgress(HWND frame) {
    WCHAR caption[512] = L"", status[512] = L"";
    char line[TEXT_BYTES] = "", number[16];
    HWND label = FindWindowExW(frame, NULL, L"Static", NULL);
    HWND bar = FindWindowExW(frame, NULL, L"msctls_progress32", NULL);
    int position = bar ? (int)SendMessageW(bar, PBM_GETPOS, 0, 0) : -1;
    GetWindowTextW(frame, caption, 512);
    if (label)
        GetWindowTextW(label, status, 512);
    Append(line, caption);
    Append(line, status);
    snprintf(number, sizeof number, "|%d", position);
    strcat(line, number);
    if (strcmp(line, lastProgress) != 0) {
        strcpy(lastProgress, line);
        Record("progress window", line);
    }
    if (actionTaken || progressAction == 0 || position < actionPermille ||
        wcsncmp(status, L"正在下载", 4) != 0)
        return;
    actionTaken = TRUE;
    if (shotPath)
        SaveScreen(shotPath);
    if (progressAction == 1)
        PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     (LPARAM)GetDlgItem(frame, IDCANCEL));
    else
        PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
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
    if (progressAction >= 0 && lstrcmpW(className, L"FeltoProgress") == 0) {
        WatchProgress(window);
        return TRUE;
    }
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
        WCHAR ownerClass[64] = L"";
        HWND owner = GetWindow(window, GW_OWNER);
        if (owner)
            GetClassNameW(owner, ownerClass, 64);
        Record(lstrcmpW(ownerClass, L"FeltoProgress") == 0 ? "owned message box" : "message box",
               look.texts);
        PostMessageW(window, WM_COMMAND, GetDlgItem(window, IDYES) ? IDYES : IDOK, 0);
    }
    return TRUE;
}

int main(int argc, char** argv) {
    int round;
    if (argc < 3 || argc > 5)
        return 2;
    progressAction = -1;
    if (argc >= 4) {
        const char* at = strchr(argv[3], '@');
        progressAction = strncmp(argv[3], "cancel@", 7) == 0  ? 1
                         : strncmp(argv[3], "close@", 6) == 0 ? 2
                                                              : 0;
        actionPermille = at ? atoi(at + 1) : -1;
        shotPath = argc == 5 ? argv[4] : NULL;
    }
    firstAnswer = strcmp(argv[1], "cancel") == 0 ? IDCANCEL : IDOK;
    if (firstAnswer == IDOK && strcmp(argv[1], "ok") != 0) {
        /* The folder in full: the narrow arguments hold only what the code page can. */
        int count = 0;
        LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
        if (!wide || count != argc || lstrlenW(wide[1]) >= MAX_PATH)
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
