// Entry names as the builder stores them, and what it makes of the folders
// it walks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Builder.h"
#include "ZipInput.h"
#include "mksfx_helpers.h"
#include "support/TempFile.h"

using namespace mksfxtest;
using mksfx::ArchiveName;
using mksfx::BuildError;

namespace {

std::string Refusal(const std::string &name)
{
    try {
        ArchiveName(name);
    } catch (const BuildError &e) {
        return e.what();
    }
    return "";
}

TEST(BuilderNames, ConvertedToCodePage949WithSlashes)
{
    EXPECT_EQ(ArchiveName("docs/read me.txt"), "docs/read me.txt");
    EXPECT_EQ(ArchiveName(u8"\uac00/\ub098.txt"), "\xB0\xA1/\xB3\xAA.txt");
    // Harmless spellings are tidied rather than refused.
    EXPECT_EQ(ArchiveName("./a//b/./c"), "a/b/c");
}

TEST(BuilderNames, UnsafeNamesAreRefusedByName)
{
    struct Case {
        const char *name, *why;
    } cases[] = {
        {"../up.txt", "'..' component refused: \"../up.txt\""},
        {"a/../../up.txt", "'..' component"},
        {"/etc/passwd", "absolute name refused"},
        {"\\Windows\\x", "absolute name refused"},
        {"C:evil", "drive-prefixed name refused: \"C:evil\""},
        {"d:/evil", "drive-prefixed"},
        {"ab:c", "character :"},          // an alternate data stream on NTFS
        {"a\\b", "character \\"},         // a separator to the stub
        {"what?.txt", "character ?"},
        {"tab\there", "character 0x9"},
        {"dots...", "ending in a dot or space"},
        {"space /x", "ending in a dot or space"},
        {"CON", "Windows device"},
        {"sub/nul.txt", "Windows device"},
        {"LPT1.log", "Windows device"},
        {u8"caf\u00e9.txt", "cannot be written in code page 949"},
        {"\xff\xfe.txt", "cannot be written in code page 949"},   // not UTF-8 at all
        {"", "empty name"},
        {"./", "empty name"},
    };
    for (const Case &c : cases) {
        std::string why = Refusal(c.name);
        EXPECT_NE(why.find(c.why), std::string::npos) << "name \"" << c.name << "\": " << why;
    }
    // Names that merely look odd pass.
    for (const char *fine : {"CONSOLE.txt", "com10", "a..b", ".hidden", "x/..y"})
        EXPECT_EQ(Refusal(fine), "") << fine;
}

TEST(BuilderNames, LengthLimitIsInCodePage949Bytes)
{
    std::string hangul;
    for (int i = 0; i < 127; i++)
        hangul += u8"\ud55c";   // 2 bytes each in code page 949, 3 in UTF-8
    EXPECT_EQ(Refusal(hangul + "x"), "");
    EXPECT_NE(Refusal(hangul + "xy").find("longer than 255 bytes"), std::string::npos);
}

TEST(BuilderNames, DuplicatesAsWindowsSeesThem)
{
    auto entries = [](std::vector<std::string> names) {
        std::vector<mksfx::Entry> v;
        for (const std::string &n : names) {
            mksfx::Entry e;
            e.Utf8Name = n;
            v.push_back(std::move(e));
        }
        return v;
    };
    EXPECT_NO_THROW(mksfx::CheckUniqueNames(entries({"a/b.txt", "a/c.txt", "ab"})));
    EXPECT_THROW(mksfx::CheckUniqueNames(entries({"Docs/Read.me", "docs/READ.ME"})), BuildError);
    EXPECT_THROW(mksfx::CheckUniqueNames(entries({"tool", "TOOL/x.dll"})), BuildError);
}

TEST(BuilderNames, NamesOfExistingZipsAreResolved)
{
    using mksfx::ZipEntryInfo;
    auto resolve = [](const std::string &raw, uint16_t flags, std::vector<uint8_t> extra = {}) {
        ZipEntryInfo e;
        e.RawName = raw;
        e.Flags = flags;
        e.Extra = extra;
        std::string utf8;
        return mksfx::EntryNameUtf8(e, utf8) ? utf8 : std::string("(refused)");
    };
    const std::string hangul = u8"\ud55c\uae00.txt", cp949 = "\xC7\xD1\xB1\xDB.txt";
    EXPECT_EQ(resolve(hangul, 0x0800), hangul);            // UTF-8 flag (7-Zip, jar, Python)
    EXPECT_EQ(resolve(hangul, 0), hangul);                 // plain UTF-8 bytes (Info-ZIP on Linux)
    EXPECT_EQ(resolve(cp949, 0), hangul);                  // code page 949 (Korean Windows)
    EXPECT_EQ(resolve(cp949, 0x0800), "(refused)");        // flagged, but no UTF-8
    EXPECT_EQ(resolve("\x80\xFF", 0), "(refused)");          // neither

    // The Info-ZIP Unicode Path field counts only while its CRC matches the
    // name beside it: a tool that renamed the entry left it stale.
    auto field = [](const std::string &raw, const std::string &utf8) {
        uint32_t crc = 0xFFFFFFFF;
        for (unsigned char c : raw) {
            crc ^= c;
            for (int k = 0; k < 8; k++)
                crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        crc = ~crc;
        std::vector<uint8_t> x = {0x75, 0x70, (uint8_t)(5 + utf8.size()), 0, 1, (uint8_t)crc,
                                  (uint8_t)(crc >> 8), (uint8_t)(crc >> 16), (uint8_t)(crc >> 24)};
        x.insert(x.end(), utf8.begin(), utf8.end());
        return x;
    };
    EXPECT_EQ(resolve("HANGUL~1.TXT", 0, field("HANGUL~1.TXT", hangul)), hangul);
    EXPECT_EQ(resolve("renamed.txt", 0, field("HANGUL~1.TXT", hangul)), "renamed.txt");
}

class BuilderWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        in = scratch.Path() + "/in";
        out = scratch.Path() + "/out.exe";
        for (const char *f : {"in", "in/b", "in/b/inner", "in/a", "in/empty", "in/empty/deeper"})
            mkdir((scratch.Path() + "/" + f).c_str(), 0755);
        for (const char *f : {"in/z.txt", "in/b/2.txt", "in/b/10.txt", "in/b/inner/x", "in/a/1.txt", "in/B.txt"})
            scratch.Write(f, std::string(f));
    }
    std::vector<std::string> Names()
    {
        Outcome info = Mksfx({"--info", out});
        std::vector<std::string> names;
        size_t at = info.Output.find("name\n");
        for (size_t p = at; p != std::string::npos && (p = info.Output.find('\n', p)) != std::string::npos;) {
            size_t end = info.Output.find('\n', p + 1);
            std::string line = info.Output.substr(p + 1, end == std::string::npos ? end : end - p - 1);
            p = end;
            if (line.size() > 40)
                names.push_back(line.substr(line.rfind(' ') + 1));
        }
        return names;
    }
    ScratchFolder scratch;
    std::string in, out;
};

TEST_F(BuilderWalk, StableByteOrderAndEmptyFoldersLeftOut)
{
    Outcome r = Mksfx({"-o", out, in});
    ASSERT_EQ(r.Code, 0) << r.Output;
    std::vector<std::string> expected = {"B.txt", "a/1.txt", "b/10.txt", "b/2.txt", "b/inner/x", "z.txt"};
    EXPECT_EQ(Names(), expected);
    // The outermost empty folder is named once; the stub would never create it.
    EXPECT_NE(r.Output.find("empty folder \"empty\" left out"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("empty/deeper"), std::string::npos) << r.Output;
    EXPECT_EQ(Mksfx({"-q", "-o", out, in}).Output, "") << "--quiet says nothing";
}

TEST_F(BuilderWalk, FilesAndFoldersTogether)
{
    // A file argument goes in under its own name beside a folder's contents.
    std::string extra = scratch.Write("setup.ini", std::string("[x]"));
    ASSERT_EQ(Mksfx({"-q", "-o", out, in + "/b", extra}).Code, 0);
    std::vector<std::string> expected = {"10.txt", "2.txt", "inner/x", "setup.ini"};
    EXPECT_EQ(Names(), expected);
    // The same name twice is refused.
    scratch.Write("10.txt", std::string("again"));
    Outcome twice = Mksfx({"-q", "-o", out, in + "/b", scratch.Path() + "/10.txt"});
    EXPECT_EQ(twice.Code, 1);
    EXPECT_NE(twice.Output.find("same name on Windows: \"10.txt\""), std::string::npos) << twice.Output;
}

TEST_F(BuilderWalk, BadNamesOnDiskAreRefused)
{
    scratch.Write("in/b/what?.txt", std::string("x"));
    Outcome r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("\"b/what?.txt\""), std::string::npos) << r.Output;
    unlink((in + "/b/what?.txt").c_str());

    scratch.Write(u8"in/\u00e9t\u00e9.txt", std::string("x"));
    r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find(u8"code page 949: \"\u00e9t\u00e9.txt\""), std::string::npos) << r.Output;
}

TEST_F(BuilderWalk, OutputInsideTheInputIsNotPackedIntoItself)
{
    std::string inside = in + "/self.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", inside, in}).Code, 0);
    Outcome again = Mksfx({"-o", inside, in});
    ASSERT_EQ(again.Code, 0) << again.Output;
    EXPECT_NE(again.Output.find("\"self.exe\" is the output file itself"), std::string::npos) << again.Output;
    out = inside;
    for (const std::string &n : Names())
        EXPECT_NE(n, "self.exe");
}

TEST_F(BuilderWalk, PipesAndLinkLoopsAreRefused)
{
    ASSERT_EQ(mkfifo((in + "/pipe").c_str(), 0644), 0);
    Outcome r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("is not a regular file"), std::string::npos) << r.Output;
    unlink((in + "/pipe").c_str());

    ASSERT_EQ(symlink("..", (in + "/b/loop").c_str()), 0);
    r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("contains itself"), std::string::npos) << r.Output;
}

}  // namespace
