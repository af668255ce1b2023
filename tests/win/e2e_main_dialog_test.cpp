// The real stub's main dialog as a user meets it: its template, the entry
// list of each kind, the proposed folder, the caption and the run check box.
#include "wintest_main.h"

#include "e2e_support.h"

using namespace e2e;

static std::vector<zm::Entry> Mixed()
{
    return {File("zeta.txt", "z"), File("Alpha/", ""), File("Alpha/b.txt", "bb"),
            File("beta.txt", "b", MethodStored)};
}

static std::string Joined(const std::vector<std::string> &items)
{
    std::string s;
    for (auto &i : items)
        s += i + "|";
    return s;
}

TEST_CASE(TemplateControlsStandInTabOrderWithTheirStyles)
{
    Sfx sfx;
    zm::Settings plain;
    plain.present = false;
    START_OR_RETURN(sfx, Scratch("template"), plain, {File("a.txt", "a")});
    CHECK_TEXT(TextOf(sfx.main), "자동압축해제");
    LONG style = GetWindowLongA(sfx.main, GWL_STYLE);
    CHECK((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) ==
          (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    CHECK(!(style & WS_MAXIMIZEBOX));

    struct Want {
        int id;
        const char *text;
        int x, y, w, h;
        bool tab;
    };
    // Template order is the keyboard order; the label of the list has no id.
    // The ids are spelled out here (elsewhere the tests use resource.h), so
    // that a changed id fails.
    const Want want[] = {
        {101, NULL, 59, 13, 188, 12, true},
        {775, "...", 249, 13, 15, 12, true},
        {301, "", 6, 40, 207, 68, true},
        {503, "묻고 겹쳐쓰기", 13, 124, 70, 9, true},
        {501, "전체 겹쳐쓰기", 91, 124, 63, 9, false},
        {502, "겹쳐쓰기 안함", 165, 124, 73, 9, false},
        {1007, "실행", 6, 141, 258, 12, true},
        {2, "닫기", 221, 86, 44, 19, true},
        {509, "파일이 존재하면...:", 6, 112, 259, 25, true},
        {100, "해제폴더:", 6, 15, 50, 8, false},
        {0xFFFF, "파일목록:", 6, 30, 50, 8, false},
        {601, NULL, 6, 156, 259, 13, true},
        {303, "", 6, 40, 207, 68, true},
        {1, "압축해제", 221, 40, 44, 19, true},
    };
    // Dialog units to pixels: the font's base units, taken from the folder
    // field (188 by 12 units).
    RECT f;
    GetWindowRect(sfx.Control(IDC_FOLDER), &f);
    int bx = ((f.right - f.left) * 4 + 94) / 188, by = ((f.bottom - f.top) * 8 + 6) / 12;
    POINT origin = {0, 0};
    ClientToScreen(sfx.main, &origin);

    HWND c = GetWindow(sfx.main, GW_CHILD);
    for (const Want &w : want) {
        if (!c) {
            printf("  missing control %d\n", w.id);
            WinTestFailures++;
            break;
        }
        int id = GetDlgCtrlID(c) & 0xFFFF;
        if (id != w.id) {
            printf("  control %d where %d was expected\n", id, w.id);
            WinTestFailures++;
        }
        if (w.text)
            CHECK_TEXT(TextOf(c), w.text);
        LONG s = GetWindowLongA(c, GWL_STYLE);
        if (((s & WS_TABSTOP) != 0) != w.tab) {
            printf("  control %d: tab stop %d\n", w.id, (int)((s & WS_TABSTOP) != 0));
            WinTestFailures++;
        }
        RECT r;
        GetWindowRect(c, &r);
        int x = r.left - origin.x, y = r.top - origin.y;
        if (abs(x - MulDiv(w.x, bx, 4)) > 1 || abs(y - MulDiv(w.y, by, 8)) > 1 ||
            abs(r.right - r.left - MulDiv(w.w, bx, 4)) > 1 ||
            // A list box rounds its height down to whole items.
            abs(r.bottom - r.top - MulDiv(w.h, by, 8)) > (w.id == IDC_LIST_SORTED || w.id == IDC_LIST_UNSORTED ? 8 : 1)) {
            printf("  control %d at %d,%d %ldx%ld px, not %d,%d %dx%d\n", w.id, x, y,
                   r.right - r.left, r.bottom - r.top, MulDiv(w.x, bx, 4), MulDiv(w.y, by, 8),
                   MulDiv(w.w, bx, 4), MulDiv(w.h, by, 8));
            WinTestFailures++;
        }
        c = GetWindow(c, GW_HWNDNEXT);
    }
    CHECK(c == NULL);

    LONG sorted = GetWindowLongA(sfx.Control(IDC_LIST_SORTED), GWL_STYLE);
    LONG plainList = GetWindowLongA(sfx.Control(IDC_LIST_UNSORTED), GWL_STYLE);
    // The list box itself turns its border and scroll bar styles into
    // frame and scroll state, so only its own bits are seen from outside.
    LONG listBits = LBS_MULTIPLESEL | LBS_HASSTRINGS | LBS_USETABSTOPS | LBS_NOTIFY;
    CHECK((sorted & (listBits | LBS_SORT)) == (listBits | LBS_SORT));
    CHECK((plainList & (listBits | LBS_SORT)) == listBits);
    CHECK(!(GetWindowLongA(sfx.Control(IDC_FOLDER), GWL_STYLE) & ES_AUTOHSCROLL));
    CHECK(GetWindowLongA(sfx.Control(IDC_STATUS), GWL_STYLE) & ES_READONLY);
    CHECK((GetWindowLongA(sfx.Control(IDC_OVERWRITE_ASK), GWL_STYLE) & (WS_GROUP | 0xF)) ==
          (WS_GROUP | BS_AUTORADIOBUTTON));
    CHECK((GetWindowLongA(sfx.Control(IDC_RUN), GWL_STYLE) & 0xF) == BS_AUTOCHECKBOX);
    CHECK((GetWindowLongA(sfx.Control(IDOK), GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON);
    // A banner of its own stands in the status line before any run.
    CHECK(!sfx.Text(IDC_STATUS).empty());

    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

// The icon group as the system draws it, at both of its sizes: its images
// are PNGs, which only the system's own decoder turns into pixels.
TEST_CASE(IconDrawsAtBothSizes)
{
    HMODULE stub = LoadLibraryExA("sfx.exe", NULL, LOAD_LIBRARY_AS_DATAFILE);
    CHECK(stub != NULL);
    if (!stub)
        return;
    struct Want {
        int size;
        int x, y;
        COLORREF colour;
    };
    const COLORREF none = RGB(255, 0, 255), yellow = RGB(255, 255, 0), red = RGB(255, 0, 0);
    const Want want[] = {{16, 0, 0, none}, {16, 4, 8, yellow}, {16, 12, 15, red},
                         {32, 0, 0, none}, {32, 8, 16, yellow}, {32, 24, 30, red}};
    HDC screen = GetDC(NULL), dc = CreateCompatibleDC(screen);
    for (const Want &w : want) {
        HICON icon = (HICON)LoadImageA(stub, "MnIcon", IMAGE_ICON, w.size, w.size, 0);
        CHECK(icon != NULL);
        if (!icon)
            continue;
        HBITMAP bitmap = CreateCompatibleBitmap(screen, w.size, w.size);
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT all = {0, 0, w.size, w.size};
        HBRUSH brush = CreateSolidBrush(none);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, icon, w.size, w.size, 0, NULL, DI_NORMAL);
        COLORREF got = GetPixel(dc, w.x, w.y);
        if (got != w.colour) {
            printf("  %dx%d icon at %d,%d: %06lx, not %06lx\n", w.size, w.size, w.x, w.y,
                   (unsigned long)got, (unsigned long)w.colour);
            WinTestFailures++;
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DestroyIcon(icon);
    }
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    FreeLibrary(stub);
}

TEST_CASE(ArchiveOrderListWithDefaultsEverywhere)
{
    std::string dir = Scratch("order");
    Sfx sfx;
    zm::Settings plain;
    plain.present = false;
    START_OR_RETURN(sfx, dir, plain, Mixed());
    CHECK(sfx.Visible(IDC_LIST_UNSORTED));
    CHECK(!sfx.Visible(IDC_LIST_SORTED));
    CHECK_TEXT(Joined(sfx.Items(IDC_LIST_UNSORTED)), "zeta.txt|Alpha/|Alpha/b.txt|beta.txt|");
    CHECK(sfx.Items(IDC_LIST_SORTED).empty());
    CHECK(sfx.Send(IDC_LIST_UNSORTED, LB_GETSELCOUNT) == 4);

    // Without a block: the current folder, ask before overwriting, no run.
    CHECK_TEXT(sfx.Text(IDC_FOLDER), dir);
    CHECK(sfx.Checked(IDC_OVERWRITE_ASK));
    CHECK(!sfx.Checked(IDC_OVERWRITE_ALL) && !sfx.Checked(IDC_OVERWRITE_NEVER));
    CHECK(!sfx.Visible(IDC_RUN));
    CHECK(!sfx.Checked(IDC_RUN));
    CHECK_TEXT(TextOf(sfx.main), "자동압축해제");

    // The whole folder text is selected, with the keyboard focus in it.
    DWORD sel = (DWORD)sfx.Send(IDC_FOLDER, EM_GETSEL);
    CHECK(LOWORD(sel) == 0 && HIWORD(sel) == dir.size());
    GUITHREADINFO gui = {sizeof gui};
    CHECK(GetGUIThreadInfo(GetWindowThreadProcessId(sfx.main, NULL), &gui));
    CHECK(gui.hwndFocus == sfx.Control(IDC_FOLDER));

    // Centred on the screen.
    RECT r;
    GetWindowRect(sfx.main, &r);
    int cx = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    int cy = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    CHECK(abs(r.left - cx) <= 1 && abs(r.top - cy) <= 1);

    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
    // Closing extracts nothing.
    CHECK(!drv::FileExists(dir + "\\zeta.txt"));
}

TEST_CASE(SortedListFromTheBlock)
{
    Sfx sfx;
    zm::Settings s;
    s.flags2 = SortEntriesFlag;
    START_OR_RETURN(sfx, Scratch("sorted"), s, Mixed());
    CHECK(sfx.Visible(IDC_LIST_SORTED));
    CHECK(!sfx.Visible(IDC_LIST_UNSORTED));
    CHECK(sfx.Items(IDC_LIST_UNSORTED).empty());
    CHECK_TEXT(Joined(sfx.Items(IDC_LIST_SORTED)), "Alpha/|Alpha/b.txt|beta.txt|zeta.txt|");
    CHECK(sfx.Send(IDC_LIST_SORTED, LB_GETSELCOUNT) == 4);
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(FolderCaptionAndOverwriteChoiceFromTheBlock)
{
    Sfx sfx;
    zm::Settings s;
    s.caption = "한글 설치 Setup 1.0";
    s.folder = "C:\\Program Files\\한글 도구";
    s.flags1 = OverwriteFlags(OverwriteAll);
    START_OR_RETURN(sfx, Scratch("fromblock"), s, {File("a.txt", "a")});
    CHECK_TEXT(TextOf(sfx.main), "한글 설치 Setup 1.0");
    CHECK_TEXT(sfx.Text(IDC_FOLDER), "C:\\Program Files\\한글 도구");
    CHECK(sfx.Checked(IDC_OVERWRITE_ALL));
    CHECK(!sfx.Checked(IDC_OVERWRITE_ASK));
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(TemporaryFolderReplacesTheBlockFolder)
{
    Sfx sfx;
    zm::Settings s;
    s.flags2 = DefaultToTempFlag;
    s.folder = "C:\\not used";
    s.flags1 = OverwriteFlags(OverwriteNever);
    START_OR_RETURN(sfx, Scratch("temp"), s, {File("a.txt", "a")});
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    CHECK_TEXT(sfx.Text(IDC_FOLDER), temp);
    CHECK(sfx.Checked(IDC_OVERWRITE_NEVER));
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

// The run check box for one settings block: visible, checked, text.
static void RunBoxCase(const char *name, const zm::Settings &s, bool visible, bool checked,
                       const char *text)
{
    Sfx sfx;
    START_OR_RETURN(sfx, Scratch(name), s, {File("a.txt", "a")});
    if (sfx.Visible(IDC_RUN) != visible || sfx.Checked(IDC_RUN) != checked) {
        printf("  %s: run box visible %d checked %d\n", name, (int)sfx.Visible(IDC_RUN),
               (int)sfx.Checked(IDC_RUN));
        WinTestFailures++;
    }
    if (text)
        CHECK_TEXT(sfx.Text(IDC_RUN), text);
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(RunCheckBoxFollowsTheRunFlags)
{
    zm::Settings opens;
    opens.flags1 = ShowRunOptionFlag;
    opens.flags2 = RunOpensFileFlag;
    opens.runFile = "bin\\tool.exe";
    RunBoxCase("run_opens", opens, true, true, "run \" tool.exe\" after extraction");

    zm::Settings params;
    params.flags1 = ShowRunOptionFlag;
    params.parameters = "C:\\docs/readme.txt";
    params.runFile = "viewer.exe";
    RunBoxCase("run_params", params, true, true, "run \"readme.txt viewer.exe\" after extraction");

    // Hidden, yet checked: the run cannot be switched off.
    zm::Settings hidden = opens;
    hidden.flags1 = 0;
    RunBoxCase("run_hidden", hidden, false, true, NULL);

    // A run file alone, with neither the open flag nor parameters: no run.
    zm::Settings none;
    none.flags1 = ShowRunOptionFlag;
    none.runFile = "tool.exe";
    RunBoxCase("run_none", none, false, false, NULL);
}

TEST_CASE(CloseBoxAndEscapeCloseWithoutExtracting)
{
    std::string dir = Scratch("closebox");
    Sfx sfx;
    zm::Settings plain;
    plain.present = false;
    CHECK(sfx.Start(dir, plain, {File("a.txt", "a")}));
    if (sfx.main)
        PostMessageA(sfx.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(sfx.Exit() == 0);

    Sfx esc;
    CHECK(esc.Start(dir, plain, {File("a.txt", "a")}));
    if (esc.main) {
        HWND field = esc.Control(IDC_FOLDER);
        PostMessageA(field, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(field, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    CHECK(esc.Exit() == 0);
    CHECK(!drv::FileExists(dir + "\\a.txt"));
}

TEST_CASE(BrowseHandsTheChosenFolderToTheField)
{
    std::string dir = Scratch("browse"), target = dir + "\\Target Folder";
    CreateDirectoryA(target.c_str(), NULL);
    Sfx sfx;
    zm::Settings s;
    s.folder = "C:\\";
    START_OR_RETURN(sfx, dir, s, {File("a.txt", "a")});
    // The folder dialog starts from what the field holds now.
    sfx.SetFolder(target);
    sfx.Press(IDC_BROWSE);
    HWND select = sfx.WaitOther(NULL);
    CHECK(select != NULL);
    if (!select)
        return;
    drv::Press(select, IDOK);
    CHECK(Eventually([&] { return !IsWindow(select); }));
    std::string field = sfx.Text(IDC_FOLDER);
    if (lstrcmpiA(field.c_str(), (target + "\\").c_str()) != 0) {
        printf("  field after browsing: \"%s\"\n", field.c_str());
        WinTestFailures++;
    }
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}
