// Archives made by other ZIP programs (Info-ZIP zip, 7-Zip, libarchive, on the host
// at build time) placed after the image: listed, extracted and compared
// byte for byte with the tree they were made from.  Stored, deflated and
// encrypted, with folder entries and data descriptors as each program
// writes them.
#include "wintest_main.h"

#include "extract_fixture.h"

#include <algorithm>

using namespace fx;

static const char *const Peers = "peers\\";

// Every file under a folder, as relative paths with '\'.
static void Files(const std::string &root, const std::string &rel, std::vector<std::string> &out)
{
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((root + rel + "*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = d.cFileName;
        if (n == "." || n == "..")
            continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Files(root, rel + n + "\\", out);
        else
            out.push_back(rel + n);
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

static int Checked;

static void ExtractPeer(const char *zipName, const char *password)
{
    std::string zip = drv::ReadFileText(std::string(Peers) + zipName);
    // The set-up installs zip and 7-Zip: an archive that was not made is a
    // failure, not a pass that checked nothing.
    CHECK(!zip.empty());
    if (zip.empty()) {
        printf("  %s: not made (program missing?)\n", zipName);
        return;
    }
    Checked++;
    Init();
    OverwritePolicy = OverwriteAsk;
    TextFree(Password);
    std::string dir = Target(std::string("peer_") + zipName);
    UseRawZip(zip);
    for (int id : Lists) {
        CHECK_EVENTS(ListRun(id));
        CHECK(ItemCount(id) == 6);
    }
    if (password)
        S.passwords = {{password, false, false}};
    std::vector<std::string> want;
    if (password)
        want.push_back(Passwd);
    want.push_back(AllDone);
    CHECK_TEXT(Joined(ExtractRun(IDC_LIST_UNSORTED)), Joined(want));

    std::string src = std::string(Peers) + "src\\";
    std::vector<std::string> expected, got;
    Files(src, "", expected);
    Files(dir + "\\", "", got);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    CHECK(expected.size() == 4);
    CHECK_TEXT(Joined(got), Joined(expected));
    for (const std::string &f : expected) {
        std::string a = drv::ReadFileText(src + f), b = drv::ReadFileText(dir + "\\" + f);
        if (a != b)
            printf("  %s: %s differs (%u bytes, want %u)\n", zipName, f.c_str(),
                   (unsigned)b.size(), (unsigned)a.size());
        CHECK(a == b);
    }
}

TEST_CASE(InfoZipArchives)
{
    ExtractPeer("infozip.zip", 0);
    ExtractPeer("infozip_stored.zip", 0);
    ExtractPeer("infozip_crypt.zip", "secret");
}

TEST_CASE(SevenZipArchives)
{
    ExtractPeer("7z.zip", 0);
    ExtractPeer("7z_stored.zip", 0);
    ExtractPeer("7z_crypt.zip", "secret");
    // WinZip AES-256 (AE-2), deflated and stored.
    ExtractPeer("7z_aes.zip", "secret");
    ExtractPeer("7z_aes_stored.zip", "secret");
}

// libarchive's AES-256, its sizes moved from the descriptors into the local
// headers, with a Korean password as code page 949 bytes.
TEST_CASE(LibarchiveAesArchive)
{
    ExtractPeer("bsdtar_aes.zip", "비밀번호");
    printf("  %d peer archives checked\n", Checked);
}
