// Entry names (EntryNames): which names may be written, the target path a
// name becomes, the name an entry is used under, and the Hangul composition
// of decomposed names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/EntryNames.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "support/SfxArchive.h"
#include "RecordBytes.h"

#include <zlib.h>

// The names an entry may not have: each would be written outside the target
// folder, into a device, or not at all.
TEST(EntryNames, RefusedWhereWindowsWouldLeaveTheFolderOrReachADevice)
{
    const char *const refused[] = {
        "../up", "a/../../b", "a\\.. \\b", "a/.../b", "..", ". .",           // parents
        "/root", "\\x", "\\\\server\\share\\x", "C:x", "c:\\x", "f.txt:ads", // roots, streams
        "NUL", "nul.txt", "sub/aux.dat", "CON", "Com1.log", "lpt9 .x", "prn..", "LPT0",
        "conin$", "CONOUT$.txt", "COM\xC2\xB9", "a/Lpt\xC2\xB3.z/b", "com\xC2\xB2.txt", // devices
        "w*.txt", "q?", "say\"hi\"", "a<b", "a>b", "pi|pe", "c\x01", "tab\t", "\x1F",
    };
    for (const char *name : refused)
        EXPECT_TRUE(IsUnsafeName(name)) << name;
    const char *const allowed[] = {
        "a.txt", "dir/sub/file", "dir\\file", "a/..b/c..d/x.y", "CONFIG.SYS", "nul_", "com10",
        "lpt", "COMx", "console.txt", "a.nul", "auxiliary/x", "com1x.txt", ".hidden", "x/./y",
        "\xB0\xA1\xB3\xAA.txt", "\xB9\xAE\x5C\xC0\xDA", "dir/", "COM\xC2\xB4", "R\xC3\xA9sum\xC3\xA9.txt",
        "\xEF\xBC\x8E\xEF\xBC\x8E/x", "\xF0\x9F\x98\x80.txt",   // superscript 4, fullwidth dots, emoji
    };
    for (const char *name : allowed)
        EXPECT_FALSE(IsUnsafeName(name)) << name;
}

TEST(EntryNames, TargetPathJoinsWithOneBackslash)
{
    const struct {
        const char *folder, *name, *path;
    } cases[] = {
        {"D:\\out", "a/b.txt", "D:\\out\\a\\b.txt"},
        {"D:\\out\\", "a\\b", "D:\\out\\a\\b"},
        {"D:", "x", "D:\\x"},
        {"", "x", "\\x"},
    };
    for (const auto &c : cases) {
        strcpy(TargetFolder, c.folder);
        Text name = {(char *)c.name, (uint32_t)strlen(c.name)};
        char *path = BuildTargetPath(name);
        EXPECT_STREQ(path, c.path);
        FreeMem(path);
    }
}

// The name an entry is used under: the Unicode Path field when its CRC-32
// matches the stored name, flag bit 11 for UTF-8, code page 949 otherwise;
// and the name rule judges that name, not the stored one.
TEST(EntryNames, UsedNameComesFromTheUnicodePathFieldBit11OrCodePage949)
{
    EnsureCrcTable();
    auto field = [](const std::string &stored, const std::string &utf8, int version, uint32_t crcFix) {
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)stored.data(), (uInt)stored.size()) ^ crcFix;
        std::vector<uint8_t> f = mksfx::UnicodePathFieldBytes(crc, utf8, (uint8_t)version);
        return std::string(f.begin(), f.end());
    };
    const std::string other = std::string("\x0A\x00\x04\x00", 4) + "abcd";   // an NTFS-like field first
    const struct {
        const char *what;
        std::string stored;
        uint16_t flags;
        std::string extra, used;
        bool unsafe;
    } cases[] = {
        {"cp949", "\xB0\xA1\xB3\xAA.txt", 0, "", "\xEA\xB0\x80\xEB\x82\x98.txt", false},
        {"bit 11", "R\xC3\xA9sum\xC3\xA9.txt", Utf8NameFlag, "", "R\xC3\xA9sum\xC3\xA9.txt", false},
        {"bad UTF-8", "\xC0\xAE\xC0\xAE/x\xED\xA0\x80", Utf8NameFlag, "",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},
        {"field", "R_sum_.txt", 0, other + field("R_sum_.txt", "R\xC3\xA9sum\xC3\xA9.txt", 1, 0),
         "R\xC3\xA9sum\xC3\xA9.txt", false},
        {"stale field", "R_sum_.txt", 0, field("R_sum_.txt", "R\xC3\xA9sum\xC3\xA9.txt", 1, 1), "R_sum_.txt", false},
        {"version 2", "R_sum_.txt", 0, field("R_sum_.txt", "R\xC3\xA9sum\xC3\xA9.txt", 2, 0), "R_sum_.txt", false},
        {"cut field", "R_sum_.txt", 0, field("R_sum_.txt", "R\xC3\xA9sum\xC3\xA9.txt", 1, 0).substr(0, 12),
         "R_sum_.txt", false},
        {"field climbs", "__/evil", 0, field("__/evil", "../evil", 1, 0), "../evil", true},
        {"field device", "COM_", 0, field("COM_", "COM\xC2\xB9", 1, 0), "COM\xC2\xB9", true},
        {"cp949 device", "COM\xA9\xF6.log", 0, "", "COM\xC2\xB9.log", true},
        // A pair the table cannot read is one replacement (glibc takes it in
        // and reports an error with nothing left); what follows it stays.
        {"unmapped pair", "\xA2\xE8", 0, "", "\xEF\xBF\xBD", false},
        {"unmapped pair inside", "a\xA2\xE8" "b/c", 0, "", "a\xEF\xBF\xBD" "b/c", false},
        {"lead byte before a separator", "\xB0/..", 0, "", "\xEF\xBF\xBD/..", true},
        // Decomposed Hangul, as macOS writes names, arrives composed: "한글.txt".
        {"bit 11, decomposed Hangul", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB\xE1\x84\x80\xE1\x85\xB3\xE1\x86\xAF.txt",
         Utf8NameFlag, "", "\xED\x95\x9C\xEA\xB8\x80.txt", false},
        {"field, decomposed Hangul", "__.txt", 0,
         field("__.txt", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB\xE1\x84\x80\xE1\x85\xB3\xE1\x86\xAF.txt", 1, 0),
         "\xED\x95\x9C\xEA\xB8\x80.txt", false},
    };
    for (const auto &c : cases) {
        Text name = {0, 0};
        FixedTextToString(name, c.stored.data(), (uint32_t)c.stored.size());
        EntryNameToUtf8(name, c.flags, (const uint8_t *)c.extra.data(), (uint32_t)c.extra.size());
        EXPECT_EQ(std::string(name.Data, name.Length), c.used) << c.what;
        EXPECT_EQ(IsUnsafeName(name.Data), c.unsafe) << c.what;
        TextFree(name);
    }
}

// Hangul composition of decomposed names: the jamo of a syllable become the
// syllable, whatever stands around them; what cannot compose stays.
TEST(HangulComposition, JamoBecomeSyllablesAndTheRestStays)
{
    // ᄒ ᅡ ᆫ ᄀ ᅳ ᆯ: leading consonants, vowels, trailing consonants.
    const std::string h = "\xE1\x84\x92", a = "\xE1\x85\xA1", n = "\xE1\x86\xAB", g = "\xE1\x84\x80",
                      eu = "\xE1\x85\xB3", l = "\xE1\x86\xAF";
    const std::string ha = "\xED\x95\x98", han = "\xED\x95\x9C", geul = "\xEA\xB8\x80", ga = "\xEA\xB0\x80";
    const struct {
        const char *what;
        std::string in, out;
    } cases[] = {
        {"L+V", h + a, ha},
        {"L+V+T", h + a + n, han},
        {"two syllables", h + a + n + g + eu + l, han + geul},
        {"the first and last of each range", "\xE1\x84\x80\xE1\x85\xA1" "\xE1\x84\x92\xE1\x85\xB5\xE1\x87\x82",
         ga + "\xED\x9E\xA3"},
        {"mixed with other text", "dir/" + h + a + n + " (1) R\xC3\xA9sum\xC3\xA9.txt", "dir/" + han + " (1) R\xC3\xA9sum\xC3\xA9.txt"},
        {"already composed", han + geul + ".txt", han + geul + ".txt"},
        {"a T after a composed syllable stays apart", ha + n, ha + n},
        {"lone L", h + ".txt", h + ".txt"},
        {"lone V", a + h, a + h},
        {"lone T", n + "x", n + "x"},
        {"L before a composed syllable", h + ha, h + ha},
        {"a T after an LVT cannot attach", han + n, han + n},
        {"a T after a T cannot attach", h + a + n + l, han + l},
        {"a T after other text", "x" + n, "x" + n},
        {"U+11A7 is no trailing consonant", ha + "\xE1\x86\xA7", ha + "\xE1\x86\xA7"},
        {"an old L (U+1113) stays", "\xE1\x84\x93" + a, "\xE1\x84\x93" + a},
        {"cut at the end", h + "\xE1\x85", h + "\xE1\x85"},
        {"empty", "", ""},
    };
    for (const auto &c : cases) {
        std::string text = c.in;
        uint32_t length = ComposeHangul(&text[0], (uint32_t)text.size());
        EXPECT_EQ(text.substr(0, length), c.out) << c.what;
    }
}
