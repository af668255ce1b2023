// The inflate decoder through the real file layer: zlib's raw deflate output
// as the oracle for valid streams, hand-made streams for what zlib never
// writes.
#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"
#include "support/BitWriter.h"
#include "support/TempFile.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// ---------------------------------------------------------------------------
// Test data and the zlib oracle.

Bytes TextLike(size_t n, uint32_t seed)
{
    static const char *words[] = {"the ",   "archive ", "window ", "of ",    "inflate ", "code ",
                                  "length ", "bits ",   "and ",    "table ", "\n",       "entry ",
                                  "a ",     "decoder ", "CRC ",   "32768 ", "folder ", "\xc7\xd1 "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const char *w = words[rng() % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes Random(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto &b : out)
        b = (uint8_t)rng();
    return out;
}

Bytes Deflate(const Bytes &data, int level = 6, int strategy = Z_DEFAULT_STRATEGY, size_t flushEvery = 0)
{
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, data.size()) + 64 + (flushEvery ? data.size() / flushEvery * 16 : 0));
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    size_t pos = 0;
    do {
        size_t n = flushEvery ? std::min(flushEvery, data.size() - pos) : data.size() - pos;
        z.next_in = const_cast<uint8_t *>(data.data() + pos);
        z.avail_in = (uInt)n;
        pos += n;
        int flush = pos == data.size() ? Z_FINISH : Z_FULL_FLUSH;
        int rc = deflate(&z, flush);
        EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END);
    } while (pos < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t Crc(const Bytes &data) { return (uint32_t)crc32(0, data.data(), (uInt)data.size()); }

// ---------------------------------------------------------------------------
// Deflate symbols built from the format's rules, independently of the
// decoder's tables.

struct SymbolTable {
    std::vector<unsigned> base, extra;
};

SymbolTable LengthSymbols()   // symbols 257..285
{
    SymbolTable t;
    unsigned len = 3;
    for (unsigned sym = 257; sym < 285; sym++) {
        unsigned e = sym < 265 ? 0 : (sym - 261) / 4;
        t.base.push_back(len);
        t.extra.push_back(e);
        len += 1u << e;
    }
    t.base.push_back(258);
    t.extra.push_back(0);
    return t;
}

SymbolTable DistanceSymbols()   // symbols 0..29
{
    SymbolTable t;
    unsigned d = 1;
    for (unsigned sym = 0; sym < 30; sym++) {
        unsigned e = sym < 4 ? 0 : (sym - 2) / 2;
        t.base.push_back(d);
        t.extra.push_back(e);
        d += 1u << e;
    }
    return t;
}

// Writes a match of length n at distance d with the given codes.
void PutMatch(BitWriter &w, const HuffmanCode &lit, const HuffmanCode &dist, unsigned n, unsigned d)
{
    static const SymbolTable ls = LengthSymbols(), ds = DistanceSymbols();
    unsigned l = n == 258 ? 28 : 0;
    while (n != 258 && l + 1 < 28 && ls.base[l + 1] <= n)
        l++;
    lit.Put(w, 257 + l);
    w.Bits(n - ls.base[l], ls.extra[l]);
    unsigned s = 0;
    while (s + 1 < 30 && ds.base[s + 1] <= d)
        s++;
    dist.Put(w, s);
    w.Bits(d - ds.base[s], ds.extra[s]);
}

void PutLiterals(BitWriter &w, const HuffmanCode &lit, const std::string &text)
{
    for (unsigned char c : text)
        lit.Put(w, c);
}

// ---------------------------------------------------------------------------
// The decoder through scratch files.

class InflateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureCrcTable();
        LocalHeader = LocalFileHeader();
    }
    void TearDown() override
    {
        FreeMem(CrcTable);
        CrcTable = 0;
    }

    struct Outcome {
        Bytes out;
        uint32_t crc;           // RunningCrc, finished
        int32_t remaining;      // RemainingInput afterwards
    };

    static const int32_t WholeFile = INT32_MIN;

    // Runs Inflate over `file' with RemainingInput = size (the whole file by
    // default).  An output path may be given to test failing writes.
    Outcome Run(const Bytes &file, int32_t size = WholeFile, const char *outputPath = 0)
    {
        std::string in = dir_.Write("in.bin", file);
        std::string out = dir_.Path() + "/out.bin";
        ArchiveFile = FileOpenRead(in.c_str());
        OutputFile = outputPath ? FileOpenRead(outputPath) : FileCreate(out.c_str());
        EXPECT_NE(ArchiveFile, NoFile);
        EXPECT_NE(OutputFile, NoFile);
        uint32_t crc = InflateStream(size == WholeFile ? (int32_t)file.size() : size);
        FileClose(ArchiveFile);
        FileClose(OutputFile);
        Outcome o;
        o.out = outputPath ? Bytes() : ReadAll(out);
        o.crc = crc;
        o.remaining = RemainingInput;
        return o;
    }

    // Inflates and expects exactly `data' with a matching CRC.
    void ExpectRoundTrip(const Bytes &data, const Bytes &compressed)
    {
        Outcome o = Run(compressed);
        ASSERT_EQ(o.out.size(), data.size());
        EXPECT_TRUE(o.out == data);
        EXPECT_EQ(o.crc, Crc(data));
    }

    // Expects decoding to stop at bad data with `before' written.
    void ExpectBadData(const Bytes &stream, const std::string &before)
    {
        Outcome o = Run(stream);
        EXPECT_EQ(std::string(o.out.begin(), o.out.end()), before);
    }

    ScratchFolder dir_;
};

// ---------------------------------------------------------------------------

class InflateZlib : public InflateTest {};

TEST_F(InflateZlib, EveryLevelAndStrategy)
{
    Bytes text = TextLike(200000, 1);
    Bytes mixed = TextLike(60000, 2);
    Bytes noise = Random(40000, 3);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    for (const Bytes *data : {&text, &mixed}) {
        for (int level = 0; level <= 9; level++) {
            SCOPED_TRACE("level " + std::to_string(level));
            ExpectRoundTrip(*data, Deflate(*data, level));
        }
        for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
            SCOPED_TRACE("strategy " + std::to_string(strategy));
            ExpectRoundTrip(*data, Deflate(*data, 6, strategy));
            ExpectRoundTrip(*data, Deflate(*data, 9, strategy));
        }
    }
}

TEST_F(InflateZlib, OutputSizesAroundTheWindow)
{
    for (size_t n : {0, 1, 32767, 32768, 32769, 65536, 1048577}) {
        SCOPED_TRACE("size " + std::to_string(n));
        Bytes data = TextLike(n, (uint32_t)n);
        ExpectRoundTrip(data, Deflate(data));
        ExpectRoundTrip(data, Deflate(data, 0));
    }
    // An empty entry leaves the register untouched.
    Outcome o = Run(Deflate(Bytes()));
    EXPECT_TRUE(o.out.empty());
    EXPECT_EQ(o.crc, 0u);
}

TEST_F(InflateZlib, StoredAndManyBlocks)
{
    Bytes noise = Random(300000, 4);         // incompressible: stored blocks
    ExpectRoundTrip(noise, Deflate(noise, 6));
    Bytes text = TextLike(300000, 5);
    // A full flush every 1000 bytes: hundreds of blocks, each followed by an
    // empty stored block.
    ExpectRoundTrip(text, Deflate(text, 6, Z_DEFAULT_STRATEGY, 1000));
    ExpectRoundTrip(text, Deflate(text, 1, Z_FIXED, 777));
}

TEST_F(InflateZlib, FixedTablesOutliveTheirEntry)
{
    // The fixed tables, built by the first fixed block, are kept for the
    // run below the tables of every later dynamic block: entries of both
    // kinds in turn, the dynamic ones with long codes (sub-tables), must
    // leave them intact.
    Bytes text = TextLike(70000, 15), noise = Random(50000, 16);
    Bytes skewed(60000);
    for (size_t i = 0; i < skewed.size(); i++)
        skewed[i] = (uint8_t)(noise[i % noise.size()] % (1 + i % 251));
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ExpectRoundTrip(text, Deflate(text, 6, Z_FIXED));
        ExpectRoundTrip(skewed, Deflate(skewed, 6, Z_HUFFMAN_ONLY));
        ExpectRoundTrip(noise, Deflate(noise, 1, Z_FIXED));
        ExpectRoundTrip(text, Deflate(text, 9));
    }
}

TEST_F(InflateZlib, BackReferencesAcrossFlushes)
{
    // A 30000-byte random piece repeated: matches of distance 30000 whose
    // source lies before the window's start and that span its end.
    Bytes piece = Random(30000, 6), data;
    for (int i = 0; i < 8; i++)
        data.insert(data.end(), piece.begin(), piece.end());
    ExpectRoundTrip(data, Deflate(data, 9));
    // Long runs: overlapping copies of distance 1 across flushes.
    Bytes runs;
    for (int i = 0; i < 40; i++)
        runs.insert(runs.end(), 5000 + i * 97, (uint8_t)i);
    ExpectRoundTrip(runs, Deflate(runs, 9));
    ExpectRoundTrip(runs, Deflate(runs, 6, Z_RLE));
}

TEST_F(InflateZlib, BytesAfterTheLastBlockAreIgnored)
{
    Bytes data = TextLike(5000, 7);
    Bytes stream = Deflate(data);
    stream.insert(stream.end(), 100, 0xAB);
    Outcome o = Run(stream);
    EXPECT_TRUE(o.out == data);
    EXPECT_EQ(o.crc, Crc(data));
    EXPECT_GT(o.remaining, 0);
}

// ---------------------------------------------------------------------------
// Hand-made streams that decode.

class InflateHandMade : public InflateTest {};

TEST_F(InflateHandMade, Distance1Length258RepeatsTheLastByte)
{
    BitWriter w;
    BlockHeader(w, true, 1);
    PutLiterals(w, FixedLiterals(), "xa");
    PutMatch(w, FixedLiterals(), FixedDistances(), 258, 1);
    FixedLiterals().Put(w, 256);
    Bytes expected(260, 'a');
    expected[0] = 'x';
    ExpectRoundTrip(expected, w.Bytes());
}

TEST_F(InflateHandMade, DistancesNear32768FromThePreviousPortion)
{
    // zlib reaches back 32,506 bytes at most.  Farther back, the source in
    // the previous portion lies at or just after the bytes the match writes
    // (32,768: the same bytes), and the last match also runs across the
    // window's end; all in the fast loop, literals around them.
    struct Piece {
        size_t literals;
        unsigned length, distance;
    };
    const Piece pieces[] = {{32768 + 1000, 258, 32768}, {0, 258, 32700}, {0, 3, 32767},
                            {32500 - 1519, 258, 32700}, {64, 0, 0}};
    Bytes expected, random = Random(70000, 8);
    BitWriter w;
    BlockHeader(w, true, 1);
    size_t used = 0;
    for (const Piece &p : pieces) {
        for (size_t i = 0; i < p.literals; i++, used++) {
            FixedLiterals().Put(w, random[used]);
            expected.push_back(random[used]);
        }
        if (p.length)
            PutMatch(w, FixedLiterals(), FixedDistances(), p.length, p.distance);
        for (unsigned i = 0; i < p.length; i++)
            expected.push_back(expected[expected.size() - p.distance]);
    }
    FixedLiterals().Put(w, 256);
    ExpectRoundTrip(expected, w.Bytes());
}

TEST_F(InflateHandMade, BackReferenceBeforeTheFirstByteCopiesZeros)
{
    // A first entry fills the window (and the memory it came from) with 'Q'.
    Bytes q(40000, 'Q');
    ExpectRoundTrip(q, Deflate(q));

    // Near the end of the input the checked steps copy the match; with
    // literals after it, the fast loop does.
    const std::string after[] = {"", std::string(64, 'z')};
    for (const std::string &tail : after) {
        BitWriter w;
        BlockHeader(w, true, 1);
        PutLiterals(w, FixedLiterals(), "ab");
        PutMatch(w, FixedLiterals(), FixedDistances(), 10, 6);
        PutLiterals(w, FixedLiterals(), tail);
        FixedLiterals().Put(w, 256);
        Outcome o = Run(w.Bytes());
        Bytes expected = {'a', 'b', 0, 0, 0, 0, 'a', 'b', 0, 0, 0, 0};
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_TRUE(o.out == expected) << tail.size() << " literals after the match";
    }
}

TEST_F(InflateHandMade, StoredBlocksOfLengthZeroAndAfterBits)
{
    BitWriter w;
    BlockHeader(w, false, 1);                // fixed block with 3 literals
    PutLiterals(w, FixedLiterals(), "abc");
    FixedLiterals().Put(w, 256);
    BlockHeader(w, false, 0);                // empty stored block
    w.Align().Bits(0, 16).Bits(0xFFFF, 16);
    BlockHeader(w, true, 0);
    w.Align().Bits(3, 16).Bits(0xFFFC, 16).Byte('d').Byte('e').Byte('f');
    ExpectRoundTrip({'a', 'b', 'c', 'd', 'e', 'f'}, w.Bytes());
}

// 70 000 stored bytes in two blocks: the copy hands over from the bit
// buffer to the input buffer and runs across input portions and flushes.
TEST_F(InflateHandMade, StoredBlockAcrossPortions)
{
    Bytes data = Random(70000, 8);
    BitWriter w;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t n = std::min<size_t>(65535, data.size() - pos);
        BlockHeader(w, pos + n == data.size(), 0);
        w.Align().Bits((uint32_t)n, 16).Bits((uint32_t)~n & 0xFFFF, 16);
        for (size_t i = 0; i < n; i++)
            w.Byte(data[pos + i]);
        pos += n;
    }
    ExpectRoundTrip(data, w.Bytes());
}

TEST_F(InflateHandMade, IncompleteAndSingleBitDistanceCodes)
{
    std::vector<uint8_t> lit(257, 0);
    for (unsigned c : {'a', 'b'})
        lit[c] = 2;
    lit[256] = 2;
    lit.push_back(2);                         // symbol 257: length 3
    {
        // One distance code of length 2: incomplete, accepted.
        std::vector<uint8_t> dist = {2};
        HuffmanCode lc(lit), dc(dist);
        BitWriter w;
        DynamicHeader(w, true, lit, dist);
        PutLiterals(w, lc, "ab");
        PutMatch(w, lc, dc, 3, 1);
        lc.Put(w, 256);
        ExpectRoundTrip({'a', 'b', 'b', 'b', 'b'}, w.Bytes());
    }
    {
        // A single one-bit code for distance 2.
        std::vector<uint8_t> dist = {0, 1};
        HuffmanCode lc(lit), dc(dist);
        BitWriter w;
        DynamicHeader(w, true, lit, dist);
        PutLiterals(w, lc, "ab");
        PutMatch(w, lc, dc, 3, 2);
        lc.Put(w, 256);
        ExpectRoundTrip({'a', 'b', 'a', 'b', 'a'}, w.Bytes());
    }
    {
        // A literal/length code of one one-bit code: just the end of block.
        std::vector<uint8_t> only(257, 0);
        only[256] = 1;
        BitWriter w;
        DynamicHeader(w, false, only, {0});
        w.Bits(0, 1);
        BlockHeader(w, true, 1);
        PutLiterals(w, FixedLiterals(), "z");
        FixedLiterals().Put(w, 256);
        ExpectRoundTrip({'z'}, w.Bytes());
    }
}

TEST_F(InflateHandMade, RepeatCrossesIntoTheDistanceLengths)
{
    // 257 literal/length lengths, then 2 distance lengths; the last literal
    // length (2) is repeated 3 times across the boundary.
    std::vector<uint8_t> lit(257, 0), dist = {2, 2};
    lit['a'] = lit['b'] = lit[255] = lit[256] = 2;
    // 97 zeros, a, b, 138 + 18 zeros, 255, then "previous 3 times": 256
    // and both distance lengths.
    std::vector<CodeLengthSymbol> seq = {{18, 97 - 11}, {2, 0},       {2, 0},
                                         {18, 138 - 11}, {18, 18 - 11}, {2, 0}, {16, 0}};
    BitWriter w;
    DynamicHeader(w, true, lit, dist, seq);
    HuffmanCode lc(lit);
    PutLiterals(w, lc, "abba");
    lc.Put(w, 256);
    ExpectRoundTrip({'a', 'b', 'b', 'a'}, w.Bytes());
}

TEST_F(InflateHandMade, DistanceCodeOfZerosDecodesLiterals)
{
    std::vector<uint8_t> lit(257, 0);
    lit['h'] = 1;
    lit[256] = 1;
    BitWriter w;
    DynamicHeader(w, true, lit, {0});
    HuffmanCode lc(lit);
    PutLiterals(w, lc, "hhh");
    lc.Put(w, 256);
    ExpectRoundTrip({'h', 'h', 'h'}, w.Bytes());
}

// ---------------------------------------------------------------------------
// Damaged streams: decoding stops, what came before is written, the CRC
// comparison fails.

class InflateCorrupt : public InflateTest {};

TEST_F(InflateCorrupt, LengthSymbols286And287)
{
    for (unsigned sym : {286u, 287u}) {
        BitWriter w;
        BlockHeader(w, true, 1);
        PutLiterals(w, FixedLiterals(), "ok");
        FixedLiterals().Put(w, sym);
        FixedDistances().Put(w, 0);
        PutLiterals(w, FixedLiterals(), "no");
        FixedLiterals().Put(w, 256);
        ExpectBadData(w.Bytes(), "ok");
    }
    // In a dynamic block that gives them codes.
    std::vector<uint8_t> lit(288, 0);
    lit['o'] = lit['k'] = lit[256] = lit[257] = lit[286] = lit[287] = 3;
    lit['x'] = 2;
    std::vector<uint8_t> dist = {1};
    HuffmanCode lc(lit);
    BitWriter w;
    DynamicHeader(w, true, lit, dist);
    PutLiterals(w, lc, "ok");
    lc.Put(w, 287);
    lc.Put(w, 256);
    ExpectBadData(w.Bytes(), "ok");
}

TEST_F(InflateCorrupt, DistanceSymbols30And31)
{
    for (unsigned sym : {30u, 31u}) {
        BitWriter w;
        BlockHeader(w, true, 1);
        PutLiterals(w, FixedLiterals(), "ok");
        FixedLiterals().Put(w, 257);
        FixedDistances().Put(w, sym);
        FixedLiterals().Put(w, 256);
        ExpectBadData(w.Bytes(), "ok");

        // A dynamic distance code of 32 symbols that gives them codes.
        std::vector<uint8_t> lit(258, 0), dist(32, 5);
        lit['o'] = lit['k'] = lit[256] = 2;
        lit[257] = 2;
        HuffmanCode lc(lit), dc(dist);
        BitWriter d;
        DynamicHeader(d, true, lit, dist);
        PutLiterals(d, lc, "ok");
        lc.Put(d, 257);
        dc.Put(d, sym);
        lc.Put(d, 256);
        ExpectBadData(d.Bytes(), "ok");
    }
}

TEST_F(InflateCorrupt, FreePatternsOfIncompleteCodes)
{
    // Distance code {0: length 2}: pattern 01 (and 1x) is free.
    std::vector<uint8_t> lit(258, 0), dist = {2};
    lit['o'] = lit['k'] = lit[256] = lit[257] = 2;
    HuffmanCode lc(lit);
    BitWriter w;
    DynamicHeader(w, true, lit, dist);
    PutLiterals(w, lc, "ok");
    lc.Put(w, 257);
    w.Code(3, 2);
    lc.Put(w, 256);
    ExpectBadData(w.Bytes(), "ok");

    // Literal/length code of one one-bit code: the other bit is free.
    std::vector<uint8_t> only(257, 0);
    only[256] = 1;
    BitWriter s;
    DynamicHeader(s, true, only, {0});
    s.Bits(1, 1);
    ExpectBadData(s.Bytes(), "");

    // An incomplete literal/length code is refused outright.
    std::vector<uint8_t> three(257, 0);
    three['a'] = three['b'] = three[256] = 2;
    BitWriter t;
    DynamicHeader(t, true, three, {0});
    HuffmanCode tc(three);
    PutLiterals(t, tc, "ab");
    tc.Put(t, 256);
    ExpectBadData(t.Bytes(), "");
}

TEST_F(InflateCorrupt, OverSubscribedCodes)
{
    std::vector<uint8_t> lit(257, 0);
    lit['a'] = lit['b'] = lit[256] = 1;
    BitWriter w;
    DynamicHeader(w, true, lit, {0}, {}, CodeLengthCode());
    w.Bits(0, 8);
    ExpectBadData(w.Bytes(), "");

    // An over-subscribed code-length code.
    std::vector<uint8_t> cl(19, 1);
    BitWriter c;
    BlockHeader(c, true, 2);
    c.Bits(0, 5).Bits(0, 5).Bits(15, 4);
    for (int j = 0; j < 19; j++)
        c.Bits(1, 3);
    c.Bits(0, 16);
    ExpectBadData(c.Bytes(), "");
}

TEST_F(InflateCorrupt, CodeLengthCodeWithoutCodes)
{
    BitWriter w;
    BlockHeader(w, true, 2);
    w.Bits(0, 5).Bits(0, 5).Bits(15, 4);
    for (int j = 0; j < 19; j++)
        w.Bits(0, 3);
    w.Bits(0, 32);
    ExpectBadData(w.Bytes(), "");

    // A single one-bit code-length code (symbol 18 only), then 1-bits: the
    // free pattern ends the block at once (no such code can describe a
    // usable code, so this only shows that the pattern is read safely).
    BitWriter s;
    BlockHeader(s, true, 2);
    s.Bits(0, 5).Bits(0, 5).Bits(0, 4);      // four code-length lengths
    s.Bits(0, 3).Bits(0, 3).Bits(1, 3).Bits(0, 3);   // lengths of 16, 17, 18, 0
    s.Bits(0xFFFFFFFF, 32);
    ExpectBadData(s.Bytes(), "");
}

TEST_F(InflateCorrupt, RepeatPastTheEnd)
{
    std::vector<uint8_t> lit(257, 0), dist = {0};
    lit[256] = 1;
    lit[255] = 1;
    // 255 zeros, then 1, 1, then a run of 3 zeros where only 1 length is left.
    std::vector<CodeLengthSymbol> seq = {{18, 138 - 11}, {18, 117 - 11}, {1, 0}, {1, 0}, {17, 0}};
    BitWriter w;
    DynamicHeader(w, true, lit, dist, seq);
    w.Bits(0, 16);
    ExpectBadData(w.Bytes(), "");
}

TEST_F(InflateCorrupt, ReservedBlockTypeAndStoredLengthMismatch)
{
    BitWriter w;
    BlockHeader(w, false, 0);
    w.Align().Bits(2, 16).Bits(0xFFFD, 16).Byte('a').Byte('b');
    BlockHeader(w, true, 3);
    w.Bits(0, 16);
    ExpectBadData(w.Bytes(), "ab");

    BitWriter s;
    BlockHeader(s, false, 0);
    s.Align().Bits(2, 16).Bits(0xFFFD, 16).Byte('a').Byte('b');
    BlockHeader(s, true, 0);
    s.Align().Bits(2, 16).Bits(0xFFFC, 16).Byte('c').Byte('d');
    ExpectBadData(s.Bytes(), "ab");
}

// ---------------------------------------------------------------------------
// The end of an entry's data inside a block.

class InflateTruncated : public InflateTest {};

TEST_F(InflateTruncated, EveryCutEndsWithAFailedCrc)
{
    Bytes data = TextLike(3000, 9);
    Bytes noise = Random(500, 10);
    data.insert(data.end(), noise.begin(), noise.end());
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        Bytes stream = Deflate(data, 6, strategy);
        for (size_t cut = 0; cut < stream.size(); cut += cut < 40 || cut + 40 > stream.size() ? 1 : 37) {
            Outcome o = Run(stream, (int32_t)cut);
            // Nothing decoded from beyond the cut reaches the file.
            ASSERT_LE(o.out.size(), data.size()) << "cut " << cut;
            ASSERT_TRUE(std::equal(o.out.begin(), o.out.end(), data.begin())) << "cut " << cut;
            if (o.out.size() < data.size())
                EXPECT_NE(o.crc, Crc(data)) << "cut " << cut;
        }
    }
}

TEST_F(InflateTruncated, OneBitsNeverKeepAFixedBlockRunning)
{
    // Fixed block header, then nothing: end of data reads as 1-bits,
    // literal 255 for ever unless it counts as bad data.
    Outcome o = Run({0x03});
    EXPECT_TRUE(o.out.empty());
    // The same with the file going on: the entry's size bounds the input.
    o = Run({0x03, 0xFF, 0xFF, 0xFF}, 1);
    EXPECT_TRUE(o.out.empty());
}

TEST_F(InflateTruncated, NothingDecodedFromBitsPastTheEnd)
{
    // 'a' is 0, end of block 10, length 3 is 11; distances 0 and 1.  The
    // stream ends after one 'a' and the zeros that pad its last byte (more
    // 'a's); the 1-bits beyond would read as a match of 3 at distance 2.
    std::vector<uint8_t> lit(258, 0), dist = {1, 1};
    lit['a'] = 1;
    lit[256] = lit[257] = 2;
    BitWriter w;
    DynamicHeader(w, true, lit, dist);
    HuffmanCode(lit).Put(w, 'a');
    size_t pad = w.Bytes().size() * 8 - w.BitLength();
    Outcome o = Run(w.Bytes());
    EXPECT_EQ(std::string(o.out.begin(), o.out.end()), std::string(1 + pad, 'a'));
}

TEST_F(InflateTruncated, EncryptedEntryShorterThanItsHeader)
{
    LocalHeader.Flags = 1;
    Outcome o = Run(Deflate({'a'}), -5);
    EXPECT_TRUE(o.out.empty());
    EXPECT_EQ(o.crc, 0u);
}

// ---------------------------------------------------------------------------
// Output that the system does not take.

class InflateOutput : public InflateTest {};
class InflateEncrypted : public InflateTest {};
class InflateResources : public InflateTest {};

TEST_F(InflateOutput, FailedWriteFailsTheCrc)
{
    Bytes data = TextLike(50000, 11);
    // The output "file" is opened for reading only: every write fails.
    std::string readOnly = dir_.Write("readonly.bin", "x");
    Outcome o = Run(Deflate(data), WholeFile, readOnly.c_str());
    EXPECT_NE(o.crc, Crc(data));
    EXPECT_EQ(o.crc, 0u);                    // nothing was counted
}

// ---------------------------------------------------------------------------
// Encrypted input, decrypted as it is read in portions.

TEST_F(InflateEncrypted, InputInSeveralPortions)
{
    Bytes data = Random(50000, 12);
    Bytes text = TextLike(150000, 13);
    data.insert(data.end(), text.begin(), text.end());
    Bytes stream = Deflate(data, 6);
    ASSERT_GT(stream.size(), 2u * 32768);   // three refills at least

    uint32_t crc = Crc(data);
    Bytes header(2 * EncryptionHeaderSize);
    for (int i = 0; i < EncryptionHeaderSize; i++)
        header[EncryptionHeaderSize + i] = i == EncryptionHeaderSize - 1 ? (uint8_t)(crc >> 24) : (uint8_t)(i * 7);
    Bytes cipher = stream;
    InitKeys("secret", 6);
    EncryptBlock(header.data() + EncryptionHeaderSize, EncryptionHeaderSize);
    EncryptBlock(cipher.data(), (int32_t)cipher.size());

    Text password = {const_cast<char *>("secret"), 6};
    ASSERT_TRUE(CheckEncryptionHeader(header.data(), EncryptionHeaderSize, EncryptedFlag, password, 0, crc));
    LocalHeader.Flags = EncryptedFlag;
    Outcome o = Run(cipher);
    EXPECT_TRUE(o.out == data);
    EXPECT_EQ(o.crc, crc);

    // A wrong key state decrypts to garbage, which fails.
    InitKeys("secreT", 6);
    o = Run(cipher);
    EXPECT_NE(o.crc, crc);
}

// ---------------------------------------------------------------------------
// Memory: nothing outlives an entry, also after bad data.

TEST_F(InflateResources, NothingLeaksAfterBadData)
{
    BitWriter w;
    BlockHeader(w, false, 1);
    PutLiterals(w, FixedLiterals(), "ok");
    FixedLiterals().Put(w, 256);
    BlockHeader(w, true, 1);
    FixedLiterals().Put(w, 287);
    Bytes bad = w.Bytes();
    Bytes good = Deflate(TextLike(100000, 14));
    Run(bad);    // warm up the allocator and the scratch files
    Run(good);
    size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 20; i++) {
        Run(bad);
        Run(good);
    }
    EXPECT_LE(mallinfo2().uordblks, before + 1024);
}

// ---------------------------------------------------------------------------
// Tables.

TEST(InflateTables, RebuiltFromTheirDefinitions)
{
    SymbolTable ls = LengthSymbols(), ds = DistanceSymbols();
    for (unsigned i = 0; i < 29; i++) {
        EXPECT_EQ(LengthBase[i], ls.base[i]) << i;
        EXPECT_EQ(LengthExtra[i], ls.extra[i]) << i;
    }
    EXPECT_EQ(LengthExtra[29], 99);
    EXPECT_EQ(LengthExtra[30], 99);
    for (unsigned i = 0; i < 30; i++) {
        EXPECT_EQ(DistanceBase[i], ds.base[i]) << i;
        EXPECT_EQ(DistanceExtra[i], ds.extra[i]) << i;
    }
    for (unsigned n = 0; n <= 16; n++)
        EXPECT_EQ(BitMask[n], (1u << n) - 1);
    const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    EXPECT_EQ(0, memcmp(order, CodeLengthOrder, 19));
}

// Decodes one symbol from `bits' (stream order) the way the decoder does.
const DecodeEntry *Lookup(const DecodeEntry *root, unsigned m, uint32_t bits, unsigned &used, int &lookups)
{
    const DecodeEntry *t = root + (bits & ((1u << m) - 1));
    used = 0;
    lookups = 1;
    while (t->Op > OpLiteral && t->Op != OpInvalid) {
        used += t->Bits;
        bits >>= t->Bits;
        unsigned e = t->Op - OpLiteral;
        t = t->Next + (bits & ((1u << e) - 1));
        lookups++;
    }
    used += t->Bits;
    return t;
}

uint32_t Reverse(uint32_t code, unsigned len)
{
    uint32_t r = 0;
    for (unsigned i = 0; i < len; i++)
        r |= ((code >> i) & 1) << (len - 1 - i);
    return r;
}

// Random complete codes (leaves split at random up to 15 bits), every
// symbol decoded through the built tables with several lookup sizes.
TEST(InflateTables, RandomCodesDecodeEverySymbol)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 300; round++) {
        unsigned n = 2 + rng() % 287;
        std::vector<uint8_t> depths = {0};
        while (depths.size() < n) {
            size_t i = rng() % depths.size();
            if (depths[i] >= 15)
                continue;
            depths[i]++;
            depths.push_back(depths[i]);
        }
        std::shuffle(depths.begin(), depths.end(), rng);
        std::vector<uint32_t> codes = CanonicalCodes(depths);
        unsigned maxLen = *std::max_element(depths.begin(), depths.end());
        for (unsigned want : {1u, 5u, 7u, 9u, 12u}) {
            DecodeEntry *root = 0, *chain = 0;
            unsigned m = want;
            ASSERT_EQ(BuildDecodeTable(depths.data(), n, n, 0, 0, 0, root, chain, m), InflateOk);
            ASSERT_NE(root, nullptr);
            for (unsigned sym = 0; sym < n; sym++) {
                uint32_t bits = Reverse(codes[sym], depths[sym]) | (rng() << depths[sym]);
                unsigned used;
                int lookups;
                const DecodeEntry *t = Lookup(root, m, bits, used, lookups);
                ASSERT_EQ(t->Value, sym) << "round " << round << " m " << want;
                ASSERT_EQ(used, depths[sym]);
                if (depths[sym] <= m)
                    ASSERT_EQ(lookups, 1);
            }
            EXPECT_LE(m, std::max(want, (unsigned)*std::min_element(depths.begin(), depths.end())));
            EXPECT_LE(m, maxLen);
            ReleaseDecodeTables(chain);
        }
    }
}

TEST(InflateTables, EndOfBlockCodeBoundsTheRoot)
{
    // End of block and 30 literals in 5 bits, 16 literals in 9 bits: the
    // root would take 9 bits, but stops where the end-of-block code ends.
    std::vector<uint8_t> lit(257, 0);
    for (unsigned i = 0; i < 30; i++)
        lit[i] = 5;
    for (unsigned i = 100; i < 116; i++)
        lit[i] = 9;
    lit[256] = 5;
    DecodeEntry *root = 0, *chain = 0;
    unsigned m = 9;
    EXPECT_EQ(BuildDecodeTable(lit.data(), 257, 257, LengthBase, LengthExtra, 31, root, chain, m), InflateOk);
    EXPECT_EQ(m, 5u);
    ReleaseDecodeTables(chain);
    // Without an end-of-block code the same lengths get a 9-bit root.
    lit[256] = 0;
    lit[30] = 5;
    m = 9;
    chain = 0;
    EXPECT_EQ(BuildDecodeTable(lit.data(), 257, 257, LengthBase, LengthExtra, 31, root, chain, m), InflateOk);
    EXPECT_EQ(m, 9u);
    ReleaseDecodeTables(chain);
}

TEST(InflateTables, FixedDistanceCodeIsIncomplete)
{
    std::vector<uint8_t> lengths(30, 5);
    DecodeEntry *root = 0, *chain = 0;
    unsigned m = 5;
    EXPECT_EQ(BuildDecodeTable(lengths.data(), 30, 0, DistanceBase, DistanceExtra, 30, root, chain, m),
              InflateBadData);
    EXPECT_EQ(m, 5u);
    EXPECT_EQ(root[Reverse(30, 5)].Op, OpInvalid);
    EXPECT_EQ(root[Reverse(31, 5)].Op, OpInvalid);
    EXPECT_EQ(root[Reverse(29, 5)].Value, 24577);
    ReleaseDecodeTables(chain);

    // Past the given tables, symbols are invalid rather than read outside.
    std::vector<uint8_t> all(32, 5);
    EXPECT_EQ(BuildDecodeTable(all.data(), 32, 0, DistanceBase, DistanceExtra, 30, root, chain = 0, m = 6),
              InflateOk);
    EXPECT_EQ(root[Reverse(31, 5)].Op, OpInvalid);
    ReleaseDecodeTables(chain);
}

}  // namespace
