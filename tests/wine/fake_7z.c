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
    char command[9000];
    snprintf(command, sizeof command, "\"%s\" x -bd -y \"-o%s\" \"%s\"",
             host && *host ? host : "/usr/bin/7z", hostFolder, hostArchive);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "7z stand-in: cannot start the host's 7z (%lu)\n", GetLastError());
        return 8;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
