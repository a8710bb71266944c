#include "app/game_start.h"

#include "app/field_report.h"
#include "app/installer_state.h"
#include "app/messages.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kMaxPath = 260;
}

bool CreateDesktopShortcut(const char* shortcutPath) {
    std::string target = strInstallDir + platform::NativeSeparator() + "Felto.exe";
    return platform::WriteShortcut(shortcutPath, target, strInstallDir);
}

void StartGameAndExit() {
    // Without COM the shell is not even asked for the desktop folder.
    if (platform::BeginShellWork()) {
        std::string desktop;
        if (platform::DesktopFolder(desktop)) {
            char shortcutPath[kMaxPath];
            int n = std::snprintf(shortcutPath, sizeof shortcutPath, "%s%s", desktop.c_str(),
                                  platform::ShortcutFileSuffix());
            // A desktop path too long for a shortcut path leaves the player without a new
            // shortcut, never with a cut one.
            if (n > 0 && n < kMaxPath)
                CreateDesktopShortcut(shortcutPath);
        }
        platform::EndShellWork();
    }
    long started = platform::OpenProgram(strInstallDir + "/" + "Felto.exe", strInstallDir);
    // The game is running (or cannot be started): only now is the run's outcome known.
    if (started <= 32) {
        SendFieldReport(109, static_cast<int>(started));
        ReportError(109, static_cast<int>(started));
    } else {
        SendFieldReport(0, 0);
    }
    std::exit(0);
}
