#include "driver.h"

#include <stdio.h>
#include <wchar.h>

namespace drv {

std::wstring Wide949(const std::string &text)
{
    int n = MultiByteToWideChar(949, 0, text.c_str(), -1, NULL, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(949, 0, text.c_str(), -1, &w[0], n);
    w.resize(wcslen(w.c_str()));
    return w;
}

std::string Narrow949(const std::wstring &text)
{
    int n = WideCharToMultiByte(949, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string s(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(949, 0, text.c_str(), -1, &s[0], n, NULL, NULL);
    s.resize(strlen(s.c_str()));
    return s;
}

namespace {
struct Search {
    DWORD processId;
    DWORD threadId;
    const char *caption;
    int controlId;
    HWND found;
};

BOOL CALLBACK Visit(HWND w, LPARAM lp)
{
    Search *s = (Search *)lp;
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(w, &pid);
    if (s->processId && pid != s->processId)
        return TRUE;
    if (s->threadId && tid != s->threadId)
        return TRUE;
    if (!IsWindowVisible(w))
        return TRUE;
    char cls[64];
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0)
        return TRUE;
    if (s->caption && WindowText(w) != s->caption)
        return TRUE;
    if (s->controlId && !GetDlgItem(w, s->controlId))
        return TRUE;
    s->found = w;
    return FALSE;
}

HWND Wait(Search s, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        s.found = NULL;
        EnumWindows(Visit, (LPARAM)&s);
        if (s.found)
            return s.found;
        if (GetTickCount() - start > timeoutMs)
            return NULL;
        Sleep(50);
    }
}
} // namespace

HWND WaitDialog(DWORD processId, const char *caption, DWORD timeoutMs)
{
    return Wait(Search{processId, 0, caption, 0, NULL}, timeoutMs);
}

HWND WaitThreadDialog(DWORD threadId, const char *caption, DWORD timeoutMs)
{
    return Wait(Search{0, threadId, caption, 0, NULL}, timeoutMs);
}

HWND WaitDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs)
{
    return Wait(Search{processId, 0, 0, controlId, NULL}, timeoutMs);
}

std::string WindowText(HWND w)
{
    wchar_t buf[4096];
    buf[0] = 0;
    // WM_GETTEXT works across processes for the standard controls.
    SendMessageW(w, WM_GETTEXT, 4096, (LPARAM)buf);
    return Narrow949(buf);
}

std::string ControlText(HWND dialog, int id)
{
    HWND c = GetDlgItem(dialog, id);
    return c ? WindowText(c) : std::string();
}

std::string MessageBoxText(HWND box)
{
    return ControlText(box, 0xFFFF);
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void DismissBox(HWND box)
{
    Press(box, IDOK);
}

Process Start(const std::string &commandLine, const std::string &folder)
{
    return Start(Wide949(commandLine), Wide949(folder));
}

Process Start(const std::wstring &commandLine, const std::wstring &folder)
{
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::wstring cmd = commandLine, dir = folder;
    Process p = {NULL, 0};
    if (CreateProcessW(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL,
                       folder.empty() ? NULL : dir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        p.handle = pi.hProcess;
        p.id = pi.dwProcessId;
    }
    return p;
}

int WaitExit(Process &p, DWORD timeoutMs)
{
    if (!p.handle)
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(p.handle, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(p.handle, 99);
        WaitForSingleObject(p.handle, 5000);
        code = (DWORD)-1;
    } else {
        GetExitCodeProcess(p.handle, &code);
    }
    CloseHandle(p.handle);
    p.handle = NULL;
    return (int)code;
}

std::string ReadFileText(const std::string &path)
{
    return ReadFileText(Wide949(path));
}

std::string ReadFileText(const std::wstring &path)
{
    std::string s;
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    return WriteFileBytes(Wide949(path), bytes);
}

bool WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    FILE *f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool FileExists(const std::string &path)
{
    return FileExists(Wide949(path));
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::string &path)
{
    return CreateDirectoryW(Wide949(path).c_str(), NULL) != 0;
}

static void RemoveTreeW(const std::wstring &path)
{
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!wcscmp(d.cFileName, L".") || !wcscmp(d.cFileName, L".."))
                continue;
            std::wstring p = path + L"\\" + d.cFileName;
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeW(p);
            else {
                SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(p.c_str());
            }
        } while (FindNextFileW(h, &d));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

void RemoveTree(const std::string &path)
{
    // Wide, so that names beyond code page 949 go too.
    RemoveTreeW(Wide949(path));
}

double NowMs()
{
    static LARGE_INTEGER f;
    if (!f.QuadPart)
        QueryPerformanceFrequency(&f);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart * 1000.0 / f.QuadPart;
}

bool RunHost(const std::string &program, const std::string &arguments)
{
    // Wine hands back no handle to wait on for a Unix process, so the shell
    // leaves the exit status in a file of its own and we wait for that file:
    // without it the next step can run before this one has.
    static unsigned calls;
    std::string done = "/tmp/sfx-host-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount()) + "-" + std::to_string(++calls);
    std::string line = "sh -c \"" + program + " " + arguments + "; echo $? >" + done + ".part; mv " + done +
                       ".part " + done + "\"";
    std::string windows = "Z:" + done;
    for (char &c : windows)
        c = c == '/' ? '\\' : c;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA("Z:\\bin\\sh", &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return false;
    if (pi.hThread)
        CloseHandle(pi.hThread);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    for (int waited = 0; !FileExists(windows); waited += 10) {
        if (waited >= 20000)
            return false;
        Sleep(10);
    }
    std::string status = ReadFileText(windows);
    DeleteFileA(windows.c_str());
    return status == "0\n";
}

} // namespace drv
