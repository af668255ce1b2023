// The extraction driver's runs without prompts: the tally in the list's
// selection, folders, the overwrite policy's quiet cases, the run-end
// reports, and the names, methods and sizes it must refuse.
#include "wintest_main.h"

#include "extract_fixture.h"
#include "common/Texts.h"

using namespace fx;

TEST_CASE(ListingFillsTheListAndAnEmptyArchiveIsReported)
{
    Init();
    UseArchive({Stored("b.txt", "b"), Stored("a/", ""), Stored("c/d.txt", "d")});
    for (int id : Lists) {
        CHECK_EVENTS(ListRun(id));
        CHECK(ItemCount(id) == 3);
    }
    CHECK_TEXT(Item(IDC_LIST_SORTED, 0), "a/");
    CHECK_TEXT(Item(IDC_LIST_UNSORTED, 0), "b.txt");

    UseArchive({});
    CHECK_EVENTS(ListRun(IDC_LIST_UNSORTED), NoHeader);
    CHECK(ItemCount(IDC_LIST_UNSORTED) == 0);
}

TEST_CASE(NestedNamesCreateFoldersAndTheStatusLineShowsThePath)
{
    Init();
    OverwritePolicy = OverwriteAll;
    UseArchive({Stored("top.txt", "top"), Stored("sub/dir/file.txt", "deep"),
                Stored("sub\\back.txt", "back"), Stored("empty.txt", "")});
    for (int id : Lists) {
        // A target folder with a trailing backslash gives no double one.
        std::string dir = Target("nested", true);
        ListRun(id);
        CHECK_EVENTS(ExtractRun(id), AllDone);
        CHECK(ExtractSucceeded == 1);
        CHECK(SelectedCount(id) == 0);
        CHECK_TEXT(drv::ReadFileText(dir + "\\top.txt"), "top");
        CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\dir\\file.txt"), "deep");
        CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\back.txt"), "back");
        CHECK(drv::FileExists(dir + "\\empty.txt"));
        // The last file's path, however quickly the files went by.
        CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS), "Extracting: " + dir + "\\empty.txt");
    }
    std::string dir = Target("status");
    UseArchive({Stored("sub/dir/file.txt", "deep")});
    ListRun(IDC_LIST_SORTED);
    ExtractRun(IDC_LIST_SORTED);
    CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS),
              ("Extracting: " + dir + "\\sub\\dir\\file.txt"));
    // A file stands where a level below an existing folder must go: that
    // folder cannot be made, and the walk ends there.
    drv::WriteFileBytes(dir + "\\sub\\in", "in the way");
    UseArchive({Stored("sub/dir/more.txt", "more"), Stored("sub/in/way/x.txt", "x"), Stored("after.txt", "after")});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box("디렉토리의 에러...", dir + "\\sub\\in\\way"), ItemsLeft);
    CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\dir\\more.txt"), "more");
    CHECK(!drv::FileExists(dir + "\\after.txt"));
}

TEST_CASE(AllFolderArchiveWritesNothingAndSaysNothing)
{
    Init();
    std::string dir = Target("folders");
    UseArchive({Stored("one/", ""), Stored("one/two/", ""), Stored("three\\", "")});
    ListRun(IDC_LIST_UNSORTED);
    ExtractSucceeded = 1;
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED));
    CHECK(ExtractSucceeded == 0);
    CHECK(SelectedCount(IDC_LIST_UNSORTED) == 0);
    CHECK(!drv::FileExists(dir + "\\one"));
    CHECK(!drv::FileExists(dir + "\\three"));
}

TEST_CASE(NeverOverwriteWithEveryTargetPresentCountsAllDone)
{
    Init();
    std::string dir = Target("never");
    CreateDirectoryA((dir + "\\d").c_str(), NULL);
    drv::WriteFileBytes(dir + "\\a.txt", "old a");
    drv::WriteFileBytes(dir + "\\d\\b.txt", "old b");
    UseArchive({Stored("a.txt", "new a"), Stored("d/b.txt", "new b")});
    OverwritePolicy = OverwriteNever;
    ListRun(IDC_LIST_SORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_SORTED), AllDone);
    CHECK(ExtractSucceeded == 1);
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "old a");
    CHECK_TEXT(drv::ReadFileText(dir + "\\d\\b.txt"), "old b");
}

TEST_CASE(CrcMismatchKeepsTheFileAndItsItemSelected)
{
    Init();
    OverwritePolicy = OverwriteAll;
    zm::Entry bad = Stored("bad.txt", "payload");
    bad.badCrc = true;
    UseArchive({Stored("a.txt", "a"), bad, Stored("z.txt", "z")});
    for (int id : Lists) {
        std::string dir = Target("crc");
        ListRun(id);
        ExtractSucceeded = 1;
        CHECK_EVENTS(ExtractRun(id), ItemsLeft);
        CHECK(ExtractSucceeded == 0);
        CHECK_TEXT(Selection(id, "bad.txt"), "1");
        CHECK_TEXT(Selection(id, "a.txt"), "0");
        CHECK_TEXT(Selection(id, "z.txt"), "0");
        // Nothing that failed its check stands where the entry would.
        CHECK(!drv::FileExists(dir + "\\bad.txt"));
        CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS),
                  STATUS_ITEMS_LEFT);
        // Until the report is answered it names the last file.
        CHECK(S.statuses.size() == 1);
        if (!S.statuses.empty())
            CHECK_TEXT(S.statuses[0], "Extracting: " + dir + "\\z.txt");
        // The next run tries everything again and fails the same way.
        CHECK_EVENTS(ExtractRun(id), ItemsLeft);
        CHECK(SelectedCount(id) == 1);
    }
}

// An entry that fails its check over an existing file leaves the old file
// as it was, and no file of its own anywhere in the folder; one that passes
// replaces it.
TEST_CASE(CrcMismatchOverAnExistingFileKeepsTheOldOne)
{
    Init();
    OverwritePolicy = OverwriteAll;
    zm::Entry bad = Stored("sub/old.txt", std::string(70000, 'n'));
    bad.badCrc = true;
    for (uint16_t method : {MethodStored, MethodDeflated}) {
        std::string dir = Target("crc_old");
        CreateDirectoryA((dir + "\\sub").c_str(), NULL);
        drv::WriteFileBytes(dir + "\\sub\\old.txt", "old contents");
        drv::WriteFileBytes(dir + "\\sub\\good.txt", "old good");
        bad.method = method;
        zm::Entry good = Stored("sub/good.txt", "new good");
        good.method = method;
        UseArchive({bad, good});
        ListRun(IDC_LIST_UNSORTED);
        CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), ItemsLeft);
        CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\old.txt"), "old contents");
        CHECK_TEXT(drv::ReadFileText(dir + "\\sub\\good.txt"), "new good");
        CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "sub/old.txt"), "1");
        WIN32_FIND_DATAA found;
        int files = 0;
        HANDLE h = FindFirstFileA((dir + "\\sub\\*").c_str(), &found);
        for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
            files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
        CHECK(files == 2);
    }
}

TEST_CASE(UnknownMethodEndsTheRunAndLeavesAnExistingFileAlone)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("method");
    drv::WriteFileBytes(dir + "\\odd.bin", "keep me");
    zm::Entry odd = Stored("odd.bin", "imploded");
    odd.method = 6;
    zm::Entry fresh = odd;
    fresh.name = "fresh.bin";
    UseArchive({Stored("a.txt", "a"), odd, Stored("after.txt", "after")});
    ListRun(IDC_LIST_UNSORTED);
    ExtractSucceeded = 1;
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), UnknownMethod);
    CHECK(ExtractSucceeded == 0);
    CHECK_TEXT(drv::ReadFileText(dir + "\\odd.bin"), "keep me");
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "a");
    CHECK(!drv::FileExists(dir + "\\after.txt"));
    CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "odd.bin"), "1");
    CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "after.txt"), "1");

    // Nor is an empty file left behind where there was none.
    UseArchive({fresh});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), UnknownMethod);
    CHECK(!drv::FileExists(dir + "\\fresh.bin"));
#ifndef SFX_STUB_AES
    // The stub built without the AES entries (no room in its image) takes
    // them for an unknown method, before anything is created and without
    // asking for a password no one could check.
    zm::Entry aes = Encrypted("aes.bin", "sealed", "key");
    aes.aes = 2;
    UseArchive({aes});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), UnknownMethod);
    CHECK(!drv::FileExists(dir + "\\aes.bin"));
#endif
}

TEST_CASE(DuplicateNamesMatchSuccessiveItems)
{
    Init();
    UseArchive({Stored("dup.txt", "first"), Stored("other.txt", "o"), Stored("DUP.txt", "second")});
    for (int id : Lists) {
        std::string dir = Target("dup");
        OverwritePolicy = OverwriteAll;
        ListRun(id);
        CHECK(ItemCount(id) == 3);
        CHECK_EVENTS(ExtractRun(id), AllDone);
        CHECK_TEXT(drv::ReadFileText(dir + "\\dup.txt"), "second");

        dir = Target("dup");
        OverwritePolicy = OverwriteNever;
        CHECK_EVENTS(ExtractRun(id), AllDone);
        CHECK_TEXT(drv::ReadFileText(dir + "\\dup.txt"), "first");
        CHECK(SelectedCount(id) == 0);
    }
    // A twin that fails leaves selected the item the search after the last
    // match gives it, whatever the order of the twins in the list.
    zm::Entry bad = Stored("DUP.txt", "second");
    bad.badCrc = true;
    UseArchive({Stored("b.txt", "b"), Stored("dup.txt", "first"), Stored("a.txt", "a"), bad});
    for (int id : Lists) {
        Target("dup");
        OverwritePolicy = OverwriteAll;
        ListRun(id);
        CHECK_EVENTS(ExtractRun(id), ItemsLeft);
        CHECK_TEXT(Selection(id, "dup.txt"), "01");
        CHECK(SelectedCount(id) == 1);
    }
}

TEST_CASE(AnItemDeselectedBeforeTheRunIsSkipped)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("skip");
    UseArchive({Stored("a.txt", "a"), Stored("b.txt", "b")});
    ListRun(IDC_LIST_SORTED);
    SendMessageA(List(IDC_LIST_SORTED), LB_SETSEL, TRUE, -1);
    SendMessageA(List(IDC_LIST_SORTED), LB_SETSEL, FALSE, 0);
    StartAnswering();
    ExtractEntries(S.main, IDC_LIST_SORTED, false);
    StopAnswering();
    CHECK_EVENTS(S.events, AllDone);
    CHECK(!drv::FileExists(dir + "\\a.txt"));
    CHECK(drv::FileExists(dir + "\\b.txt"));
}

TEST_CASE(EmptyDriveRootAsTargetFolder)
{
    Init();
    OverwritePolicy = OverwriteAll;
    drv::RemoveTree("E:\\sub");
    DeleteFileA("E:\\root.txt");
    strcpy(TargetFolder, "E:\\");
    UseArchive({Stored("root.txt", "in the root"), Stored("sub/inner.txt", "inner")});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
    CHECK_TEXT(drv::ReadFileText("E:\\root.txt"), "in the root");
    CHECK_TEXT(drv::ReadFileText("E:\\sub\\inner.txt"), "inner");
    drv::RemoveTree("E:\\sub");
    DeleteFileA("E:\\root.txt");
}

TEST_CASE(UnsafeNamesAreRefusedAndTheWalkGoesOn)
{
    Init();
    OverwritePolicy = OverwriteAll;
    const char *unsafe[] = {"../up.txt", "a/../../up2.txt", "a\\.. \\up3.txt", "a/.../up4.txt",
                            "C:up5.txt", "c:\\up6.txt", "ok.txt:stream", "/root.txt",
                            "\\\\server\\share\\x.txt",
                            // Devices, in any case, with any extension, dots or spaces.
                            "NUL", "nul.txt", "sub/aux.dat", "CON", "Com1.log", "lpt9 .x",
                            "prn..", "conin$", "COM\xA9\xF7",
                            // Characters no Windows name may hold.
                            "wild*.txt", "q?.txt", "say\"hi\".txt", "a<b", "a>b", "pi|pe",
                            "ctl\x01.txt", "tab\there"};
    std::vector<zm::Entry> entries;
    for (const char *n : unsafe)
        entries.push_back(Stored(n, "evil"));
    entries.push_back(Stored("ok.txt", "fine"));
    entries.push_back(Stored("a/..b/c..d/x.y", "dots inside names are fine"));
    UseArchive(entries);
    std::string dir = Target("unsafe\\inner");
    ListRun(IDC_LIST_UNSORTED);
    // The listing shows the names as stored.
    CHECK_TEXT(Item(IDC_LIST_UNSORTED, 0), "../up.txt");
    std::vector<std::string> want;
    for (const char *n : unsafe)
        want.push_back(Box(TEXT_BAD_NAME, n));
    want.push_back(ItemsLeft);
    CHECK_TEXT(Joined(ExtractRun(IDC_LIST_UNSORTED)), Joined(want));
    CHECK(SelectedCount(IDC_LIST_UNSORTED) == (int)(sizeof unsafe / sizeof *unsafe));
    CHECK_TEXT(drv::ReadFileText(dir + "\\ok.txt"), "fine");
    CHECK(drv::FileExists(dir + "\\a\\..b\\c..d"));
    CHECK(!drv::FileExists("C:\\extract_tests\\unsafe\\up.txt"));
    CHECK(!drv::FileExists("C:\\extract_tests\\up2.txt"));
    CHECK(!drv::FileExists("C:\\extract_tests\\unsafe\\up3.txt"));
    CHECK(!drv::FileExists("C:\\extract_tests\\unsafe\\inner\\a\\up4.txt"));
    CHECK(!drv::FileExists("C:\\up6.txt"));
    CHECK(!drv::FileExists("C:\\root.txt"));
    CHECK(!drv::FileExists(dir + "\\sub"));
}

TEST_CASE(OverlongPathsFailAtCreationWithoutOverrun)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("long");
    std::string longName(300, 'n');
    UseArchive({Stored(longName, "x"), Stored("after.txt", "after")});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box(CAPTION_CANNOT_OPEN, dir + "\\" + longName),
                 ItemsLeft);
    CHECK_TEXT(Selection(IDC_LIST_UNSORTED, longName), "1");
    CHECK_TEXT(drv::ReadFileText(dir + "\\after.txt"), "after");

    // The longest folder the main dialog hands over, and a long name in it.
    std::string folder = "C:\\" + std::string(252, 'f');
    strcpy(TargetFolder, folder.c_str());
    UseArchive({Stored(std::string(255, 'm') + "/" + std::string(200, 'k'), "x")});
    ListRun(IDC_LIST_UNSORTED);
    std::vector<std::string> events = ExtractRun(IDC_LIST_UNSORTED);
    CHECK(events.size() == 2);
    CHECK(events.size() == 2 && events[1] == ItemsLeft);

    // Past 64 KiB the system cuts a path to a prefix of itself, which may
    // lie outside the target: refused before any file or folder call, as
    // deep as the name goes.
    dir = Target("huge");
    std::string huge;
    while (huge.size() < 65530)
        huge += "d/";
    huge += "x.txt";
    UseArchive({Stored(huge, "x"), Stored("after.txt", "after")});
    ListRun(IDC_LIST_UNSORTED);
    events = ExtractRun(IDC_LIST_UNSORTED);
    // The box shows the path, as far as a message box shows a text.
    std::string cannotOpen = Box(CAPTION_CANNOT_OPEN, dir);
    CHECK(events.size() == 2 && events[0].compare(0, cannotOpen.size(), cannotOpen) == 0 &&
          events[1] == ItemsLeft);
    CHECK(!drv::FileExists(dir + "\\d"));
    CHECK_TEXT(drv::ReadFileText(dir + "\\after.txt"), "after");

    // A target folder longer than a run accepts is refused whole, never
    // cut to the name of another folder.
    folder = Target("toolong") + "\\" + std::string(200, 'f') + "\\" + std::string(60, 'g');
    folder.resize(TargetFolderUnits - 2);
    strcpy(TargetFolder, folder.c_str());
    UseArchive({Stored("a.txt", "a")});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box(CAPTION_FOLDER_ERROR, folder), ItemsLeft);
    CHECK(!drv::FileExists(folder.substr(0, 255)));
    CHECK(!drv::FileExists(Target("toolong") + "\\" + std::string(200, 'f')));
}

// Written to a pipe, an entry has its CRC and sizes only in the descriptor
// behind its data.  Nothing can be extracted from the local header: the
// run ends as for an unknown method, before anything is created.
TEST_CASE(StreamedEntriesEndTheRunBeforeAnythingIsCreated)
{
    Init();
    OverwritePolicy = OverwriteAll;
    for (uint16_t method : {8, 0}) {
        std::string dir = Target(method ? "streamed8" : "streamed0");
        zm::Entry streamed = Stored("sub/piped.txt", "written through a pipe");
        streamed.method = method;
        streamed.descriptor = streamed.streamed = true;
        UseArchive({Stored("a.txt", "a"), streamed, Stored("z.txt", "z")});
        ListRun(IDC_LIST_UNSORTED);
        CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box(CAPTION_EXTRACT_ERROR, TEXT_UNKNOWN_ENTRY));
        CHECK(ExtractSucceeded == 0);
        CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "a");
        CHECK(!drv::FileExists(dir + "\\sub"));
    }
    // Bit 3 with the real sizes in the local header, as zip -P writes it,
    // and an empty file streamed as stored, extract as ever.
    std::string dir = Target("described");
    zm::Entry described = Stored("d.txt", "described");
    described.descriptor = true;
    zm::Entry empty = Stored("empty.txt", "");
    empty.descriptor = empty.streamed = true;
    UseArchive({described, empty, Stored("z.txt", "z")});
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\d.txt"), "described");
    CHECK(drv::FileExists(dir + "\\empty.txt"));
    CHECK_TEXT(drv::ReadFileText(dir + "\\z.txt"), "z");
}

// The walk reads the archive to its central directory, or the run says it
// could not: an entry behind bytes it could not step over must not be taken
// for the end of the archive, and no run over it reports success.
TEST_CASE(WalksThatEndShortOfTheDirectoryReportTheReadError)
{
    Init();
    OverwritePolicy = OverwriteAll;
    const std::string readError = Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR);
    const char *const unread = STATUS_UNREAD;
    auto described = [](bool bare, bool wide, uint16_t method) {
        zm::Entry e = Stored("a.txt", "described");
        e.method = method;
        e.descriptor = true;
        e.bareDescriptor = bare;
        e.wideDescriptor = wide;
        return e;
    };
    zm::Entry gap = Stored("a.txt", "a");
    gap.after = "between";
    zm::Entry empty = Stored(std::string("\0", 1), "x");
    std::string both = zm::SelfExtractor(Stub(), zm::Settings(), {Stored("a.txt", "a"), Stored("b.txt", "b")});
    size_t second = both.find("b.txt") - LocalHeaderSize;
    std::string pastTheEnd = both;
    uint32_t size = 100000;
    memcpy(&pastTheEnd[second + 18], &size, 4);
    struct {
        const char *what;
        std::string file;
        bool whole;
    } cases[] = {
        {"a descriptor with its signature", zm::SelfExtractor(Stub(), zm::Settings(), {described(false, false, 8), Stored("b.txt", "b")}), true},
        {"a descriptor without it", zm::SelfExtractor(Stub(), zm::Settings(), {described(true, false, 8), Stored("b.txt", "b")}), true},
        {"a stored entry's descriptor without it", zm::SelfExtractor(Stub(), zm::Settings(), {described(true, false, 0), Stored("b.txt", "b")}), true},
        {"a ZIP64 descriptor", zm::SelfExtractor(Stub(), zm::Settings(), {described(false, true, 8), Stored("b.txt", "b")}), false},
        {"a ZIP64 descriptor without signature", zm::SelfExtractor(Stub(), zm::Settings(), {described(true, true, 8), Stored("b.txt", "b")}), false},
        {"bytes between entries", zm::SelfExtractor(Stub(), zm::Settings(), {gap, Stored("b.txt", "b")}), false},
        {"an empty name", zm::SelfExtractor(Stub(), zm::Settings(), {Stored("a.txt", "a"), empty, Stored("b.txt", "b")}), false},
        {"a header cut by the end of the file", both.substr(0, second + 20), false},
        {"a seek past the end", pastTheEnd, false},
    };
    for (const auto &c : cases) {
        printf("  %s\n", c.what);
        std::string dir = Target("walk_end");
        UseFile(c.file);
        SetDlgItemTextA(S.main, IDC_STATUS, "");
        if (c.whole) {
            CHECK_EVENTS(ListRun(IDC_LIST_UNSORTED));
            CHECK(ItemCount(IDC_LIST_UNSORTED) == 2);
            CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
            CHECK(ExtractSucceeded == 1);
            CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "described");
            CHECK_TEXT(drv::ReadFileText(dir + "\\b.txt"), "b");
            continue;
        }
        bool empty = std::string(c.what) == "an empty name";
        std::string error = empty ? Box(CAPTION_ARCHIVE_ERROR, TEXT_BAD_NAME) : readError;
        CHECK_EVENTS(ListRun(IDC_LIST_UNSORTED), error);
        CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS), unread);
        ExtractSucceeded = 1;
        CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), error);
        CHECK(ExtractSucceeded == 0);
        CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS), unread);
        CHECK(drv::FileExists(dir + "\\a.txt"));
        CHECK(!drv::FileExists(dir + "\\b.txt"));
    }
}

// A symbolic link (a reparse point to Windows) inside the target folder is
// never written through, to a folder or to a file: the entries that would
// go through it fail as files that cannot be made, and what it leads to
// stays as it was.  Under Wine a host link is one; the links are made on the
// host side, in a folder of the host's /tmp (Z:).
TEST_CASE(LinksInsideTheTargetFolderAreNotWrittenThrough)
{
    Init();
    OverwritePolicy = OverwriteAll;
    // Wine's process ids are alike in every prefix: with the tick count the
    // folder is this run's own even when other prefixes run the test too.
    std::string base = "/tmp/sfx-links-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount());
    CHECK(drv::RunHost("rm", "-rf " + base));
    CHECK(drv::RunHost("mkdir", "-p " + base + "/out/real " + base + "/outside"));
    CHECK(drv::RunHost("ln", "-s ../outside " + base + "/out/link"));
    CHECK(drv::RunHost("ln", "-s ../../outside " + base + "/out/real/deeper"));
    std::string win = "Z:" + base;
    for (char &c : win)
        c = c == '/' ? '\\' : c;
    std::string out = win + "\\out", outside = win + "\\outside";
    drv::WriteFileBytes(outside + "\\victim.txt", "victim");
    CHECK(drv::RunHost("ln", "-s ../outside/victim.txt " + base + "/out/victim.txt"));
    DWORD a = GetFileAttributesA((out + "\\link").c_str());
    CHECK(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT));
    // Wine 8 does not always report a link to a file as a reparse point:
    // then the file that replaces it is moved over the link itself, which
    // never writes through it either.
    strcpy(TargetFolder, out.c_str());
    // The run trusts the levels of the last file's folder, whole levels
    // only: "link" is not "linked", and "real" holds a link.
    UseArchive({Stored("real/ok.txt", "ok"), Stored("real/deeper/evil.txt", "evil"), Stored("linked/ok.txt", "ok"),
                Stored("link/evil.txt", "evil"), Stored("link/new/deep.txt", "deep"),
                Stored("victim.txt", "changed"), Stored("new/ok.txt", "ok")});
    ListRun(IDC_LIST_UNSORTED);
    std::vector<std::string> got = ExtractRun(IDC_LIST_UNSORTED);
    std::string victimBox = Box(CAPTION_CANNOT_OPEN, out + "\\victim.txt");
    bool fileLinkShown = got.size() > 3 && got[3] == victimBox;
    if (fileLinkShown)
        got.erase(got.begin() + 3);
    else
        CHECK_TEXT(drv::ReadFileText(out + "\\victim.txt"), "changed");
    CHECK_EVENTS(got, Box(CAPTION_CANNOT_OPEN, out + "\\real\\deeper\\evil.txt"),
                 Box(CAPTION_CANNOT_OPEN, out + "\\link\\evil.txt"),
                 Box(CAPTION_CANNOT_OPEN, out + "\\link\\new\\deep.txt"), ItemsLeft);
    CHECK(SelectedCount(IDC_LIST_UNSORTED) == 3 + fileLinkShown);
    CHECK_TEXT(drv::ReadFileText(outside + "\\victim.txt"), "victim");
    CHECK(!drv::FileExists(outside + "\\evil.txt"));
    CHECK(!drv::FileExists(outside + "\\new"));
    CHECK_TEXT(drv::ReadFileText(out + "\\real\\ok.txt"), "ok");
    CHECK_TEXT(drv::ReadFileText(out + "\\new\\ok.txt"), "ok");
    CHECK_TEXT(drv::ReadFileText(out + "\\linked\\ok.txt"), "ok");
    drv::RunHost("rm", "-rf " + base);
}

// A compressed size of 2 GiB or more is negative as a signed count: the entry
// has no data, nothing huge is allocated, and the walk ends there.
TEST_CASE(HugeCompressedSizeMeansNoData)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("huge");
    std::string file = zm::SelfExtractor(Stub(), zm::Settings(),
                                         {Stored("a.txt", "a"), Stored("huge.bin", "data")});
    size_t second = file.find("huge.bin") - LocalHeaderSize;
    uint32_t size = 0xFFFFFFF0u;
    memcpy(&file[second + 18], &size, 4);
    UseFile(file);
    // The advance from it would leave the file: the archive is not read whole.
    CHECK_EVENTS(ListRun(IDC_LIST_UNSORTED), Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR));
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box(CAPTION_ARCHIVE_ERROR, TEXT_READ_ERROR));
    CHECK_TEXT(drv::ReadFileText(dir + "\\a.txt"), "a");
    CHECK(!drv::FileExists(dir + "\\huge.bin"));
    CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "huge.bin"), "1");
}

// One run at a time: a command reaching the window procedure through the
// message the driver pumps before each file must not start a second run.
TEST_CASE(ARunStartedDuringARunIsIgnored)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("nested");
    UseArchive({Stored("a.txt", "a"), Stored("b.txt", "b")});
    ListRun(IDC_LIST_UNSORTED);
    S.nestedCalls = 0;
    S.nestedEvents.clear();
    PostMessageA(S.main, NestedRun, 0, 0);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), AllDone);
    CHECK(S.nestedCalls == 1);
    CHECK_EVENTS(S.nestedEvents, "ignored");
    CHECK(ExtractSucceeded == 1);
    CHECK(!RunInProgress);
}

// A name that is empty once cut at its first zero byte ends the run with
// its own message and no report; the entries before it stay extracted.
TEST_CASE(EmptyNameEndsTheRunWithoutReport)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string dir = Target("empty_name");
    UseArchive({Stored("a.txt", "a"), Stored(std::string("\0hidden", 7), "x"), Stored("b.txt", "b")});
    CHECK_EVENTS(ListRun(IDC_LIST_UNSORTED), Box(CAPTION_ARCHIVE_ERROR, TEXT_BAD_NAME));
    CHECK(ItemCount(IDC_LIST_UNSORTED) == 1);
    ExtractSucceeded = 1;
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Box(CAPTION_ARCHIVE_ERROR, TEXT_BAD_NAME));
    CHECK(ExtractSucceeded == 0);
    CHECK(drv::FileExists(dir + "\\a.txt"));
    CHECK(!drv::FileExists(dir + "\\b.txt"));
    CHECK_TEXT(drv::ControlText(S.main, IDC_STATUS), STATUS_UNREAD);
}
