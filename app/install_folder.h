#pragma once
// Where the game is installed: the default folder, or a Felto folder inside the one the player
// picks in the folder dialog.

#include <string>

// The default folder when it exists or can be made; otherwise the folder dialog, started at
// DialogStartFolder, until the player picks a folder where the install folder can be made (or
// already is) or cancels; a folder that cannot be used is said so in a box and the dialog shown
// again. Empty when he cancelled; `makeError` then holds why the default
// could not be made.
std::string ChooseInstallFolder(int& makeError);

// `chosen` + `separator` + "Felto", unless the last component of `chosen` already is Felto in
// any letter case: a player who picks a folder expects the game in a folder of its own there,
// not its files spread over what he picked.
std::string InstallFolderUnder(const std::string& chosen, char separator);

// Where the folder dialog starts: the nearest existing folder above `defaultDir` when a folder
// can be made in it (tried by making one and removing it: a read-only drive D: is no start),
// else the system drive.
std::string DialogStartFolder(const std::string& defaultDir);

// The nearest folder at or above `path` that exists ("D:\" for a missing "D:\Felto"); empty when
// there is none.
std::string NearestExistingFolder(const std::string& path);
