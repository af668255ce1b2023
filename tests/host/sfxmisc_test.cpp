// The shared routines of SFXmisc on texts and paths: the separators are
// '\', '/' and ':' wherever they stand, the drive root keeps its
// backslash, and counted texts end at their first zero.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Memory.h"
#include "common/SFXmisc.h"

static std::string NamePart(const char *s)
{
    Text t = {0, 0};
    FileNamePart(s, t);
    std::string r(t.Data, t.Length);
    TextFree(t);
    return r;
}

static std::string DirPart(const char *s)
{
    Text t = {0, 0};
    FolderPart(s, t);
    std::string r(t.Data, t.Length);
    TextFree(t);
    return r;
}

TEST(PathParts, FileNamePartAfterAnySeparator)
{
    EXPECT_EQ(NamePart("a\\b/c:d"), "d");
    EXPECT_EQ(NamePart("DIR/"), "");
    EXPECT_EQ(NamePart("plain.txt"), "plain.txt");
    EXPECT_EQ(NamePart(""), "");
    std::string longName(300, 'n');
    EXPECT_EQ(NamePart(("x/" + longName).c_str()).size(), 255u);
}

TEST(PathParts, FolderPartKeepsOnlyTheRootSeparator)
{
    EXPECT_EQ(DirPart("C:\\DATA\\A.TXT"), "C:\\DATA");
    EXPECT_EQ(DirPart("C:\\A.TXT"), "C:\\");
    EXPECT_EQ(DirPart("C:A.TXT"), "C:");
    EXPECT_EQ(DirPart("DIR/A.TXT"), "DIR");
    EXPECT_EQ(DirPart("A.TXT"), "");
    EXPECT_EQ(DirPart("\\A.TXT"), "");
    EXPECT_EQ(DirPart(""), "");
    EXPECT_EQ(DirPart("D:\\"), "D:\\");
    EXPECT_EQ(DirPart("D:\\X"), "D:\\");
    EXPECT_EQ(DirPart("D:\\X\\Y"), "D:\\X");
    EXPECT_EQ(DirPart("X"), "");
}

TEST(PathParts, SlashesToBackslashesCoversAByteSizedLength)
{
    char a[] = "a/b/c";
    EXPECT_STREQ(SlashesToBackslashes(a), "a\\b\\c");
    // 255 characters and the terminator: every byte is examined.
    std::string s(255, '/');
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back(0);
    SlashesToBackslashes(buf.data());
    EXPECT_EQ(std::string(buf.data()), std::string(255, '\\'));
    // Longer, the count wraps as a byte: 300 characters and the terminator
    // are 301, of which the byte keeps 45.
    std::vector<char> longer(300, '/');
    longer.push_back(0);
    SlashesToBackslashes(longer.data());
    EXPECT_EQ(std::string(longer.data()), std::string(45, '\\') + std::string(255, '/'));
}

TEST(PathParts, AppendAndStripOneBackslash)
{
    char a[16] = "C:\\DATA";
    EXPECT_STREQ(AppendBackslash(a), "C:\\DATA\\");
    EXPECT_STREQ(AppendBackslash(a), "C:\\DATA\\");
    char e[4] = "";
    EXPECT_STREQ(AppendBackslash(e), "\\");
    char r[8] = "C:\\";
    EXPECT_STREQ(StripBackslash(r), "C:");
    char two[8] = "a\\\\";
    EXPECT_STREQ(StripBackslash(two), "a\\");
    char empty[2] = "";
    EXPECT_STREQ(StripBackslash(empty), "");
}

TEST(CountedTexts, FixedTextCutsAtTheFirstZero)
{
    Text t = {0, 0};
    FixedTextToString(t, "ab\0cd", 5);
    EXPECT_EQ(t.Length, 2u);
    EXPECT_STREQ(t.Data, "ab");
    FixedTextToString(t, "xyz", 0);
    EXPECT_EQ(t.Length, 0u);
    EXPECT_STREQ(t.Data, "");
    TextFree(t);
    EXPECT_EQ(SmallerOf(-3, 2), -3);
    EXPECT_EQ(SmallerOf(5, 5), 5);
}

