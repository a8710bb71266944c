#include "app/idle.h"

#include "app/installer_state.h"
#include "app/progress_text.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/progress.h"

namespace {

constexpr unsigned kRefreshMs = 100;
bool displayOpen = false;

} // namespace

void OpenProgressDisplay() {
    displayOpen = platform::OpenProgressWindow(kProgressTitle, kCancelButtonText);
}

void IdleUntilExit() {
    ProgressReader reader;
    for (;;) {
        if (!displayOpen) {
            platform::SleepMs(kRefreshMs);
            continue;
        }
        ProgressView view = reader.Look(GetProgress().Read(), SteadyMs());
        platform::ShowProgress(ProgressStatusText(view), view.permille);
        if (platform::RunProgressWindow(kRefreshMs) &&
            platform::AskYesNo(kCancelQuestion, kProgressTitle)) {
            // Part files stay where they are: the next run resumes them.
            WriteLog("The player cancelled the install.");
            ExitInstaller();
        }
    }
}
