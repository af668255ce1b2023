// The program's main body: read the switches, open the own file, build the
// CRC table, read the settings, run the main dialog (or, with /S, the same
// run unseen), release everything and end with the run's exit code.  The stub has no C
// runtime start-up: SfxStart is the entry point.
#include "../archive/Settings.h"
#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXgbls.h"
#include "../common/SFXmisc.h"
#include "../common/Texts.h"
#include "../common/WideText.h"
#include "../decode/CrcCrypt.h"
#include "../extract/Extract.h"
#include "../ui/MainDialog.h"
#include "Switches.h"

// Only the system folder may supply DLLs: a DLL planted beside the
// self-extracting file (a Downloads folder, say) must never be loaded.  The
// image imports only KnownDLLs, which Windows maps from the system folder
// whatever the search order; everything else is loaded at run time
// (SystemProc), and this closes the default search for the loads the
// system DLLs make on their own.  Before the update that brought
// SetDefaultDllDirectories, the current folder at least leaves the search.
static void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDirs)(DWORD);
    HMODULE k = GetModuleHandleW(L"kernel32.dll");
    SetDirs set = k ? (SetDirs)(void *)GetProcAddress(k, "SetDefaultDllDirectories") : 0;
    if (!set || !set(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */))
        SetDllDirectoryA("");
    // shell32 loads comctl32 by name when it first needs it, and a loader
    // that ignores the setting above (Windows without it; Wine for its own
    // delayed imports) would look beside the file.  Loaded from the system
    // folder first, it is found already loaded.  So is msimg32, which the
    // visual styles of the common controls 6 bring in to draw with.
    SystemProc("comctl32.dll", "ImageList_Draw");
    SystemProc("msimg32.dll", "AlphaBlend");
}

// The image's load configuration, kept for one field: DependentLoadFlags
// (the word at offset 0x36) makes Windows 10 and later resolve the static
// imports of the DLLs this image loads from the system folder alone, before
// the first instruction of the program runs.  The linker points the load
// configuration directory at this symbol; 0x48 bytes is the layout every
// 32-bit Windows reads.
extern "C" __attribute__((used)) const uint32_t _load_config_used[18] = {
    0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0800u << 16, 0, 0, 0, 0,
};

static void MainBody()
{
    if (!ReadSwitches()) {
        MessageUtf8(NULL, SwitchHelp, SwitchHelpCaption, MB_OK);
        return;
    }
    // The wide name and its UTF-8 form in one block.
    wchar_t *own = (wchar_t *)GetMem(261 * sizeof(wchar_t) + 261 * Utf8PerUnit);
    char *ownPath = (char *)(own + 261);
    own[GetModuleFileNameW(NULL, own, 261) % 261] = 0;
    Utf8FromWide(own, ownPath, 261 * Utf8PerUnit);
    ArchiveFile = FileOpenRead(ownPath);
    ReadZoneMark(ownPath);
    if (ArchiveFile == NoFile) {
        MessageUtf8(NULL, ownPath, CAPTION_CANNOT_OPEN, MB_OK);
        if (Silent)
            ExitCode = 3;
    } else {
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
        ReadSettings();
        ApplySwitches();
        RunMainDialog();
        if (!FileClose(ArchiveFile))
            MessageUtf8(NULL, TEXT_CANNOT_CLOSE_OWN, CAPTION_ERROR_PLAIN, MB_OK);
        FreeMem(CrcTable);
        CrcTable = 0;
    }
    FreeMem(own);
}

extern "C" void __stdcall SfxStart()
{
    SeedStackGuard();
    RestrictDllSearch();
    InitGlobals();
    MainBody();
    DoneGlobals();
    ExitProcess(ExitCode);
}
