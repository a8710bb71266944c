#pragma once
// What the main thread does while the install worker runs. The build picks one of two files:
// idle_plain.cpp (the default: it only waits) or idle_with_progress.cpp (FELTO_PROGRESS_WINDOW:
// a progress window on Windows, a progress line on a terminal elsewhere).

// Before the install worker starts, so that every message box has the window as its owner.
void OpenProgressDisplay();
// Never returns: the process ends from the install worker or, on a cancel, from here.
[[noreturn]] void IdleUntilExit();
