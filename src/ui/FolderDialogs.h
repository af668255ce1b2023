// The folder selection dialog (DLGSEL) and the new-folder dialog (DLGNEW).
#ifndef SFX_FOLDERDIALOGS_H
#define SFX_FOLDERDIALOGS_H

#include "../common/SFXgbls.h"

// DLGSEL: starts from BrowseFolder; ends with 1 (BrowseFolder holds the
// chosen folder, long form, trailing backslash) or 2.
INT_PTR CALLBACK DlgSelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
