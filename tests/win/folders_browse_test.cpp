// The folder dialogs reached from the real stub's browse button: walking,
// switching drives, making a folder, cancel and OK as the folder field sees
// them, and an extraction into the folder chosen.
#include "wintest_main.h"

#include "e2e_support.h"

using namespace e2e;

static const char *SelCaption = "압축해제 디렉토리 선택";
static const char *NewCaption = "서브디렉토리 만들기";

// Index of a list item of another process, or -1 (ANSI list texts do not
// cross processes intact under Wine; the wide ones do).
static int ItemIndex(HWND list, const char *text)
{
    int n = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        wchar_t buf[600] = L"";
        SendMessageW(list, LB_GETTEXT, i, (LPARAM)buf);
        if (_stricmp(Narrow(buf).c_str(), text) == 0)
            return i;
    }
    return -1;
}

static std::string Listed(HWND sel) { return TextOf(GetDlgItem(sel, IDC_SEL_PATH)); }

static bool Enter(HWND sel, const char *item)
{
    HWND list = GetDlgItem(sel, IDC_SEL_LIST);
    int i = ItemIndex(list, item);
    if (i < 0) {
        printf("  no list item %s in %s\n", item, Listed(sel).c_str());
        WinTestFailures++;
        return false;
    }
    SendMessageW(list, LB_SETCURSEL, i, 0);
    SendMessageW(sel, WM_COMMAND, MAKEWPARAM(IDC_SEL_LIST, LBN_DBLCLK), (LPARAM)list);
    return true;
}

static bool Gone(HWND w)
{
    for (int i = 0; i < 200 && IsWindow(w); i++)
        Sleep(25);
    return !IsWindow(w);
}

// The listing reports the drive letter in the system's case.
static std::string Lower(std::string s)
{
    for (size_t i = 0; i < s.size(); i++)
        s[i] = (char)tolower((unsigned char)s[i]);
    return s;
}
#define CHECK_FOLDER(got, want) CHECK_TEXT(Lower(got), Lower(want))

TEST_CASE(BrowsingThenCancelLeavesTheFolderField)
{
    std::string dir = Scratch("browse_cancel");
    CreateDirectoryA((dir + "\\Sub Folder").c_str(), NULL);
    zm::Settings s;
    s.folder = dir + "\\Not Yet";
    Sfx sfx;
    START_OR_RETURN(sfx, dir, s, {File("a.txt", "a")});
    std::string field = sfx.Text(IDC_FOLDER);
    sfx.Press(IDC_BROWSE);
    HWND sel = sfx.WaitOther(SelCaption);
    CHECK(sel != NULL);
    if (!sel)
        return;
    // The proposed folder does not exist: the listing starts at the
    // program's current folder.
    CHECK_FOLDER(Listed(sel), dir + "\\");
    Enter(sel, "[Sub Folder]");
    CHECK_TEXT(Listed(sel).substr(3), dir.substr(3) + "\\Sub Folder\\");
    Enter(sel, "[..]");
    CHECK_FOLDER(Listed(sel), dir + "\\");
    Enter(sel, "[-e-]");
    CHECK_FOLDER(Listed(sel), "E:\\");
    drv::Press(sel, IDCANCEL);
    CHECK(Gone(sel));
    CHECK_TEXT(sfx.Text(IDC_FOLDER), field);
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(FolderMadeInTheBrowserReceivesTheFiles)
{
    std::string dir = Scratch("browse_made");
    zm::Settings s;
    s.folder = dir;
    Sfx sfx;
    START_OR_RETURN(sfx, dir, s, {File("one.txt", "first"), File("in/two.txt", std::string(3000, 'x'))});
    sfx.Press(IDC_BROWSE);
    HWND sel = sfx.WaitOther(SelCaption);
    CHECK(sel != NULL);
    if (!sel)
        return;
    CHECK_FOLDER(Listed(sel), dir + "\\");
    // Away to the other drive and back down by double-clicks.
    Enter(sel, "[-e-]");
    Enter(sel, "[-c-]");
    CHECK_FOLDER(Listed(sel), "C:\\");
    Enter(sel, "[sfx_e2e]");
    Enter(sel, "[browse_made]");
    CHECK_FOLDER(Listed(sel), dir + "\\");

    drv::Press(sel, IDC_SEL_NEW);
    HWND made = sfx.WaitOther(NewCaption);
    CHECK(made != NULL);
    if (made) {
        CHECK_FOLDER(TextOf(GetDlgItem(made, IDC_NEW_PATH)), dir + "\\");
        SendMessageW(GetDlgItem(made, IDC_NEW_NAME), WM_SETTEXT, 0, (LPARAM)L"Chosen Place\\Deeper");
        drv::Press(made, IDOK);
        CHECK(Gone(made));
    }
    CHECK_TEXT(Listed(sel).substr(3), dir.substr(3) + "\\Chosen Place\\Deeper\\");
    drv::Press(sel, IDOK);
    CHECK(Gone(sel));
    std::string chosen = dir + "\\Chosen Place\\Deeper\\";
    CHECK_FOLDER(sfx.Text(IDC_FOLDER), chosen);

    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(Content(chosen + "one.txt") == "first");
    CHECK(Content(chosen + "in\\two.txt") == std::string(3000, 'x'));
}
