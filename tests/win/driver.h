// Drives real windows of another thread or process through window messages:
// start a program, find its top-level dialogs and message boxes, read and
// set controls, press buttons, wait for the exit code.
#ifndef DRIVER_H
#define DRIVER_H

#include <windows.h>
#include <string>

namespace drv {

// The tests' texts are code page 949 (their literals are compiled so); the
// system's ANSI code page may be another (English or Japanese Windows), so
// every text crosses to the system as UTF-16, converted with 949 named.
std::wstring Wide949(const std::string &text);
std::string Narrow949(const std::wstring &text);

// Top-level, visible window of the process whose class is "#32770" (dialogs
// and message boxes) and, when caption is not null, whose caption is exactly
// that text.  Waits up to timeoutMs; null when none appeared.
HWND WaitDialog(DWORD processId, const char *caption, DWORD timeoutMs = 10000);
// The same for windows of one thread of this process.
HWND WaitThreadDialog(DWORD threadId, const char *caption, DWORD timeoutMs = 10000);
// A dialog of the process that has a child control with this id.
HWND WaitDialogWithControl(DWORD processId, int controlId, DWORD timeoutMs = 10000);

std::string WindowText(HWND w);
std::string ControlText(HWND dialog, int id);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND box);

// Presses a button by id (WM_COMMAND with BN_CLICKED, posted).
void Press(HWND dialog, int id);
// Dismisses a message box with its OK button.
void DismissBox(HWND box);

struct Process {
    HANDLE handle;
    DWORD id;
};
// Starts a program (command line) in a working folder; handle null on failure.
Process Start(const std::string &commandLine, const std::string &folder = std::string());
Process Start(const std::wstring &commandLine, const std::wstring &folder);
// Waits for the exit; returns the exit code, or -1 on timeout (the process is
// then terminated).
int WaitExit(Process &p, DWORD timeoutMs = 15000);

// Files (paths in code page 949, or UTF-16 for names beyond it)
std::string ReadFileText(const std::string &path);
std::string ReadFileText(const std::wstring &path);
bool WriteFileBytes(const std::string &path, const std::string &bytes);
bool WriteFileBytes(const std::wstring &path, const std::string &bytes);
bool FileExists(const std::string &path);
bool FileExists(const std::wstring &path);
bool MakeFolder(const std::string &path);
// Removes a folder tree (test scratch space only).
void RemoveTree(const std::string &path);

// Runs a program of the host's /bin (Wine starts Unix programs too) with the
// arguments and waits for it to end: what a Windows program cannot do under
// Wine, such as making a symbolic link (CreateSymbolicLink is a stub there).
// True when it ran and exited with 0.
bool RunHost(const std::string &program, const std::string &arguments);

// Milliseconds from the performance counter, for the benchmarks' timings.
double NowMs();

} // namespace drv

#endif
