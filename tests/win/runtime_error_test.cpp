// The fatal conditions: running out of memory ("Runtime error 203 at
// XXXXXXXX", captioned "Error", exit code 203) and a smashed stack (216).
// The test runs itself again as the child that meets each.
#include "wintest_main.h"

#include "common/Memory.h"
#include "driver.h"

ON_REQUEST_CASE(ChildAsksForMoreMemoryThanThereIs)
{
    GetMem(0xFFFFFF00u);
    printf("  GetMem returned\n");
    ExitProcess(1);
}

// As the stub's own routines are built: checked against a smashed stack.
__attribute__((stack_protect, noinline)) static void CopyIntoSmallBuffer(const char *text)
{
    char buffer[16];
    for (volatile size_t i = 0; text[i]; i++)
        buffer[i] = text[i];
    printf("  %.4s\n", buffer);
}

ON_REQUEST_CASE(ChildOverrunsAStackBuffer)
{
    CopyIntoSmallBuffer("a name far longer than the buffer it is copied into");
    printf("  the overrun went unnoticed\n");
    ExitProcess(1);
}

// Both fatal conditions end alike: the number right-aligned before "at",
// eight hexadecimal digits of the failing code's address after it, and the
// number as the exit code.
TEST_CASE(FatalErrorsReportTheRuntimeErrorAndItsExitCode)
{
    const struct {
        const char *child;
        int code;
    } cases[] = {{"ChildAsksForMoreMemoryThanThereIs", 203}, {"ChildOverrunsAStackBuffer", 216}};
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    for (const auto &c : cases) {
        drv::Process p = drv::Start(std::string("\"") + self + "\" " + c.child);
        CHECK(p.handle != NULL);
        HWND box = drv::WaitDialog(p.id, "Error");
        CHECK(box != NULL);
        if (box) {
            std::string text = drv::MessageBoxText(box);
            std::string head = "Runtime error " + std::to_string(c.code) + " at ";
            CHECK(text.size() == 29);
            CHECK_TEXT(text.substr(0, 21), head);
            CHECK(text.size() == 29 && text.find_first_not_of("0123456789ABCDEF", 21) == std::string::npos);
            CHECK(text != head + "00000000");
            drv::DismissBox(box);
        }
        CHECK(drv::WaitExit(p) == c.code);
    }
}
