// The file-exists and password prompts.  Both are unowned, so the main
// dialog stays usable while they are shown; they compute nothing and hand
// their answers to the driver through shared state.
#include "Prompts.h"

#include "../common/SFXmisc.h"
#include "../common/Texts.h"
#include "../common/WideText.h"
#include "../resources/resource.h"

static void SetRadio(int id, WPARAM state)
{
    // Check-state messages, not clicks: the main dialog's own command
    // handling must not run; the policy is set here.
    SendDlgItemMessageW(MainDialogWindow, id, BM_SETCHECK, state, 0);
}

INT_PTR CALLBACK FileExistProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        // ExistingName is a file-name part: at most 255 characters.
        char text[MaxComponentChars * Utf8PerUnit + sizeof TEXT_EXISTS_QUESTION];
        uint32_t n = SmallerOf((int32_t)ExistingName.Length, MaxComponentChars * Utf8PerUnit);
        memcpy(text, ExistingName.Data, n);
        memcpy(text + n, TEXT_EXISTS_QUESTION, sizeof TEXT_EXISTS_QUESTION);
        CentreWindow(dialog);
        SetWindowUtf8(GetDlgItem(dialog, IDC_PROMPT_TEXT), text);
        return 0;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id != IDOK && id != IDCANCEL)
            return 0;
        bool yes = id == IDOK;
        if (SendDlgItemMessageW(dialog, IDC_DONT_ASK, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            SetRadio(IDC_OVERWRITE_ASK, BST_UNCHECKED);
            SetRadio(yes ? IDC_OVERWRITE_ALL : IDC_OVERWRITE_NEVER, BST_CHECKED);
            OverwritePolicy = yes ? OverwriteAll : OverwriteNever;
            OverwriteAnswer = yes;
        } else if (OverwritePolicy != OverwriteAll) {
            // With the policy turned to "overwrite all" in the main dialog
            // while this prompt was open, the answer keeps its last value.
            OverwriteAnswer = yes;
        }
        EndDialog(dialog, id);
        return 1;
    }
    }
    return 0;
}

INT_PTR CALLBACK PasswdProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CentreWindow(dialog);
        SetFocus(GetDlgItem(dialog, IDC_PROMPT_TEXT));
        break;
    case WM_COMMAND:
        // Only OK (or Enter) leaves: Esc, command 2, is ignored.
        if (LOWORD(wParam) == IDOK) {
            // The keys come from the password's bytes in code page 949, as
            // archives made on Korean Windows have them.
            wchar_t typed[PasswordBufferSize];
            char bytes[PasswordBufferSize * 2];
            typed[0] = 0;
            GetDlgItemTextW(dialog, IDC_PROMPT_TEXT, typed, PasswordBufferSize);
            int n = WideCharToMultiByte(949, 0, typed, -1, bytes, sizeof bytes, NULL, NULL);
            PasswordLength = SmallerOf(n > 0 ? n - 1 : 0, PasswordBufferSize - 1);
            memcpy(PasswordBuffer, bytes, (size_t)PasswordLength);
            PasswordBuffer[PasswordLength] = 0;
            EndDialog(dialog, 1);
        }
        break;
    }
    return 0;
}

void AskFileExists()
{
    DialogBoxParamW(GetModuleHandleW(NULL), L"FileExist", NULL, FileExistProc, 0);
}

void AskPassword()
{
    DialogBoxParamW(GetModuleHandleW(NULL), L"PASSWD", NULL, PasswdProc, 0);
}
