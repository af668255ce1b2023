// The walk over local headers, on made-up self-extracting files, and the
// stored-entry copy that reads from where the walk leaves the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/SFXmisc.h"
#include "support/SfxArchive.h"

namespace {

Record Stored(const std::string &name, const std::string &content)
{
    Record r;
    r.name = name;
    r.data = ToBytes(content);
    r.crc = Crc32Of(r.data);
    return r;
}

std::vector<std::string> Names(const std::vector<WalkedEntry> &walked)
{
    std::vector<std::string> names;
    for (const WalkedEntry &e : walked)
        names.push_back(e.name);
    return names;
}

typedef std::vector<std::string> Strings;

class ZipWalkTest : public ::testing::Test {
protected:
    std::vector<WalkedEntry> Walk(const Bytes &archive, const std::function<void(const WalkedEntry &)> &work = nullptr)
    {
        return WalkSelfExtractor(WriteSelfExtractor(scratch_, "sfx.exe", archive), work, 100);
    }
    // Reads what follows the name and extra field of the current entry.
    static std::string DataOf(int32_t n)
    {
        std::string s(n, '\0');
        int32_t got = FileRead(ArchiveFile, &s[0], (uint32_t)n);
        s.resize(got > 0 ? got : 0);
        return s;
    }
    ScratchFolder scratch_;
};

// --- Records the walk steps over or accepts --------------------------------

class ZipWalkRecords : public ZipWalkTest {};

TEST_F(ZipWalkRecords, PlainArchiveListsEveryEntryInOrder)
{
    Bytes a;
    PutRecord(a, Stored("a.txt", "alpha"));
    PutRecord(a, Stored("dir/", ""));
    PutRecord(a, Stored("dir/b.txt", "beta"));
    PutCentralDirectory(a, "a.txt");
    std::vector<WalkedEntry> w = Walk(a);
    EXPECT_EQ(Names(w), (Strings{"a.txt", "dir/", "dir/b.txt"}));
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].headerPosition, ImageSize);
    EXPECT_EQ(w[1].headerPosition, ImageSize + 30 + 5 + 5);
    EXPECT_EQ(w[2].remainingInput, 4);
}

TEST_F(ZipWalkRecords, OneDataDescriptorIsSteppedOver)
{
    Bytes a;
    Record r = Stored("one", "11111");
    r.flags = 8;
    PutRecord(a, r);
    PutDescriptor(a, r.crc, 5);
    PutRecord(a, Stored("two", "2"));
    EXPECT_EQ(Names(Walk(a)), (Strings{"one", "two"}));
}

// APPNOTE 4.3.9.3: the descriptor's signature is optional.  Without it the
// descriptor is known by its values, which must be the local header's; a
// ZIP64 descriptor (8-byte sizes), with or without the signature, is
// refused, not read as the narrow form.
TEST_F(ZipWalkRecords, DescriptorsAfterBit3EntriesWithAndWithoutSignature)
{
    struct {
        const char *what;
        bool signature, wide, sameValues;
        Strings names;
        uint8_t end;
    } cases[] = {
        {"signed", true, false, true, {"one", "two"}, WalkAtDirectory},
        {"signed, other values", true, false, false, {"one", "two"}, WalkAtDirectory},
        {"unsigned", false, false, true, {"one", "two"}, WalkAtDirectory},
        {"unsigned, other values", false, false, false, {"one"}, WalkCut},
        {"signed ZIP64", true, true, true, {"one"}, WalkZip64},
        {"unsigned ZIP64", false, true, true, {"one"}, WalkZip64},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (size_t n : {0u, 5u}) {
            SCOPED_TRACE(n);
            Bytes a;
            Record r = Stored("one", std::string(n, '1'));
            r.flags = 8;
            PutRecord(a, r);
            uint32_t crc = c.sameValues ? r.crc : r.crc ^ 1;
            if (c.signature)
                Put32(a, DescriptorSignature);
            Put32(a, crc);
            for (int i = 0; i < 2; i++) {
                Put32(a, (uint32_t)n);
                if (c.wide)
                    Put32(a, 0);
            }
            PutRecord(a, Stored("two", "2"));
            PutCentralDirectory(a, "one");
            EXPECT_EQ(Names(Walk(a)), c.names);
            EXPECT_EQ(WalkEnded, c.end);
        }
    }
}

TEST_F(ZipWalkRecords, TwoDescriptorsInARowAreBothSteppedOver)
{
    Bytes a;
    PutRecord(a, Stored("one", "1"));
    PutDescriptor(a, 0, 1);
    PutDescriptor(a, 0, 1);
    PutRecord(a, Stored("two", "2"));
    PutDescriptor(a, 0, 1);
    PutCentralDirectory(a, "one");
    EXPECT_EQ(Names(Walk(a)), (Strings{"one", "two"}));
}

TEST_F(ZipWalkRecords, ThousandsOfDescriptorsNeitherRecurseNorStop)
{
    Bytes a;
    PutRecord(a, Stored("one", "1"));
    for (int i = 0; i < 20000; i++)
        PutDescriptor(a, 0, 1);
    PutRecord(a, Stored("two", "2"));
    EXPECT_EQ(Names(Walk(a)), (Strings{"one", "two"}));
}

TEST_F(ZipWalkRecords, RecordStartingWith00000050IsAnEntry)
{
    Bytes a;
    Record odd = Stored("odd", "xyz");
    odd.signature = OddLocalSignature;
    PutRecord(a, odd);
    PutRecord(a, Stored("next", "n"));
    std::vector<WalkedEntry> w = Walk(a);
    EXPECT_EQ(Names(w), (Strings{"odd", "next"}));
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w[0].remainingInput, 3);
}

TEST_F(ZipWalkRecords, ExtraFieldIsSkippedForDataAndAdvance)
{
    Bytes a;
    Record r = Stored("with-extra", "payload");
    r.extra = Bytes(37, 0xAB);
    PutRecord(a, r);
    PutRecord(a, Stored("after", "z"));
    std::vector<std::string> data;
    std::vector<WalkedEntry> w = Walk(a, [&](const WalkedEntry &e) {
        SeekEntryData(e.headerPosition);
        data.push_back(DataOf(RemainingInput));
    });
    EXPECT_EQ(Names(w), (Strings{"with-extra", "after"}));
    EXPECT_EQ(data, (Strings{"payload", "z"}));
}

TEST_F(ZipWalkRecords, EntryWorkThatReadsTooMuchOrNothingNeverShiftsTheWalk)
{
    Bytes a;
    PutRecord(a, Stored("a", std::string(100, 'a')));
    PutRecord(a, Stored("b", std::string(10, 'b')));
    PutRecord(a, Stored("c", "c"));
    int calls = 0;
    std::vector<WalkedEntry> w = Walk(a, [&](const WalkedEntry &) {
        if (calls++ == 0)
            DataOf(150);    // past the next header
    });
    EXPECT_EQ(Names(w), (Strings{"a", "b", "c"}));
}

TEST_F(ZipWalkRecords, SettingsBlockMovesTheStartOfTheWalk)
{
    Bytes a = {'Q', 'B', 'W', 20, 0, 0, 0, 0, 0, 0, 0};
    a.resize(20, 0x50);     // bytes only the block length accounts for
    PutRecord(a, Stored("first", "1"));
    std::vector<WalkedEntry> w = Walk(a);
    EXPECT_EQ(Names(w), (Strings{"first"}));
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w[0].headerPosition, ImageSize + 20);
}

// --- Entry names -------------------------------------------------------------

class ZipWalkNames : public ZipWalkTest {};

TEST_F(ZipWalkNames, ZeroByteCutsTheNameButNotTheAdvance)
{
    Bytes a;
    PutRecord(a, Stored(std::string("visible\0hidden", 14), "data"));
    PutRecord(a, Stored("next", "n"));
    EXPECT_EQ(Names(Walk(a)), (Strings{"visible", "next"}));
}

TEST_F(ZipWalkNames, NamesAroundTheBufferSizeAreReadWhole)
{
    for (size_t n : {257u, 258u, 259u, 1000u, 65535u}) {
        SCOPED_TRACE(n);
        std::string name(n, 'x');
        for (size_t i = 0; i < n; i++)
            name[i] = (char)('a' + i % 26);
        Bytes a;
        PutRecord(a, Stored(name, "data"));
        PutRecord(a, Stored("after", "z"));
        std::string dataAfterName;
        std::vector<WalkedEntry> w = Walk(a, [&](const WalkedEntry &e) {
            if (e.name != "after")
                dataAfterName = DataOf(4);
        });
        EXPECT_EQ(Names(w), (Strings{name, "after"}));
        // The name was consumed whole: the file stands at the data.
        EXPECT_EQ(dataAfterName, "data");
    }
}

TEST_F(ZipWalkNames, NameCutByTheEndOfTheFileEndsTheWalkAfterIt)
{
    Bytes a;
    Record r = Stored("abcdefghij", "");
    PutRecord(a, r);
    a.resize(a.size() - 4);
    EXPECT_EQ(Names(Walk(a)), (Strings{"abcdef"}));
}

TEST_F(ZipWalkNames, EmptyNameIsReportedAsEmpty)
{
    Bytes a;
    PutRecord(a, Stored("", "x"));
    std::vector<WalkedEntry> w = Walk(a);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].name, "");
}

// --- Ends of the walk --------------------------------------------------------

class ZipWalkEnds : public ZipWalkTest {};

TEST_F(ZipWalkEnds, CentralDirectoryFirstListsNothing)
{
    Bytes a;
    PutCentralDirectory(a, "a.txt");
    EXPECT_TRUE(Walk(a).empty());
    EXPECT_EQ(WalkEnded, WalkAtDirectory);
}

// A sound archive's walk ends at its central directory, or at the end record
// when it has no entries; bytes after the end record are not the walk's.
TEST_F(ZipWalkEnds, SoundArchivesEndAtTheDirectory)
{
    Bytes a;
    PutRecord(a, Stored("one", "1"));
    PutCentralDirectory(a, "one");
    a.insert(a.end(), 100, 0x41);
    EXPECT_EQ(Names(Walk(a)), (Strings{"one"}));
    EXPECT_EQ(WalkEnded, WalkAtDirectory);
    Bytes b;
    PutRecord(b, Stored("one", "1"));
    size_t end = b.size();
    PutCentralDirectory(b, "one");
    b.erase(b.begin() + (long)end, b.begin() + (long)end + 46 + 3);
    EXPECT_EQ(Names(Walk(b)), (Strings{"one"}));
    EXPECT_EQ(WalkEnded, WalkAtDirectory);
}

// Every other end leaves the archive unread past it.
TEST_F(ZipWalkEnds, EveryOtherEndIsACut)
{
    struct {
        const char *what;
        std::function<void(Bytes &)> after;
    } cases[] = {
        {"end of the file", [](Bytes &) {}},
        {"bytes between entries", [](Bytes &a) {
             a.insert(a.end(), 3, 0x41);
             PutRecord(a, Stored("two", "2"));
             PutCentralDirectory(a, "one");
         }},
        {"a header cut short", [](Bytes &a) {
             PutRecord(a, Stored("two", "2"));
             a.resize(a.size() - 10);
         }},
        {"an unknown record", [](Bytes &a) { Put32(a, 0x08064B50); a.resize(a.size() + 40); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes a;
        PutRecord(a, Stored("one", "1"));
        c.after(a);
        WalkEnded = WalkAtDirectory;
        EXPECT_EQ(Names(Walk(a)), (Strings{"one"}));
        EXPECT_EQ(WalkEnded, WalkCut);
    }
}

TEST_F(ZipWalkEnds, NothingAfterTheImageListsNothing)
{
    EXPECT_TRUE(Walk(Bytes()).empty());
}

TEST_F(ZipWalkEnds, WrongBlockLengthListsNothing)
{
    Bytes a = {'Q', 'B', 'W', 12, 0, 0, 0, 0, 0, 0, 0};    // one byte too many
    PutRecord(a, Stored("first", "1"));
    EXPECT_TRUE(Walk(a).empty());
}

TEST_F(ZipWalkEnds, TruncatedHeaderEndsQuietly)
{
    for (size_t keep : {1u, 4u, 29u}) {
        SCOPED_TRACE(keep);
        Bytes a;
        PutRecord(a, Stored("one", "1"));
        size_t second = a.size();
        PutRecord(a, Stored("two", "2"));
        a.resize(second + keep);
        std::vector<WalkedEntry> w = Walk(a);
        EXPECT_EQ(Names(w), (Strings{"one"}));
        EXPECT_EQ(RemainingInput, 0);
    }
}

TEST_F(ZipWalkEnds, TruncatedDataEndsQuietly)
{
    Bytes a;
    PutRecord(a, Stored("one", std::string(1000, '1')));
    a.resize(a.size() - 500);
    EXPECT_EQ(Names(Walk(a)), (Strings{"one"}));
}

TEST_F(ZipWalkEnds, DescriptorCutShortEndsQuietly)
{
    Bytes a;
    PutRecord(a, Stored("one", "1"));
    PutDescriptor(a, 0, 1);
    a.resize(a.size() - 6);
    EXPECT_EQ(Names(Walk(a)), (Strings{"one"}));
}

TEST_F(ZipWalkEnds, GarbageAfterAnEntryEndsTheWalk)
{
    Bytes a;
    PutRecord(a, Stored("one", "1"));
    Bytes garbage = ToBytes("PK\x05\x05 not a record at all, but long enough");
    a.insert(a.end(), garbage.begin(), garbage.end());
    EXPECT_EQ(Names(Walk(a)), (Strings{"one"}));
}

TEST_F(ZipWalkEnds, Bit3WithZeroSizeLandsOnTheData)
{
    // The advance lands on the data: ordinary data ends the walk there...
    Bytes a;
    Record r = Stored("streamed", "just some text, no signature here");
    r.flags = 8;
    r.compressedSize = 0;
    PutRecord(a, r);
    PutDescriptor(a, r.crc, (uint32_t)r.data.size());
    PutRecord(a, Stored("lost", "l"));
    EXPECT_EQ(Names(Walk(a)), (Strings{"streamed"}));

    // ...while data that begins with a local header is taken for one.
    Bytes inner;
    PutRecord(inner, Stored("inner", "i"));
    Bytes b;
    Record outer;
    outer.name = "outer";
    outer.flags = 8;
    outer.compressedSize = 0;
    outer.data = inner;
    PutRecord(b, outer);
    EXPECT_EQ(Names(Walk(b)), (Strings{"outer", "inner"}));
}

TEST_F(ZipWalkEnds, CompressedSizeOf2GiBOrMoreEndsTheWalk)
{
    // 0xFFFFFFFF - 30 - 1 + 1 wraps a 32-bit advance exactly back onto the
    // header itself: the walk would list the entry for ever.
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFE1u, 0xFFFFFFE2u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(size);
        Bytes a;
        PutRecord(a, Stored("one", "1"));
        Record big = Stored("b", "data");
        big.compressedSize = size;
        PutRecord(a, big);
        PutRecord(a, Stored("one", "1"));
        std::vector<WalkedEntry> w = Walk(a);
        EXPECT_EQ(Names(w), (Strings{"one", "b"}));
        EXPECT_EQ(RemainingInput, 0);
        EXPECT_EQ(WalkEnded, WalkCut);
    }
}

TEST_F(ZipWalkEnds, AdvanceFromAHeaderNearTheTopOfTheRangeFails)
{
    LocalHeader.NameLength = 10;
    LocalHeader.ExtraLength = 0;
    LocalHeader.CompressedSize = 0;
    WalkEnded = WalkAtDirectory;
    EXPECT_FALSE(AdvanceToNextHeader(0x7FFFFFF0));
    EXPECT_EQ(WalkEnded, WalkCut);
    WalkEnded = WalkAtDirectory;
    EXPECT_FALSE(AdvanceToNextHeader(-1));
    EXPECT_EQ(RemainingInput, 0);
    EXPECT_EQ(WalkEnded, WalkCut);
}

// --- The stored copy ---------------------------------------------------------

class StoredCopy : public ZipWalkTest {
protected:
    void SetUp() override { EnsureCrcTable(); }
    // Walks a one-entry archive and copies the entry to `output` with the
    // budget the work function leaves in RemainingInput.
    bool Copy(const Bytes &archive, const std::string &output, std::function<void()> adjust = nullptr)
    {
        bool crcMatches = false, first = true;
        Walk(archive, [&](const WalkedEntry &e) {
            if (!first)
                return;
            first = false;
            SeekEntryData(e.headerPosition);
            if (adjust)
                adjust();
            OutputFile = FileCreate(output.c_str());
            ASSERT_NE(OutputFile, NoFile);
            RunningCrc = 0xFFFFFFFF;
            CopyStoredEntry();
            FileClose(OutputFile);
            crcMatches = (RunningCrc ^ 0xFFFFFFFF) == LocalHeader.Crc32;
        });
        return crcMatches;
    }
};

TEST_F(StoredCopy, ContentOverSeveralPortionsIsCopiedAndPassesItsCrc)
{
    for (size_t n : {0u, 1u, 32767u, 32768u, 32769u, 100000u}) {
        SCOPED_TRACE(n);
        std::string content(n, 0);
        for (size_t i = 0; i < n; i++)
            content[i] = (char)(i * 7 + i / 251);
        Bytes a;
        PutRecord(a, Stored("f", content));
        PutRecord(a, Stored("g", "after"));
        std::string out = scratch_.Path() + "/out";
        EXPECT_TRUE(Copy(a, out));
        EXPECT_EQ(ReadAll(out), ToBytes(content));
        EXPECT_EQ(RemainingInput, 0);
    }
}

TEST_F(StoredCopy, ShortWriteFailsTheCrc)
{
    Bytes a;
    PutRecord(a, Stored("f", std::string(5000, 'q')));
    EXPECT_FALSE(Copy(a, "/dev/full"));
}

TEST_F(StoredCopy, ArchiveCutShortStopsWithNothingRemaining)
{
    Bytes a;
    PutRecord(a, Stored("f", std::string(70000, 'c')));
    a.resize(a.size() - 40000);
    std::string out = scratch_.Path() + "/out";
    EXPECT_FALSE(Copy(a, out));
    EXPECT_EQ(RemainingInput, 0);
    EXPECT_EQ(ReadAll(out).size(), 30000u);
}

TEST_F(StoredCopy, NegativeBudgetReadsAndWritesNothing)
{
    Bytes a;
    Record r = Stored("f", "0123456789");
    r.crc = 0;      // the CRC of no bytes
    PutRecord(a, r);
    std::string out = scratch_.Path() + "/out";
    int32_t position = -2;
    EXPECT_TRUE(Copy(a, out, [&] {
        RemainingInput = -2;
        position = LastSeekPosition;
    }));
    EXPECT_EQ(RemainingInput, 0);
    EXPECT_TRUE(ReadAll(out).empty());
    // The next read would still see the entry's first byte.
    EXPECT_EQ(position, ImageSize + 30 + 1);
}

} // namespace

// The entry's time from its extra field: NTFS first (the finer), else the
// extended timestamp when its flags say a last-write time follows; a block
// that runs past the field is not read.
TEST(ZipExtraTimes, EachSourceAndEachDamage)
{
    const uint64_t unix2001 = 981173106;   // 2001-02-03 04:05:06 UTC
    const uint64_t asFileTime = unix2001 * 10000000 + 116444736000000000ULL;
    const uint64_t ntfs = 0x01D2345678ABCDEFULL;
    auto ut = [](uint8_t flags, uint32_t t) {
        return std::vector<uint8_t>{0x55, 0x54, 5, 0, flags, (uint8_t)t, (uint8_t)(t >> 8), (uint8_t)(t >> 16),
                                    (uint8_t)(t >> 24)};
    };
    std::vector<uint8_t> nt = {0x0A, 0, 32, 0, 0, 0, 0, 0, 1, 0, 24, 0};
    for (int i = 0; i < 8; i++)
        nt.push_back((uint8_t)(ntfs >> (8 * i)));
    nt.resize(nt.size() + 16, 0x77);   // last access, creation
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto cut = [](std::vector<uint8_t> a) {
        a.pop_back();
        return a;
    };
    std::vector<uint8_t> unicodePath = {0x75, 0x70, 6, 0, 1, 0, 0, 0, 0, 'a'};
    struct Case {
        const char *what;
        std::vector<uint8_t> extra;
        uint64_t time;
    } cases[] = {
        {"none", {}, 0},
        {"extended timestamp", ut(1, (uint32_t)unix2001), asFileTime},
        {"after another field", join(unicodePath, ut(3, (uint32_t)unix2001)), asFileTime},
        {"extended timestamp without a last-write time", ut(6, (uint32_t)unix2001), 0},
        {"before 1970", ut(1, 0xFFFFFFFF), 116444736000000000ULL - 10000000},
        {"NTFS", nt, ntfs},
        {"NTFS wins over the extended timestamp", join(ut(1, (uint32_t)unix2001), nt), ntfs},
        {"NTFS cut short", cut(nt), 0},
        {"extended timestamp cut short", cut(ut(1, 1)), 0},
        {"a length past the field", {0x55, 0x54, 9, 0, 1, 1, 2, 3, 4}, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExtraFieldTime(c.extra.data(), (uint32_t)c.extra.size()), c.time) << c.what;
}
