// The main dialog: the program's only window of its own.  It fills and reads
// the controls and keeps TargetFolder and OverwritePolicy for the driver; the
// listing, the extraction and its reports all happen in ExtractEntries.
#include "MainDialog.h"

#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "../common/Texts.h"
#include "../common/WideText.h"
#include "../extract/Extract.h"
#include "../resources/resource.h"
#include "FolderDialogs.h"

#include <string.h>

static HWND Item(HWND dialog, int id)
{
    return GetDlgItem(dialog, id);
}

static int EntryListId()
{
    return SortEntries ? IDC_LIST_SORTED : IDC_LIST_UNSORTED;
}

static void SelectWholeList(HWND dialog)
{
    SendMessageW(Item(dialog, EntryListId()), LB_SETSEL, TRUE, -1);
}

// The folder field is read with room for more than a run accepts, so a
// longer folder reaches the run whole and is refused there, not cut into
// the name of another folder.
static void ReadFolderField(HWND dialog)
{
    WindowTextUtf8(Item(dialog, IDC_FOLDER), TargetFolder, TargetFolderUnits - 1);
}

static void TakeCurrentFolder()
{
    // A current folder too long for the buffer is still named, relatively:
    // an empty text would put every file in the root of the drive.
    DWORD n = CurrentFolderUtf8(TargetFolder, TargetFolderUnits - 1);
    if (n == 0 || n >= TargetFolderUnits - 1) {
        TargetFolder[0] = '.';
        TargetFolder[1] = 0;
    }
}

static char *Append(char *to, const char *text)
{
    while (*text)
        *to++ = *text++;
    return to;
}

// 'run "<parameters' name> <run file's name>" after extraction'.  Both
// names are at most 255 characters, so the text fits the buffer whatever
// the settings block holds.
static void SetRunCaption(HWND box)
{
    char caption[5 + 2 * MaxComponentChars * Utf8PerUnit + 1 + 17 + 1];
    Text name = {0, 0};
    char *p = Append(caption, "run \"");
    FileNamePart(RunParameters, name);
    p = Append(p, name.Data);
    *p++ = ' ';
    FileNamePart(RunFile, name);
    p = Append(p, name.Data);
    p = Append(p, "\" after extraction");
    *p = 0;
    TextFree(name);
    SetWindowUtf8(box, caption);
}

static void InitDialog(HWND dialog)
{
    HINSTANCE self = GetModuleHandleW(NULL);
    SetClassLongW(dialog, GCL_HICON, (LONG)(LONG_PTR)LoadIconW(self, L"MnIcon"));
    HWND folder = Item(dialog, IDC_FOLDER);
    SetFocus(folder);

    if (HasDefaultFolder) {
        uint32_t n = 0;
        for (; n < TargetFolderSize - 2 && DefaultFolder[n]; n++)
            TargetFolder[n] = DefaultFolder[n];
        TargetFolder[n] = 0;
    } else {
        TakeCurrentFolder();
    }

    HWND run = Item(dialog, IDC_RUN);
    if (!RunWithParameters && !RunOpensFile) {
        ShowWindow(run, SW_HIDE);
    } else {
        SetRunCaption(run);
        SendMessageW(run, BM_SETCHECK, NoRun ? BST_UNCHECKED : BST_CHECKED, 0);
        // Hidden but checked: the configured run cannot be switched off.
        if (!ShowRunOption)
            ShowWindow(run, SW_HIDE);
    }

    SetWindowUtf8(folder, TargetFolder);
    SendMessageW(folder, EM_SETSEL, 0, 0x7FFF);

    SendMessageW(Item(dialog, InitialOverwriteButton), BM_SETCHECK, BST_CHECKED, 0);
    OverwritePolicy = (uint8_t)(InitialOverwriteButton - IDC_OVERWRITE_ALL);
    if (FixedOverwrite) {
        DestroyWindow(Item(dialog, IDC_OVERWRITE_ALL));
        DestroyWindow(Item(dialog, IDC_OVERWRITE_NEVER));
        DestroyWindow(Item(dialog, IDC_OVERWRITE_ASK));
        DestroyWindow(Item(dialog, IDC_OVERWRITE_GROUP));
    }

    if (HasCaption)
        SetWindowUtf8(dialog, CaptionText);
    CentreWindow(dialog);

    ExtractEntries(dialog, EntryListId(), true);
    ShowWindow(Item(dialog, EntryListId()), SW_SHOW);
    SelectWholeList(dialog);
    MainDialogWindow = dialog;
}

static void Browse(HWND dialog)
{
    ReadFolderField(dialog);
    memcpy(BrowseFolder, TargetFolder, TextBufferSize - 1);
    BrowseFolder[TextBufferSize - 1] = 0;
    if (DialogBoxParamW(GetModuleHandleW(NULL), L"DLGSEL", dialog, DlgSelProc, 0) == 1) {
        // Up to 260 characters come back, all of them kept.
        memcpy(TargetFolder, BrowseFolder, TextBufferSize);
        TargetFolder[TextBufferSize - 1] = 0;
        SetWindowUtf8(Item(dialog, IDC_FOLDER), TargetFolder);
    }
}

static void Extract(HWND dialog)
{
    // Every run extracts every entry, whatever the user deselected.
    SelectWholeList(dialog);
    ReadFolderField(dialog);
    StripBackslash(TargetFolder);
    if (!TargetFolder[0]) {
        TakeCurrentFolder();
        SetWindowUtf8(Item(dialog, IDC_FOLDER), TargetFolder);
    }
    if (DefaultToTemp && !MakeOwnTempFolder(dialog))
        return;
    ExtractEntries(dialog, EntryListId(), false);
    if (ExtractSucceeded) {
        // BM_GETCHECK answers for a hidden box too.
        RunAfterExtraction((int)SendMessageW(Item(dialog, IDC_RUN), BM_GETCHECK, 0, 0));
        EndDialog(dialog, 1);
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OVERWRITE_ALL:
            OverwritePolicy = OverwriteAll;
            break;
        case IDC_OVERWRITE_NEVER:
            OverwritePolicy = OverwriteNever;
            break;
        case IDC_OVERWRITE_ASK:
            OverwritePolicy = OverwriteAsk;
            break;
        // The driver pumps messages and its prompts have no owner, so these
        // can arrive in the middle of a run: a nested run, a new folder or
        // a closed dialog would pull the shared state from under it.
        case IDC_BROWSE:
            if (!RunInProgress)
                Browse(dialog);
            break;
        case IDOK:
            if (!RunInProgress)
                Extract(dialog);
            break;
        case IDCANCEL:
            // Closing during a run (its button, Alt+F4) asks first; a stop
            // ends the run after the entry being written.
            if (RunInProgress) {
                if (!StopRequested && MessageUtf8(NULL, TEXT_STOP_QUESTION, CAPTION_STOP, MB_YESNO | MB_ICONQUESTION) == IDYES)
                    StopRequested = true;
                break;
            }
            EndDialog(dialog, 2);
            return 1;
        }
        return 0;
    }
    return 0;
}

void RunMainDialog()
{
    HINSTANCE self = GetModuleHandleW(NULL);
    if (!Silent) {
        DialogBoxParamW(self, L"MainDialog", NULL, MainDialogProc, 0);
        return;
    }
    // A silent run is the same dialog, never shown: the same listing and
    // extraction with every message held back, the entry list still the
    // tally.  What is left selected is what failed.
    HWND dialog = CreateDialogParamW(self, L"MainDialog", NULL, MainDialogProc, 0);
    HWND list = Item(dialog, EntryListId());
    // An archive that could not be read to its end is not extracted at all.
    ExitCode = 3;
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) > 0 && !ArchiveUnread) {
        ExitCode = 0;
        Extract(dialog);
        if (SendMessageW(list, LB_GETSELCOUNT, 0, 0) != 0)
            ExitCode = 1;
        if (ArchiveUnread)
            ExitCode = 3;
    }
    DestroyWindow(dialog);
}
