#pragma once
// The numbered messages a failed run ends with.

#include "support/error_messages.h"

// Logs "error,code:%d, ext err:%d", then shows "<message>(<code>)" in a box captioned "提示"
// and waits until the player closes it. The caller ends the run.
void ReportError(int code, int extra);

// ReportError, then ExitInstaller.
[[noreturn]] void FailWith(int code, int extra = 0);
