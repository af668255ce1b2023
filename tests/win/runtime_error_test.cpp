// Running out of memory is the one fatal condition: the runtime's report
// "Runtime error 203 at XXXXXXXX", captioned "Error", and exit code 203.
// The test runs itself again as the child that exhausts memory.
#include "wintest_main.h"

#include "common/Memory.h"
#include "driver.h"

TEST_CASE(ChildAsksForMoreMemoryThanThereIs)
{
    if (!GetEnvironmentVariableA("SFX_OOM_CHILD", NULL, 0))
        return;   // only the child runs this case
    GetMem(0xFFFFFF00u);
    printf("  GetMem returned\n");
    ExitProcess(1);
}

TEST_CASE(MemoryExhaustionReportsRuntimeError203)
{
    if (GetEnvironmentVariableA("SFX_OOM_CHILD", NULL, 0))
        return;
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    SetEnvironmentVariableA("SFX_OOM_CHILD", "1");
    drv::Process p = drv::Start(std::string("\"") + self + "\" ChildAsksForMoreMemoryThanThereIs");
    SetEnvironmentVariableA("SFX_OOM_CHILD", NULL);
    CHECK(p.handle != NULL);
    HWND box = drv::WaitDialog(p.id, "Error");
    CHECK(box != NULL);
    if (box) {
        std::string text = drv::MessageBoxText(box);
        // The number right-aligned before "at", eight hexadecimal digits of
        // the failing code's address after it.
        CHECK(text.size() == 29);
        CHECK(text.compare(0, 21, "Runtime error 203 at ") == 0);
        CHECK(text.size() == 29 && text.find_first_not_of("0123456789ABCDEF", 21) == std::string::npos);
        CHECK(text != "Runtime error 203 at 00000000");
        drv::DismissBox(box);
    }
    CHECK(drv::WaitExit(p) == 203);
}
