// The launch after a successful extraction.  The program launched is
// runmarker.exe, carried in the archive itself: it leaves marker.txt beside
// itself with its command line and current folder.
#include "wintest_main.h"

#include "e2e_support.h"

#include "common/SFXgbls.h"
#include "extract/Extract.h"

using namespace e2e;

static std::vector<zm::Entry> WithMarker(const std::string &under = std::string())
{
    static std::string marker = drv::ReadFileText("runmarker.exe");
    return {File("readme.txt", "read me"), File(under + "runmarker.exe", marker)};
}

// Waits for marker.txt; its two lines, or empty texts when it never came.
static bool WaitMarker(const std::string &folder, std::string &commandLine,
                       std::string &currentFolder, DWORD timeoutMs = 10000)
{
    std::string path = folder + "\\marker.txt";
    DWORD start = GetTickCount();
    std::string text;
    while (GetTickCount() - start < timeoutMs) {
        text = Content(path);
        if (text.find('\n') != std::string::npos && text.back() == '\n')
            break;
        Sleep(100);
    }
    size_t nl = text.find('\n');
    if (nl == std::string::npos)
        return false;
    commandLine = text.substr(0, nl);
    currentFolder = text.substr(nl + 1, text.size() - nl - 2);
    return true;
}

// Extracts with the given settings and waits for the extractor to end.
static bool ExtractAll(Sfx &sfx, const std::string &dir, const zm::Settings &s,
                       const std::vector<zm::Entry> &entries, bool uncheck = false)
{
    if (!sfx.Start(dir, s, entries))
        return false;
    if (uncheck)
        sfx.Send(RunBox, BM_SETCHECK, BST_UNCHECKED);
    sfx.Press(IDOK);
    bool done = sfx.Box(DoneCaption, DoneText);
    return sfx.Exit() == 0 && done;
}

TEST_CASE(OpensTheRunFileAfterASuccessfulRun)
{
    std::string dir = Scratch("run_opens"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags1 = 0x01;
    s.flags2 = 0x01;
    s.runFile = "runmarker.exe";
    s.parameters = "/not-passed";   // the open mode takes no parameters
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    std::string line, cwd;
    CHECK(WaitMarker(out, line, cwd));
    CHECK(line.find("runmarker.exe") != std::string::npos);
    CHECK(line.find("/not-passed") == std::string::npos);
    // No working folder of its own: the extractor's is inherited.
    CHECK_TEXT(cwd, dir);
}

TEST_CASE(UncheckedRunLaunchesNothing)
{
    std::string dir = Scratch("run_unchecked"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags1 = 0x01;
    s.flags2 = 0x01;
    s.runFile = "runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker(), true));
    CHECK(Content(out + "\\readme.txt") == "read me");
    std::string line, cwd;
    CHECK(!WaitMarker(out, line, cwd, 2000));
}

TEST_CASE(HiddenRunCheckBoxStillRuns)
{
    std::string dir = Scratch("run_hidden"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags2 = 0x01;
    s.runFile = "tools\\runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker("tools/")));
    std::string line, cwd;
    CHECK(WaitMarker(out + "\\tools", line, cwd));
}

TEST_CASE(NoRunConfiguredLaunchesNothing)
{
    // A run file named, but neither the open flag nor parameters.
    std::string dir = Scratch("run_none"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags1 = 0x01;
    s.runFile = "runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    std::string line, cwd;
    CHECK(!WaitMarker(out, line, cwd, 2000));
}

TEST_CASE(ParametersNamingALongPathArePassedShort)
{
    std::string dir = Scratch("run_short"), out = dir + "\\out";
    std::string longName = dir + "\\Folder With A Long Name";
    CreateDirectoryA(longName.c_str(), NULL);
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(longName.c_str(), shortName, MAX_PATH);
    CHECK(strlen(shortName) < longName.size());
    zm::Settings s;
    s.folder = out;
    s.flags1 = 0x01;
    s.parameters = longName;
    s.runFile = "runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    std::string line, cwd;
    CHECK(WaitMarker(out, line, cwd));
    CHECK(line.find(shortName) != std::string::npos);
    CHECK(line.find("Long Name") == std::string::npos);
}

TEST_CASE(ParametersThatNameNoFileArePassedAsTheyStand)
{
    std::string dir = Scratch("run_switch"), out = dir + "\\out";
    zm::Settings s;
    s.folder = out;
    s.flags1 = 0x01;
    s.parameters = "/q -x \"a b\"";
    s.runFile = "runmarker.exe";
    Sfx sfx;
    CHECK(ExtractAll(sfx, dir, s, WithMarker()));
    std::string line, cwd;
    CHECK(WaitMarker(out, line, cwd));
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

TEST_CASE(RunRoutineLaunchesFromAFolderEndingInABackslash)
{
    std::string dir = Scratch("run_inproc");
    CopyFileA("runmarker.exe", (dir + "\\runmarker.exe").c_str(), FALSE);
    InitGlobals();
    Configure(false, "runmarker.exe", "/from-here");
    strcpy(TargetFolder, (dir + "\\").c_str());
    RunAfterExtraction(1);
    CHECK_TEXT(TargetFolder, dir + "\\");
    std::string line, cwd;
    CHECK(WaitMarker(dir, line, cwd));
    CHECK(line.find("/from-here") != std::string::npos);
    // The whole command path, with one backslash between its parts.
    CHECK(line.find(dir + "\\runmarker.exe") != std::string::npos);
    DoneGlobals();
}
