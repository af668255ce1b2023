// The real stub: it starts, shows its dialog and ends with exit code 0 when
// it is sent the close command.
#include "wintest_main.h"

#include "driver.h"

TEST_CASE(BareStubReachesTheDialogAndClosesWithZero)
{
    // A stub file with no settings block and no archive.
    CopyFileA("sfx.exe", "bare_stub.exe", FALSE);
    drv::Process p = drv::Start("bare_stub.exe");
    CHECK(p.handle != NULL);
    HWND main = drv::WaitDialogWithControl(p.id, 101);
    // The listing of an empty archive may report itself first.
    for (int i = 0; i < 3 && !main; i++) {
        HWND box = drv::WaitDialog(p.id, 0, 2000);
        if (box)
            drv::DismissBox(box);
        main = drv::WaitDialogWithControl(p.id, 101, 3000);
    }
    CHECK(main != NULL);
    if (main)
        drv::Press(main, IDCANCEL);
    CHECK(drv::WaitExit(p) == 0);
}
