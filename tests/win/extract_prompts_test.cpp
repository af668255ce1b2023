// The file-exists and password prompts as the driver shows them: their
// templates, their answers and what those answers change for the rest of
// the run and for later runs.
#include "wintest_main.h"

#include "extract_fixture.h"
#include "common/Texts.h"

using namespace fx;

static LONG Style(HWND w)
{
    return GetWindowLongA(w, GWL_STYLE);
}

// Looks at each prompt once while the driver shows it.
static std::string Inspect(bool passwordPrompt)
{
    std::string found;
    HWND w = drv::WaitThreadDialog(S.mainThread, passwordPrompt ? PasswordCaption : ExistCaption,
                                   5000);
    if (!w)
        return "no prompt";
    char buf[64];
    if (passwordPrompt) {
        HWND edit = GetDlgItem(w, IDC_PROMPT_TEXT);
        sprintf(buf, "sysmenu=%d password=%d tab=%d ok=%s default=%d", !!(Style(w) & WS_SYSMENU),
                !!(Style(edit) & ES_PASSWORD), !!(Style(edit) & WS_TABSTOP),
                drv::ControlText(w, IDOK).c_str(),
                (Style(GetDlgItem(w, IDOK)) & 0xF) == BS_DEFPUSHBUTTON);
        found = buf;
    } else {
        HWND text = GetDlgItem(w, IDC_PROMPT_TEXT);
        sprintf(buf, "sysmenu=%d readonly=%d tab=%d checked=%d ", !!(Style(w) & WS_SYSMENU),
                !!(Style(text) & ES_READONLY), !!(Style(text) & WS_TABSTOP),
                (int)SendMessageA(GetDlgItem(w, IDC_DONT_ASK), BM_GETCHECK, 0, 0));
        found = buf + drv::ControlText(w, IDOK) + "/" + drv::ControlText(w, IDCANCEL) + "/" +
                drv::ControlText(w, IDC_DONT_ASK);
    }
    return found;
}

static std::string Inspected;
static DWORD WINAPI InspectThread(void *passwordPrompt)
{
    Inspected = Inspect(passwordPrompt != NULL);
    return 0;
}

TEST_CASE(TemplatesHoldTheirControls)
{
    Init();
    std::string dir = Target("templates");
    drv::WriteFileBytes(dir + "\\a.txt", "old");
    OverwritePolicy = OverwriteAsk;
    TextFree(Password);
    UseArchive({Stored("a.txt", "new"), Encrypted("e.txt", "secret data", "pw")});
    ListRun(IDC_LIST_UNSORTED);
    S.exists = {{false, false, false}};
    S.passwords = {{"pw", false, false}};
    S.answerDelayMs = 500;
    HANDLE t = CreateThread(NULL, 0, InspectThread, NULL, 0, NULL);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Exist("a.txt"), Passwd, AllDone);
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
    CHECK_TEXT(Inspected, "sysmenu=1 readonly=1 tab=0 checked=0 예/아니오/다시 묻지않음");

    TextFree(Password);
    dir = Target("templates");
    S.passwords = {{"pw", false, false}};
    t = CreateThread(NULL, 0, InspectThread, (void *)1, 0, NULL);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, AllDone);
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
    CHECK_TEXT(Inspected, "sysmenu=0 password=1 tab=1 ok=확인 default=0");
    S.answerDelayMs = 0;
}

static std::string PrepareAsk(const char *name)
{
    Init();
    std::string dir = Target(name);
    for (const char *f : {"a.txt", "b.txt", "c.txt"})
        drv::WriteFileBytes(dir + "\\" + f, "old");
    UseArchive({Stored("a.txt", "new"), Stored("b.txt", "new"), Stored("c.txt", "new")});
    ListRun(IDC_LIST_UNSORTED);
    OverwritePolicy = OverwriteAsk;
    CheckRadioButton(S.main, IDC_OVERWRITE_ALL, IDC_OVERWRITE_ASK, IDC_OVERWRITE_ASK);
    return dir;
}

static std::string Contents(const std::string &dir)
{
    return drv::ReadFileText(dir + "\\a.txt") + "," + drv::ReadFileText(dir + "\\b.txt") + "," +
           drv::ReadFileText(dir + "\\c.txt");
}

static std::string Radios()
{
    std::string s;
    for (int id : {IDC_OVERWRITE_ALL, IDC_OVERWRITE_NEVER, IDC_OVERWRITE_ASK})
        s += IsDlgButtonChecked(S.main, id) ? '1' : '0';
    return s;
}

TEST_CASE(AskAnsweredPerFile)
{
    std::string dir = PrepareAsk("ask");
    // No keeps the file and counts it as done; Yes overwrites that file only;
    // Esc answers no.
    S.exists = {{false, false, false}, {true, false, false}, {false, false, true}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Exist("a.txt"), Exist("b.txt"), Exist("c.txt"),
                 AllDone);
    CHECK_TEXT(Contents(dir), "old,new,old");
    CHECK(ExtractSucceeded == 1);
    CHECK(OverwritePolicy == OverwriteAsk);
    CHECK_TEXT(Radios(), "001");
}

TEST_CASE(YesWithDontAskAgainOverwritesTheRestAndLaterRuns)
{
    std::string dir = PrepareAsk("ask_yes_all");
    S.exists = {{false, false, false}, {true, true, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Exist("a.txt"), Exist("b.txt"), AllDone);
    CHECK_TEXT(Contents(dir), "old,new,new");
    CHECK(OverwritePolicy == OverwriteAll);
    CHECK_TEXT(Radios(), "100");
    // The next run starts with the new policy: no prompt at all.
    drv::WriteFileBytes(dir + "\\a.txt", "older");
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
    CHECK_TEXT(Contents(dir), "new,new,new");
}

TEST_CASE(NoWithDontAskAgainKeepsEveryLaterFile)
{
    std::string dir = PrepareAsk("ask_no_all");
    S.exists = {{true, false, false}, {false, true, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Exist("a.txt"), Exist("b.txt"), AllDone);
    CHECK_TEXT(Contents(dir), "new,old,old");
    CHECK(OverwritePolicy == OverwriteNever);
    CHECK_TEXT(Radios(), "010");
}

TEST_CASE(AskShowsTheFileNameWithoutItsFolder)
{
    Init();
    std::string dir = Target("ask_nested");
    CreateDirectoryA((dir + "\\sub").c_str(), NULL);
    drv::WriteFileBytes(dir + "\\sub\\deep.txt", "old");
    UseArchive({Stored("one.txt", "1"), Stored("sub/two.txt", "2"), Stored("sub/deep.txt", "new")});
    ListRun(IDC_LIST_SORTED);
    OverwritePolicy = OverwriteAsk;
    S.exists = {{true, false, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_SORTED), Exist("deep.txt"), AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\deep.txt"), "new");
    // While the prompt waits, the status line names the file before it.
    CHECK(S.statuses.size() == 2);
    if (!S.statuses.empty())
        CHECK_TEXT(S.statuses[0], "Extracting: " + dir + "\\sub\\two.txt");
}

// A prompt has no owner: the main window keeps receiving commands while it
// is shown, and one that would start a run must find the run in progress.
TEST_CASE(ARunRequestedWhileAPromptIsShownIsIgnored)
{
    std::string dir = PrepareAsk("ask_nested_run");
    S.nestedCalls = 0;
    S.nestedEvents.clear();
    S.nestedOnPrompt = S.main;
    S.exists = {{true, true, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Exist("a.txt"), AllDone);
    CHECK(S.nestedCalls == 1);
    CHECK_EVENTS(S.nestedEvents, "ignored");
    CHECK_TEXT(Contents(dir), "new,new,new");
}

// ---------------------------------------------------------------------------
// Passwords

static std::vector<zm::Entry> Locked()
{
    return {Encrypted("one.txt", "first secret", "secret"), Stored("plain.txt", "plain"),
            Encrypted("two.txt", "second secret", "secret", MethodDeflated)};
}

TEST_CASE(PasswordRememberedAcrossEntriesAndRuns)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw");
    UseArchive(Locked());
    ListRun(IDC_LIST_UNSORTED);
    S.passwords = {{"secret", false, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\one.txt"), "first secret");
    CHECK_TEXT(drv::ReadFileText(dir + "\\two.txt"), "second secret");
    CHECK_TEXT(Password.Data, "secret");
    // A later run tries the remembered password first.
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
}

TEST_CASE(AnotherPasswordPromptsAgainAndIsRemembered)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw_two");
    UseArchive({Encrypted("a.txt", "A", "alpha"), Encrypted("b.txt", "B", "beta"),
                Encrypted("c.txt", "C", "beta")});
    ListRun(IDC_LIST_SORTED);
    // A wrong answer first: the prompt comes back for the same entry.
    S.passwords = {{"alpha", false, false}, {"wrong", false, false}, {"beta", true, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_SORTED), Passwd, Passwd, Passwd, AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt") + drv::ReadFileText(dir + "\\b.txt") +
                   drv::ReadFileText(dir + "\\c.txt"),
               "ABC");
    CHECK_TEXT(Password.Data, "beta");
}

TEST_CASE(ThreeWrongPasswordsEndTheWalkSilently)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw_wrong");
    UseArchive({Stored("before.txt", "b"), Encrypted("locked.txt", "L", "right"),
                Stored("after.txt", "a")});
    for (int id : Lists) {
        ListRun(id);
        ExtractSucceeded = 1;
        S.passwords = {{"w1", false, false}, {"", false, false}, {"w3", false, false}};
        CHECK_EVENTS(ExtractRun(id), Passwd, Passwd, Passwd);
        CHECK(ExtractSucceeded == 0);
        CHECK(drv::FileExists(dir + "\\before.txt"));
        CHECK(!drv::FileExists(dir + "\\locked.txt"));
        CHECK(!drv::FileExists(dir + "\\after.txt"));
        CHECK_TEXT(Selection(id, "before.txt") + Selection(id, "locked.txt") +
                       Selection(id, "after.txt"),
                   "011");
        TextFree(Password);
    }
}

TEST_CASE(EscIsIgnoredByThePasswordPromptAndEnterAccepts)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw_esc");
    UseArchive({Encrypted("a.txt", "A", "key")});
    ListRun(IDC_LIST_UNSORTED);
    S.escLeftPasswordOpen = false;
    S.passwords = {{"key", true, true}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, AllDone);
    CHECK(S.escLeftPasswordOpen);
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "A");
}

TEST_CASE(ALongPasswordIsCutTo79Characters)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw_long");
    std::string key(79, 'k');
    UseArchive({Encrypted("a.txt", "A", key)});
    ListRun(IDC_LIST_UNSORTED);
    S.passwords = {{key + std::string(21, 'x'), false, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, AllDone);
    CHECK(Password.Length == 79);
}

// The password comes before the existence test: an encrypted entry is
// checked even when the policy then leaves its file alone.
TEST_CASE(EncryptedEntryWithItsTargetPresentUnderNever)
{
    Init();
    OverwritePolicy = OverwriteNever;
    TextFree(Password);
    std::string dir = Target("pw_never");
    drv::WriteFileBytes(dir + "\\a.txt", "old");
    UseArchive({Encrypted("a.txt", "A", "key")});
    ListRun(IDC_LIST_UNSORTED);
    S.passwords = {{"key", false, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "old");
}

// An encrypted entry shorter than its 12-byte header has no data at all:
// nothing is read past it, nothing negative is allocated.
TEST_CASE(EncryptedEntryShorterThanItsHeader)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("pw_short");
    std::string file = zm::SelfExtractor(Stub(), zm::Settings(),
                                         {Encrypted("a.txt", "", "key"), Stored("b.txt", "B")});
    size_t header = file.find("a.txt") - LocalHeaderSize;
    LocalFileHeader h;
    memcpy(&h, &file[header], sizeof h);
    CHECK(h.CompressedSize == EncryptionHeaderSize && h.Crc32 == 0);
    h.CompressedSize = 5;
    memcpy(&file[header], &h, sizeof h);
    // The header check then reads 5 bytes of the entry and 7 of the next
    // record: find a password that passes it on exactly those bytes.
    uint8_t buffer[2 * EncryptionHeaderSize];
    memcpy(buffer + EncryptionHeaderSize, &file[header + LocalHeaderSize + 5], EncryptionHeaderSize);
    Text candidate = {0, 0};
    std::string key;
    for (int i = 0; i < 100000 && key.empty(); i++) {
        std::string k = "k" + std::to_string(i);
        TextAssign(candidate, k.c_str());
        if (CheckEncryptionHeader(buffer, EncryptionHeaderSize, h.Flags, candidate, h.ModTime | h.ModDate << 16,
                                  h.Crc32))
            key = k;
    }
    TextFree(candidate);
    CHECK(!key.empty());
    UseFile(file);
    ListRun(IDC_LIST_UNSORTED);
    S.passwords = {{key, false, false}};
    // No data: the empty file's CRC-32 is the stored 0.  The shortened size
    // puts the next record inside the real one, so both walks end there,
    // short of the central directory: not read whole.
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR));
    CHECK(ItemCount(IDC_LIST_UNSORTED) == 1);
    CHECK(drv::FileExists(dir + "\\a.txt"));
    CHECK(drv::ReadFileText(dir + "\\a.txt").empty());
}
