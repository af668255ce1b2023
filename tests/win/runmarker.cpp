// A stand-in for the program a self-extracting file launches after its
// extraction: it leaves marker.txt beside itself holding its command line
// its current folder and the show command it was started with (-1 for
// none), one per line, so the tests can see that it ran and how it was
// called.  "runmarker /load NAME" also loads the DLL NAME the way a
// program that does not guard its DLL search would; "runmarker /exit N"
// ends with exit code N, for the tests of waiting for it.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "/load") == 0)
        LoadLibraryA(argv[2]);
    char path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[n] = 0;
    char *slash = strrchr(path, '\\');
    strcpy(slash ? slash + 1 : path, "marker.txt");
    char folder[MAX_PATH];
    folder[GetCurrentDirectoryA(sizeof folder, folder) % sizeof folder] = 0;
    STARTUPINFOA start;
    GetStartupInfoA(&start);
    int show = start.dwFlags & STARTF_USESHOWWINDOW ? start.wShowWindow : -1;
    FILE *f = fopen(path, "wb");
    if (!f)
        return 1;
    fprintf(f, "%s\n%s\n%d\n", GetCommandLineA(), folder, show);
    fclose(f);
    return argc == 3 && strcmp(argv[1], "/exit") == 0 ? atoi(argv[2]) : 0;
}
