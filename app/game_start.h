#pragma once
// The last step of a successful install: desktop shortcut, game start, end of the process.

[[noreturn]] void StartGameAndExit();

// Writes the shortcut to the game at shortcutPath; true when the file was saved.
bool CreateDesktopShortcut(const char* shortcutPath);
