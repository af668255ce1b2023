// Replays each fuzz target's committed corpus as an ordinary test, so the
// inputs that once found faults keep being checked in builds without
// libFuzzer.
#include <gtest/gtest.h>

#include <dirent.h>
#include <string>

#include "../../fuzz/FuzzTarget.h"
#include "support/TempFile.h"

FuzzRegistration *FuzzTargets;

FuzzRegistration::FuzzRegistration(const char *n, FuzzFunction f) : name(n), fn(f), next(FuzzTargets)
{
    FuzzTargets = this;
}

TEST(FuzzCorpus, EveryTargetReplaysItsCorpus)
{
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
            SCOPED_TRACE(std::string(r->name) + "/" + e->d_name);
            r->fn(bytes.data(), bytes.size());
            files++;
        }
        closedir(d);
        // A target whose corpus went missing would replay nothing and pass.
        EXPECT_GT(files, 0) << r->name;
    }
    EXPECT_EQ(targets, 3) << "fuzz targets registered (one per fuzz/*/target.cpp)";
}
