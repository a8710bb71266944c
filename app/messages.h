#pragma once
// The numbered messages a failed run ends with.

// The message of a code; "unknown" outside the two ranges 10-21 and 100-112.
const char* ErrorMessage(int code);

// Logs "error,code:%d, ext err:%d", then shows "<message>(<code>)" in a box captioned "提示"
// and waits until the player closes it. The caller ends the run.
void ReportError(int code, int extra);

// ReportError, then ExitInstaller.
[[noreturn]] void FailWith(int code, int extra = 0);
