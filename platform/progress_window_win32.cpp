#include "platform/platform.h"
#include "platform/player_text_win32.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cwchar>

namespace platform {

namespace {

constexpr int kClientWidth = 440;
constexpr int kClientHeight = 112;
constexpr int kMargin = 14;
constexpr int kCancelId = IDCANCEL;
constexpr UINT kMarqueeMs = 30;
const wchar_t kClassName[] = L"FeltoProgress";

struct Window {
    HWND frame = nullptr;
    HWND status = nullptr;
    HWND bar = nullptr;
    ITaskbarList3* taskbar = nullptr;
    bool cancelAsked = false;
    int permille = -2; // what the bar shows now; -2 before the first ShowProgress
    std::vector<wchar_t> statusText;
};

Window window;

LRESULT CALLBACK WindowProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kCancelId) {
            window.cancelAsked = true;
            return 0;
        }
        break;
    case WM_CLOSE: // the title bar's close button and Alt+F4 ask as Cancel does
        window.cancelAsked = true;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(frame, message, wParam, lParam);
}

HWND MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
               int height, int id) {
    HWND child = CreateWindowExW(
        0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window.frame,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (child)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
    return child;
}

// The taskbar button's own progress exists from Windows 7 on; elsewhere the object is missing
// and the window alone shows it.
void ConnectTaskbar() {
    if (FAILED(CoInitialize(nullptr)))
        return;
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&taskbar))))
        return;
    if (FAILED(taskbar->HrInit())) {
        taskbar->Release();
        return;
    }
    window.taskbar = taskbar;
}

} // namespace

bool OpenProgressWindow(const std::string& title, const std::string& cancelText) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassW(&windowClass))
        return false;

    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frameRect = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frameRect, style, FALSE);
    int width = frameRect.right - frameRect.left;
    int height = frameRect.bottom - frameRect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    std::vector<wchar_t> wideTitle = PlayerText(title);
    window.frame = CreateWindowExW(0, kClassName, wideTitle.data(), style, x, y, width, height,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window.frame)
        return false;

    int inner = kClientWidth - 2 * kMargin;
    window.status = MakeChild(L"STATIC", L"", SS_LEFT | SS_ENDELLIPSIS | SS_NOPREFIX, kMargin,
                              kMargin, inner, 18, 100);
    window.bar = MakeChild(PROGRESS_CLASSW, L"", 0, kMargin, kMargin + 26, inner, 18, 101);
    std::vector<wchar_t> wideCancel = PlayerText(cancelText);
    MakeChild(L"BUTTON", wideCancel.data(), WS_TABSTOP | BS_PUSHBUTTON, kClientWidth - kMargin - 88,
              kClientHeight - kMargin - 26, 88, 26, kCancelId);
    SendMessageW(window.bar, PBM_SETRANGE32, 0, 1000);

    ShowWindow(window.frame, SW_SHOWNORMAL);
    UpdateWindow(window.frame);
    ConnectTaskbar();
    SetMessageOwner(window.frame);
    return true;
}

void ShowProgress(const std::string& status, int permille) {
    if (!window.frame)
        return;
    std::vector<wchar_t> text = PlayerText(status);
    if (text != window.statusText) {
        window.statusText = text;
        SetWindowTextW(window.status, text.data());
    }
    if (permille == window.permille)
        return;
    bool moving = permille < 0;
    if (moving != (window.permille < 0) || window.permille == -2) {
        // A moving bar needs the marquee style (common controls 6, which the program's manifest
        // asks for); without it the bar stays empty until a measure comes.
        LONG style = GetWindowLongW(window.bar, GWL_STYLE);
        SetWindowLongW(window.bar, GWL_STYLE, moving ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
        SendMessageW(window.bar, PBM_SETMARQUEE, moving ? TRUE : FALSE, kMarqueeMs);
        if (window.taskbar)
            window.taskbar->SetProgressState(window.frame,
                                             moving ? TBPF_INDETERMINATE : TBPF_NORMAL);
    }
    if (!moving) {
        SendMessageW(window.bar, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
        if (window.taskbar)
            window.taskbar->SetProgressValue(window.frame, static_cast<ULONGLONG>(permille), 1000);
    }
    window.permille = permille;
}

bool RunProgressWindow(unsigned milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window.frame || !IsDialogMessageW(window.frame, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (window.cancelAsked) {
            window.cancelAsked = false;
            return true;
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
    }
}

bool AskYesNo(const std::string& question, const std::string& caption) {
    std::vector<wchar_t> wideQuestion = PlayerText(question);
    std::vector<wchar_t> wideCaption = PlayerText(caption);
    return MessageBoxW(window.frame, wideQuestion.data(), wideCaption.data(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace platform
