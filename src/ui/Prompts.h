// The file-exists (FILEEXIST) and password (PASSWD) prompts: unowned modal
// dialogs that exchange their answers through shared state.
#ifndef SFX_PROMPTS_H
#define SFX_PROMPTS_H

#include "../common/SFXgbls.h"

INT_PTR CALLBACK FileExistProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswdProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the file-exists prompt for ExistingName; the answer is in
// OverwriteAnswer (and, with "don't ask again", OverwritePolicy).
void AskFileExists();
// Shows the password prompt; the answer is in PasswordBuffer/PasswordLength.
void AskPassword();

#endif
