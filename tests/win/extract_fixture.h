// Runs the extraction driver for real: a window of this test with the two
// entry lists, the overwrite radio buttons and the status line; a
// self-extracting file written to disk as ArchiveFile; and a second thread
// that answers the prompts and message boxes the driver shows on this
// thread, recording what each one said.
#ifndef EXTRACT_FIXTURE_H
#define EXTRACT_FIXTURE_H

#include "driver.h"
#include "wintest.h"
#include "zipmaker.h"

#include "archive/Settings.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "common/Texts.h"
#include "decode/CrcCrypt.h"
#include "extract/Extract.h"
#include "resources/resource.h"

#include <deque>
#include <string>
#include <vector>

namespace fx {

inline std::string Box(const std::string &caption, const std::string &text)
{
    return "box:" + caption + "|" + text;
}

// What the driver's run-end boxes and the prompts record (common/Texts.h).
static const std::string AllDone = Box(CAPTION_ALL_DONE, TEXT_ALL_DONE);
static const std::string ItemsLeft = Box(CAPTION_ITEMS_LEFT, TEXT_ITEMS_LEFT);
static const std::string NoHeader = Box(CAPTION_ERROR, TEXT_NO_HEADER);
static const std::string UnknownMethod = Box(CAPTION_EXTRACT_ERROR, TEXT_UNKNOWN_ENTRY);
// The prompts' captions, from their dialog templates.
static const char *const PasswordCaption = "암호입력...";
static const char *const ExistCaption = "겹쳐쓰기 방법...";
static const char *const Question = TEXT_EXISTS_QUESTION;
static const char *const Passwd = "passwd";

inline std::string Exist(const std::string &file)
{
    return "exist:" + file + Question;
}

struct ExistAnswer {
    bool yes;
    bool tick;      // "don't ask again"
    bool esc;       // press Esc instead of a button
};

struct PasswordAnswer {
    std::string text;
    bool enter;     // accept with the Enter key instead of the OK button
    bool escFirst;  // press Esc first and see whether the prompt stays
};

struct State {
    HWND main;
    DWORD mainThread;
    std::deque<ExistAnswer> exists;
    std::deque<PasswordAnswer> passwords;
    std::vector<std::string> events;
    std::vector<std::string> statuses;      // the status line as each one showed
    bool escLeftPasswordOpen;
    HWND nestedOnPrompt;            // post a nested run request on the next prompt
    int nestedCalls;                // nested runs that reached the window procedure
    std::vector<std::string> nestedEvents;  // "ignored" or "ran" for each
    int runList;                    // list id of the run in progress
    DWORD answerDelayMs;            // time left to others to look at a prompt
    volatile LONG stop;
    HANDLE thread;
};
static State S;

enum { NestedRun = WM_APP + 1 };

static LRESULT CALLBACK MainProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == NestedRun) {
        // What the main dialog's extract command would do if nothing kept
        // it from running while a run is in progress.
        // A run sets ExtractSucceeded first thing: a marker left in it shows
        // that the nested call did nothing.
        S.nestedCalls++;
        uint8_t succeeded = ExtractSucceeded;
        ExtractSucceeded = 0x55;
        ExtractEntries(w, S.runList, false);
        S.nestedEvents.push_back(ExtractSucceeded == 0x55 ? "ignored" : "ran");
        ExtractSucceeded = succeeded;
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

static void Child(const char *cls, const char *text, DWORD style, int id, int y)
{
    CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 4, y, 300, 20, S.main,
                    (HMENU)(INT_PTR)id, GetModuleHandleA(NULL), NULL);
}

// Once per program: shared state, CRC table, the test's main window.
inline void Init()
{
    if (S.main)
        return;
    InitGlobals();
    EnsureCrcTable();
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = MainProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "ExtractTestMain";
    RegisterClassA(&wc);
    S.main = CreateWindowExA(0, "ExtractTestMain", "extract test", WS_OVERLAPPEDWINDOW, 0, 0,
                             320, 400, NULL, NULL, GetModuleHandleA(NULL), NULL);
    S.mainThread = GetCurrentThreadId();
    const DWORD lists = LBS_MULTIPLESEL | LBS_HASSTRINGS | WS_VSCROLL | WS_BORDER;
    Child("LISTBOX", "", lists | LBS_SORT, IDC_LIST_SORTED, 0);
    Child("LISTBOX", "", lists, IDC_LIST_UNSORTED, 100);
    Child("BUTTON", "ask", BS_AUTORADIOBUTTON | WS_GROUP, IDC_OVERWRITE_ASK, 200);
    Child("BUTTON", "all", BS_AUTORADIOBUTTON, IDC_OVERWRITE_ALL, 220);
    Child("BUTTON", "never", BS_AUTORADIOBUTTON, IDC_OVERWRITE_NEVER, 240);
    Child("EDIT", "", ES_READONLY | WS_BORDER, IDC_STATUS, 260);
    MainDialogWindow = S.main;
}

// ---------------------------------------------------------------------------
// The answering thread.

inline bool IsMessageBox(HWND w)
{
    return GetDlgItem(w, 0xFFFF) != NULL && !GetDlgItem(w, IDC_PROMPT_TEXT);
}

static DWORD WINAPI Answer(void *)
{
    while (!S.stop) {
        HWND w = drv::WaitThreadDialog(S.mainThread, NULL, 100);
        if (!w)
            continue;
        Sleep(S.answerDelayMs);
        S.statuses.push_back(drv::ControlText(S.main, IDC_STATUS));
        std::string caption = drv::WindowText(w);
        if (S.nestedOnPrompt && !IsMessageBox(w)) {
            PostMessageA(S.nestedOnPrompt, NestedRun, 0, 0);
            S.nestedOnPrompt = NULL;
            Sleep(300);
        }
        if (IsMessageBox(w)) {
            S.events.push_back(Box(caption, drv::MessageBoxText(w)));
            drv::DismissBox(w);
        } else if (GetDlgItem(w, IDC_DONT_ASK)) {
            S.events.push_back("exist:" + drv::ControlText(w, IDC_PROMPT_TEXT));
            ExistAnswer a = {false, false, false};
            if (!S.exists.empty()) {
                a = S.exists.front();
                S.exists.pop_front();
            }
            if (a.tick)
                SendMessageA(GetDlgItem(w, IDC_DONT_ASK), BM_SETCHECK, BST_CHECKED, 0);
            if (a.esc)
                PostMessageA(GetDlgItem(w, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
            else
                drv::Press(w, a.yes ? IDOK : IDCANCEL);
        } else if (caption == PasswordCaption) {
            S.events.push_back(Passwd);
            PasswordAnswer a = {"", false, false};
            if (!S.passwords.empty()) {
                a = S.passwords.front();
                S.passwords.pop_front();
            }
            HWND edit = GetDlgItem(w, IDC_PROMPT_TEXT);
            if (a.escFirst) {
                PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
                drv::Press(w, IDCANCEL);
                Sleep(400);
                S.escLeftPasswordOpen = IsWindow(w) && IsWindowVisible(w);
            }
            SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)a.text.c_str());
            if (a.enter)
                PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
            else
                drv::Press(w, IDOK);
        } else {
            S.events.push_back("unknown:" + caption);
            PostMessageA(w, WM_CLOSE, 0, 0);
        }
        for (int i = 0; i < 200 && IsWindow(w) && IsWindowVisible(w); i++)
            Sleep(25);
    }
    return 0;
}

inline void StartAnswering()
{
    S.events.clear();
    S.statuses.clear();
    S.stop = 0;
    S.thread = CreateThread(NULL, 0, Answer, NULL, 0, NULL);
}

inline void StopAnswering()
{
    InterlockedExchange(&S.stop, 1);
    WaitForSingleObject(S.thread, 20000);
    CloseHandle(S.thread);
    S.thread = NULL;
}

// ---------------------------------------------------------------------------
// Archives and runs.

inline std::string Stub()
{
    static std::string stub = drv::ReadFileText("sfx.exe");
    return stub;
}

// Makes the given file contents ArchiveFile (written to disk first).
inline void UseFile(const std::string &bytes)
{
    static int serial;
    if (ArchiveFile && ArchiveFile != NoFile)
        FileClose(ArchiveFile);
    char path[64];
    sprintf(path, "extract_archive_%d.exe", serial++);
    drv::WriteFileBytes(path, bytes);
    ArchiveFile = FileOpenRead(path);
    ReadSettings();
}

inline void UseArchive(const std::vector<zm::Entry> &entries)
{
    UseFile(zm::SelfExtractor(Stub(), zm::Settings(), entries));
}

// A ZIP made by another program, after the image and no settings block.
inline void UseRawZip(const std::string &zip)
{
    std::string image = Stub();
    image.resize(ImageSize, '\0');
    UseFile(image + zip);
}

inline HWND List(int listId)
{
    return GetDlgItem(S.main, listId);
}

// The listing run, answered; returns what it showed.
inline std::vector<std::string> ListRun(int listId)
{
    S.runList = listId;
    StartAnswering();
    ExtractEntries(S.main, listId, true);
    StopAnswering();
    return S.events;
}

// An extraction run as the main dialog starts it: every item selected.
inline std::vector<std::string> ExtractRun(int listId)
{
    S.runList = listId;
    SendMessageA(List(listId), LB_SETSEL, TRUE, -1);
    StartAnswering();
    ExtractEntries(S.main, listId, false);
    StopAnswering();
    return S.events;
}

// A fresh scratch folder as TargetFolder (given with or without the
// trailing backslash); the folder's path without it.
inline std::string Target(const std::string &name, bool trailingBackslash = false)
{
    std::string dir = "C:\\extract_tests\\" + name;
    CreateDirectoryA("C:\\extract_tests", NULL);
    drv::RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), NULL);
    std::string t = trailingBackslash ? dir + "\\" : dir;
    strcpy(TargetFolder, t.c_str());
    return dir;
}

inline int SelectedCount(int listId)
{
    return (int)SendMessageA(List(listId), LB_GETSELCOUNT, 0, 0);
}

inline std::string Item(int listId, int i)
{
    char buf[1024] = "";
    SendMessageA(List(listId), LB_GETTEXT, i, (LPARAM)buf);
    return buf;
}

inline int ItemCount(int listId)
{
    return (int)SendMessageA(List(listId), LB_GETCOUNT, 0, 0);
}

// Selection state of every item holding this name, in list order.
inline std::string Selection(int listId, const std::string &name)
{
    std::string s;
    for (int i = 0; i < ItemCount(listId); i++)
        if (_stricmp(Item(listId, i).c_str(), name.c_str()) == 0)
            s += SendMessageA(List(listId), LB_GETSEL, i, 0) > 0 ? '1' : '0';
    return s;
}

inline zm::Entry Stored(const std::string &name, const std::string &data)
{
    zm::Entry e;
    e.name = name;
    e.data = data;
    e.method = MethodStored;
    return e;
}

inline zm::Entry Encrypted(const std::string &name, const std::string &data,
                           const std::string &password, uint16_t method = MethodStored)
{
    zm::Entry e = Stored(name, data);
    e.password = password;
    e.method = method;
    return e;
}

inline std::string Joined(const std::vector<std::string> &v)
{
    std::string s;
    for (size_t i = 0; i < v.size(); i++)
        s += (i ? "\n" : "") + v[i];
    return s;
}


#define CHECK_EVENTS(got, ...)                                                   \
    do {                                                                         \
        std::vector<std::string> want_ = {__VA_ARGS__};                          \
        CHECK_TEXT(fx::Joined(got), fx::Joined(want_));                          \
    } while (0)

static const int Lists[2] = {IDC_LIST_SORTED, IDC_LIST_UNSORTED};

} // namespace fx

#endif
