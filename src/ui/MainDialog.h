// The main dialog.
#ifndef SFX_MAINDIALOG_H
#define SFX_MAINDIALOG_H

#include "../common/SFXgbls.h"

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs MAINDIALOG modally, without an owner window.
void RunMainDialog();

#endif
