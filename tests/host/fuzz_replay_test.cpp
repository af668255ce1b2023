// Replays each fuzz target's committed corpus as an ordinary test, so the
// inputs that once found faults keep being checked in builds without
// libFuzzer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "../../fuzz/FuzzTarget.h"
#include "support/TempFile.h"

FuzzRegistration *FuzzTargets;

FuzzRegistration::FuzzRegistration(const char *n, FuzzFunction f) : name(n), fn(f), next(FuzzTargets)
{
    FuzzTargets = this;
}

namespace {

// A crash in the code under test ends the whole test program; it says first
// which input it was on, so the input can be replayed alone.
char CrashNote[600];

void NameTheInput(int signal)
{
    ssize_t ignored = write(2, CrashNote, strlen(CrashNote));
    (void)ignored;
    ::signal(signal, SIG_DFL);
    raise(signal);
}

struct CrashNamesInput {
    CrashNamesInput()
    {
        for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP})
            signal(s, NameTheInput);
    }
    ~CrashNamesInput()
    {
        for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP})
            signal(s, SIG_DFL);
    }
};

} // namespace

TEST(FuzzCorpus, EveryTargetReplaysItsCorpus)
{
    CrashNamesInput guard;
    int targets = 0;
    for (FuzzRegistration *r = FuzzTargets; r; r = r->next, targets++) {
        std::string dir = std::string(SFX_SOURCE_DIR) + "/fuzz/" + r->name + "/corpus";
        int files = 0;
        DIR *d = opendir(dir.c_str());
        ASSERT_TRUE(d) << dir;
        while (struct dirent *e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::vector<unsigned char> bytes = ReadAll(dir + "/" + e->d_name);
            std::string input = dir + "/" + e->d_name;
            snprintf(CrashNote, sizeof CrashNote, "\nfuzz replay: the program died on %s\n", input.c_str());
            try {
                r->fn(bytes.data(), bytes.size());
            } catch (const FuzzCheckFailure &f) {
                ADD_FAILURE() << input << ": check failed: " << f.check;
            }
            files++;
        }
        closedir(d);
        // A target whose corpus went missing would replay nothing and pass.
        EXPECT_GT(files, 0) << r->name;
    }
    EXPECT_EQ(targets, 4) << "fuzz targets registered (one per fuzz/*/target.cpp)";
}
