// Whole extraction runs of the real stub, driven through its main dialog:
// what the extract command takes from the dialog, how a run ends, and how a
// failed run can be tried again.
#include "wintest_main.h"

#include "e2e_support.h"
#include "common/Texts.h"

using namespace e2e;

static zm::Settings Into(const std::string &folder, uint8_t flags1 = 0)
{
    zm::Settings s;
    s.folder = folder;
    s.flags1 = flags1;
    return s;
}

// A run that failed: its report, then the status line, with the dialog left
// open for another try.
static void CheckFailureShown(const Sfx &sfx)
{
    CHECK(sfx.Box(FailCaption, FailText));
    CHECK(Eventually([&] { return sfx.Text(IDC_STATUS) == FailStatus; }));
    CHECK(sfx.MainAlive());
}

static std::vector<zm::Entry> ThreeFiles()
{
    return {File("one.txt", "first file"), File("sub/two.txt", std::string(5000, 't')),
            File("three.dat", "stored", MethodStored)};
}

static bool HasThreeFiles(const std::string &dir)
{
    return Content(dir + "\\one.txt") == "first file" &&
           Content(dir + "\\sub\\two.txt") == std::string(5000, 't') &&
           Content(dir + "\\three.dat") == "stored";
}

TEST_CASE(DeselectedItemsAreExtractedAllTheSame)
{
    std::string dir = Scratch("deselect"), out = dir + "\\out";
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out), ThreeFiles());
    sfx.Send(IDC_LIST_UNSORTED, LB_SETSEL, FALSE, -1);
    sfx.Send(IDC_LIST_UNSORTED, LB_SETSEL, TRUE, 1);
    CHECK(sfx.Send(IDC_LIST_UNSORTED, LB_GETSELCOUNT) == 1);
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

TEST_CASE(EmptyFolderFieldMeansTheCurrentFolder)
{
    std::string dir = Scratch("emptyfield"), work = dir + "\\work";
    CreateDirectoryA(work.c_str(), NULL);
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(dir + "\\elsewhere"), ThreeFiles(), true, work);
    sfx.SetFolder("");
    sfx.Press(IDOK);
    HWND box = sfx.WaitOther(DoneCaption);
    CHECK(box != NULL);
    // The field shows the folder that was used.
    CHECK_TEXT(sfx.Text(IDC_FOLDER), work);
    if (box)
        drv::DismissBox(box);
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(work));
    CHECK(!drv::FileExists(dir + "\\elsewhere"));
}

TEST_CASE(TrailingBackslashIsNotDoubled)
{
    std::string dir = Scratch("trailing"), out = dir + "\\out";
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out + "\\"), ThreeFiles());
    sfx.Press(IDOK);
    HWND box = sfx.WaitOther(DoneCaption);
    CHECK(box != NULL);
    // The status line still shows the last file's path.
    CHECK_TEXT(sfx.Text(IDC_STATUS), "Extracting: " + out + "\\three.dat");
    if (box)
        drv::DismissBox(box);
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

TEST_CASE(FixedNeverOverwriteRemovesTheChoiceAndKeepsFiles)
{
    std::string dir = Scratch("fixed"), out = dir + "\\out";
    CreateDirectoryA(out.c_str(), NULL);
    drv::WriteFileBytes(out + "\\one.txt", "old contents");
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out, FixedOverwriteFlag | OverwriteFlags(OverwriteNever)), ThreeFiles());
    for (int id : {IDC_OVERWRITE_ALL, IDC_OVERWRITE_NEVER, IDC_OVERWRITE_ASK, IDC_OVERWRITE_GROUP})
        CHECK(sfx.Control(id) == NULL);
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(Content(out + "\\one.txt") == "old contents");
    CHECK(Content(out + "\\three.dat") == "stored");
}

TEST_CASE(OverwriteButtonsDecideForExistingFiles)
{
    // Template says ask; the user picks "overwrite all" before extracting.
    std::string dir = Scratch("choice"), out = dir + "\\out";
    CreateDirectoryA(out.c_str(), NULL);
    drv::WriteFileBytes(out + "\\one.txt", "old contents");
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out), ThreeFiles());
    sfx.Send(IDC_OVERWRITE_ALL, BM_CLICK);
    CHECK(sfx.Checked(IDC_OVERWRITE_ALL) && !sfx.Checked(IDC_OVERWRITE_ASK));
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

TEST_CASE(FailedRunStaysOpenWithTheFailuresSelectedAndRetries)
{
    std::string dir = Scratch("crcfail"), out = dir + "\\out";
    std::vector<zm::Entry> entries = ThreeFiles();
    entries[1].badCrc = true;
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out), entries);
    sfx.Press(IDOK);
    CheckFailureShown(sfx);
    CHECK(sfx.Selected(IDC_LIST_UNSORTED) == std::vector<int>{1});
    CHECK_TEXT(sfx.Text(IDC_STATUS), FailStatus);
    CHECK(Content(out + "\\one.txt") == "first file");
    // The mismatching file does not stay on disk.
    CHECK(!drv::FileExists(out + "\\sub\\two.txt"));

    // Another press runs every entry again, not only the failed one.
    DeleteFileA((out + "\\one.txt").c_str());
    sfx.Send(IDC_OVERWRITE_ALL, BM_CLICK);
    sfx.Press(IDOK);
    CheckFailureShown(sfx);
    CHECK(Content(out + "\\one.txt") == "first file");
    CHECK(sfx.Selected(IDC_LIST_UNSORTED) == std::vector<int>{1});
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(RetryAfterTheUserClearsTheWay)
{
    // A plain file stands where the folder "sub" must go: the file in it
    // cannot be created, the walk goes on, and the run reports its item.
    std::string dir = Scratch("blocked"), out = dir + "\\out";
    CreateDirectoryA(out.c_str(), NULL);
    drv::WriteFileBytes(out + "\\sub", "in the way");
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out), ThreeFiles());
    sfx.Press(IDOK);
    CHECK(sfx.Box(CAPTION_CANNOT_OPEN, out + "\\sub\\two.txt"));
    CheckFailureShown(sfx);
    CHECK(sfx.Selected(IDC_LIST_UNSORTED) == std::vector<int>{1});
    CHECK_TEXT(sfx.Text(IDC_STATUS), FailStatus);

    DeleteFileA((out + "\\sub").c_str());
    sfx.Send(IDC_OVERWRITE_ALL, BM_CLICK);
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

TEST_CASE(RetryIntoAnotherFolder)
{
    // No drive Q: the first folder cannot be made and the walk ends there.
    std::string dir = Scratch("nodrive"), out = dir + "\\second try";
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into("Q:\\nowhere"), ThreeFiles());
    sfx.Press(IDOK);
    CHECK(sfx.Box(CAPTION_FOLDER_ERROR, "Q:\\nowhere"));
    CheckFailureShown(sfx);
    CHECK((sfx.Selected(IDC_LIST_UNSORTED) == std::vector<int>{0, 1, 2}));
    sfx.SetFolder(out);
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

TEST_CASE(ArchiveWithoutEntriesOpensAnEmptyDialog)
{
    std::string dir = Scratch("noentries");
    Sfx sfx;
    CHECK(sfx.Start(dir, Into(dir + "\\out"), {}, false));
    HWND box = drv::WaitDialog(sfx.process.id, CAPTION_ERROR);
    CHECK(box != NULL);
    if (!box)
        return;
    CHECK_TEXT(TextOf(GetDlgItem(box, 0xFFFF)), TEXT_NO_HEADER);
    drv::DismissBox(box);
    CHECK(sfx.WaitMain());
    if (!sfx.main)
        return;
    CHECK(sfx.Visible(IDC_LIST_UNSORTED));
    CHECK(sfx.Send(IDC_LIST_UNSORTED, LB_GETCOUNT) == 0);
    // Extracting nothing says nothing and leaves the dialog open.
    sfx.Press(IDOK);
    CHECK(sfx.WaitOther(NULL, 1500) == NULL);
    CHECK(sfx.MainAlive());
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
    CHECK(!drv::FileExists(dir + "\\out"));
}

// An archive the walk cannot read to its central directory: the listing
// says so, the dialog opens with what was read and the state in its status
// line, and an extraction extracts that much without ever reporting success.
TEST_CASE(AnArchiveReadShortIsNeverReportedDone)
{
    std::string dir = Scratch("unread"), out = dir + "\\out";
    std::vector<zm::Entry> entries = ThreeFiles();
    entries[1].after = "not a record";
    Sfx sfx;
    CHECK(sfx.Start(dir, Into(out), entries, false));
    CHECK(sfx.Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR));
    CHECK(sfx.WaitMain());
    if (!sfx.main)
        return;
    CHECK(sfx.Items(IDC_LIST_UNSORTED).size() == 2u);
    const char *unread = STATUS_UNREAD;
    CHECK_TEXT(sfx.Text(IDC_STATUS), unread);
    sfx.Press(IDOK);
    CHECK(sfx.Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR));
    CHECK(Eventually([&] { return sfx.Text(IDC_STATUS) == unread; }));
    CHECK(sfx.WaitOther(DoneCaption, 1000) == NULL);
    CHECK(sfx.MainAlive());
    CHECK(Content(out + "\\one.txt") == "first file");
    CHECK(!drv::FileExists(out + "\\three.dat"));
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

TEST_CASE(CommandsWaitWhileARunIsInProgress)
{
    // The file-exists prompt has no owner, so the main dialog stays live
    // under it: extract and browse must not act in the middle of a run, and
    // close only asks whether to stop (answered no here).
    std::string dir = Scratch("inprogress"), out = dir + "\\out";
    CreateDirectoryA(out.c_str(), NULL);
    drv::WriteFileBytes(out + "\\one.txt", "old contents");
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(out), ThreeFiles());
    sfx.Press(IDOK);
    HWND prompt = sfx.WaitOther("겹쳐쓰기 방법...");
    CHECK(prompt != NULL);
    if (!prompt)
        return;
    sfx.Press(IDOK);
    sfx.Press(IDC_BROWSE);
    sfx.Press(IDCANCEL);
    HWND ask = sfx.WaitOther("압축해제");
    CHECK(ask != NULL);
    if (ask)
        drv::Press(ask, IDNO);
    Sleep(1000);
    CHECK(sfx.MainAlive());
    CHECK(IsWindow(prompt));
    // Only the one prompt of the one run.
    int prompts = 0;
    for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == sfx.process.id && IsWindowVisible(w) && TextOf(w) == "겹쳐쓰기 방법...")
            prompts++;
    }
    CHECK(prompts == 1);
    drv::Press(prompt, IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(HasThreeFiles(out));
}

// The folder field holds more than a run accepts.  Cut to 255 characters it
// would name another folder, which the run would make and fill.
TEST_CASE(OverlongFolderFieldIsRefusedNotCut)
{
    std::string dir = Scratch("longfield");
    std::string folder = dir + "\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
    Sfx sfx;
    START_OR_RETURN(sfx, dir, Into(dir), ThreeFiles());
    sfx.SetFolder(folder);
    sfx.Press(IDOK);
    CHECK(sfx.Box(CAPTION_FOLDER_ERROR, folder.substr(0, 260)));
    CHECK(sfx.Box(FailCaption, FailText));
    CHECK(sfx.MainAlive());
    CHECK(!drv::FileExists(dir + "\\" + std::string(150, 'a')));
    sfx.Press(IDCANCEL);
    CHECK(sfx.Exit() == 0);
}

static uint64_t WriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
        return 0;
    return (uint64_t)a.ftLastWriteTime.dwHighDateTime << 32 | a.ftLastWriteTime.dwLowDateTime;
}

TEST_CASE(FileTimesComeFromTheArchiveWhenAskedFor)
{
    // 2001-02-03 04:05:06 UTC as an extended timestamp, a FILETIME of 2017
    // as an NTFS field (it wins over the other), and the MS-DOS fields
    // alone, read as local time.
    const uint32_t unixTime = 981173106;
    const uint64_t fromUnix = (uint64_t)unixTime * 10000000 + 116444736000000000ULL, ntfs = 0x01D2345678ABCDEFULL;
    std::string ut = std::string("UT\x05\x00\x01", 5) + std::string((const char *)&unixTime, 4);
    std::string nt = std::string("\x0A\x00\x20\x00\x00\x00\x00\x00\x01\x00\x18\x00", 12) +
                     std::string((const char *)&ntfs, 8) + std::string(16, '\x33');
    std::vector<zm::Entry> entries = {File("unix.txt", "u"), File("ntfs.txt", "n"), File("dos.txt", "d", MethodStored),
                                      File("sub/deep.txt", std::string(40000, 'x'))};
    entries[0].extra = ut;
    entries[1].extra = ut + nt;
    entries[2].date = (21 << 9) | (6 << 5) | 15;   // 2001-06-15 13:14:30
    entries[2].time = (13 << 11) | (14 << 5) | 15;
    entries[3].extra = ut;
    FILETIME local, dos;
    DosDateTimeToFileTime(entries[2].date, entries[2].time, &local);
    LocalFileTimeToFileTime(&local, &dos);
    const uint64_t fromDos = (uint64_t)dos.dwHighDateTime << 32 | dos.dwLowDateTime;

    for (bool asked : {true, false}) {
        std::string dir = Scratch(asked ? "times" : "times_now"), out = dir + "\\out";
        zm::Settings s = Into(out);
        s.flags2 = asked ? RestoreTimesFlag : 0;
        FILETIME before;
        GetSystemTimeAsFileTime(&before);
        Sfx sfx;
        START_OR_RETURN(sfx, dir, s, entries);
        sfx.Press(IDOK);
        CHECK(sfx.Box(DoneCaption, DoneText));
        CHECK(sfx.Exit() == 0);
        if (asked) {
            CHECK(WriteTime(out + "\\unix.txt") == fromUnix);
            CHECK(WriteTime(out + "\\ntfs.txt") == ntfs);
            CHECK(WriteTime(out + "\\dos.txt") == fromDos);
            CHECK(WriteTime(out + "\\sub\\deep.txt") == fromUnix);
        } else {
            // Without the bit: the time of extraction, as it always was.
            uint64_t start = (uint64_t)before.dwHighDateTime << 32 | before.dwLowDateTime;
            for (const char *name : {"unix.txt", "ntfs.txt", "dos.txt"})
                CHECK(WriteTime(out + "\\" + name) + 20000000 >= start);
        }
        CHECK(Content(out + "\\sub\\deep.txt") == std::string(40000, 'x'));
    }
}

TEST_CASE(TheDownloadsMarkIsCarriedOver)
{
    // Under Wine a stream is a file named "name:stream" beside its file;
    // on Windows it stays with its file.  Zones 3 (the internet) and 4
    // (restricted) are carried over, with the program as the referrer;
    // another zone, or no mark, gives nothing.
    struct Case {
        const char *mark;   // the program's own Zone.Identifier, or null
        char zone;          // the zone its files get, or 0
    } cases[] = {
        {"[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/setup.exe\r\n", '3'},
        {"[ZoneTransfer]\nZoneId=4\n", '4'},
        {"[ZoneTransfer]\r\nZoneId=2\r\n", 0},
        {"[Other]\r\nZoneId=3\r\n", 0},
        {nullptr, 0},
    };
    int n = 0;
    for (const Case &c : cases) {
        std::string dir = Scratch("zone" + std::to_string(n++)), out = dir + "\\out";
        if (c.mark)
            CHECK(drv::WriteFileBytes(dir + "\\setup.exe:Zone.Identifier", c.mark));
        Sfx sfx;
        START_OR_RETURN(sfx, dir, Into(out), ThreeFiles());
        sfx.Press(IDOK);
        CHECK(sfx.Box(DoneCaption, DoneText));
        CHECK(sfx.Exit() == 0);
        CHECK(HasThreeFiles(out));
        for (const char *name : {"one.txt", "sub\\two.txt", "three.dat"}) {
            std::string stream = out + "\\" + name + ":Zone.Identifier";
            if (!c.zone) {
                CHECK(!drv::FileExists(stream));
                continue;
            }
            std::string expected = std::string("[ZoneTransfer]\r\nZoneId=") + c.zone + "\r\nReferrerUrl=" + dir +
                                   "\\setup.exe\r\n";
            std::string got = drv::ReadFileText(stream);
            if (got != expected)
                printf("  %s: \"%s\"\n", stream.c_str(), got.c_str());
            CHECK(got == expected);
        }
    }
}

TEST_CASE(CloseDuringARunAsksToStop)
{
    // Closed while it writes (Alt+F4 and the close button arrive as
    // IDCANCEL), a run of many files asks: "no" goes on, "yes" stops after
    // the file being written, keeps what was extracted, and reports the run
    // as not complete with the entries not reached still selected.  The
    // status line is the status line again at the end.  (Wine keeps each
    // process's drawing to itself, so the bar is seen in the screenshots of
    // ./run screenshots, not here.)
    std::vector<zm::Entry> entries;
    for (int i = 0; i < 3000; i++)
        entries.push_back(File("f" + std::to_string(10000 + i) + ".txt", "file " + std::to_string(i), MethodStored));
    for (bool stop : {false, true}) {
        std::string dir = Scratch(stop ? "stop_yes" : "stop_no"), out = dir + "\\out";
        Sfx sfx;
        START_OR_RETURN(sfx, dir, Into(out), entries);
        sfx.Press(IDOK);
        CHECK(Eventually([&] { return drv::FileExists(out + "\\f10000.txt"); }, 20000));
        PostMessageW(sfx.main, WM_COMMAND, IDCANCEL, 0);
        HWND ask = sfx.WaitOther("압축해제", 20000);
        CHECK(ask != NULL);
        if (!ask)
            return;
        CHECK(TextOf(GetDlgItem(ask, 0xFFFF)) == TEXT_STOP_QUESTION);
        drv::Press(ask, stop ? IDYES : IDNO);
        if (stop) {
            CHECK(sfx.Box(FailCaption, FailText, 60000));
            CHECK(sfx.MainAlive());
            LRESULT left = sfx.Send(IDC_LIST_UNSORTED, LB_GETSELCOUNT);
            CHECK(left > 0 && left < 3000);
            CHECK(!drv::FileExists(out + "\\f12999.txt"));
            CHECK(Eventually([&] { return sfx.Text(IDC_STATUS) == FailStatus; }));
            sfx.Press(IDCANCEL);
            CHECK(sfx.Exit() == 0);
        } else {
            CHECK(sfx.Box(DoneCaption, DoneText, 60000));
            CHECK(sfx.Exit() == 0);
            CHECK(drv::FileExists(out + "\\f12999.txt"));
        }
    }
}
