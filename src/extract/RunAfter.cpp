// The launch after a successful extraction: the configured file, opened
// with its default action or with "open" and the parameters.  The launched
// program is on its own unless /W asked to wait for it: its exit code then
// becomes the extractor's.
#include "Extract.h"

#include "../archive/EntryNames.h"
#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "../common/Texts.h"
#include "../common/WideText.h"

#include <shellapi.h>

// Only what the archive holds is run: a file of that name left in place
// (never overwritten, or planted in a folder anyone may write to) must
// hold the entry's bytes.  It is read back and kept open, shared for
// reading alone, until the launch is done, so that it cannot be changed
// in between.  False, the file closed again, when it is not the entry.
SFX_PART bool HoldRunFile(const char *path, SfxFile &held)
{
    held = FileOpenRead(path);
    uint32_t crc = 0xFFFFFFFF, size = 0;
    uint8_t *buffer = (uint8_t *)GetMem(32768);
    for (int32_t got; held != NoFile && (got = FileRead(held, buffer, 32768)) > 0; size += (uint32_t)got)
        UpdateCrcOverBlock(buffer, got, crc);
    FreeMem(buffer);
    if (held != NoFile && RunEntryFound && (crc ^ 0xFFFFFFFF) == RunEntryCrc && size == RunEntrySize)
        return true;
    if (held != NoFile)
        FileClose(held);
    held = NoFile;
    return false;
}

// The launched program, waited for when /W asked: its exit code becomes
// the extractor's.
SFX_PART void AwaitProgram(HANDLE process)
{
    // Nothing is left to do in the dialog while the program runs.
    ShowWindow(MainDialogWindow, SW_HIDE);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    ExitCode = code;
    CloseHandle(process);
}

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

    typedef BOOL(WINAPI * Execute)(SHELLEXECUTEINFOW *);
    Execute execute = (Execute)(void *)SystemProc("shell32.dll", "ShellExecuteExW");
    Wide file(path), parameters(RunParameters);
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    // Interactive, the shell may ask how to open a file it has no program
    // for, as it always did; a silent run lets it show nothing at all.
    run.fMask = (Silent ? SEE_MASK_FLAG_NO_UI : 0) | (WaitForRun ? SEE_MASK_NOCLOSEPROCESS : 0);
    run.lpFile = file;
    run.lpDirectory = L"";
    run.nShow = SW_SHOW;
    if (!(RunOpensFile && HasRunFile)) {
        if (!RunWithParameters)
            return;
        // The short form replaces the text only when it is shorter, so it
        // always fits where the text was; a switch that names no file
        // stays as it is.
        GetShortPathNameW(parameters, parameters.Data, lstrlenW(parameters));
        run.lpVerb = L"open";
        run.lpParameters = parameters;
    }
    // The run file is joined to the target folder: one that could lead out
    // of it (a '..' component, a ':', a leading separator, a device) is
    // never launched, whatever made the settings block.  Whoever waits for
    // the program learns that it never started.
    if (IsUnsafeName(RunFile)) {
        if (WaitForRun)
            ExitCode = 1;
        return;
    }
    SfxFile held = NoFile;
    if (HasRunFile && !HoldRunFile(path, held)) {
        MessageUtf8(NULL, TEXT_NOT_THE_RUN_FILE, CAPTION_ERROR, MB_OK);
        ExitCode = 1;
        return;
    }
    bool launched = execute && execute(&run);
    if (held != NoFile)
        FileClose(held);
    if (!launched) {
        if (WaitForRun)
            ExitCode = 1;
        return;
    }
    if (run.hProcess)
        AwaitProgram(run.hProcess);
}
