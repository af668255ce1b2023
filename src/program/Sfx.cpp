// The program's main body: open the own file, build the CRC table, read the
// settings, run the main dialog, release everything.  The stub has no C
// runtime start-up: SfxStart is the entry point.
#include "../archive/Settings.h"
#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXgbls.h"
#include "../decode/CrcCrypt.h"
#include "../ui/MainDialog.h"

// Only the system folder may supply DLLs: a DLL planted beside the
// self-extracting file (a Downloads folder, say) must never be loaded.
static void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDirs)(DWORD);
    HMODULE k = GetModuleHandleA("kernel32.dll");
    SetDirs set = k ? (SetDirs)(void *)GetProcAddress(k, "SetDefaultDllDirectories") : 0;
    if (set)
        set(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

static void MainBody()
{
    char *ownPath = (char *)GetMem(261);
    ownPath[GetModuleFileNameA(NULL, ownPath, 261) % 261] = 0;
    ArchiveFile = FileOpenRead(ownPath);
    if (ArchiveFile == NoFile) {
        MessageBoxA(NULL, ownPath, "파일을 열 수 없음...", MB_OK);
    } else {
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
        ReadSettings();
        RunMainDialog();
        if (!FileClose(ArchiveFile))
            MessageBoxA(NULL, "파일을 닫을 수 없음", "에러", MB_OK);
        FreeMem(CrcTable);
        CrcTable = 0;
    }
    FreeMem(ownPath);
}

extern "C" void __stdcall SfxStart()
{
    RestrictDllSearch();
    InitGlobals();
    MainBody();
    DoneGlobals();
    ExitProcess(0);
}
