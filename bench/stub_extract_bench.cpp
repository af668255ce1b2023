// Benchmark of the real stub as a user meets it (scripts/bench_extract.sh
// builds and runs it; not one of the tests).
//   stub_extract_bench ZIP TARGET [STUB]
// Writes STUB (sfx.exe of the working folder) + ZIP as a self-extracting file,
// starts it, lets the listing run finish, puts TARGET in the folder field,
// presses extract and times until the final message box shows.  Prints the
// milliseconds, the box, the status line and the selection left.
//   stub_extract_bench --ready SETUP TARGET
// The same with a self-extracting file made beforehand (scripts/bench.sh
// makes its 1 GiB one with cat: this 32-bit program cannot hold such an
// archive twice in memory).
//   stub_extract_bench --files TARGET
// Writes 10,000 files of 5,000 bytes in 100 folders of TARGET with the
// calls the stub makes for each file (CreateFile, WriteFile, CloseHandle):
// what any Windows program pays under Wine for that many files.
//   stub_extract_bench --floor LIST TARGET [THREADS]
// The same for the files of an archive: LIST holds a line "SIZE PATH" for
// each (UTF-8, '/' between levels, in archive order).  Each folder level is
// made once, each file created new and written in the stub's 32 KiB pieces,
// nothing read or decoded: the least a Windows program extracting that
// archive can pay under Wine.  With THREADS, the folders are made first and
// that many threads then share the files.
#include "e2e_support.h"

#include <set>

WinTestCase *WinTestFirst;
int WinTestFailures;

using namespace e2e;

// For the terminal the script prints to.
static std::string Utf8(HWND w)
{
    wchar_t buf[1024] = L"";
    SendMessageW(w, WM_GETTEXT, 1024, (LPARAM)buf);
    char out[4096] = "";
    WideCharToMultiByte(CP_UTF8, 0, buf, -1, out, sizeof out, NULL, NULL);
    return out;
}

static int Files(const char *target)
{
    static char data[5000];
    char path[MAX_PATH];
    CreateDirectoryA(target, NULL);
    for (int d = 0; d < 100; d++) {
        sprintf(path, "%s\\d%02d", target, d);
        CreateDirectoryA(path, NULL);
    }
    double start = drv::NowMs();
    for (int i = 0; i < 10000; i++) {
        sprintf(path, "%s\\d%02d\\file%05d.txt", target, i / 100, i);
        HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD put;
        WriteFile(h, data, sizeof data, &put, NULL);
        CloseHandle(h);
    }
    printf("%.0f ms\n", drv::NowMs() - start);
    return 0;
}

static std::wstring FromUtf8(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size());
    wide.resize(n > 0 ? (size_t)n : 0);
    return wide;
}

struct FloorFile {
    std::wstring Path;
    DWORD Size;
    size_t FoldersBefore;   // the folders to make before it, its own last
};
static std::vector<FloorFile> FloorFiles;
static int FloorThreads = 1;

static void WriteFloorFile(const FloorFile &f)
{
    static char data[32768];
    HANDLE h = CreateFileW(f.Path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    for (DWORD left = f.Size, put; left; left -= put)
        if (!WriteFile(h, data, left < sizeof data ? left : sizeof data, &put, NULL) || !put)
            break;
    CloseHandle(h);
}

static DWORD WINAPI FloorWorker(void *first)
{
    for (size_t i = (size_t)first; i < FloorFiles.size(); i += FloorThreads)
        WriteFloorFile(FloorFiles[i]);
    return 0;
}

static int Floor(const char *list, const char *target, int threads)
{
    std::wstring root = FromUtf8(target);
    std::vector<std::wstring> folders = {root};
    std::set<std::wstring> made = {root};
    std::string text = drv::ReadFileText(list);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        std::wstring path = root + L'\\';
        for (wchar_t c : FromUtf8(line.substr(space + 1))) {
            if (c == L'/' && made.insert(path).second)
                folders.push_back(path);
            path += c == L'/' ? L'\\' : c;
        }
        FloorFiles.push_back({path, (DWORD)strtoul(line.c_str(), NULL, 10), folders.size()});
    }
    FloorThreads = threads < 1 ? 1 : threads > 64 ? 64 : threads;
    double start = drv::NowMs();
    size_t nextFolder = 0;
    if (FloorThreads == 1) {
        // Each folder just before its first file, as the stub makes them.
        for (const FloorFile &f : FloorFiles) {
            for (; nextFolder < f.FoldersBefore; nextFolder++)
                CreateDirectoryW(folders[nextFolder].c_str(), NULL);
            WriteFloorFile(f);
        }
    } else {
        for (; nextFolder < folders.size(); nextFolder++)
            CreateDirectoryW(folders[nextFolder].c_str(), NULL);
        std::vector<HANDLE> workers;
        for (int k = 0; k < FloorThreads; k++)
            workers.push_back(CreateThread(NULL, 0, FloorWorker, (void *)(size_t)k, 0, NULL));
        WaitForMultipleObjects((DWORD)workers.size(), workers.data(), TRUE, INFINITE);
    }
    printf("%.0f ms | %u files | %u folders\n", drv::NowMs() - start, (unsigned)FloorFiles.size(),
           (unsigned)folders.size());
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "--files"))
        return Files(argv[2]);
    if ((argc == 4 || argc == 5) && !strcmp(argv[1], "--floor"))
        return Floor(argv[2], argv[3], argc == 5 ? atoi(argv[4]) : 1);
    bool ready = argc == 4 && !strcmp(argv[1], "--ready");
    if (ready) {
        argv++;
        argc = 3;
    }
    if (argc < 3) {
        printf("usage: stub_extract_bench ZIP TARGET [STUB] | --ready SETUP TARGET\n");
        return 2;
    }
    std::string dir = Scratch("bench");
    std::string exe = ready ? std::string(argv[1]) : dir + "\\setup.exe";
    if (!ready) {
        std::string image = argc > 3 ? drv::ReadFileText(argv[3]) : StubBytes();
        image.resize(ImageSize, '\0');
        if (!drv::WriteFileBytes(exe, image + drv::ReadFileText(argv[1]))) {
            printf("cannot write %s\n", exe.c_str());
            return 1;
        }
    }
    Sfx sfx;
    sfx.process = drv::Start("\"" + exe + "\"", dir);
    if (!sfx.process.handle || !sfx.WaitMain(120000)) {
        printf("no main dialog\n");
        return 1;
    }
    int items = (int)sfx.Send(IDC_LIST_UNSORTED, LB_GETCOUNT);
    int list = items > 0 ? IDC_LIST_UNSORTED : IDC_LIST_SORTED;
    items = (int)sfx.Send(list, LB_GETCOUNT);
    sfx.SetFolder(argv[2]);
    double start = drv::NowMs();
    sfx.Press(IDOK);
    HWND box = NULL;
    // The search for the box costs the stub little CPU at this pace.
    while (!box) {
        OtherSearch ctx = {sfx.process.id, sfx.main, NULL, &box};
        EnumWindows(VisitOther, (LPARAM)&ctx);
        if (!box)
            Sleep(5);
    }
    double ms = drv::NowMs() - start;
    std::string caption = Utf8(box), text = Utf8(GetDlgItem(box, 0xFFFF));
    std::string status = Utf8(sfx.Control(IDC_STATUS));
    int left = (int)sfx.Send(list, LB_GETSELCOUNT);
    drv::DismissBox(box);
    int code = sfx.Exit(60000);
    printf("%.0f ms | %d items | box \"%s\" / \"%s\" | status \"%s\" | %d selected | exit %d\n", ms,
           items, caption.c_str(), text.c_str(), status.c_str(), left, code);
    drv::RemoveTree(dir);
    return 0;
}
