/* Stands in for 7-Zip's 7z.exe in the tests under Wine. It takes the installer's command line
 * (x -o<folder> <archive> -y) and has the host's own 7z do the extracting, with every path
 * turned into the host's form: Wine knows where each drive letter leads. A test that decides
 * when the archiver writes names a host script in FELTO_TEST_7Z_HOST, which gets the same
 * arguments in place of the host's 7z. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef char*(CDECL* UnixFileName)(const WCHAR*);

static int ToHostPath(const char* windowsPath, char* out, size_t size) {
    WCHAR wide[MAX_PATH * 4];
    if (!MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, wide, MAX_PATH * 4))
        return 0;
    UnixFileName convert = (UnixFileName)(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!convert)
        return 0;
    char* host = convert(wide);
    if (!host)
        return 0;
    int fits = snprintf(out, size, "%s", host) < (int)size;
    HeapFree(GetProcessHeap(), 0, host);
    return fits;
}

int main(int argc, char** argv) {
    const char* folder = NULL;
    const char* archive = NULL;
    int extract = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "x") == 0)
            extract = 1;
        else if (strncmp(argv[i], "-o", 2) == 0)
            folder = argv[i] + 2;
        else if (argv[i][0] != '-')
            archive = argv[i];
    }
    char hostFolder[4096], hostArchive[4096];
    if (!extract || !folder || !archive || !ToHostPath(folder, hostFolder, sizeof hostFolder) ||
        !ToHostPath(archive, hostArchive, sizeof hostArchive)) {
        fprintf(stderr, "7z stand-in: cannot use this command line\n");
        return 7;
    }
    const char* host = getenv("FELTO_TEST_7Z_HOST");
    /* Wine cannot wait for a host program it started: the host's shell writes the extraction's
     * exit status into a file beside the output when it has ended, and the stand-in waits for
     * that file (at most ten minutes, the installer's own limit). */
    char marker[MAX_PATH * 2], hostMarker[4096];
    snprintf(marker, sizeof marker, "%s\\7z-stand-in-%lu.done", folder, GetCurrentProcessId());
    DeleteFileA(marker);
    if (!ToHostPath(marker, hostMarker, sizeof hostMarker))
        return 9;
    char command[12000];
    /* Windows rules split the command line: the script is one double-quoted argument. */
    snprintf(command, sizeof command,
             "/bin/sh -c \"\\\"$0\\\" \\\"$@\\\" >/dev/null 2>&1; echo $? > '%s.part'; "
             "mv '%s.part' '%s'\" \"%s\" x -bd -y \"-o%s\" \"%s\"",
             hostMarker, hostMarker, hostMarker, host && *host ? host : "/usr/bin/7z", hostFolder,
             hostArchive);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "7z stand-in: cannot start the host's 7z (%lu)\n", GetLastError());
        return 8;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES; waited += 20) {
        if (waited >= 600000)
            return 10;
        Sleep(20);
    }
    char status[64] = "";
    FILE* file = fopen(marker, "r");
    if (file) {
        if (!fgets(status, sizeof status, file))
            status[0] = '\0';
        fclose(file);
    }
    DeleteFileA(marker);
    return status[0] ? atoi(status) : 2;
}
