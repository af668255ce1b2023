// One source per fuzz target, two ways to build it: with libFuzzer
// (SFX_FUZZ_TARGET becomes LLVMFuzzerTestOneInput), and into the host test
// program, which replays each target's committed corpus as an ordinary test
// (SFX_FUZZ_REPLAY, no libFuzzer needed).
#ifndef SFX_FUZZ_TARGET_H
#define SFX_FUZZ_TARGET_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

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
// A check the target makes of its own (beyond the sanitizers'): under
// libFuzzer a crash, whose input it keeps; in the replay a failure that
// names the input and lets the next one run.  Either way the input stops
// there: going on after a failed check could loop.
struct FuzzCheckFailure {
    const char *check;
};
#define SFX_FUZZ_CHECK(c)                                                   \
    do {                                                                    \
        if (!(c))                                                           \
            throw FuzzCheckFailure{#c};                                     \
    } while (0)
#else
#define SFX_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
#define SFX_FUZZ_CHECK(c)                                                   \
    do {                                                                    \
        if (!(c)) {                                                         \
            fprintf(stderr, "check failed: %s\n", #c);                      \
            abort();                                                        \
        }                                                                   \
    } while (0)
#endif

#endif
