// End-to-end helpers: build a real self-extracting file from the stub in the
// working folder (sfx.exe), start it, find its main dialog, read and drive
// its controls from outside the process, and wait for its message boxes.
#ifndef E2E_SUPPORT_H
#define E2E_SUPPORT_H

#include "driver.h"
#include "wintest.h"
#include "zipmaker.h"
#include "common/Texts.h"
#include "resources/resource.h"

#include <string>
#include <vector>


namespace e2e {

// Texts of another process's windows.  Under Wine an ANSI LB_GETTEXT comes
// back from another process cut to its first character; the wide messages
// cross intact, and the tests convert to code page 949 here, whatever the
// system's ANSI code page.
inline std::string Narrow(const wchar_t *w)
{
    return drv::Narrow949(w);
}

inline std::string TextOf(HWND w)
{
    wchar_t buf[1024] = L"";
    if (w)
        SendMessageW(w, WM_GETTEXT, 1024, (LPARAM)buf);
    return Narrow(buf);
}

inline std::string StubBytes()
{
    static std::string stub = drv::ReadFileText("sfx.exe");
    return stub;
}

// A fresh, empty scratch folder C:\sfx_e2e\<name>.
inline std::string Scratch(const std::string &name)
{
    CreateDirectoryA("C:\\sfx_e2e", NULL);
    std::string dir = "C:\\sfx_e2e\\" + name;
    drv::RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), NULL);
    return dir;
}

inline std::string Content(const std::string &path)
{
    return drv::ReadFileText(path);
}

struct OtherSearch {
    DWORD pid;
    HWND main;
    const char *caption;
    HWND *found;
};

inline BOOL CALLBACK VisitOther(HWND w, LPARAM lp)
{
    OtherSearch *c = (OtherSearch *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (pid != c->pid || w == c->main || !IsWindowVisible(w) || strcmp(cls, "#32770") != 0)
        return TRUE;
    if (c->caption && TextOf(w) != c->caption)
        return TRUE;
    *c->found = w;
    return FALSE;
}

// A running self-extracting file and its main dialog.
struct Sfx {
    drv::Process process = {NULL, 0};
    HWND main = NULL;
    std::string args;   // the command line after the program's name

    ~Sfx()
    {
        if (process.handle)
            drv::WaitExit(process, 100);
    }

    // Writes the file into dir and starts it with dir as working folder
    // (or workFolder when given).  Listing messages are left to the caller
    // when waitMain is false.
    bool Start(const std::string &dir, const zm::Settings &settings,
               const std::vector<zm::Entry> &entries, bool waitMain = true,
               const std::string &workFolder = std::string())
    {
        std::string exe = dir + "\\setup.exe";
        if (!drv::WriteFileBytes(exe, zm::SelfExtractor(StubBytes(), settings, entries)))
            return false;
        process = drv::Start("\"" + exe + "\"" + args, workFolder.empty() ? dir : workFolder);
        if (!process.handle)
            return false;
        return !waitMain || WaitMain();
    }

    bool WaitMain(DWORD timeoutMs = 10000)
    {
        main = drv::WaitDialogWithControl(process.id, IDC_RUN, timeoutMs);
        return main != NULL;
    }

    HWND Control(int id) const { return GetDlgItem(main, id); }
    std::string Text(int id) const { return TextOf(Control(id)); }
    bool Visible(int id) const
    {
        HWND c = Control(id);
        return c && IsWindowVisible(c);
    }
    LRESULT Send(int id, UINT msg, WPARAM w = 0, LPARAM l = 0) const
    {
        return SendMessageA(Control(id), msg, w, l);
    }
    bool Checked(int id) const { return Send(id, BM_GETCHECK) == BST_CHECKED; }

    std::vector<std::string> Items(int list) const
    {
        std::vector<std::string> items;
        int n = (int)Send(list, LB_GETCOUNT);
        for (int i = 0; i < n; i++) {
            wchar_t buf[600] = L"";
            SendMessageW(Control(list), LB_GETTEXT, i, (LPARAM)buf);
            items.push_back(Narrow(buf));
        }
        return items;
    }
    // The items as UTF-16, for names beyond code page 949.
    std::vector<std::wstring> WideItems(int list) const
    {
        std::vector<std::wstring> items;
        int n = (int)Send(list, LB_GETCOUNT);
        for (int i = 0; i < n; i++) {
            wchar_t buf[600] = L"";
            SendMessageW(Control(list), LB_GETTEXT, i, (LPARAM)buf);
            items.push_back(buf);
        }
        return items;
    }
    std::vector<int> Selected(int list) const
    {
        std::vector<int> sel;
        int n = (int)Send(list, LB_GETCOUNT);
        for (int i = 0; i < n; i++)
            if (Send(list, LB_GETSEL, i) > 0)
                sel.push_back(i);
        return sel;
    }

    void SetFolder(const std::string &text) const
    {
        SendMessageW(Control(IDC_FOLDER), WM_SETTEXT, 0, (LPARAM)drv::Wide949(text).c_str());
    }
    void Press(int id) const { drv::Press(main, id); }

    // A top-level dialog or message box of the process other than the main
    // dialog, optionally with this caption.
    HWND WaitOther(const char *caption, DWORD timeoutMs = 10000) const
    {
        DWORD start = GetTickCount();
        for (;;) {
            HWND found = NULL;
            OtherSearch ctx = {process.id, main, caption, &found};
            EnumWindows(VisitOther, (LPARAM)&ctx);
            if (found)
                return found;
            if (GetTickCount() - start > timeoutMs)
                return NULL;
            Sleep(50);
        }
    }

    // Waits for a message box, checks its text, dismisses it.
    bool Box(const char *caption, const std::string &text, DWORD timeoutMs = 15000) const
    {
        HWND box = WaitOther(caption, timeoutMs);
        if (!box) {
            printf("  no message box \"%s\"\n", caption);
            HWND other = WaitOther(NULL, 0);
            if (other)
                printf("  (showing instead: \"%s\" / \"%s\")\n", TextOf(other).c_str(),
                       TextOf(GetDlgItem(other, 0xFFFF)).c_str());
            return false;
        }
        std::string got = TextOf(GetDlgItem(box, 0xFFFF));
        drv::DismissBox(box);
        if (got != text) {
            printf("  box \"%s\" says \"%s\", expected \"%s\"\n", caption, got.c_str(),
                   text.c_str());
            return false;
        }
        return true;
    }

    bool MainAlive() const { return main && IsWindow(main) && IsWindowVisible(main); }

    int Exit(DWORD timeoutMs = 15000) { return drv::WaitExit(process, timeoutMs); }
};

// Texts of the extraction run's reports (common/Texts.h).
static const char *const DoneCaption = CAPTION_ALL_DONE;
static const char *const DoneText = TEXT_ALL_DONE;
static const char *const FailCaption = CAPTION_ITEMS_LEFT;
static const char *const FailText = TEXT_ITEMS_LEFT;
static const char *const FailStatus = STATUS_ITEMS_LEFT;

// Polls until the condition holds; false when it never did.
template <class Condition> bool Eventually(Condition holds, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!holds()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// A block that runs the marker program beside the stub (runmarker.exe, put
// into the archive by the test) after extracting into folder.
inline zm::Settings RunAfter(const std::string &folder, uint8_t flags1, uint8_t flags2,
                             const std::string &parameters = std::string())
{
    zm::Settings s;
    s.folder = folder;
    s.flags1 = flags1;
    s.flags2 = flags2;
    s.parameters = parameters;
    s.runFile = "runmarker.exe";
    return s;
}

inline zm::Entry File(const std::string &name, const std::string &data, uint16_t method = MethodDeflated)
{
    zm::Entry e;
    e.name = name;
    e.data = data;
    e.method = method;
    return e;
}

} // namespace e2e

// Starts the file (Sfx::Start's arguments) as a check; without a main
// dialog there is nothing to drive, and the test case ends there.
#define START_OR_RETURN(sfx, ...)                                           \
    do {                                                                    \
        CHECK((sfx).Start(__VA_ARGS__));                                    \
        if (!(sfx).main)                                                    \
            return;                                                         \
    } while (0)

#endif
