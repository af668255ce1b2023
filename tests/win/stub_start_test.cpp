// The real stub: it starts, shows its dialog and ends with exit code 0 when
// it is sent the close command.
#include "wintest_main.h"

#include "driver.h"
#include "resources/resource.h"
#include "common/Texts.h"

TEST_CASE(BareStubReportsTheEmptyArchiveReachesTheDialogAndClosesWithZero)
{
    // A stub file with no settings block and no archive: the listing run
    // reports the missing header, then the dialog opens with defaults.
    CopyFileA("sfx.exe", "bare_stub.exe", FALSE);
    drv::Process p = drv::Start("bare_stub.exe");
    CHECK(p.handle != NULL);
    HWND box = drv::WaitDialog(p.id, CAPTION_ERROR);
    CHECK(box != NULL);
    if (box) {
        CHECK(drv::MessageBoxText(box) == TEXT_NO_HEADER);
        drv::DismissBox(box);
    }
    HWND main = drv::WaitDialogWithControl(p.id, IDC_FOLDER);
    CHECK(main != NULL);
    if (main) {
        CHECK(drv::WindowText(main) == "자동압축해제");
        drv::Press(main, IDCANCEL);
    }
    CHECK(drv::WaitExit(p) == 0);
    DeleteFileA("bare_stub.exe");
}
