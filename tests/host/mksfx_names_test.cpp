// Entry names as the builder stores them, and what it makes of the folders
// it walks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Builder.h"
#include "RecordBytes.h"
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
    // What code page 949 cannot hold becomes '_', one for each character
    // (the Unicode Path field carries the real name).
    EXPECT_EQ(ArchiveName(u8"R\u00e9sum\u00e9.txt"), "R_sum_.txt");
    EXPECT_EQ(ArchiveName(u8"\u7b80\u4eec/\ud55c\U0001F600.txt"), "__/\xC7\xD1_.txt");
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
        {"\xff\xfe.txt", "cannot be written in code page 949"},   // not UTF-8 at all
        {"caf\xc3.txt", "not UTF-8"},
        {"\xed\xa0\x80.txt", "not UTF-8"},                      // a surrogate
        {u8"COM\u00b9.txt", "Windows device"},                   // as the stub judges
        {"CONIN$", "Windows device"},
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
    // An approximated name counts UTF-16 units, as the stub's path does.
    std::string emoji;
    for (int i = 0; i < 127; i++)
        emoji += u8"\U0001F600";
    EXPECT_EQ(Refusal(emoji + "x"), "");
    EXPECT_NE(Refusal(emoji + "xy").find("longer than 255 UTF-16 units"), std::string::npos);
}

TEST(BuilderNames, DuplicatesAsWindowsSeesThem)
{
    auto entries = [](std::vector<std::string> names) {
        std::vector<mksfx::Entry> v;
        for (const std::string &n : names) {
            mksfx::Entry e;
            e.Utf8Name = n;
            e.Name = ArchiveName(n);
            v.push_back(std::move(e));
        }
        return v;
    };
    auto refusal = [&](std::vector<std::string> names) -> std::string {
        try {
            mksfx::CheckUniqueNames(entries(names));
        } catch (const BuildError &e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(refusal({"a/b.txt", "a/c.txt", "ab"}), "");
    // Windows upper-cases each UTF-16 unit: Latin, Greek, Cyrillic and the
    // fullwidth forms fold, Hangul and other letters without case do not.
    EXPECT_EQ(refusal({u8"\ud55c.txt", u8"\ud55d.txt", u8"\u0410", u8"\u0411", u8"\uff21x", u8"\uff22x"}), "");
    struct Case {
        const char *first, *second, *message;
    } same[] = {
        {"Docs/Read.me", "docs/READ.ME", "same name on Windows: \"Docs/Read.me\" and \"docs/READ.ME\""},
        {u8"\u0416\u0443\u0440\u043d\u0430\u043b.txt", u8"\u0436\u0443\u0440\u043d\u0430\u043b.txt", "same name"},
        {u8"\uff21.txt", u8"\uff41.txt", "same name"},                  // fullwidth A, a
        {u8"\u03a9/x", u8"\u03c9/x", "same name"},                      // Greek omega
        {u8"\u0401", u8"\u0451", "same name"},                          // Cyrillic yo
        {u8"\u00c6", u8"\u00e6", "same name"},                          // Latin-1 ae
        {u8"\u0141", u8"\u0142", "same name"},                          // L with stroke
        {u8"\u2160", u8"\u2170", "same name"},                          // Roman numeral one
        {u8"\u01cd.txt", u8"\u01ce.txt", "same name"},                // Latin A with caron
        {u8"\u1f08", u8"\u1f00", "same name"},                        // Greek alpha with psili
        {u8"\u2c80", u8"\u2c81", "same name"},                        // Coptic alfa
        {"tool", "TOOL/x.dll", "\"TOOL/x.dll\" puts a file in \"tool\""},
        // Approximations that meet, or meet a real name.
        {u8"R\u00e9sum\u00e9.txt", "r_sum_.TXT", "are both stored as \"r_sum_.TXT\""},
        {u8"\u7b80.txt", u8"\u4eec.txt", "both stored as \"_.txt\""},
    };
    for (const Case &c : same) {
        std::string why = refusal({c.first, "other", c.second});
        EXPECT_NE(why.find(c.message), std::string::npos) << c.first << ": " << why;
        EXPECT_NE(why.find(c.second), std::string::npos) << "both are named: " << why;
    }
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
    EXPECT_EQ(resolve(hangul, Utf8NameFlag), hangul);      // UTF-8 flag (7-Zip, jar, Python)
    EXPECT_EQ(resolve(hangul, 0), hangul);                 // plain UTF-8 bytes (Info-ZIP on Linux)
    EXPECT_EQ(resolve(cp949, 0), hangul);                  // code page 949 (Korean Windows)
    EXPECT_EQ(resolve(cp949, Utf8NameFlag), "(refused)");  // flagged, but no UTF-8
    EXPECT_EQ(resolve("\x80\xFF", 0), "(refused)");          // neither

    // The Info-ZIP Unicode Path field counts only while its CRC matches the
    // name beside it: a tool that renamed the entry left it stale.
    auto field = [](const std::string &raw, const std::string &utf8) {
        return mksfx::UnicodePathFieldBytes((uint32_t)crc32(0, (const Bytef *)raw.data(), (uInt)raw.size()), utf8);
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

    // A name code page 949 cannot hold is packed: '_' for what it cannot
    // hold, and the Unicode Path field that the stub reads beside it.  A
    // real name that meets the approximation is refused.
    scratch.Write(u8"in/\u00e9t\u00e9.txt", std::string("x"));
    r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 0) << r.Output;
    std::string info = Mksfx({"--info", out}).Output;
    EXPECT_NE(info.find(u8" \u00e9t\u00e9.txt"), std::string::npos) << info;
    scratch.Write("in/_T_.txt", std::string("y"));
    r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("both stored as"), std::string::npos) << r.Output;
}

// macOS writes names with Hangul decomposed into jamo; stored so, Windows
// shows and searches them as loose jamo, and code page 949 has no jamo, so
// the stored name was all underscores.  Folders and --zip inputs alike are
// stored composed, each changed entry named; names that then meet are
// refused as any duplicates are.  macOS's metadata entries of a ZIP are
// left out unless asked for.
TEST_F(BuilderWalk, DecomposedHangulIsComposed)
{
    // 한글 and 문서, decomposed and composed.
    const std::string nfdHangul = "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB\xE1\x84\x80\xE1\x85\xB3\xE1\x86\xAF",
                      nfdDocument = "\xE1\x84\x86\xE1\x85\xAE\xE1\x86\xAB\xE1\x84\x89\xE1\x85\xA5";
    const std::string hangul = u8"\ud55c\uae00", document = u8"\ubb38\uc11c";
    std::string mac = scratch.Path() + "/mac";
    mkdir(mac.c_str(), 0755);
    mkdir((mac + "/" + nfdDocument).c_str(), 0755);
    scratch.Write("mac/" + nfdHangul + ".txt", std::string("1"));
    scratch.Write("mac/" + nfdDocument + "/" + nfdHangul, std::string("2"));
    scratch.Write("mac/plain.txt", std::string("3"));
    Outcome r = Mksfx({"-o", out, mac});
    ASSERT_EQ(r.Code, 0) << r.Output;
    std::vector<std::string> expected = {"plain.txt", document + "/" + hangul, hangul + ".txt"};
    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_NE(r.Output.find("\"" + nfdHangul + ".txt\" stored as \"" + hangul + ".txt\": its Hangul composed"),
              std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("stored as \"" + document + "/" + hangul + "\""), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("plain.txt\" stored"), std::string::npos) << r.Output;
    // Stored in code page 949 now, not as underscores.
    EXPECT_EQ(Shell("unzip -Z1 " + Quote(out) + " 2>/dev/null | grep -c _").Output, "0\n");
    EXPECT_EQ(Mksfx({"--verify", out}).Code, 0);

    // The composed name beside the decomposed one: the same file on Windows.
    scratch.Write("mac/" + hangul + ".txt", std::string("4"));
    r = Mksfx({"-o", out, mac});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("same name on Windows"), std::string::npos) << r.Output;

    // A ZIP made on macOS: Python's zipfile marks the names with flag bit 11.
    std::string maker = "import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z:\n"
                        " for n in sys.argv[2:]: z.writestr(n, 'x')";
    std::string zip = scratch.Path() + "/mac.zip";
    std::vector<std::string> inZip = {nfdHangul + ".txt", "__MACOSX/", "__MACOSX/._" + nfdHangul + ".txt",
                                      "sub/._x", "sub/x", "._top", "sub/.._dots"};
    std::string command = "python3 -c " + Quote(maker) + " " + Quote(zip);
    for (const std::string &n : inZip)
        command += " " + Quote(n);
    ASSERT_EQ(Shell(command).Code, 0);
    r = Mksfx({"-o", out, "--zip", zip});
    ASSERT_EQ(r.Code, 0) << r.Output;
    names = Names();
    expected = {hangul + ".txt", "sub/x", "sub/.._dots"};
    EXPECT_EQ(names, expected);
    EXPECT_NE(r.Output.find("entry \"" + nfdHangul + ".txt\" of \"" + zip + "\" stored as \"" + hangul + ".txt\""),
              std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("4 macOS metadata entries (__MACOSX/, ._*) of \"" + zip +
                            "\" left out; --keep-macos-metadata keeps them"), std::string::npos) << r.Output;
    r = Mksfx({"-q", "-o", out, "--keep-macos-metadata", "--zip", zip});
    ASSERT_EQ(r.Code, 0) << r.Output;
    expected = {hangul + ".txt", "__MACOSX/._" + hangul + ".txt", "sub/._x", "sub/x", "._top", "sub/.._dots"};
    EXPECT_EQ(Names(), expected);

    // Decomposed and composed in one ZIP meet once composed.
    command = "python3 -c " + Quote(maker) + " " + Quote(zip) + " " + Quote(nfdHangul) + " " + Quote(hangul);
    ASSERT_EQ(Shell(command).Code, 0);
    r = Mksfx({"-o", out, "--zip", zip});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("same name on Windows"), std::string::npos) << r.Output;
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
    r = Mksfx({"-o", out, "--follow-symlinks", in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("contains itself"), std::string::npos) << r.Output;
}

TEST_F(BuilderWalk, LinksAreRefusedUnlessFollowed)
{
    // A link in a folder someone else filled could point anywhere: at
    // /etc/shadow when the builder runs as root.
    std::string secret = scratch.Write("secret.txt", std::string("not for shipping"));
    ASSERT_EQ(symlink(secret.c_str(), (in + "/b/shadow").c_str()), 0);
    ASSERT_EQ(symlink((in + "/a").c_str(), (in + "/alink").c_str()), 0);
    Outcome r = Mksfx({"-o", out, in});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("\"b/shadow\" is a symbolic link"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("\"alink\" is a symbolic link"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("--follow-symlinks"), std::string::npos) << r.Output;
    EXPECT_TRUE(FileBytes(out).empty());
    ASSERT_EQ(Mksfx({"-q", "-o", out, "--follow-symlinks", in}).Code, 0);
    std::vector<std::string> names = Names();
    EXPECT_NE(std::find(names.begin(), names.end(), "b/shadow"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "alink/1.txt"), names.end());
}

TEST_F(BuilderWalk, ControlCharactersReachNoTerminal)
{
    // ESC ] 0 ; ... BEL retitles a terminal; ESC [ 2 J clears it.
    const std::string name = "a\x1B]0;owned\x07\x1B[2J.txt\r\n1 entry, 0 failed";
    std::string maker = "import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z: z.writestr(sys.argv[2],'x')";
    std::string zip = scratch.Path() + "/esc.zip", sfx = scratch.Path() + "/esc.exe";
    ASSERT_EQ(Shell("python3 -c " + Quote(maker) + " " + Quote(zip) + " " + Quote(name)).Code, 0);
    ASSERT_EQ(Shell("head -c " + std::to_string(ImageSize) + " " + Quote(MKSFX_STUB_PATH) + " > " + Quote(sfx) +
                    " && cat " + Quote(zip) + " >> " + Quote(sfx)).Code, 0);
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"-o", out, "--zip", zip}, 1},   // refused, naming the entry
        {{"--info", sfx}, 0},
        {{"--verify", sfx}, 1},
    };
    for (const Case &c : cases) {
        Outcome r = Mksfx(c.args);
        EXPECT_EQ(r.Code, c.code) << c.args[0] << ": " << r.Output;
        EXPECT_EQ(r.Output.find('\x1B'), std::string::npos) << c.args[0] << ": " << r.Output;
        EXPECT_EQ(r.Output.find('\x07'), std::string::npos) << c.args[0];
        EXPECT_NE(r.Output.find("a\\x1B]0;owned\\x07\\x1B[2J.txt\\x0D\\x0A1 entry, 0 failed"), std::string::npos)
            << c.args[0] << ": " << r.Output;
        EXPECT_EQ(r.Output.find("\n1 entry, 0 failed"), std::string::npos) << c.args[0] << ": " << r.Output;
    }
    // The escaping itself: whole UTF-8 passes, everything else is escaped.
    const std::pair<std::string, std::string> texts[] = {
        {u8"\ud55c\uae00 ok", u8"\ud55c\uae00 ok"},
        {"a\nOK      central directory\r", "a\\x0AOK      central directory\\x0D"},  // forged lines
        {u8"photo\u202Egpj.exe", "photo\\xE2\\x80\\xAEgpj.exe"},   // shown as photoexe.jpg
        {u8"\u202A\u2066\u2069\u2029", "\\xE2\\x80\\xAA\\xE2\\x81\\xA6\\xE2\\x81\\xA9\xE2\x80\xA9"},
        {"\x7F\xC2\x9B" "2J", "\\x7F\\xC2\\x9B2J"},       // DEL and the C1 control CSI
        {"\xC2\xA0", "\xC2\xA0"},                           // the first character after the C1 controls
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},              // a surrogate
        {"\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},  // overlong forms of '/'
        {"a\xE2\x82", "a\\xE2\\x82"},                       // cut short
    };
    for (const auto &t : texts)
        EXPECT_EQ(mksfx::Printable(t.first), t.second) << t.second;
}

}  // namespace
