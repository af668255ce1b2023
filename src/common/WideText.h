// The stub holds every text in UTF-8: the built-in texts as compiled, the
// settings block's texts and the entry names converted from code page 949
// (or taken as UTF-8) when read.  Every system call gets UTF-16 through the
// wide (W) entry points, so what is shown and written does not depend on
// the system's ANSI code page.
#ifndef SFX_WIDETEXT_H
#define SFX_WIDETEXT_H

#include "SfxTypes.h"

// A UTF-16 copy of a UTF-8 text for the length of one call; a null text
// stays null.
struct Wide {
    wchar_t *Data;
    explicit Wide(const char *text);
    ~Wide();
    operator const wchar_t *() const { return Data; }
    LPARAM Param() const { return (LPARAM)Data; }
};

// UTF-16 to UTF-8 into a buffer of size bytes, cut at a character when it
// does not fit; the length written.  Three bytes per UTF-16 unit always fit.
uint32_t Utf8FromWide(const wchar_t *text, char *out, uint32_t size);

// The window's text, at most units - 1 UTF-16 units of it (what
// GetWindowTextA took as its count), as UTF-8 into out, which holds
// 3 * units bytes; the length written.
uint32_t WindowTextUtf8(HWND window, char *out, uint32_t units);

// A system call that fills a wide buffer of units and returns its length
// (GetCurrentDirectoryW, GetTempPathW), into out (3 * units bytes) as UTF-8;
// the call's result, which is units or more when the text did not fit.
typedef DWORD(WINAPI *WideTextCall)(DWORD units, LPWSTR buffer);
uint32_t SystemTextUtf8(WideTextCall call, char *out, uint32_t units);

// GetCurrentDirectory into out (3 * units bytes) as UTF-8; its result.
inline uint32_t CurrentFolderUtf8(char *out, uint32_t units)
{
    return SystemTextUtf8(GetCurrentDirectoryW, out, units);
}

void SetWindowUtf8(HWND window, const char *text);
int MessageUtf8(HWND owner, const char *text, const char *caption, UINT type);

#endif
