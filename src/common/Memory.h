// The program's one allocation routine.  Running out of memory is the only
// fatal condition: the process ends with the runtime's error report
// ("Runtime error 203 at XXXXXXXX", caption "Error") and exit code 203.
#ifndef SFX_MEMORY_H
#define SFX_MEMORY_H

#include "SfxTypes.h"

void *GetMem(uint32_t size);   // never returns null
void FreeMem(void *block);     // null is allowed

#endif
