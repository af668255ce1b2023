// The program's one allocation routine.  Running out of memory is the only
// fatal condition: the process ends with the runtime's error report
// ("Runtime error 203 at XXXXXXXX", caption "Error") and exit code 203.
// Outside the stub (SFX_STUB undefined) it throws std::bad_alloc.
#ifndef SFX_MEMORY_H
#define SFX_MEMORY_H

#include "SfxTypes.h"

void *GetMem(uint32_t size);   // never returns null
void FreeMem(void *block);     // null is allowed

#ifdef SFX_STUB
// Seeds the stack protector's canary; the entry point calls it first.  A
// smashed stack ends the process with "Runtime error 216 at ..." and exit
// code 216.
void SeedStackGuard();
#endif

#endif
