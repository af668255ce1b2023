#include "MainDialog.h"

#include "../resources/resource.h"

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        MainDialogWindow = dialog;
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return 1;
        }
        return 0;
    }
    return 0;
}

void RunMainDialog()
{
    DialogBoxParamA(GetModuleHandleA(NULL), "MainDialog", NULL, MainDialogProc, 0);
}
