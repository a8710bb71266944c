#include "app/messages.h"

#include "app/field_report.h"
#include "app/installer_state.h"
#include "platform/platform.h"
#include "support/log.h"

void ReportError(int code, int extra) {
    std::FILE* log = GetLogStream();
    WriteEntry(log, MakeLogEntry("error,code:%d, ext err:%d\n", code, extra));
    if (log != stderr)
        WriteEntry(stderr, platform::StandardErrorLinePrefix() +
                               MakeLogEntry("error,code:%d, ext err:%d\n", code, extra));
    platform::ShowMessage(FormatString("%s(%d)", ErrorMessage(code), code), "提示");
}

void FailWith(int code, int extra) {
    SendFieldReport(code, extra);
    ReportError(code, extra);
    ExitInstaller();
}
