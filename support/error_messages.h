#pragma once
// The numbered messages a failed run ends with, as the player reads them: the installer shows
// them (app/messages) and the studio's report tool names them.

// The message of a code; "unknown" outside the two ranges 10-21 and 100-112.
const char* ErrorMessage(int code);
