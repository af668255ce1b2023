// The folder selection dialog (DLGSEL) and the new-folder dialog (DLGNEW).
#ifndef SFX_FOLDERDIALOGS_H
#define SFX_FOLDERDIALOGS_H

#include "../common/SFXgbls.h"

#include <commctrl.h>

// DLGSEL: starts from BrowseFolder; ends with 1 (BrowseFolder holds the
// chosen folder, long form, trailing backslash) or 2.  Listing a folder makes
// it the process's current folder, and it stays so.
INT_PTR CALLBACK DlgSelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// DLGNEW, opened by DLGSEL: creates a sub-folder of BrowseFolder and enters
// it; ends with 1 (BrowseFolder names the new folder when it fits) or 2.
INT_PTR CALLBACK DlgNewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The small-icon height and the system's small-icon list, kept across
// openings of DLGSEL.
extern int32_t SmallIconSize;
extern HIMAGELIST SystemImageList;

#endif
