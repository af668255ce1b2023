// The folder selection and new-folder dialogs, run modally on the main
// thread as the main dialog runs them, while a second thread drives them
// through window messages.
#include "wintest_main.h"

#include "driver.h"
#include "common/SFXgbls.h"
#include "resources/resource.h"
#include "ui/FolderDialogs.h"
#include "common/Texts.h"

#include <ctype.h>
#include <stdlib.h>
#include <string>
#include <vector>

static const char *SelCaption = "압축해제 디렉토리 선택";
static const char *NewCaption = "서브디렉토리 만들기";
static const char *ErrorCaption = "에러";
static DWORD DialogThread;
typedef std::vector<std::string> Items;

static void MakeScratch()
{
    drv::RemoveTree("C:\\SfxDlg Test");
    // "!" and "#" sort ahead of the parent entry.
    const char *folders[] = {"", "\\Alpha Folder", "\\Alpha Folder\\Inner", "\\beta", "\\!Bang", "\\#Hash"};
    for (const char *f : folders)
        CreateDirectoryA((std::string("C:\\SfxDlg Test") + f).c_str(), NULL);
    drv::WriteFileBytes("C:\\SfxDlg Test\\file.txt", "not a folder");
    SetCurrentDirectoryA("C:\\");
}

// The listing names the drive in the system's case; the rest must be the
// long form exactly.  The current folder is compared without regard to case.
#define CHECK_PATH(got, want)                                               \
    do {                                                                    \
        std::string g_ = (got), w_ = (want);                                \
        if (g_.empty() || tolower(g_[0]) != tolower(w_[0]) || g_.substr(1) != w_.substr(1)) { \
            printf("  %s:%d: \"%s\" is not \"%s\"\n", __FILE__, __LINE__, g_.c_str(), w_.c_str()); \
            WinTestFailures++;                                              \
        }                                                                   \
    } while (0)

static bool CurrentIs(const char *want)
{
    char buf[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof buf - 1, buf);
    if (n && buf[n - 1] != '\\')
        strcpy(buf + n, "\\");
    return _stricmp(buf, want) == 0;
}

static HWND List(HWND d) { return GetDlgItem(d, IDC_SEL_LIST); }
static std::string Listed(HWND d) { return drv::ControlText(d, IDC_SEL_PATH); }

static Items ListItems(HWND d)
{
    Items items;
    int n = (int)SendMessageA(List(d), LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        char buf[600] = "";
        SendMessageA(List(d), LB_GETTEXT, i, (LPARAM)buf);
        items.push_back(buf);
    }
    return items;
}

static int Count(const Items &items, const char *text)
{
    int n = 0;
    for (const std::string &i : items)
        n += _stricmp(i.c_str(), text) == 0;
    return n;
}

static void DoubleClick(HWND d, const char *item)
{
    LRESULT i = SendMessageA(List(d), LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)item);
    CHECK(i != LB_ERR);
    SendMessageA(List(d), LB_SETCURSEL, i, 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEL_LIST, LBN_DBLCLK), (LPARAM)List(d));
}

static bool Gone(HWND w)
{
    for (int i = 0; i < 200 && IsWindow(w); i++)
        Sleep(25);
    return !IsWindow(w);
}

// A fresh listing of the folder (and the current folder): parent entry
// first unless it is a root, item 0 selected, drives, no files.
static void CheckListing(HWND d, const char *folder, bool root = false)
{
    CHECK_PATH(Listed(d), folder);
    CHECK(CurrentIs(folder));
    Items items = ListItems(d);
    CHECK(SendMessageA(List(d), LB_GETCURSEL, 0, 0) == 0);
    CHECK(Count(items, "[..]") == (root ? 0 : 1));
    CHECK(root || (!items.empty() && items[0] == "[..]"));
    CHECK(Count(items, "[-c-]") == 1 && Count(items, "[-e-]") == 1);
    CHECK(Count(items, "[file.txt]") == 0 && Count(items, "file.txt") == 0);
}

// Opens DLGNEW, types the name, presses OK; true when DLGNEW closed.
static bool MakeFolder(HWND d, const char *name)
{
    drv::Press(d, IDC_SEL_NEW);
    HWND n = drv::WaitThreadDialog(DialogThread, NewCaption);
    CHECK(n != NULL);
    SetDlgItemTextA(n, IDC_NEW_NAME, name);
    drv::Press(n, IDOK);
    return Gone(n);
}

typedef void (*Script)(HWND dialog);

static DWORD WINAPI Drive(LPVOID script)
{
    HWND d = drv::WaitThreadDialog(DialogThread, SelCaption);
    CHECK(d != NULL);
    if (d)
        ((Script)script)(d);
    // A script that failed half-way must not hang the test: close whatever
    // is still open, innermost first.
    for (int i = 0; i < 5 && d && IsWindow(d); i++) {
        HWND w = drv::WaitThreadDialog(DialogThread, NULL, 100);
        drv::Press(w ? w : d, w && GetDlgItem(w, IDCANCEL) ? IDCANCEL : IDOK);
        Sleep(200);
    }
    return 0;
}

static INT_PTR RunDlgSel(const char *start, Script script)
{
    if (!BrowseFolder)
        InitGlobals();
    strcpy(BrowseFolder, start);
    DialogThread = GetCurrentThreadId();
    HANDLE t = CreateThread(NULL, 0, Drive, (LPVOID)script, 0, NULL);
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), "DLGSEL", NULL, DlgSelProc, 0);
    WaitForSingleObject(t, 30000);
    CloseHandle(t);
    return result;
}

// ---------------------------------------------------------------------------

TEST_CASE(WalkingListsParentFirstAndOkReturnsTheListedFolder)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("c:\\sfxdlg test", [](HWND d) {
        CheckListing(d, "C:\\SfxDlg Test\\");
        CHECK(Count(ListItems(d), "[Alpha Folder]") == 1 && Count(ListItems(d), "[beta]") == 1);
        DoubleClick(d, "[Alpha Folder]");
        CheckListing(d, "C:\\SfxDlg Test\\Alpha Folder\\");
        CHECK(Count(ListItems(d), "[Inner]") == 1);
        DoubleClick(d, "[..]");
        CheckListing(d, "C:\\SfxDlg Test\\");
        // E: is empty: its root lists nothing but the drives.
        DoubleClick(d, "[-e-]");
        CheckListing(d, "E:\\", true);
        for (const std::string &i : ListItems(d))
            CHECK(i.size() == 5 && i[1] == '-');
        DoubleClick(d, "[-c-]");
        CheckListing(d, "C:\\", true);
        DoubleClick(d, "[SfxDlg Test]");
        // Selected but not entered: OK still takes the listed folder.
        SendMessageA(List(d), LB_SETCURSEL, 3, 0);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\");
}

TEST_CASE(MissingProposedFolderStartsAtTheCurrentFolder)
{
    MakeScratch();
    SetCurrentDirectoryA("C:\\SfxDlg Test\\beta");
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test\\No Such Folder", [](HWND d) {
        CheckListing(d, "C:\\SfxDlg Test\\beta\\");
        drv::Press(d, IDCANCEL);
    });
    CHECK(r == 2);
}

TEST_CASE(AnUnlistableDriveOrFolderKeepsThePreviousListing)
{
    MakeScratch();
    CreateDirectoryA("C:\\SfxDlg Test\\Alpha Folder\\Gone", NULL);
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test\\Alpha Folder", [](HWND d) {
        Items before = ListItems(d);
        // A drive letter with nothing behind it, as a drive without a medium.
        SendMessageA(List(d), LB_ADDSTRING, 0, (LPARAM)"[-q-]");
        DoubleClick(d, "[-q-]");
        CheckListing(d, "C:\\SfxDlg Test\\Alpha Folder\\");
        CHECK(ListItems(d) == before);
        // A folder removed after it was listed.
        RemoveDirectoryA("C:\\SfxDlg Test\\Alpha Folder\\Gone");
        DoubleClick(d, "[Gone]");
        CheckListing(d, "C:\\SfxDlg Test\\Alpha Folder\\");
        CHECK(Count(ListItems(d), "[Gone]") == 0);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\Alpha Folder\\");
}

TEST_CASE(NewFolderIsCreatedEnteredAndListed)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        CHECK(MakeFolder(d, "Two\\Levels"));
        CheckListing(d, "C:\\SfxDlg Test\\Two\\Levels\\");
        // An existing folder is entered; parent references are followed.
        CHECK(MakeFolder(d, "..\\..\\beta"));
        CheckListing(d, "C:\\SfxDlg Test\\beta\\");
        // Leading backslashes stay below the listed folder.
        CHECK(MakeFolder(d, "\\\\Lead"));
        CheckListing(d, "C:\\SfxDlg Test\\beta\\Lead\\");
        // Too long to hand over (with the typed backslashes, 256 or more):
        // made and entered, but the listing stays where it was.
        std::string name = std::string(30, '\\') + std::string(200, 'N');
        CHECK(MakeFolder(d, name.c_str()));
        CheckListing(d, "C:\\SfxDlg Test\\beta\\Lead\\");
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\beta\\Lead\\");
    CHECK(drv::FileExists("C:\\SfxDlg Test\\beta\\Lead\\" + std::string(200, 'N')));
    CHECK(!drv::FileExists("C:\\Lead"));
}

TEST_CASE(NewFolderRefusalsKeepTheDialogOpen)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        drv::Press(d, IDC_SEL_NEW);
        HWND n = drv::WaitThreadDialog(DialogThread, NewCaption);
        CHECK(n != NULL);
        CHECK_PATH(drv::ControlText(n, IDC_NEW_PATH), "C:\\SfxDlg Test\\");
        const char *refused[] = {"a:b", "bad|name", "\\\\"};
        for (const char *name : refused) {
            SetDlgItemTextA(n, IDC_NEW_NAME, name);
            drv::Press(n, IDOK);
            HWND box = drv::WaitThreadDialog(DialogThread, ErrorCaption, 5000);
            CHECK(box && drv::MessageBoxText(box) == TEXT_CANNOT_MAKE_FOLDER);
            CHECK(box && GetWindow(box, GW_OWNER) == n);
            drv::DismissBox(box);
            CHECK(Gone(box) && IsWindow(n));
        }
        // An empty name does nothing at all.
        SetDlgItemTextA(n, IDC_NEW_NAME, "");
        drv::Press(n, IDOK);
        CHECK(drv::WaitThreadDialog(DialogThread, ErrorCaption, 300) == NULL && IsWindow(n));
        drv::Press(n, IDCANCEL);
        CHECK(Gone(n));
        CheckListing(d, "C:\\SfxDlg Test\\");
        drv::Press(d, IDCANCEL);
    });
    CHECK(r == 2);
    CHECK(!drv::FileExists("C:\\SfxDlg Test\\a") && !drv::FileExists("C:\\SfxDlg Test\\bad"));
}

TEST_CASE(NetworkButtonWithoutNetworkLeavesTheList)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        Items before = ListItems(d);
        drv::Press(d, IDC_SEL_NETWORK);
        Sleep(500);
        // Should the platform show a dialog of its own, cancel it.
        HWND w = drv::WaitThreadDialog(DialogThread, NULL, 200);
        if (w && w != d)
            drv::Press(w, IDCANCEL), Gone(w);
        CHECK(ListItems(d) == before);
        CheckListing(d, "C:\\SfxDlg Test\\");
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
}

// A folder name may hold 255 UTF-16 units, up to 510 bytes in code page 949:
// drawing its item must not overrun anything.  The host's file system holds
// no such name, so the item is put in the list as the listing would put it
// there, longer than any name, so that no layout of the stack could absorb
// an overrun; and it is drawn on request, as the list asks for it.
TEST_CASE(LongFolderItemIsDrawnWithoutOverrun)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        HWND list = List(d);
        std::wstring item = L"[" + std::wstring(1000, L'\xD55C') + L"]";
        SendMessageW(list, LB_INSERTSTRING, 1, (LPARAM)item.c_str());
        HDC dc = GetDC(list);
        DRAWITEMSTRUCT draw = {ODT_LISTBOX, IDC_SEL_LIST, 1, ODA_DRAWENTIRE, ODS_FOCUS, list, dc,
                               {0, 20, 200, 38}, 0};
        // Called directly: a window procedure reached through a message
        // runs inside a handler that swallows the crash of an overrun.
        DlgSelProc(d, WM_DRAWITEM, IDC_SEL_LIST, (LPARAM)&draw);
        CHECK(IsWindow(d));
        ReleaseDC(list, dc);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
}

// With SFX_SCREENSHOT_PAUSE=<ms> both dialogs stay up that long each and
// their screen rectangles are printed.  Take DLGNEW with xwd -id: a capture
// of the root shows it black under Xvfb.
ON_REQUEST_CASE(PauseForScreenshots)
{
    CHECK(getenv("SFX_SCREENSHOT_PAUSE") != NULL);
    if (!getenv("SFX_SCREENSHOT_PAUSE"))
        return;
    RunDlgSel("C:\\users\\Public", [](HWND d) {
        DWORD ms = (DWORD)atoi(getenv("SFX_SCREENSHOT_PAUSE"));
        RECT r;
        GetWindowRect(d, &r);
        printf("DLGSEL %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fflush(stdout);
        Sleep(ms);
        drv::Press(d, IDC_SEL_NEW);
        HWND n = drv::WaitThreadDialog(DialogThread, NewCaption);
        SetDlgItemTextA(n, IDC_NEW_NAME, "새 폴더");
        GetWindowRect(n, &r);
        printf("DLGNEW %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fflush(stdout);
        Sleep(ms);
        drv::Press(n, IDCANCEL);
        Gone(n);
        drv::Press(d, IDCANCEL);
    });
}
