// A small test harness for the Windows test programs that run under Wine.
// Each program is a list of TEST_CASE functions; CHECK records a failure and
// goes on.  The program prints "N passed, M failed" and exits non-zero on
// any failure, so CTest and the summary of ./run test read it alike.
#ifndef WINTEST_H
#define WINTEST_H

#include <windows.h>
#include <stdio.h>
#include <string.h>

struct WinTestCase {
    const char *name;
    void (*fn)();
    WinTestCase *next;
    bool onRequest;     // runs only when named on the command line
};
extern WinTestCase *WinTestFirst;
extern int WinTestFailures;

struct WinTestRegister {
    WinTestRegister(WinTestCase *c)
    {
        WinTestCase **p = &WinTestFirst;
        while (*p)
            p = &(*p)->next;
        *p = c;
    }
};

#define TEST_CASE(name) WINTEST_CASE(name, false)
// A case that runs only when the program is started with its name: the
// child a test starts from its own program, or a pause for screenshots.
// It is never counted in a plain run, so it can never pass by doing nothing.
#define ON_REQUEST_CASE(name) WINTEST_CASE(name, true)
#define WINTEST_CASE(name, onRequest)                                       \
    static void name();                                                     \
    static WinTestCase name##_case = {#name, name, 0, onRequest};           \
    static WinTestRegister name##_reg(&name##_case);                        \
    static void name()

#define CHECK(cond)                                                         \
    do {                                                                    \
        if (!(cond)) {                                                      \
            printf("  %s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            WinTestFailures++;                                              \
        }                                                                   \
    } while (0)

#define CHECK_STR(a, b)                                                     \
    do {                                                                    \
        const char *a_ = (a), *b_ = (b);                                    \
        if (strcmp(a_, b_) != 0) {                                          \
            printf("  %s:%d: \"%s\" != \"%s\"\n", __FILE__, __LINE__, a_, b_); \
            WinTestFailures++;                                              \
        }                                                                   \
    } while (0)

// CHECK_STR for texts held in std::string temporaries: both sides are kept
// as copies.  Include <string> before using it.
#define CHECK_TEXT(a, b)                                                    \
    do {                                                                    \
        std::string a_ = (a), b_ = (b);                                     \
        if (a_ != b_) {                                                     \
            printf("  %s:%d: \"%s\" != \"%s\"\n", __FILE__, __LINE__, a_.c_str(), \
                   b_.c_str());                                             \
            WinTestFailures++;                                              \
        }                                                                   \
    } while (0)

// Defined once per program by including wintest_main.h in one file.
int WinTestRunAll(const char *only);

#endif
