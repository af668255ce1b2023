// Include in exactly one file of a test program: the case list and main().
#include "wintest.h"

WinTestCase *WinTestFirst;
int WinTestFailures;

int WinTestRunAll(const char *only)
{
    int passed = 0, failed = 0;
    for (WinTestCase *c = WinTestFirst; c; c = c->next) {
        if (only ? strcmp(only, c->name) != 0 : c->onRequest)
            continue;
        int before = WinTestFailures;
        printf("[ RUN  ] %s\n", c->name);
        fflush(stdout);
        c->fn();
        if (WinTestFailures == before) {
            passed++;
            printf("[  OK  ] %s\n", c->name);
        } else {
            failed++;
            printf("[ FAIL ] %s\n", c->name);
        }
        fflush(stdout);
    }
    printf("%d passed, %d failed\n", passed, failed);
    // A name that matches no case ran nothing: that is no success.
    return failed || passed == 0 ? 1 : 0;
}

int main(int argc, char **argv)
{
    return WinTestRunAll(argc > 1 ? argv[1] : 0);
}
