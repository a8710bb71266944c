#include "platform/platform.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

// CreateProcessA parses the command line as WinExec does; the argument vector is for systems
// that cannot. WinExec's own failure numbers are kept.
unsigned StartHidden(const std::string& commandLine, const std::vector<std::string>&,
                     ProgramHandle& program) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        DWORD error = GetLastError();
        return error < 32 ? static_cast<unsigned>(error) : 11;
    }
    CloseHandle(info.hThread);
    program.native = reinterpret_cast<std::intptr_t>(info.hProcess);
    return 33;
}

bool WaitForProgram(ProgramHandle& program, unsigned timeoutMs) {
    HANDLE process = reinterpret_cast<HANDLE>(program.native);
    return process && WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}

void ReleaseProgram(ProgramHandle& program) {
    if (program.native)
        CloseHandle(reinterpret_cast<HANDLE>(program.native));
    program.native = 0;
}

long OpenProgram(const std::string& program, const std::string& workingDir) {
    HINSTANCE result =
        ShellExecuteA(nullptr, "open", program.c_str(), nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), SW_SHOWNORMAL);
    return static_cast<long>(reinterpret_cast<INT_PTR>(result));
}

} // namespace platform
