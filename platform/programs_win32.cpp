#include "platform/platform.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

// WinExec parses the command line itself; the argument vector is for systems that cannot.
unsigned RunHidden(const std::string& commandLine, const std::vector<std::string>&) {
    return WinExec(commandLine.c_str(), SW_HIDE);
}

long OpenProgram(const std::string& program, const std::string& workingDir) {
    HINSTANCE result =
        ShellExecuteA(nullptr, "open", program.c_str(), nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), SW_SHOWNORMAL);
    return static_cast<long>(reinterpret_cast<INT_PTR>(result));
}

} // namespace platform
