// The launch after a successful extraction.  The program launched is
// runmarker.exe, carried in the archive itself: it leaves marker.txt beside
// itself with its command line and current folder.
#include "wintest_main.h"

#include "e2e_support.h"

#include "common/SFXgbls.h"
#include "common/Memory.h"
#include "decode/CrcCrypt.h"
#include "extract/Extract.h"
#include "common/Texts.h"

#include <algorithm>

using namespace e2e;

static std::vector<zm::Entry> WithMarker(const std::string &under = std::string())
{
    static std::string marker = drv::ReadFileText("runmarker.exe");
    return {File("readme.txt", "read me"), File(under + "runmarker.exe", marker)};
}

// What marker.txt says about the launch.
struct Launch {
    std::string commandLine, currentFolder;
    int show = -1;
};

// Waits for marker.txt; false when it never came.
static bool WaitMarker(const std::string &folder, Launch &launch, DWORD timeoutMs = 10000)
{
    std::string path = folder + "\\marker.txt";
    DWORD start = GetTickCount();
    std::string text;
    std::vector<std::string> lines;
    while (GetTickCount() - start < timeoutMs) {
        text = Content(path);
        lines.clear();
        size_t from = 0, nl;
        while ((nl = text.find('\n', from)) != std::string::npos) {
            lines.push_back(text.substr(from, nl - from));
            from = nl + 1;
        }
        if (lines.size() == 3)
            break;
        Sleep(100);
    }
    if (lines.size() != 3)
        return false;
    launch.commandLine = lines[0];
    launch.currentFolder = lines[1];
    launch.show = atoi(lines[2].c_str());
    return true;
}

// Extracts with the given settings and waits for the extractor to end.
static bool ExtractAll(Sfx &sfx, const std::string &dir, const zm::Settings &s,
                       const std::vector<zm::Entry> &entries, bool uncheck = false)
{
    if (!sfx.Start(dir, s, entries))
        return false;
    if (uncheck)
        sfx.Send(IDC_RUN, BM_SETCHECK, BST_UNCHECKED);
    sfx.Press(IDOK);
    bool done = sfx.Box(DoneCaption, DoneText);
    return sfx.Exit() == 0 && done;
}

TEST_CASE(OpensTheRunFileAfterASuccessfulRun)
{
    std::string dir = Scratch("run_opens"), out = dir + "\\out";
    // The open mode takes no parameters.
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, RunOpensFileFlag, "/not-passed");
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    Launch l;
    CHECK(WaitMarker(out, l));
    CHECK(l.commandLine.find("runmarker.exe") != std::string::npos);
    CHECK(l.commandLine.find("/not-passed") == std::string::npos);
    // No working folder of its own: the extractor's is inherited.
    CHECK_TEXT(l.currentFolder, dir);
    CHECK(l.show == SW_SHOW);
}

TEST_CASE(UncheckedRunLaunchesNothing)
{
    std::string dir = Scratch("run_unchecked"), out = dir + "\\out";
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, RunOpensFileFlag);
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker(), true));
    CHECK(Content(out + "\\readme.txt") == "read me");
    Launch l;
    CHECK(!WaitMarker(out, l, 2000));
}

TEST_CASE(HiddenRunCheckBoxStillRuns)
{
    std::string dir = Scratch("run_hidden"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags2 = RunOpensFileFlag;
    s.runFile = "tools\\runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker("tools/")));
    Launch l;
    CHECK(WaitMarker(out + "\\tools", l));
}

TEST_CASE(NoRunConfiguredLaunchesNothing)
{
    // A run file named, but neither the open flag nor parameters.
    std::string dir = Scratch("run_none"), out = dir + "\\out";
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, 0);
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    Launch l;
    CHECK(!WaitMarker(out, l, 2000));
}

TEST_CASE(ParametersNamingALongPathArePassedShort)
{
    std::string dir = Scratch("run_short"), out = dir + "\\out";
    std::string longName = dir + "\\Folder With A Long Name";
    CreateDirectoryA(longName.c_str(), NULL);
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(longName.c_str(), shortName, MAX_PATH);
    CHECK(strlen(shortName) < longName.size());
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, 0, longName);
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    Launch l;
    CHECK(WaitMarker(out, l));
    CHECK(l.commandLine.find(shortName) != std::string::npos);
    CHECK(l.commandLine.find("Long Name") == std::string::npos);
    CHECK(l.show == SW_SHOW);
}

TEST_CASE(ParametersThatNameNoFileArePassedAsTheyStand)
{
    std::string dir = Scratch("run_switch"), out = dir + "\\out";
    zm::Settings s = RunAfter(out, ShowRunOptionFlag, 0, "/q -x \"a b\"");
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    Launch l;
    CHECK(WaitMarker(out, l));
    const std::string &line = l.commandLine;
    CHECK(line.size() >= s.parameters.size() &&
          line.compare(line.size() - s.parameters.size(), std::string::npos, s.parameters) == 0);
}

// The routine itself, in this process.

static void Configure(bool opens, const char *runFile, const char *parameters)
{
    RunOpensFile = opens;
    strcpy(RunFile, runFile);
    strcpy(RunParameters, parameters);
    RunWithParameters = parameters[0] && !opens;
    HasRunFile = runFile[0] && (opens || RunWithParameters);
}

TEST_CASE(RunRoutineAppendsOneBackslashWhateverTheCheckState)
{
    InitGlobals();
    Configure(true, "nothing.exe", "");
    strcpy(TargetFolder, "C:\\some\\folder");
    RunAfterExtraction(0);
    CHECK_STR(TargetFolder, "C:\\some\\folder\\");
    RunAfterExtraction(0);
    CHECK_STR(TargetFolder, "C:\\some\\folder\\");

    // The longest folder the dialog hands over still takes its backslash.
    std::string longest = "C:\\" + std::string(252, 'f');
    strcpy(TargetFolder, longest.c_str());
    RunAfterExtraction(0);
    CHECK_TEXT(TargetFolder, longest + "\\");
    DoneGlobals();
}

// What an extraction run that met the run file's entry leaves for the launch.
static void EntryMet(const std::string &data)
{
    // The launch reads the file back through the stub's CRC-32.
    EnsureCrcTable();
    RunEntryFound = true;
    RunEntryCrc = zm::Crc32(data);
    RunEntrySize = (uint32_t)data.size();
}

TEST_CASE(RunRoutineLaunchesFromAFolderEndingInABackslash)
{
    std::string dir = Scratch("run_inproc");
    CopyFileA("runmarker.exe", (dir + "\\runmarker.exe").c_str(), FALSE);
    InitGlobals();
    Configure(false, "runmarker.exe", "/from-here");
    strcpy(TargetFolder, (dir + "\\").c_str());
    EntryMet(Content("runmarker.exe"));
    RunAfterExtraction(1);
    CHECK_TEXT(TargetFolder, dir + "\\");
    Launch l;
    CHECK(WaitMarker(dir, l));
    CHECK(l.commandLine.find("/from-here") != std::string::npos);
    // The whole command path, with one backslash between its parts.
    CHECK(l.commandLine.find(dir + "\\runmarker.exe") != std::string::npos);
    DoneGlobals();
}

// The file in place is launched only when it holds the entry's bytes: no
// entry met, another size or another CRC-32 launch nothing, and say so.
TEST_CASE(RunRoutineLaunchesOnlyTheEntrysBytes)
{
    std::string dir = Scratch("run_checked");
    CopyFileA("runmarker.exe", (dir + "\\runmarker.exe").c_str(), FALSE);
    std::string bytes = Content("runmarker.exe");
    InitGlobals();
    Configure(true, "runmarker.exe", "");
    Silent = true;
    for (int c = 0; c < 3; c++) {
        EntryMet(c == 1 ? bytes + "x" : bytes);
        RunEntryFound = c != 0;
        if (c == 2)
            RunEntryCrc ^= 1;
        ExitCode = 0;
        strcpy(TargetFolder, dir.c_str());
        RunAfterExtraction(1);
        CHECK(ExitCode == 1);
    }
    Silent = false;
    DoneGlobals();
    Launch l;
    CHECK(!WaitMarker(dir, l, 2000));
}

// Interactive, a file of the run file's name that the run kept (never
// overwrite) but that is not the archive's is not launched, and a box says
// why once the extraction has been reported.
TEST_CASE(AKeptFileThatIsNotTheEntryIsNotLaunched)
{
    std::string dir = Scratch("run_planted"), out = dir + "\\out";
    CreateDirectoryA(out.c_str(), NULL);
    drv::WriteFileBytes(out + "\\runmarker.exe", Content("runmarker.exe") + "planted");
    zm::Settings s = RunAfter(out, ShowRunOptionFlag | OverwriteFlags(OverwriteNever), RunOpensFileFlag);
    Sfx sfx;
    START_OR_RETURN(sfx, dir, s, WithMarker());
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Box(CAPTION_ERROR, TEXT_NOT_THE_RUN_FILE));
    CHECK(sfx.Exit() == 1);
    Launch l;
    CHECK(!WaitMarker(out, l, 2000));
}

// With the temporary folder as target the run goes into a new folder of its
// own there, and the run file is launched from it: nothing planted in the
// temporary folder is used or touched.
TEST_CASE(TheTemporaryFolderGetsAFolderOfTheRunsOwn)
{
    std::string dir = Scratch("run_temp"), temp = dir + "\\temp";
    CreateDirectoryA(temp.c_str(), NULL);
    drv::WriteFileBytes(temp + "\\runmarker.exe", Content("runmarker.exe") + "planted");
    drv::WriteFileBytes(temp + "\\readme.txt", "planted");
    zm::Settings s = RunAfter("", 0, RunOpensFileFlag | DefaultToTempFlag);
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", saved, MAX_PATH);
    SetEnvironmentVariableA("TMP", temp.c_str());
    auto folders = [&] {
        std::vector<std::string> made;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((temp + "\\sfx*").c_str(), &found);
        for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                made.push_back(temp + "\\" + found.cFileName);
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
        return made;
    };
    for (bool silent : {true, false}) {
        std::vector<std::string> before = folders();
        Sfx sfx;
        if (silent) {
            sfx.args = " /S";
            CHECK(sfx.Start(dir, s, WithMarker(), false));
            CHECK(sfx.Exit() == 0);
        } else {
            CHECK(sfx.Start(dir, s, WithMarker()));
            if (!sfx.main)
                break;
            CHECK_TEXT(sfx.Text(IDC_FOLDER), temp + "\\");
            sfx.Press(IDOK);
            CHECK(sfx.Box(DoneCaption, DoneText));
            CHECK(sfx.Exit() == 0);
        }
        // One new folder each time, named sfx and eight hex digits.
        std::vector<std::string> made;
        for (const std::string &f : folders())
            if (std::find(before.begin(), before.end(), f) == before.end())
                made.push_back(f);
        CHECK(made.size() == 1u);
        if (made.empty())
            break;
        Launch l;
        CHECK(WaitMarker(made.back(), l));
        CHECK_TEXT(Content(made.back() + "\\readme.txt"), "read me");
        CHECK(made.back().size() == temp.size() + 12);
        CHECK_TEXT(Content(temp + "\\readme.txt"), "planted");
        CHECK(!drv::FileExists(temp + "\\marker.txt"));
    }
    SetEnvironmentVariableA("TMP", saved[0] ? saved : NULL);
}

// The run file is joined to the target folder and must stay inside it,
// whatever the settings block says.
TEST_CASE(RunRoutineNeverLaunchesOutsideTheTargetFolder)
{
    std::string dir = Scratch("run_escape"), inner = dir + "\\inner";
    CreateDirectoryA(inner.c_str(), NULL);
    CopyFileA("runmarker.exe", (dir + "\\runmarker.exe").c_str(), FALSE);
    const std::string escapes[] = {"..\\runmarker.exe", "sub\\..\\..\\runmarker.exe",
                                   dir + "\\runmarker.exe", dir.substr(2) + "\\runmarker.exe"};
    InitGlobals();
    for (const std::string &run : escapes) {
        Configure(true, run.c_str(), "");
        strcpy(TargetFolder, inner.c_str());
        RunAfterExtraction(1);
        Configure(false, run.c_str(), "/p");
        strcpy(TargetFolder, inner.c_str());
        RunAfterExtraction(1);
    }
    DoneGlobals();
    Launch l;
    CHECK(!WaitMarker(dir, l, 2000));
}
