// A DLL planted beside a self-extracting file under the name of a system
// DLL.  Loaded, it leaves "<its own path>.loaded" behind: the proof that the
// program took it instead of the system's own.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
        if (n && n < MAX_PATH) {
            lstrcpyA(path + n, ".loaded");
            CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
        }
    }
    return TRUE;
}
