// Benchmark of the extraction driver under Wine (scripts/bench_extract.sh
// builds and runs it; not one of the tests).
//   extract_bench many      10,000 small stored entries: the listing run and
//                           the extraction run, with the sorted and the
//                           unsorted list, names in sorted and in shuffled
//                           archive order
//   extract_bench big ZIP   one ZIP after the image: list and extract
// Times are wall-clock milliseconds; each run's closing message box is
// dismissed by the answering thread within about 50 ms.
#include "extract_fixture.h"

#include <algorithm>
#include <random>

WinTestCase *WinTestFirst;
int WinTestFailures;

using namespace fx;

struct Times {
    double list, extract, again;
    std::string result;
};

static Times Measure(int listId, const std::string &target)
{
    Times t;
    drv::RemoveTree(target);
    CreateDirectoryA(target.c_str(), NULL);
    strcpy(TargetFolder, target.c_str());
    S.runList = listId;
    StartAnswering();
    double a = drv::NowMs();
    ExtractEntries(S.main, listId, true);
    t.list = drv::NowMs() - a;
    SendMessageA(List(listId), LB_SETSEL, TRUE, -1);
    a = drv::NowMs();
    ExtractEntries(S.main, listId, false);
    t.extract = drv::NowMs() - a;
    // Once more with every target present and left alone: the walk, the
    // list search and the existence test without any file written.
    OverwritePolicy = OverwriteNever;
    SendMessageA(List(listId), LB_SETSEL, TRUE, -1);
    a = drv::NowMs();
    ExtractEntries(S.main, listId, false);
    t.again = drv::NowMs() - a;
    OverwritePolicy = OverwriteAll;
    StopAnswering();
    t.result = "FAILED";
    if (S.events.size() == 2 && S.events[0] == AllDone && S.events[1] == AllDone)
        t.result = "all done";
    return t;
}

static void Many()
{
    const int n = 10000;
    std::vector<zm::Entry> entries;
    for (int i = 0; i < n; i++) {
        char name[64];
        sprintf(name, "d%02d/file%05d.txt", i / 500, i);
        entries.push_back(Stored(name, std::string(100, 'a' + i % 26)));
    }
    printf("| archive order | list | listing run ms | extraction run ms | run with all present ms | result |\n");
    printf("|---|---|---|---|---|---|\n");
    for (int shuffled = 0; shuffled < 2; shuffled++) {
        if (shuffled)
            std::shuffle(entries.begin(), entries.end(), std::mt19937(1));
        UseArchive(entries);
        for (int id : Lists) {
            Times t = Measure(id, "C:\\extract_bench");
            printf("| %s | %s | %.0f | %.0f | %.0f | %s |\n", shuffled ? "shuffled" : "sorted names",
                   id == IDC_LIST_SORTED ? "sorted (301)" : "unsorted (303)", t.list, t.extract,
                   t.again, t.result.c_str());
            fflush(stdout);
        }
    }
    drv::RemoveTree("C:\\extract_bench");
}

static void Big(const char *zipPath)
{
    std::string zip = drv::ReadFileText(zipPath);
    UseRawZip(zip);
    Times t = Measure(IDC_LIST_UNSORTED, "C:\\extract_bench_big");
    printf("big: archive %.1f MB, listing run %.0f ms, extraction run %.0f ms, %s\n",
           zip.size() / 1048576.0, t.list, t.extract, t.result.c_str());
    drv::RemoveTree("C:\\extract_bench_big");
}

int main(int argc, char **argv)
{
    Init();
    OverwritePolicy = OverwriteAll;
    if (argc > 1 && !strcmp(argv[1], "many"))
        Many();
    else if (argc > 2 && !strcmp(argv[1], "big"))
        Big(argv[2]);
    else
        printf("usage: extract_bench many | big ZIP\n");
    return 0;
}
