// The one allocation routine.  Everything the program allocates goes through
// here, so running out of memory ends the process the same way wherever it
// happens: the runtime's report and exit code 203.  Other programs that link
// the format code (the builder, tests, fuzzers, benchmarks) get an ordinary
// std::bad_alloc instead, so that their own clean-up runs.
#include "Memory.h"
#include "SFXgbls.h"

#ifdef SFX_STUB

// "Runtime error     at 00000000": the error number right-aligned in the
// three places before "at", the failing code address in hexadecimal over
// the zeros.
static void __attribute__((noreturn)) RunError(uint32_t code, uintptr_t address)
{
    char text[] = "Runtime error     at 00000000";
    for (uint32_t i = 16, n = code; i >= 14 && n; i--, n /= 10)
        text[i] = (char)('0' + n % 10);
    for (int i = 28; i >= 21; i--, address >>= 4)
        text[i] = "0123456789ABCDEF"[address & 15];
    if (!Silent)
        MessageBoxA(NULL, text, "Error", MB_OK);
    ExitProcess(code);
}

// The stack protector's canary.  Every function that holds a text buffer
// on the stack checks it before returning: a hostile name or path that ran
// past a buffer ends the program through the runtime's report (error 216,
// as for an access violation) before the overwritten return address is
// used.  Set at start-up by SeedStackGuard, before any checked frame; its
// constant part is formed there in code, so the canary needs no initialised
// data (and the image no .data section).  Both are used: the references to
// them come from the compiler's own checks, which link-time optimisation
// adds after it has decided what is referenced.
extern "C" {
__attribute__((used)) uintptr_t __stack_chk_guard;
}

extern "C" void __attribute__((noreturn, used)) __stack_chk_fail()
{
    RunError(216, (uintptr_t)__builtin_return_address(0));
}

// Unchecked itself: it changes the canary its own frame would be checked
// against.
__attribute__((no_stack_protector)) void SeedStackGuard()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    __stack_chk_guard = 0x5F3759DF ^ counter.LowPart ^ counter.HighPart ^ GetTickCount() ^
                         (GetCurrentProcessId() << 16) ^ (uintptr_t)&counter;
}

void *GetMem(uint32_t size)
{
    void *p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!p)
        RunError(203, (uintptr_t)__builtin_return_address(0));
    return p;
}

void FreeMem(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

#else

#include <stdlib.h>

#include <new>

void *GetMem(uint32_t size)
{
    void *p = malloc(size ? size : 1);
    if (!p) {
#if defined(__cpp_exceptions)
        throw std::bad_alloc();
#else
        abort();    // a build without exceptions (the i686 benchmark's)
#endif
    }
    return p;
}

void FreeMem(void *block)
{
    free(block);
}

#endif
