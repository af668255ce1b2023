// Path exists and ensure folder on the real (Wine) file system.
#include "wintest_main.h"

#include "common/SFXmisc.h"

static const char *Scratch = "C:\\sfxtest_paths";

static bool Exists(const char *p)
{
    char buf[1024];
    strcpy(buf, p);
    return PathExists(buf);
}

TEST_CASE(EnsureFolderCreatesNestedLevelsOutermostFirst)
{
    RemoveDirectoryA("C:\\sfxtest_paths\\A\\B\\C");
    CreateDirectoryA(Scratch, NULL);
    CreateDirectoryA("C:\\sfxtest_paths\\A", NULL);
    EnsureFolder("C:\\sfxtest_paths\\A\\B\\C");
    DWORD a = GetFileAttributesA("C:\\sfxtest_paths\\A\\B\\C");
    CHECK(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
    // A trailing backslash and '/' separators are accepted too.
    EnsureFolder("C:\\sfxtest_paths/X/Y\\");
    a = GetFileAttributesA("C:\\sfxtest_paths\\X\\Y");
    CHECK(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
}

TEST_CASE(EnsureFolderLeavesExistingAndRootsAlone)
{
    EnsureFolder("C:\\");
    EnsureFolder("C:");
    EnsureFolder(Scratch);
    CHECK(Exists(Scratch));
}

TEST_CASE(EnsureFolderReturnsWhereNothingCanBeMade)
{
    // A file stands where a folder level should be: nothing can be created,
    // and the routine still returns.
    FILE *f = fopen("C:\\sfxtest_paths\\plainfile", "wb");
    fclose(f);
    EnsureFolder("C:\\sfxtest_paths\\plainfile\\sub\\deeper");
    CHECK(!Exists("C:\\sfxtest_paths\\plainfile\\sub"));
    // Names the file system refuses, and a text that is its own folder part.
    EnsureFolder("C:\\sfxtest_paths\\bad|name\\x");
    EnsureFolder("a:b");
    EnsureFolder("Q:\\no\\such\\drive");
    CHECK(!Exists("Q:\\no"));
}

TEST_CASE(PathExistsForFilesFoldersAndTrailingBackslash)
{
    CHECK(Exists(Scratch));
    CHECK(Exists("C:\\sfxtest_paths\\plainfile"));
    CHECK(!Exists("C:\\sfxtest_paths\\missing"));
    CHECK(!Exists(""));
    // With a trailing backslash: the folder holds something.
    CHECK(Exists("C:\\sfxtest_paths\\"));
    CreateDirectoryA("C:\\sfxtest_paths\\empty", NULL);
    CHECK(Exists("C:\\sfxtest_paths\\empty"));
    // Turns the caller's '/' into '\' in place.
    char buf[64] = "C:\\sfxtest_paths/A/B";
    CHECK(PathExists(buf));
    CHECK_STR(buf, "C:\\sfxtest_paths\\A\\B");
}

TEST_CASE(PathExistsOfADriveRoot)
{
    CHECK(Exists("C:\\"));
    CHECK(!Exists("Q:\\"));
    // E: is mapped by the test environment to an empty folder: an existing
    // root with no entry at all still exists.
    if (GetDriveTypeA("E:\\") > DRIVE_NO_ROOT_DIR)
        CHECK(Exists("E:\\"));
    else
        printf("  (no drive E: mapped; empty-root case not run)\n");
}

TEST_CASE(PathExistsWithALongTextDoesNotOverrun)
{
    char buf[600];
    memset(buf, 'x', sizeof buf);
    memcpy(buf, "C:\\", 3);
    buf[400] = '\\';
    buf[401] = 0;
    CHECK(!PathExists(buf));
}
