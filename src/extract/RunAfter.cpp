// The launch after a successful extraction: the configured file, opened
// with its default action or with "open" and the parameters.  The launched
// program is on its own: nothing waits for it or looks at its result.
#include "Extract.h"

#include "../archive/EntryNames.h"
#include "../common/SFXmisc.h"
#include "../common/WideText.h"

#include <shellapi.h>

void RunAfterExtraction(int checkState)
{
    // TargetFolder has room for a 255-character folder and the backslash.
    AppendBackslash(TargetFolder);
    // The run file is joined to the target folder: one that could lead out
    // of it (a '..' component, a ':', a leading separator, a device) is
    // never launched, whatever made the settings block.
    if (checkState != 1 || IsUnsafeName(RunFile))
        return;

    // The whole folder text, its backslash and the whole run file text,
    // however long each is.
    char path[TargetFolderSize + TextBufferSize];
    uint32_t n = 0;
    for (const char *s = TargetFolder; *s; s++)
        path[n++] = *s;
    for (const char *s = RunFile; *s; s++)
        path[n++] = *s;
    path[n] = 0;

    typedef HINSTANCE(WINAPI * Execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    Execute execute = (Execute)SystemProc("shell32.dll", "ShellExecuteW");
    if (!execute)
        return;
    if (RunOpensFile && HasRunFile) {
        execute(NULL, NULL, Wide(path), NULL, L"", SW_SHOW);
    } else if (RunWithParameters) {
        // The short form replaces the text only when it is shorter, so it
        // always fits where the text was; a switch that names no file
        // stays as it is.
        Wide parameters(RunParameters);
        GetShortPathNameW(parameters, parameters.Data, lstrlenW(parameters));
        execute(NULL, L"open", Wide(path), parameters, L"", SW_SHOW);
    }
}
