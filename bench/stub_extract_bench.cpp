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
#include "e2e_support.h"

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

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "--files"))
        return Files(argv[2]);
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
