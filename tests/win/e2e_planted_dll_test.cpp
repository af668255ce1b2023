// DLL planting: a self-extracting file is run from a folder that also holds
// other downloads, any of which may be a DLL named like a system DLL.  Wine
// is told to prefer such DLLs to its own (as Windows prefers a DLL found
// beside the program for names it does not protect: CMakeLists.txt gives
// the names), and the stub is taken
// through a listing, a folder browse, an extraction and a run after it.
// None of the planted DLLs may be loaded.
#include "wintest_main.h"

#include "e2e_support.h"

using namespace e2e;

// The names Wine was told to take from beside the program (CMakeLists.txt).
static std::vector<std::string> PlantedNames()
{
    char value[2048] = "";
    GetEnvironmentVariableA("SFX_PLANTED_DLLS", value, sizeof value);
    std::vector<std::string> names;
    std::string list = value;
    size_t from = 0, comma;
    while ((comma = list.find(',', from)) != std::string::npos) {
        names.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    if (from < list.size())
        names.push_back(list.substr(from));
    return names;
}

static std::vector<std::string> LoadedMarkers(const std::string &dir)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*.loaded").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do
            found.push_back(d.cFileName);
        while (FindNextFileA(h, &d));
        FindClose(h);
    }
    return found;
}

TEST_CASE(NoDllBesideTheFileIsEverLoaded)
{
    std::string dir = Scratch("planted"), out = dir + "\\out";
    std::vector<std::string> names = PlantedNames();
    CHECK(names.size() >= 17);
    for (const std::string &name : names)
        CHECK(CopyFileA("planted.dll", (dir + "\\" + name + ".dll").c_str(), FALSE));

    // An unguarded program loads a planted DLL, which leaves its mark.
    CopyFileA("runmarker.exe", (dir + "\\runmarker.exe").c_str(), FALSE);
    drv::Process victim = drv::Start("\"" + dir + "\\runmarker.exe\" /load mpr.dll", dir);
    CHECK(drv::WaitExit(victim) == 0);
    CHECK(LoadedMarkers(dir).size() == 1);
    DeleteFileA((dir + "\\mpr.dll.loaded").c_str());

    zm::Settings s = RunAfter(out, ShowRunOptionFlag, RunOpensFileFlag);
    Sfx sfx;
    CHECK(sfx.Start(dir, s, {File("a.txt", "a"),
                             File("runmarker.exe", drv::ReadFileText("runmarker.exe"))}));
    if (!sfx.main)
        return;

    // The folder dialog draws shell icons and offers the network dialog.
    sfx.Press(IDC_BROWSE);
    HWND sel = sfx.WaitOther("압축해제 디렉토리 선택");
    CHECK(sel != NULL);
    if (sel) {
        RedrawWindow(GetDlgItem(sel, IDC_SEL_LIST), NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
        drv::Press(sel, IDC_SEL_NETWORK);
        Sleep(500);
        drv::Press(sel, IDCANCEL);
    }
    sfx.SetFolder(out);
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText));
    CHECK(sfx.Exit() == 0);
    CHECK(Eventually([&] { return drv::FileExists(out + "\\marker.txt"); }));
    std::vector<std::string> loaded = LoadedMarkers(dir);
    for (const std::string &name : loaded)
        printf("  loaded from beside the file: %s\n", name.c_str());
    CHECK(loaded.empty());
}
