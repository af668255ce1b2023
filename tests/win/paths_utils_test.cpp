// Long-path expansion and folder creation on the real (Wine) file system,
// whose drive C: gives long names 8.3 aliases.
#include "wintest_main.h"

#include "common/SFXgbls.h"
#include "ui/PathUtils.h"

#include <ctype.h>
#include <string>

static const char *Scratch = "C:\\Long Folder Name";

static std::string Expanded(const std::string &in)
{
    char buf[TextBufferSize];
    memset(buf, 'z', sizeof buf);
    strcpy(buf, in.c_str());
    ExpandLongPath(buf);
    return buf;
}

// The result lives in a variable: CHECK_STR keeps only the pointers.
#define CHECK_EXPANDS(in, out)                                              \
    do {                                                                    \
        std::string got_ = Expanded(in);                                    \
        CHECK_STR(got_.c_str(), out);                                       \
    } while (0)

static std::string Lower(std::string s)
{
    for (size_t i = 0; i < s.size(); i++)
        s[i] = (char)tolower((unsigned char)s[i]);
    return s;
}

static std::string CurrentFolder()
{
    char buf[MAX_PATH];
    GetCurrentDirectoryA(sizeof buf, buf);
    return buf;
}
#define CHECK_CURRENT(folder)                                               \
    do {                                                                    \
        std::string cur_ = CurrentFolder();                                 \
        CHECK_STR(cur_.c_str(), folder);                                    \
    } while (0)

static bool IsFolder(const char *p)
{
    DWORD a = GetFileAttributesA(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

static void MakeScratch()
{
    CreateDirectoryA(Scratch, NULL);
    CreateDirectoryA("C:\\Long Folder Name\\Sub Folder", NULL);
}

TEST_CASE(ExpandLongPathRestoresLongNamesAndStoredCase)
{
    MakeScratch();
    char shortForm[MAX_PATH];
    DWORD n = GetShortPathNameA("C:\\Long Folder Name\\Sub Folder", shortForm, sizeof shortForm);
    CHECK(n > 0 && n < sizeof shortForm);
    // The aliases must differ from the long names, or this proves nothing.
    CHECK(strchr(shortForm, '~') != NULL);
    std::string lower = Lower(shortForm);
    // The drive letter keeps whatever case it came in.
    CHECK_EXPANDS(lower, "c:\\Long Folder Name\\Sub Folder\\");
    CHECK_EXPANDS(lower + "\\", "c:\\Long Folder Name\\Sub Folder\\");
    CHECK_EXPANDS("C:\\long folder name\\sub folder", "C:\\Long Folder Name\\Sub Folder\\");
}

TEST_CASE(ExpandLongPathLeavesRootsAndShortTextsAlone)
{
    CHECK_EXPANDS("C:\\", "C:\\");
    CHECK_EXPANDS("c:\\", "c:\\");
    CHECK_EXPANDS("C:", "C:");
    CHECK_EXPANDS("", "");
    CHECK_EXPANDS("ab", "ab");
}

TEST_CASE(ExpandLongPathOnFourCharactersAddsBackslashAndExpands)
{
    CreateDirectoryA("C:\\Q", NULL);
    CHECK_EXPANDS("c:\\q", "c:\\Q\\");
    CHECK_EXPANDS("c:\\q\\", "c:\\Q\\");
    RemoveDirectoryA("C:\\Q");
}

TEST_CASE(ExpandLongPathKeepsLongFormApartFromBackslash)
{
    MakeScratch();
    CHECK_EXPANDS("C:\\Long Folder Name", "C:\\Long Folder Name\\");
    CHECK_EXPANDS("C:\\Long Folder Name\\Sub Folder\\", "C:\\Long Folder Name\\Sub Folder\\");
}

TEST_CASE(ExpandLongPathKeepsComponentsItCannotLookUp)
{
    MakeScratch();
    // Found levels are expanded around the missing ones; everything below a
    // missing level is missing too and stays as typed.
    CHECK_EXPANDS("c:\\long folder name\\Gone\\sub folder", "c:\\Long Folder Name\\Gone\\sub folder\\");
    CHECK_EXPANDS("\\\\server\\share\\dir", "\\\\server\\share\\dir\\");
    CHECK_EXPANDS("q:\\nowhere", "q:\\nowhere\\");
}

// Cut to 255 characters, a long form would name another folder.
TEST_CASE(ExpandLongPathKeepsATextWhoseLongFormDoesNotFit)
{
    // A full buffer: 260 characters, no trailing backslash, and a guard
    // right behind the terminator that must survive.
    struct {
        char buffer[TextBufferSize];
        char guard[8];
    } b;
    memset(b.guard, 'G', sizeof b.guard);
    std::string in = "C:\\";
    while (in.size() < 260)
        in += std::string(20, 'd') + "\\";
    in.resize(260);
    if (in[259] == '\\')
        in[259] = 'e';
    memcpy(b.buffer, in.c_str(), 261);
    ExpandLongPath(b.buffer);
    CHECK_STR(b.buffer, in.c_str());
    CHECK(memcmp(b.guard, "GGGGGGGG", 8) == 0);

    // A real folder whose long form passes 255 characters: only its short
    // form fits the ANSI calls, so it is made through the wide ones.
    MakeScratch();
    std::wstring deep = L"\\\\?\\C:\\Long Folder Name\\" + std::wstring(120, L'L');
    std::wstring deeper = deep + L"\\" + std::wstring(120, L'M');
    CreateDirectoryW(deep.c_str(), NULL);
    CreateDirectoryW(deeper.c_str(), NULL);
    wchar_t shortWide[MAX_PATH];
    DWORD n = GetShortPathNameW(deeper.c_str(), shortWide, MAX_PATH);
    CHECK(n > 4 && n < MAX_PATH);
    char shortForm[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, shortWide + 4, -1, shortForm, sizeof shortForm, NULL, NULL);
    CHECK(strlen(shortForm) < 100);
    std::string got = Expanded(Lower(shortForm));
    CHECK_TEXT(got, Lower(shortForm) + "\\");
    CHECK(GetFileAttributesA(got.c_str()) != INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW(deeper.c_str());
    RemoveDirectoryW(deep.c_str());
}

// ---------------------------------------------------------------------------

static const char *Base = "C:\\Long Folder Name\\Base\\";

static void EnterBase()
{
    MakeScratch();
    CreateDirectoryA("C:\\Long Folder Name\\Base", NULL);
    SetCurrentDirectoryA(Base);
}

TEST_CASE(CreateAndEnterFolderMakesAndEntersNewAndExisting)
{
    EnterBase();
    RemoveDirectoryA("C:\\Long Folder Name\\Base\\Fresh One");
    CHECK(CreateAndEnterFolder(Base, "Fresh One"));
    CHECK(IsFolder("C:\\Long Folder Name\\Base\\Fresh One"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base\\Fresh One");
    // The same name again: it exists, so it is simply entered.
    SetCurrentDirectoryA(Base);
    CHECK(CreateAndEnterFolder(Base, "Fresh One"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base\\Fresh One");
    // A trailing backslash typed by the user changes nothing.
    SetCurrentDirectoryA(Base);
    CHECK(CreateAndEnterFolder(Base, "Trailing\\"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base\\Trailing");
}

TEST_CASE(CreateAndEnterFolderTwoLevelsParentAndLeadingBackslashes)
{
    EnterBase();
    CHECK(CreateAndEnterFolder(Base, "Level One\\Level Two"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base\\Level One\\Level Two");

    SetCurrentDirectoryA(Base);
    CHECK(CreateAndEnterFolder(Base, "..\\Beside"));
    CHECK(IsFolder("C:\\Long Folder Name\\Beside"));
    CHECK_CURRENT("C:\\Long Folder Name\\Beside");

    // Leading backslashes do not reach for the drive root.
    SetCurrentDirectoryA(Base);
    RemoveDirectoryA("C:\\Under Base");
    CHECK(CreateAndEnterFolder(Base, "\\\\Under Base"));
    CHECK(IsFolder("C:\\Long Folder Name\\Base\\Under Base"));
    CHECK(!IsFolder("C:\\Under Base"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base\\Under Base");
}

TEST_CASE(CreateAndEnterFolderRefusesWithoutCreatingOrMoving)
{
    EnterBase();
    const char *refused[] = {"x:y", "C:\\Absolute", "Colon:", "\\", "\\\\\\", ""};
    for (const char *name : refused) {
        CHECK(!CreateAndEnterFolder(Base, name));
        CHECK_CURRENT("C:\\Long Folder Name\\Base");
    }
    CHECK(!IsFolder("C:\\Absolute"));
    CHECK(!IsFolder("C:\\Long Folder Name\\Base\\x"));

    // Names the file system refuses, and a file standing in the way.
    FILE *f = fopen("C:\\Long Folder Name\\Base\\plain", "wb");
    fclose(f);
    CHECK(!CreateAndEnterFolder(Base, "bad|name"));
    CHECK(!CreateAndEnterFolder(Base, "plain"));
    CHECK(!CreateAndEnterFolder(Base, "plain\\below"));
    CHECK_CURRENT("C:\\Long Folder Name\\Base");
}
