// The launch after a successful extraction: the configured file, opened
// with its default action or with "open" and the parameters.  The launched
// program is on its own: nothing waits for it or looks at its result.
#include "Extract.h"

#include "../common/SFXmisc.h"

#include <shellapi.h>

void RunAfterExtraction(int checkState)
{
    // TargetFolder has room for a 255-character folder and the backslash.
    AppendBackslash(TargetFolder);
    if (checkState != 1)
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

    if (RunOpensFile && HasRunFile) {
        ShellExecuteA(NULL, NULL, path, NULL, "", SW_SHOW);
    } else if (RunWithParameters) {
        // The short form replaces the text only when it is shorter, so it
        // always fits where the text was; a switch that names no file
        // stays as it is.
        GetShortPathNameA(RunParameters, RunParameters, TextLength(RunParameters));
        ShellExecuteA(NULL, "open", path, RunParameters, "", SW_SHOW);
    }
}
