/* Stands in for the game in the tests under Wine: leaves "game-started.mark" in the folder it
 * was started in, naming that folder and its own path. */
#include <windows.h>

#include <stdio.h>

int main(void) {
    char folder[MAX_PATH] = "";
    char self[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    GetModuleFileNameA(NULL, self, sizeof self);
    FILE* mark = fopen("game-started.mark", "w");
    if (!mark)
        return 1;
    fprintf(mark, "started in %s\nprogram %s\n", folder, self);
    return fclose(mark) == 0 ? 0 : 1;
}
