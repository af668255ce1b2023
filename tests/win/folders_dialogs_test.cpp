// The folder selection and new-folder dialogs, run modally on the main
// thread exactly as the main dialog runs them, while a second thread drives
// them through window messages.
#include "wintest_main.h"

#include "driver.h"
#include "common/SFXgbls.h"
#include "resources/resource.h"
#include "ui/FolderDialogs.h"

#include <ctype.h>
#include <stdlib.h>
#include <string>
#include <vector>

static const char *SelCaption = "압축해제 디렉토리 선택";
static const char *NewCaption = "서브디렉토리 만들기";
static const char *Scratch = "C:\\SfxDlg Test";

typedef std::vector<std::string> Items;

static void MakeScratch()
{
    drv::RemoveTree(Scratch);
    CreateDirectoryA(Scratch, NULL);
    CreateDirectoryA("C:\\SfxDlg Test\\Alpha Folder", NULL);
    CreateDirectoryA("C:\\SfxDlg Test\\Alpha Folder\\Inner", NULL);
    CreateDirectoryA("C:\\SfxDlg Test\\beta", NULL);
    // Punctuation that sorts ahead of "[..]".
    CreateDirectoryA("C:\\SfxDlg Test\\!Bang", NULL);
    CreateDirectoryA("C:\\SfxDlg Test\\#Hash", NULL);
    drv::WriteFileBytes("C:\\SfxDlg Test\\file.txt", "not a folder");
    SetCurrentDirectoryA("C:\\");
}

// The listing names the drive in whatever case the system reports it; the
// rest must be the long form, exactly.
static bool SamePath(const std::string &got, const std::string &want)
{
    return got.size() == want.size() && !got.empty() &&
           tolower((unsigned char)got[0]) == tolower((unsigned char)want[0]) &&
           got.compare(1, std::string::npos, want, 1, std::string::npos) == 0;
}

#define CHECK_PATH(got, want)                                               \
    do {                                                                    \
        std::string g_ = (got);                                             \
        if (!SamePath(g_, want)) {                                          \
            printf("  %s:%d: \"%s\" is not \"%s\"\n", __FILE__, __LINE__,  \
                   g_.c_str(), want);                                       \
            WinTestFailures++;                                              \
        }                                                                   \
    } while (0)

static std::string Current()
{
    char buf[MAX_PATH];
    GetCurrentDirectoryA(sizeof buf, buf);
    std::string s = buf;
    if (s.empty() || s[s.size() - 1] != '\\')
        s += '\\';
    return s;
}

static bool CurrentIs(const char *want)
{
    return _stricmp(Current().c_str(), want) == 0;
}

static HWND List(HWND d) { return GetDlgItem(d, IDC_SEL_LIST); }
static std::string Listed(HWND d) { return drv::ControlText(d, IDC_SEL_PATH); }

static Items ListItems(HWND d)
{
    Items items;
    int n = (int)SendMessageA(List(d), LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        char buf[600];
        buf[0] = 0;
        SendMessageA(List(d), LB_GETTEXT, i, (LPARAM)buf);
        items.push_back(buf);
    }
    return items;
}

static int Count(const Items &items, const char *text)
{
    int n = 0;
    for (size_t i = 0; i < items.size(); i++)
        n += _stricmp(items[i].c_str(), text) == 0;
    return n;
}

static bool DoubleClick(HWND d, const char *item)
{
    LRESULT i = SendMessageA(List(d), LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)item);
    if (i == LB_ERR) {
        printf("  no list item %s\n", item);
        WinTestFailures++;
        return false;
    }
    SendMessageA(List(d), LB_SETCURSEL, i, 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_SEL_LIST, LBN_DBLCLK), (LPARAM)List(d));
    return true;
}

static bool WaitGone(HWND w)
{
    for (int i = 0; i < 200 && IsWindow(w); i++)
        Sleep(25);
    return !IsWindow(w);
}

// A freshly listed folder: parent entry first unless it is a root, item 0
// selected, no files.
static void CheckFreshListing(HWND d, bool root)
{
    Items items = ListItems(d);
    CHECK(!items.empty());
    CHECK(SendMessageA(List(d), LB_GETCURSEL, 0, 0) == 0);
    if (root) {
        CHECK(Count(items, "[..]") == 0);
    } else {
        CHECK(!items.empty() && items[0] == "[..]");
        CHECK(Count(items, "[..]") == 1);
    }
    CHECK(Count(items, "[-c-]") == 1);
    CHECK(Count(items, "[file.txt]") == 0 && Count(items, "file.txt") == 0);
}

// ---------------------------------------------------------------------------
// Running DLGSEL on this thread while a script drives it from another.

static DWORD DialogThread;

// Opens DLGNEW from DLGSEL and returns it.
static HWND OpenNew(HWND d)
{
    drv::Press(d, IDC_SEL_NEW);
    HWND n = drv::WaitThreadDialog(DialogThread, NewCaption);
    CHECK(n != NULL);
    return n;
}

// Types a name into DLGNEW and presses OK; true when the dialog closed.
static bool CreateNamed(HWND n, const char *name)
{
    SetDlgItemTextA(n, IDC_NEW_NAME, name);
    drv::Press(n, IDOK);
    return WaitGone(n);
}

typedef void (*Script)(HWND dialog);

static DWORD WINAPI Drive(LPVOID p)
{
    Script script = (Script)p;
    HWND d = drv::WaitThreadDialog(DialogThread, SelCaption);
    CHECK(d != NULL);
    if (!d)
        return 0;
    script(d);
    // A script that failed half-way must not leave the test hanging: close
    // whatever is still open, innermost first.
    for (int i = 0; i < 5 && IsWindow(d); i++) {
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

TEST_CASE(OpensOnTheProposedFolderInLongFormWithParentFirst)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("c:\\sfxdlg test", [](HWND d) {
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\");
        CheckFreshListing(d, false);
        Items items = ListItems(d);
        CHECK(Count(items, "[Alpha Folder]") == 1);
        CHECK(Count(items, "[beta]") == 1);
        CHECK(Count(items, "[-e-]") == 1);
        CHECK(CurrentIs("C:\\SfxDlg Test\\"));
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
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\beta\\");
        CheckFreshListing(d, false);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\beta\\");
}

TEST_CASE(DoubleClickEntersAndParentGoesUpButOkTakesTheListedFolder)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test\\", [](HWND d) {
        DoubleClick(d, "[Alpha Folder]");
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\Alpha Folder\\");
        CheckFreshListing(d, false);
        CHECK(Count(ListItems(d), "[Inner]") == 1);
        CHECK(CurrentIs("C:\\SfxDlg Test\\Alpha Folder\\"));

        DoubleClick(d, "[..]");
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\");
        CheckFreshListing(d, false);
        // Selected, not entered: OK still returns the listed folder.
        SendMessageA(List(d), LB_SETCURSEL,
                     SendMessageA(List(d), LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)"[beta]"), 0);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\");
}

TEST_CASE(DriveItemsListTheDriveRoot)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        // E: is an empty drive: nothing but the drives themselves.
        DoubleClick(d, "[-e-]");
        CHECK_PATH(Listed(d), "E:\\");
        CheckFreshListing(d, true);
        Items items = ListItems(d);
        for (size_t i = 0; i < items.size(); i++)
            CHECK(items[i].size() == 5 && items[i][1] == '-');

        DoubleClick(d, "[-c-]");
        CHECK_PATH(Listed(d), "C:\\");
        CheckFreshListing(d, true);
        CHECK(Count(ListItems(d), "[SfxDlg Test]") == 1);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\");
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
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\Alpha Folder\\");
        CHECK(ListItems(d) == before);
        CHECK(SendMessageA(List(d), LB_GETCURSEL, 0, 0) == 0);
        CHECK(CurrentIs("C:\\SfxDlg Test\\Alpha Folder\\"));

        // A folder removed after it was listed.
        RemoveDirectoryA("C:\\SfxDlg Test\\Alpha Folder\\Gone");
        DoubleClick(d, "[Gone]");
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\Alpha Folder\\");
        CHECK(Count(ListItems(d), "[Gone]") == 0);
        CheckFreshListing(d, false);
        CHECK(CurrentIs("C:\\SfxDlg Test\\Alpha Folder\\"));
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\Alpha Folder\\");
}

TEST_CASE(NewFolderIsCreatedEnteredAndListed)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        HWND n = OpenNew(d);
        CHECK_PATH(drv::ControlText(n, IDC_NEW_PATH), "C:\\SfxDlg Test\\");
        CHECK(drv::ControlText(n, IDC_NEW_NAME).empty());
        CHECK(CreateNamed(n, "Made Here"));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\Made Here\\");
        CheckFreshListing(d, false);
        CHECK(CurrentIs("C:\\SfxDlg Test\\Made Here\\"));

        CHECK(CreateNamed(OpenNew(d), "Two\\Levels"));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\Made Here\\Two\\Levels\\");

        // An existing folder, reached through parent references.
        CHECK(CreateNamed(OpenNew(d), "..\\..\\..\\beta"));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\beta\\");

        // Leading backslashes stay below the listed folder.
        CHECK(CreateNamed(OpenNew(d), "\\\\Lead"));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\beta\\Lead\\");
        CheckFreshListing(d, false);
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\beta\\Lead\\");
    CHECK(drv::FileExists("C:\\SfxDlg Test\\Made Here\\Two\\Levels"));
    CHECK(!drv::FileExists("C:\\Lead"));
}

TEST_CASE(NewFolderRefusalsKeepTheDialogOpen)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        HWND n = OpenNew(d);
        const char *refused[] = {"a:b", "bad|name", "\\\\"};
        for (const char *name : refused) {
            SetDlgItemTextA(n, IDC_NEW_NAME, name);
            drv::Press(n, IDOK);
            HWND box = drv::WaitThreadDialog(DialogThread, "에러", 5000);
            CHECK(box != NULL);
            if (!box)
                continue;
            CHECK(drv::MessageBoxText(box) == "디렉토리를 만들 수 없습니다.");
            CHECK(GetWindow(box, GW_OWNER) == n);
            drv::DismissBox(box);
            CHECK(WaitGone(box));
            CHECK(IsWindow(n));
        }
        // An empty name does nothing at all.
        SetDlgItemTextA(n, IDC_NEW_NAME, "");
        drv::Press(n, IDOK);
        Sleep(300);
        CHECK(IsWindow(n));
        CHECK(drv::WaitThreadDialog(DialogThread, "에러", 200) == NULL);

        drv::Press(n, IDCANCEL);
        CHECK(WaitGone(n));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\");
        CHECK(CurrentIs("C:\\SfxDlg Test\\"));
        drv::Press(d, IDCANCEL);
    });
    CHECK(r == 2);
    CHECK(!drv::FileExists("C:\\SfxDlg Test\\a"));
    CHECK(!drv::FileExists("C:\\SfxDlg Test\\bad"));
}

TEST_CASE(NewFolderTooLongToHandOverKeepsTheListing)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        // 15 + 20 + 225 characters with a backslash: 256 or more, so the
        // folder is made but the listing stays; the backslashes are dropped
        // before creating, so the real path still fits the system's limit.
        std::string name = std::string(20, '\\') + std::string(225, 'N');
        CHECK(CreateNamed(OpenNew(d), name.c_str()));
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\");
        CHECK(CurrentIs("C:\\SfxDlg Test\\"));
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\");
    CHECK(drv::FileExists("C:\\SfxDlg Test\\" + std::string(225, 'N')));
}

TEST_CASE(NetworkButtonWithoutNetworkLeavesTheList)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        Items before = ListItems(d);
        drv::Press(d, IDC_SEL_NETWORK);
        Sleep(500);
        // Should the platform show its own dialog, cancel it.
        HWND w = drv::WaitThreadDialog(DialogThread, NULL, 200);
        if (w && w != d) {
            drv::Press(w, IDCANCEL);
            WaitGone(w);
        }
        CHECK(ListItems(d) == before);
        CHECK_PATH(Listed(d), "C:\\SfxDlg Test\\");
        drv::Press(d, IDOK);
    });
    CHECK(r == 1);
    CHECK_PATH(BrowseFolder, "C:\\SfxDlg Test\\");
}

TEST_CASE(CancelEndsWithTwo)
{
    MakeScratch();
    INT_PTR r = RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        DoubleClick(d, "[Alpha Folder]");
        drv::Press(d, IDCANCEL);
    });
    CHECK(r == 2);
}

// With SFX_SCREENSHOT_PAUSE=<ms> both dialogs stay up that long each, and
// their screen rectangles are printed, for pictures of them (DLGNEW is best
// taken with xwd -id: a capture of the root shows it black under Xvfb).
TEST_CASE(PauseForScreenshots)
{
    if (!getenv("SFX_SCREENSHOT_PAUSE"))
        return;
    MakeScratch();
    CreateDirectoryA("C:\\SfxDlg Test\\설치 파일", NULL);
    RunDlgSel("C:\\SfxDlg Test", [](HWND d) {
        DWORD ms = (DWORD)atoi(getenv("SFX_SCREENSHOT_PAUSE"));
        RECT r;
        GetWindowRect(d, &r);
        printf("DLGSEL %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fflush(stdout);
        Sleep(ms);
        HWND n = OpenNew(d);
        SetDlgItemTextA(n, IDC_NEW_NAME, "새 폴더");
        GetWindowRect(n, &r);
        printf("DLGNEW %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        fflush(stdout);
        Sleep(ms);
        drv::Press(n, IDCANCEL);
        WaitGone(n);
        drv::Press(d, IDCANCEL);
    });
}
