#pragma once
// Where the game is installed: the default folder, or a Felto folder inside the one the player
// picks in the folder dialog.

#include <string>

// The default folder when it exists or can be made; otherwise the folder dialog, started at the
// nearest existing folder above the default (else the system drive), until the player picks a
// usable folder or cancels. Empty when he cancelled; `makeError` then holds why the default
// could not be made.
std::string ChooseInstallFolder(int& makeError);

// `chosen` + `separator` + "Felto", unless the last component of `chosen` already is Felto in
// any letter case: a player who picks a folder expects the game in a folder of its own there,
// not its files spread over what he picked.
std::string InstallFolderUnder(const std::string& chosen, char separator);

// The nearest folder at or above `path` that exists ("D:\" for a missing "D:\Felto"); empty when
// there is none.
std::string NearestExistingFolder(const std::string& path);
