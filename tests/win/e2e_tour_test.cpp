// A tour of everything the stub shows a user: both kinds of main dialog,
// the two prompts, the folder selection dialog and the result messages,
// each checked for its Korean texts, and names beyond code page 949.  It
// also runs under English and Japanese system locales (see CMakeLists.txt):
// the same texts and files must come out whatever the ANSI code page.  With SFX_SHOTS set in the environment
// it also stops at every sight and asks scripts/screenshots.sh for a picture
// (request file C:\sfx_shots\request.txt: name and screen rectangle; the
// script deletes it when the picture is taken).
#include "wintest_main.h"

#include "e2e_support.h"
#include "common/Texts.h"

using namespace e2e;

static bool ShotsWanted()
{
    return GetEnvironmentVariableA("SFX_SHOTS", NULL, 0) > 0;
}

// Asks for a picture of the union of the windows' rectangles; a value of
// SFX_SHOTS other than 1 is put in front of the picture's name.
static void Shot(const char *name, HWND a, HWND b = NULL)
{
    if (!ShotsWanted() || !a)
        return;
    Sleep(400);   // let the windows finish painting
    RECT r, rb;
    GetWindowRect(a, &r);
    if (b && GetWindowRect(b, &rb))
        UnionRect(&r, &r, &rb);
    CreateDirectoryA("C:\\sfx_shots", NULL);
    char line[200];
    char prefix[32] = "";
    GetEnvironmentVariableA("SFX_SHOTS", prefix, sizeof prefix);
    sprintf(line, "%s%s %ld %ld %ld %ld\n", strcmp(prefix, "1") ? prefix : "", name, r.left, r.top,
            r.right - r.left, r.bottom - r.top);
    drv::WriteFileBytes("C:\\sfx_shots\\request.tmp", line);
    MoveFileA("C:\\sfx_shots\\request.tmp", "C:\\sfx_shots\\request.txt");
    for (int i = 0; i < 300 && drv::FileExists("C:\\sfx_shots\\request.txt"); i++)
        Sleep(100);
}

static std::vector<zm::Entry> KoreanEntries()
{
    return {File("readme.txt", "read me"), File("문서/", ""), File("문서/안내서.txt", "안내"),
            File("사진/가족 여행.jpg", std::string(3000, 'j'), MethodStored), File("설치.exe", "MZ")};
}

TEST_CASE(SortedListWithTheRunCheckBox)
{
    Sfx sfx;
    zm::Settings s;
    s.caption = "한글 프로그램 설치";
    s.folder = "C:\\Program Files\\한글 프로그램";
    s.flags1 = ShowRunOptionFlag;
    s.flags2 = SortEntriesFlag | RunOpensFileFlag;
    s.runFile = "설치.exe";
    START_OR_RETURN(sfx, Scratch("tour_sorted"), s, KoreanEntries());
    CHECK_TEXT(sfx.Text(IDC_RUN), "run \" 설치.exe\" after extraction");
    CHECK(sfx.Send(IDC_LIST_SORTED, LB_GETCOUNT) == 5);
    Shot("main-sorted-run", sfx.main);
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(ArchiveOrderListThroughBothPrompts)
{
    std::string dir = Scratch("tour_prompts");
    drv::WriteFileBytes(dir + "\\readme.txt", "old");
    std::vector<zm::Entry> entries = KoreanEntries();
    entries[2].password = "비밀";
    Sfx sfx;
    zm::Settings plain;
    plain.present = false;
    START_OR_RETURN(sfx, dir, plain, entries);
    Shot("main-archive-order", sfx.main);

    sfx.Press(IDOK);
    HWND exists = sfx.WaitOther("겹쳐쓰기 방법...");
    CHECK(exists != NULL);
    if (!exists)
        return;
    CHECK_TEXT(TextOf(GetDlgItem(exists, IDC_PROMPT_TEXT)), "readme.txt...가(은) 이미 존재합니다, 겹쳐쓸까요?");
    CHECK_TEXT(TextOf(GetDlgItem(exists, IDC_DONT_ASK)), "다시 묻지않음");
    Shot("prompt-file-exists", exists, sfx.main);
    drv::Press(exists, IDOK);

    HWND password = sfx.WaitOther("암호입력...");
    CHECK(password != NULL);
    if (!password)
        return;
    SendMessageW(GetDlgItem(password, IDC_PROMPT_TEXT), WM_SETTEXT, 0, (LPARAM)L"\xBE44\xBC00");
    Shot("prompt-password", password, sfx.main);
    drv::Press(password, IDOK);

    HWND done = sfx.WaitOther(DoneCaption);
    CHECK(done != NULL);
    if (!done)
        return;
    CHECK_TEXT(TextOf(GetDlgItem(done, 0xFFFF)), DoneText);
    Shot("result-done", done, sfx.main);
    drv::DismissBox(done);
    CHECK(sfx.Exit() == 0);
    CHECK(Content(dir + "\\readme.txt") == "read me");
    CHECK(Content(dir + "\\문서\\안내서.txt") == "안내");
}

TEST_CASE(FailedRunAndItsReport)
{
    std::vector<zm::Entry> entries = KoreanEntries();
    entries[3].badCrc = true;
    Sfx sfx;
    zm::Settings s;
    s.folder = Scratch("tour_failed") + "\\out";
    s.flags2 = SortEntriesFlag;
    START_OR_RETURN(sfx, Scratch("tour_failed"), s, entries);
    sfx.Press(IDOK);
    HWND box = sfx.WaitOther(FailCaption);
    CHECK(box != NULL);
    if (!box)
        return;
    CHECK_TEXT(TextOf(GetDlgItem(box, 0xFFFF)), FailText);
    Shot("result-failed", box, sfx.main);
    drv::DismissBox(box);
    Eventually([&] { return sfx.Text(IDC_STATUS) == FailStatus; });
    CHECK_TEXT(sfx.Text(IDC_STATUS), FailStatus);
    Shot("main-after-failure", sfx.main);
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(ArchiveWithoutEntriesAndItsMessage)
{
    Sfx sfx;
    zm::Settings plain;
    plain.present = false;
    CHECK(sfx.Start(Scratch("tour_empty"), plain, {}, false));
    HWND box = drv::WaitDialog(sfx.process.id, CAPTION_ERROR);
    CHECK(box != NULL);
    if (!box)
        return;
    Shot("result-no-entries", box);
    drv::DismissBox(box);
    CHECK(sfx.WaitMain());
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(BrowseOpensTheFolderDialogAndCancelKeepsTheField)
{
    std::string dir = Scratch("tour_browse");
    drv::MakeFolder(dir + "\\문서");
    drv::MakeFolder(dir + "\\사진");
    Sfx sfx;
    zm::Settings s;
    s.folder = dir;
    START_OR_RETURN(sfx, dir, s, KoreanEntries());
    sfx.Press(IDC_BROWSE);
    HWND select = sfx.WaitOther(NULL, 5000);
    CHECK(select != NULL);
    if (select) {
        Shot("folder-select", select, sfx.main);
        // The new-folder dialog over it, a name typed, then cancelled.
        drv::Press(select, IDC_SEL_NEW);
        HWND made = drv::WaitDialogWithControl(sfx.process.id, 3002, 5000);
        CHECK(made != NULL);
        if (made) {
            CHECK_TEXT(TextOf(made), "서브디렉토리 만들기");
            SendDlgItemMessageW(made, 3002, WM_SETTEXT, 0, (LPARAM)L"\xC0C8 \xD3F4\xB354");
            Shot("folder-new", made, select);
            drv::Press(made, IDCANCEL);
            CHECK(Eventually([&] { return !IsWindow(made); }));
        }
        drv::Press(select, IDCANCEL);
        CHECK(Eventually([&] { return !IsWindow(select); }));
    }
    CHECK_TEXT(sfx.Text(IDC_FOLDER), dir);
    CHECK(sfx.MainAlive());
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

// Names from flag bit 11 and the Unicode Path field are listed, sorted and
// written as UTF-16; a stale field leaves the code page 949 name; the name
// rule judges the name actually used.  Decomposed Hangul, as macOS writes
// names (zip and Python's zipfile with flag bit 11, an older builder in
// the field), is listed and written composed.
TEST_CASE(NamesBeyondCodePage949AndUnsafeOnes)
{
    std::string dir = Scratch("tour_unicode");
    auto named = [](const std::string &stored, const std::string &path, uint16_t flags = 0) {
        zm::Entry e = File(stored, "data of " + stored);
        e.unicodePath = path;
        e.flags = flags;
        return e;
    };
    zm::Entry stale = named("한글.txt", u8"wrong.txt");
    stale.staleUnicodePath = true;
    std::vector<zm::Entry> entries = {
        named(u8"R\u00e9sum\u00e9/na\u00efve.txt", "", Utf8NameFlag),
        named("__.txt", u8"\u7b80\u4f53.txt"),
        named("smile_.txt", u8"smile\U0001F600.txt"),
        stale,
        named("__/escape.txt", u8"../escape.txt"),
        named(u8"sub/COM\u00b9.txt", "", Utf8NameFlag),
        // 문서.txt and 가나.txt in jamo.
        named("\xE1\x84\x86\xE1\x85\xAE\xE1\x86\xAB\xE1\x84\x89\xE1\x85\xA5.txt", "", Utf8NameFlag),
        named("____.txt", "\xE1\x84\x80\xE1\x85\xA1\xE1\x84\x82\xE1\x85\xA1.txt"),
    };
    Sfx sfx;
    zm::Settings s;
    s.folder = dir + "\\out";
    s.flags2 = SortEntriesFlag;
    START_OR_RETURN(sfx, dir, s, entries);
    // The Korean locale's order, on every system (hanja by their reading:
    // 简 is 간, after 가 and before 문).
    std::vector<std::wstring> want = {L"../escape.txt", L"R\x00E9sum\x00E9/na\x00EFve.txt",
                                      L"smile\xD83D\xDE00.txt", L"sub/COM\x00B9.txt",
                                      L"\xAC00\xB098.txt", L"\x7B80\x4F53.txt", L"\xBB38\xC11C.txt",
                                      L"\xD55C\xAE00.txt"};
    std::vector<std::wstring> items = sfx.WideItems(IDC_LIST_SORTED);
    CHECK(items == want);
    for (const std::wstring &i : items)
        printf("  item: %s\n", drv::Narrow949(i).c_str());
    sfx.Press(IDOK);
    // Two boxes of one caption: the first must be gone before the second
    // is looked for.
    for (const char *name : {"../escape.txt", "sub/COM\xA9\xF6.txt"}) {
        HWND box = sfx.WaitOther(TEXT_BAD_NAME);
        CHECK(box != NULL);
        if (!box)
            return;
        CHECK_TEXT(TextOf(GetDlgItem(box, 0xFFFF)), name);
        drv::DismissBox(box);
        CHECK(Eventually([&] { return !IsWindow(box); }));
    }
    CHECK(sfx.Box(FailCaption, FailText));
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
    std::wstring out = drv::Wide949(dir) + L"\\out\\";
    CHECK(drv::ReadFileText(out + L"R\x00E9sum\x00E9\\na\x00EFve.txt") == u8"data of R\u00e9sum\u00e9/na\u00efve.txt");
    CHECK(drv::ReadFileText(out + L"\x7B80\x4F53.txt") == "data of __.txt");
    CHECK(drv::ReadFileText(out + L"smile\xD83D\xDE00.txt") == "data of smile_.txt");
    CHECK(drv::ReadFileText(dir + "\\out\\한글.txt") == "data of 한글.txt");
    CHECK(drv::ReadFileText(out + L"\xBB38\xC11C.txt") ==
          "data of \xE1\x84\x86\xE1\x85\xAE\xE1\x86\xAB\xE1\x84\x89\xE1\x85\xA5.txt");
    CHECK(drv::ReadFileText(out + L"\xAC00\xB098.txt") == "data of ____.txt");
    CHECK(!drv::FileExists(dir + "\\escape.txt"));
    CHECK(!drv::FileExists(dir + "\\out\\__"));
    CHECK(!drv::FileExists(dir + "\\out\\sub"));
}

TEST_CASE(ProgressDuringARun)
{
    // For the pictures only: the status line during a run (the part of the
    // run written so far filled from the left) and at its end (the status
    // line again, under the report).
    if (!ShotsWanted())
        return;
    std::vector<zm::Entry> entries;
    for (int i = 0; i < 6000; i++)
        entries.push_back(File("자료/f" + std::to_string(10000 + i) + ".txt", std::string(2000, 'a' + i % 26),
                               MethodStored));
    std::string dir = Scratch("tour_progress");
    zm::Settings s;
    s.folder = dir + "\\out";
    Sfx sfx;
    START_OR_RETURN(sfx, dir, s, entries);
    sfx.Press(IDOK);
    CHECK(Eventually([&] { return drv::FileExists(dir + "\\out\\자료\\f11200.txt"); }, 30000));
    Shot("progress-during-run", sfx.main);
    HWND done = sfx.WaitOther(DoneCaption, 60000);
    CHECK(done != NULL);
    Shot("progress-at-the-end", done, sfx.main);
    if (done)
        drv::DismissBox(done);
    CHECK(sfx.Exit() == 0);
}
