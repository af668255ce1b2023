#include "FolderDialogs.h"

INT_PTR CALLBACK DlgSelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, 2);
        return 1;
    }
    return 0;
}
