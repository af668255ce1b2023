// One source per fuzz target, two ways to build it: with libFuzzer
// (SFX_FUZZ_TARGET becomes LLVMFuzzerTestOneInput), and into the host test
// program, which replays each target's committed corpus as an ordinary test
// (SFX_FUZZ_REPLAY, no libFuzzer needed).
#ifndef SFX_FUZZ_TARGET_H
#define SFX_FUZZ_TARGET_H

#include <stddef.h>
#include <stdint.h>

typedef int (*FuzzFunction)(const uint8_t *data, size_t size);

#ifdef SFX_FUZZ_REPLAY
struct FuzzRegistration {
    const char *name;
    FuzzFunction fn;
    FuzzRegistration *next;
    FuzzRegistration(const char *n, FuzzFunction f);
};
extern FuzzRegistration *FuzzTargets;
#define SFX_FUZZ_TARGET(name)                                               \
    static int name##_fuzz(const uint8_t *data, size_t size);               \
    static FuzzRegistration name##_registration(#name, name##_fuzz);        \
    static int name##_fuzz(const uint8_t *data, size_t size)
#else
#define SFX_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
#endif

#endif
