// The folder dialogs lean on the system's own directory listing
// (DlgDirListW): it fills the list with sub-folders, the parent entry and
// the drives, enters the folder and names it in the static control.  The
// static's text is then the one truth about what is listed: BrowseFolder is
// re-read from it after every listing, so OK always returns the folder the
// user sees, never the item that merely happens to be selected.
#include "FolderDialogs.h"
#include "PathUtils.h"
#include "../archive/EntryNames.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "../common/Utf8.h"
#include "../common/Texts.h"
#include "../common/WideText.h"
#include "../resources/resource.h"

#include <shellapi.h>
#include <winnetwk.h>
#include <string.h>

int32_t SmallIconSize;
HIMAGELIST SystemImageList;

enum {
    ListedKinds = DDL_DIRECTORY | DDL_DRIVES | DDL_EXCLUSIVE,
    // What DlgDirSelectExW and the current-folder query may write, in
    // UTF-16 units.
    SelectChars = 256,
};

// The selected item's folder into BrowseFolder, which holds three bytes
// for each unit.
static void SelectedFolder(HWND dialog)
{
    wchar_t *folder = (wchar_t *)GetMem(SelectChars * sizeof(wchar_t));
    folder[0] = 0;
    DlgDirSelectExW(dialog, folder, SelectChars, IDC_SEL_LIST);
    Utf8FromWide(folder, BrowseFolder, TextBufferSize);
    FreeMem(folder);
}

// shell32 and comctl32 are loaded at run time from the system folder: the
// DLLs they import in turn are then looked for there too, not beside the
// self-extracting file, as they would be for a static import.
typedef DWORD_PTR(WINAPI *FileInfoProc)(LPCWSTR, DWORD, SHFILEINFOW *, UINT, UINT);
static FileInfoProc FileInfo;

// The plain folder icon for the parent entry: index 3 of the system image
// list on Windows, but Wine fills its list in the order icons are asked for,
// so the index is asked for too.  Set to 3 when the first dialog opens (no
// initialised data); it stays 3 for as long as the shell cannot be asked.
static int ParentIcon;

// The shell's display name (when display is not null, MAX_PATH UTF-16 units
// as UTF-8, three bytes for each) and
// small-icon index of a path, a folder's icon when the shell does not know
// it; keeps the system image list's handle.  With SHGFI_USEFILEATTRIBUTES
// in extra, the path is taken for a folder without looking at the disk.
static int ShellItemInfo(const char *path, char *display, UINT extra = 0)
{
    SHFILEINFOW info;
    info.iIcon = ParentIcon;
    info.szDisplayName[0] = 0;
    if (!FileInfo)
        FileInfo = (FileInfoProc)(void *)SystemProc("shell32.dll", "SHGetFileInfoW");
    HIMAGELIST list = FileInfo ? (HIMAGELIST)FileInfo(Wide(path), FILE_ATTRIBUTE_DIRECTORY, &info,
        sizeof info, SHGFI_SYSICONINDEX | SHGFI_DISPLAYNAME | SHGFI_SMALLICON | extra) : 0;
    // A failed query answers 0; the handle from an earlier one stays good.
    if (list)
        SystemImageList = list;
    if (display)
        Utf8FromWide(info.szDisplayName, display, MAX_PATH * Utf8PerUnit);
    return info.iIcon;
}

static void FillFolderList(HWND dialog)
{
    char *folder = InRegister(BrowseFolder);
    HWND path = GetDlgItem(dialog, IDC_SEL_PATH);
    if (!DlgDirListW(dialog, Wide(folder).Data, IDC_SEL_LIST, IDC_SEL_PATH, ListedKinds)) {
        // A drive without a medium or a folder gone since it was listed: the
        // static still names the folder listed before, and listing that again
        // keeps the list, the current folder and BrowseFolder in agreement.
        WindowTextUtf8(path, folder, TextBufferSize / Utf8PerUnit);
        if (!folder[0])
            CurrentFolderUtf8(folder, SelectChars);
        DlgDirListW(dialog, Wide(AppendBackslash(folder)).Data, IDC_SEL_LIST, IDC_SEL_PATH,
                    ListedKinds);
    }
    WindowTextUtf8(path, folder, TextBufferSize / Utf8PerUnit);
    ExpandLongPath(folder);
    SetWindowUtf8(path, folder);

    // The list is sorted, and names that begin with some punctuation sort
    // ahead of the parent entry.
    HWND list = GetDlgItem(dialog, IDC_SEL_LIST);
    static const wchar_t parent[] = L"[..]";
    LRESULT at = SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)parent);
    if (at != LB_ERR) {
        SendMessageW(list, LB_DELETESTRING, at, 0);
        SendMessageW(list, LB_INSERTSTRING, 0, (LPARAM)parent);
    }
    SetFocus(list);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
}

typedef BOOL(WINAPI *DrawImageProc)(HIMAGELIST, int, HDC, int, int, UINT);
static DrawImageProc DrawImage;

// Items are "[name]", "[..]" or "[-x-]"; each is drawn with the shell's
// icon and name for what it stands for.
static void DrawFolderItem(const DRAWITEMSTRUCT *item)
{
    if (item->CtlID != IDC_SEL_LIST || (int)item->itemID < 0)
        return;
    // A folder name may hold 255 UTF-16 units, and the item is that name in
    // brackets: the buffers are sized to the item.
    LRESULT length = SendMessageW(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0);
    if (length < 2)
        return;
    wchar_t *wide = (wchar_t *)GetMem(((uint32_t)length + 1) * sizeof(wchar_t));
    wide[0] = 0;
    SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID, (LPARAM)wide);
    uint32_t size = (uint32_t)length * Utf8PerUnit + 1;
    char *text = (char *)GetMem(size);
    uint32_t n = Utf8FromWide(wide, text, size);
    FreeMem(wide);
    if (n < 2) {
        FreeMem(text);
        return;
    }
    char *name = text + 1;
    text[n - 1] = 0;
    n -= 2;
    bool drive = n == 3 && name[0] == '-' && name[2] == '-';
    if (drive) {
        name[0] = name[1];
        name[1] = ':';
        name[2] = '\\';
    }
    bool parentEntry = !drive && n == 2 && name[0] == '.' && name[1] == '.';

    HDC dc = item->hDC;
    int back = COLOR_WINDOW, fore = COLOR_WINDOWTEXT;
    if (item->itemState & ODS_FOCUS) {
        back = COLOR_HIGHLIGHT;
        fore = COLOR_HIGHLIGHTTEXT;
    }
    SetTextColor(dc, GetSysColor(fore));
    SetBkColor(dc, GetSysColor(back));
    FillRect(dc, &item->rcItem, (HBRUSH)(INT_PTR)(back + 1));

    int icon = ParentIcon;
    int indent = 0;
    const char *shown = name;
    char display[MAX_PATH * Utf8PerUnit];
    if (!parentEntry) {
        icon = ShellItemInfo(name, display);
        // Without a display name (the shell does not know the path) the
        // item's own text still tells what it is.
        if (display[0])
            shown = display;
        if (!drive)
            indent = SmallIconSize / 2;
    }
    int x = item->rcItem.left + indent;
    if (!DrawImage)
        DrawImage = (DrawImageProc)(void *)SystemProc("comctl32.dll", "ImageList_Draw");
    if (DrawImage)
        DrawImage(SystemImageList, icon, dc, x + 3, item->rcItem.top + 1, ILD_TRANSPARENT);
    Wide out(shown);
    TextOutW(dc, x + SmallIconSize + 8, item->rcItem.top + 2, out, lstrlenW(out));
    FreeMem(text);
}

INT_PTR CALLBACK DlgNewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        AppendBackslash(BrowseFolder);
        CentreWindow(dialog);
        SetWindowUtf8(GetDlgItem(dialog, IDC_NEW_PATH), BrowseFolder);
        SetFocus(GetDlgItem(dialog, IDC_NEW_NAME));
        return 0;
    }
    if (message != WM_COMMAND)
        return 0;
    switch (LOWORD(wParam)) {
    case IDOK: {
        char *name = (char *)GetMem(TextBufferSize);
        WindowTextUtf8(GetDlgItem(dialog, IDC_NEW_NAME), name, TextBufferSize / Utf8PerUnit);
        if (name[0]) {
            if (CreateAndEnterFolder(BrowseFolder, name)) {
                // The next listing reads the real path back from the system;
                // a path too long to hand over keeps the folder listed now.
                uint32_t n = TextLength(BrowseFolder);
                uint32_t added = TextLength(name);
                if (Utf16Units(BrowseFolder) + Utf16Units(name) + 1 < 256)
                    memcpy(BrowseFolder + n, name, added + 1);
                EndDialog(dialog, 1);
            } else {
                MessageUtf8(dialog, TEXT_CANNOT_MAKE_FOLDER, CAPTION_ERROR_PLAIN, MB_OK | MB_ICONSTOP);
            }
        }
        FreeMem(name);
        return 1;
    }
    case IDCANCEL:
        EndDialog(dialog, 2);
        return 1;
    }
    return 0;
}

INT_PTR CALLBACK DlgSelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        // DlgDirListW takes the last component of a path without a
        // backslash for a file pattern, so the current folder gets one too.
        if (!PathExists(AppendBackslash(BrowseFolder))) {
            CurrentFolderUtf8(BrowseFolder, SelectChars);
            AppendBackslash(BrowseFolder);
        }
        // An item holds a small icon and a line of the dialog's font, both
        // at the screen's resolution: whichever is taller sets the height.
        SmallIconSize = GetSystemMetrics(SM_CYSMICON);
        {
            HWND list = GetDlgItem(dialog, IDC_SEL_LIST);
            HDC dc = GetDC(list);
            HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageW(list, WM_GETFONT, 0, 0));
            TEXTMETRICW tm;
            int line = GetTextMetricsW(dc, &tm) ? tm.tmHeight : 0;
            SelectObject(dc, old);
            ReleaseDC(list, dc);
            SendMessageW(list, LB_SETITEMHEIGHT, 0, (line > SmallIconSize ? line : SmallIconSize) + 2);
        }
        CentreWindow(dialog);
        // The parent entry's icon comes from the image list alone, and it
        // may be the first item drawn: fetch the list's handle now, with the
        // index of a plain folder's icon.
        if (!FileInfo)
            ParentIcon = 3;
        ParentIcon = ShellItemInfo("a", 0, SHGFI_USEFILEATTRIBUTES);
        FillFolderList(dialog);
        return 0;
    case WM_DRAWITEM:
        DrawFolderItem((const DRAWITEMSTRUCT *)lParam);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SEL_LIST:
            if (HIWORD(wParam) == LBN_DBLCLK) {
                SelectedFolder(dialog);
                AppendBackslash(BrowseFolder);
                FillFolderList(dialog);
            } else if (HIWORD(wParam) == LBN_SETFOCUS || HIWORD(wParam) == LBN_KILLFOCUS) {
                // Only the item with the focus is highlighted.
                InvalidateRect((HWND)lParam, NULL, TRUE);
            }
            return 1;
        case IDC_SEL_NETWORK:
        {
            typedef DWORD(WINAPI * Connect)(HWND, DWORD);
            Connect connect = (Connect)(void *)SystemProc("mpr.dll", "WNetConnectionDialog");
            if (connect && connect(dialog, RESOURCETYPE_DISK) == NO_ERROR)
                FillFolderList(dialog);
            return 1;
        }
        case IDC_SEL_NEW:
            if (DialogBoxParamW(GetModuleHandleW(NULL), L"DLGNEW", dialog, DlgNewProc, 0) == 1)
                FillFolderList(dialog);
            return 1;
        case IDOK:
            AppendBackslash(BrowseFolder);
            EndDialog(dialog, 1);
            return 1;
        case IDCANCEL:
            EndDialog(dialog, 2);
            return 1;
        }
    }
    return 0;
}
