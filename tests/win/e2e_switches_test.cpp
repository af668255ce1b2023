// The command-line switches, the way a batch file or a deployment tool
// starts the self-extracting file: /S runs without any window and tells the
// outcome through the exit code alone.
#include "wintest_main.h"

#include "e2e_support.h"

using namespace e2e;

static zm::Entry Locked(const std::string &name, const std::string &data,
                        const char *password = "secret")
{
    zm::Entry e = File(name, data);
    e.password = password;
    return e;
}

// WinZip AES-256 (AE-2); flip changes a byte of salt, verifier, data and
// code (zm::Entry::flip).
static zm::Entry Sealed(const std::string &name, const std::string &data, int flip = -1)
{
    zm::Entry e = Locked(name, data);
    e.aes = 2;
    e.flip = flip;
    return e;
}

static zm::Entry Damaged(const std::string &name, const std::string &data)
{
    zm::Entry e = File(name, data);
    e.badCrc = true;
    return e;
}

static zm::Entry Described(bool bare, bool wide)
{
    zm::Entry e = File("two.txt", "two");
    e.descriptor = true;
    e.bareDescriptor = bare;
    e.wideDescriptor = wide;
    return e;
}

static zm::Entry Gap(const std::string &name, const std::string &data)
{
    zm::Entry e = File(name, data);
    e.after = "garbage";
    return e;
}

static std::vector<zm::Entry> WithMarker(const std::vector<zm::Entry> &entries)
{
    static std::string marker = drv::ReadFileText("runmarker.exe");
    std::vector<zm::Entry> all = entries;
    all.push_back(File("runmarker.exe", marker));
    return all;
}

static void Replace(std::string &text, const std::string &what, const std::string &by)
{
    for (size_t at; (at = text.find(what)) != std::string::npos;)
        text.replace(at, what.size(), by);
}

// Starts the file and waits for its end: the exit code, or -1 when it did
// not end on its own.  A dialog or message box it shows sets `shown`, and
// the run is not waited for any longer.
static int RunToEnd(Sfx &sfx, const std::string &dir, const zm::Settings &s,
                    const std::vector<zm::Entry> &entries, bool &shown)
{
    shown = false;
    if (!sfx.Start(dir, s, entries, false))
        return -2;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(sfx.process.handle, 50) == WAIT_TIMEOUT) {
        if (sfx.WaitOther(NULL, 0)) {
            shown = true;
            break;
        }
        if (GetTickCount() - start > 20000)
            break;
    }
    return sfx.Exit(100);
}

// Entries shared by the cases: one.txt is "new" in the archive and "old" on
// disk when the case plants it.
static const std::vector<zm::Entry> Plain = {File("one.txt", "new"), File("sub/two.txt", "two"),
                                             File("three.dat", "stored", MethodStored)};

struct SilentCase {
    const char *what;
    std::string args;               // OUT stands for the output folder
    std::vector<zm::Entry> entries;
    uint8_t flags1;                 // the settings block's
    bool oldFile;                   // OUT\one.txt holds "old" beforehand
    int exitCode;
    const char *one;                // OUT\one.txt afterwards, null: absent
    const char *other;              // another file and what it holds
    const char *otherText;
};

static const SilentCase Cases[] = {
    {"into the /D folder", " /S /D=OUT", Plain, 0, false, 0, "new", "sub\\two.txt", "two"},
    {"/O=all", " /S /O=all /D=OUT", Plain, 0, true, 0, "new", "three.dat", "stored"},
    {"/O=never", " /S /O=never /D=OUT", Plain, 0, true, 0, "old", "three.dat", "stored"},
    {"/O=ask means never", " /S /O=ask /D=OUT", Plain, 0, true, 0, "old", "three.dat", "stored"},
    {"the settings' ask means never", " /S /D=OUT", Plain, 0, true, 0, "old", "sub\\two.txt", "two"},
    {"the settings' overwrite all", " /S /D=OUT", Plain, OverwriteFlags(OverwriteAll), true, 0, "new", "sub\\two.txt", "two"},
    {"/O beats the fixed choice", " /S /O=all /D=OUT", Plain,
     (uint8_t)(OverwriteFlags(OverwriteNever) | FixedOverwriteFlag), true, 0, "new", 0, 0},
    {"any case, ':' and quotes", " /s /o:ALL /p:\"a b\" /d:\"OUT\"", Plain, 0, true, 0, "new", 0, 0},
    // Launchers that take an argument list quote an argument with a blank
    // whole; a quoted /D need not come last.
    {"switches quoted whole", " \"/D=OUT\" /S \"/P=s3cret pass\" \"/O=all\"",
     {File("one.txt", "new"), Locked("locked.txt", "inside", "s3cret pass")}, 0, true, 0, "new", "locked.txt", "inside"},
    {"a quoted folder's last backslash", " /S \"/D=OUT\\\\\"", Plain, 0, false, 0, "new", "sub\\two.txt", "two"},
    {"a folder's backslash before its quote", " /S /D=\"OUT\\\"", Plain, 0, false, 0, "new", "sub\\two.txt", "two"},
    {"a quote in the folder", " /S \"/D=OUT\"\"x\"", Plain, 0, false, 2, 0, 0, 0},
    {"the right password", " /S /P=secret /D=OUT", {File("one.txt", "new"), Locked("locked.txt", "inside")},
     0, false, 0, "new", "locked.txt", "inside"},
    {"a wrong password", " /S /P=wrong /D=OUT", {File("one.txt", "new"), Locked("locked.txt", "inside")},
     0, false, 1, "new", "locked.txt", ""},
    {"no password", " /S /D=OUT", {Locked("locked.txt", "inside"), File("one.txt", "new")},
     0, false, 1, 0, "locked.txt", ""},
    // AES entries the same way; one whose code fails is a damaged entry.
    {"AES, the right password", " /S /P=secret /D=OUT", {File("one.txt", "new"), Sealed("locked.txt", "inside")},
     0, false, 0, "new", "locked.txt", "inside"},
    {"AES, a wrong password", " /S /P=wrong /D=OUT", {File("one.txt", "new"), Sealed("locked.txt", "inside")},
     0, false, 1, "new", "locked.txt", ""},
    {"AES, a changed byte of data", " /S /P=secret /D=OUT",
     {Sealed("locked.txt", "inside", 18 + 2), File("one.txt", "new")}, 0, false, 1, "new", "locked.txt", ""},
    {"AES, a changed byte of the code", " /S /P=secret /D=OUT",
     {Sealed("locked.txt", "inside", -2), File("one.txt", "new")}, 0, false, 1, "new", "locked.txt", ""},
    {"a traversal name", " /S /D=OUT", {File("one.txt", "new"), File("../evil.txt", "evil")},
     0, false, 1, "new", "..\\evil.txt", ""},
    {"a device name", " /S /D=OUT", {File("aux.txt", "dev"), File("one.txt", "new")},
     0, false, 1, "new", 0, 0},
    {"a damaged entry", " /S /D=OUT", {Damaged("two.txt", "two"), File("one.txt", "new")},
     0, false, 1, "new", "two.txt", 0},
    // What a deployment script meets: the damaged entry leaves the old
    // file, and a retry with the good archive over what is left then holds.
    {"a damaged entry over an old file", " /S /O=all /D=OUT", {Damaged("one.txt", "new")}, 0, true, 1, "old", 0, 0},
    {"a damaged new file is not kept by a retry", " /S /D=OUT", {Damaged("one.txt", "new")}, 0, false, 1, 0, 0, 0},
    {"an archive without entries", " /S /D=OUT", {}, 0, false, 3, 0, 0, 0},
    // Read to its end or not extracted at all.
    {"a descriptor without signature", " /S /D=OUT", {Described(true, false), File("one.txt", "new")},
     0, false, 0, "new", "two.txt", "two"},
    {"a ZIP64 descriptor", " /S /D=OUT", {Described(false, true), File("one.txt", "new")}, 0, false, 3, 0, 0, 0},
    {"bytes between entries", " /S /D=OUT", {Gap("two.txt", "two"), File("one.txt", "new")}, 0, false, 3, 0, 0, 0},
    {"an empty name", " /S /D=OUT", {File("one.txt", "new"), File(std::string("\0", 1), "x")}, 0, false, 3, 0, 0, 0},
    {"an unknown switch", " /S /X /D=OUT", Plain, 0, false, 2, 0, 0, 0},
    {"a bad overwrite choice", " /S /O=maybe /D=OUT", Plain, 0, false, 2, 0, 0, 0},
    {"a switch without its value", " /S /D", Plain, 0, false, 2, 0, 0, 0},
    {"a value on a plain switch", " /S /W=1 /D=OUT", Plain, 0, false, 2, 0, 0, 0},
    {"not a switch", " /S OUT", Plain, 0, false, 2, 0, 0, 0},
};

TEST_CASE(SilentRunsAndTheirExitCodes)
{
    for (const SilentCase &c : Cases) {
        printf("  %s\n", c.what);
        std::string dir = Scratch("switches"), out = dir + "\\out";
        if (c.oldFile) {
            CreateDirectoryA(out.c_str(), NULL);
            drv::WriteFileBytes(out + "\\one.txt", "old");
        }
        std::string args = c.args;
        Replace(args, "OUT", out);
        zm::Settings s;
        s.folder = dir + "\\elsewhere";
        s.flags1 = c.flags1;
        Sfx sfx;
        sfx.args = args;
        bool shown = false;
        CHECK(RunToEnd(sfx, dir, s, c.entries, shown) == c.exitCode);
        CHECK(!shown);
        if (c.one)
            CHECK_TEXT(Content(out + "\\one.txt"), c.one);
        else
            CHECK(!drv::FileExists(out + "\\one.txt"));
        if (c.other && c.otherText)
            CHECK_TEXT(Content(out + "\\" + c.other), c.otherText);
        else if (c.other)
            CHECK(!drv::FileExists(out + "\\" + c.other));
        // Neither the settings' folder nor the working folder got anything.
        CHECK(!drv::FileExists(dir + "\\elsewhere"));
        CHECK(!drv::FileExists(dir + "\\one.txt"));
    }
}

// The configured run after a silent extraction: skipped after a failure and
// with /R=0, waited for with /W, whose code becomes the extractor's; a run
// file refused for leading out of the folder is a failure to the waiter.
TEST_CASE(SilentRunOfTheConfiguredProgram)
{
    struct {
        const char *what, *args;
        bool damaged;
        int exitCode;
        bool ran;
        const char *runFile;
        int planted;    // OUT\runmarker.exe beforehand: 1 another program, 2 the archive's
    } cases[] = {
        {"run, not waited for", " /S /D=OUT", false, 0, true, "runmarker.exe", 0},
        {"waited for, its code", " /S /W /D=OUT", false, 7, true, "runmarker.exe", 0},
        {"/R=0", " /S /R=0 /W /D=OUT", false, 0, false, "runmarker.exe", 0},
        {"/R=1", " /S /R=1 /W /D=OUT", false, 7, true, "runmarker.exe", 0},
        {"after a failure", " /S /W /D=OUT", true, 1, false, "runmarker.exe", 0},
        {"an unsafe run file", " /S /W /D=OUT", false, 1, false, "sub\\..\\runmarker.exe", 0},
        // Only what the archive holds is run, whoever put a file there.
        {"another program kept in place", " /S /W /D=OUT", false, 1, false, "runmarker.exe", 1},
        {"another program kept, not waited for", " /S /O=never /D=OUT", false, 1, false, "runmarker.exe", 1},
        {"another program overwritten", " /S /W /O=all /D=OUT", false, 7, true, "runmarker.exe", 1},
        {"the archive's program kept in place", " /S /W /D=OUT", false, 7, true, "Runmarker.EXE", 2},
        {"a run file the archive does not hold", " /S /W /D=OUT", false, 1, false, "planted.exe", 3},
    };
    static std::string marker = drv::ReadFileText("runmarker.exe");
    for (auto &c : cases) {
        printf("  %s\n", c.what);
        std::string dir = Scratch("switches_run"), out = dir + "\\out";
        if (c.planted) {
            // A program that runs just as well, with other bytes.
            CreateDirectoryA(out.c_str(), NULL);
            drv::WriteFileBytes(out + "\\" + (c.planted == 3 ? "planted.exe" : "runmarker.exe"),
                                c.planted == 2 ? marker : marker + "planted");
        }
        std::string args = c.args;
        Replace(args, "OUT", out);
        zm::Settings s;
        s.flags1 = ShowRunOptionFlag;
        s.parameters = "/exit 7";
        s.runFile = c.runFile;
        std::vector<zm::Entry> entries = {File("one.txt", "new")};
        if (c.damaged)
            entries.push_back(Damaged("two.txt", "two"));
        Sfx sfx;
        sfx.args = args;
        bool shown = false;
        CHECK(RunToEnd(sfx, dir, s, WithMarker(entries), shown) == c.exitCode);
        CHECK(!shown);
        // Not waited for, the marker may come a moment after the exit.
        bool ran = Eventually([&] { return drv::FileExists(out + "\\marker.txt"); },
                              c.ran ? 10000 : 1000);
        CHECK(ran == c.ran);
    }
}

// /D= takes the rest of the line: spaces need no quotes, and a Korean
// folder arrives through the wide command line whatever the system's code
// page.  The same folder quoted as launchers quote it: whole (PowerShell,
// Python, .NET, wine setup.exe, start), with its last backslash doubled
// before the quote (Python, .NET), or its value only.
TEST_CASE(FoldersWithSpacesAndKoreanNames)
{
    const char *folders[] = {"my folder\\sub dir", "한글 폴더\\압축", "   spaces  before"};
    const char *forms[] = {" /S /D=OUT  ", " /S \"/D=OUT\"", " \"/D=OUT\\\\\" /S", " /S /D=\"OUT\""};
    for (const char *name : folders) {
        for (const char *form : forms) {
            printf("  %s %s\n", name, form);
            std::string dir = Scratch("switches_folder"), out = dir + "\\" + name;
            Sfx sfx;
            sfx.args = form;
            Replace(sfx.args, "OUT", out);
            bool shown = false;
            CHECK(RunToEnd(sfx, dir, zm::Settings(), Plain, shown) == 0);
            CHECK(!shown);
            CHECK_TEXT(Content(out + "\\one.txt"), "new");
        }
    }
}

// The README's batch line, started by the real cmd: its start takes the
// line apart and quotes each argument holding a blank whole again, so the
// password arrives as "/P=s3cret pass".
TEST_CASE(StartedByCmdStart)
{
    std::string dir = Scratch("switches_start"), out = dir + "\\my out";
    std::vector<zm::Entry> entries = {File("one.txt", "new"), Locked("locked.txt", "inside", "s3cret pass")};
    CHECK(drv::WriteFileBytes(dir + "\\setup.exe", zm::SelfExtractor(StubBytes(), zm::Settings(), entries)));
    drv::Process cmd = drv::Start("cmd.exe /c start \"\" /wait setup.exe /S /P=\"s3cret pass\" /D=" + out, dir);
    CHECK(cmd.handle != NULL);
    if (!cmd.handle)
        return;
    CHECK(drv::WaitExit(cmd, 30000) == 0);
    CHECK_TEXT(Content(out + "\\locked.txt"), "inside");
}

// Without /S the dialog opens with what the switches chose.
TEST_CASE(SwitchesPresetTheDialog)
{
    std::string dir = Scratch("switches_dialog"), out = dir + "\\chosen folder";
    zm::Settings s = RunAfter(dir + "\\elsewhere", ShowRunOptionFlag, 0, "/exit 7");
    Sfx sfx;
    sfx.args = " /O=never /R=0 /D=" + out;
    START_OR_RETURN(sfx, dir, s, WithMarker(Plain));
    CHECK_TEXT(sfx.Text(IDC_FOLDER), out);
    CHECK(sfx.Checked(IDC_OVERWRITE_NEVER));
    CHECK(!sfx.Checked(IDC_OVERWRITE_ASK));
    CHECK(!sfx.Checked(IDC_RUN));
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK_TEXT(Content(out + "\\one.txt"), "new");
    CHECK(!drv::FileExists(out + "\\marker.txt"));
}

// /W in the dialog: the program is waited for, with the dialog out of the
// way, and its code is the extractor's.
TEST_CASE(WaitAfterTheDialog)
{
    std::string dir = Scratch("switches_wait"), out = dir + "\\out";
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, 0, "/exit 7");
    Sfx sfx;
    sfx.args = " /w";
    START_OR_RETURN(sfx, dir, s, WithMarker(Plain));
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 7);
    CHECK(drv::FileExists(out + "\\marker.txt"));
}

// /? lists the switches and extracts nothing; a wrong switch shows the same
// list and ends with 2; with /S nothing is shown at all (above).
TEST_CASE(HelpBox)
{
    struct {
        const char *args;
        int exitCode;
    } cases[] = {{" /?", 0}, {" /Q", 2}, {" /O=all /W", -1}};
    for (auto &c : cases) {
        std::string dir = Scratch("switches_help");
        zm::Settings s;
        s.folder = dir + "\\out";
        Sfx sfx;
        sfx.args = c.args;
        CHECK(sfx.Start(dir, s, Plain, false));
        HWND box = sfx.WaitOther("명령행", c.exitCode < 0 ? 2000 : 10000);
        if (c.exitCode < 0) {
            // Good switches open the dialog as ever, no list of switches.
            CHECK(box == NULL);
            CHECK(sfx.WaitMain());
            sfx.Press(IDCANCEL);
            CHECK(sfx.Exit() == 0);
            continue;
        }
        CHECK(box != NULL);
        CHECK(TextOf(GetDlgItem(box, 0xFFFF)).find("[/S] [/O=all|never|ask]") == 0);
        drv::DismissBox(box);
        CHECK(sfx.Exit() == c.exitCode);
        CHECK(!drv::FileExists(dir + "\\out"));
    }
}
