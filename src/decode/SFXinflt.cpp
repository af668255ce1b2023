// SFXinflt: the inflate decoder (RFC 1951) and the buffered input and output
// that feed it.
//
// Decoding is table-driven.  Each Huffman code becomes a root table indexed
// by its first `lookup bits' bits and, for longer codes, sub-tables indexed
// by the bits after those; one slot look-up resolves any code that fits the
// root.  Sub-tables are sized per level, so a handful of long, rare codes
// costs a few small tables rather than a 2^15-slot root.
//
// The 32 KB window is both the history that back-references read and the
// output buffer: it is written to the target file (and added to the CRC)
// whenever it fills, and once more at the end of the entry.  Input arrives
// in portions of up to 32 KB from the archive, decrypted in place as they
// arrive.
//
// The hot loops keep the bit buffer, its count, the input pointers and the
// window position in locals and take input bytes straight from InputBuffer;
// only when the buffer runs dry do they store their view back and call the
// byte source, which refills it.
//
// Damaged input: every malformed code, length or table is bad data.  Bits
// wanted after the entry's compressed data read as 1 (end of data); a
// stream that actually consumes such bits is bad data too, so a truncated
// entry always ends instead of decoding 1-bits for ever.
#include "SFXinflt.h"

#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "CrcCrypt.h"

#include <string.h>

// ---------------------------------------------------------------------------
// Constant tables.

// RFC 1951 3.2.5: base lengths of symbols 257..285; 286 and 287 don't exist.
const uint16_t LengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
// Extra bits of symbols 257..285; 99 marks 286 and 287 invalid.
const uint8_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
// RFC 1951 3.2.5: base distances of distance symbols 0..29.
const uint16_t DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint16_t BitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000f, 0x001f, 0x003f, 0x007f, 0x00ff,
                              0x01ff, 0x03ff, 0x07ff, 0x0fff, 0x1fff, 0x3fff, 0x7fff, 0xffff};
// RFC 1951 3.2.7: the order in which the code-length code's lengths come.
const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum { MaxCodeBits = 16, MaxSymbols = 288 };

// ---------------------------------------------------------------------------
// Decoder state: one entry is decoded at a time.

uint32_t BitBuffer;                 // unconsumed input bits, next bit lowest
uint16_t BitCount;                  // valid bits in BitBuffer
uint8_t *Window;                    // history and output buffer
uint16_t WindowPosition;            // 0..32768: where the next output byte goes
uint8_t *InputBuffer;
uint16_t InputPosition;             // next byte to take from InputBuffer
int32_t InputCount;                 // bytes the last refill placed there
DecodeEntry *FixedLiteralTable;     // built by the first fixed block of an entry
DecodeEntry *FixedDistanceTable;
static DecodeEntry *FixedLiteralChain;
static DecodeEntry *FixedDistanceChain;
static unsigned FixedLiteralBits;
static unsigned FixedDistanceBits;
// Bytes of end of data (read as 0xFF) shifted into the bit buffer.  Real
// bits always sit below them, so the stream has read past its data exactly
// when fewer than 8 * InputOverrun bits remain.  A valid stream holds at
// most 23 bits after a fetch, so a third such byte is always an overrun.
static unsigned InputOverrun;

// ---------------------------------------------------------------------------
// Buffered input and output.

int ReadInputByte()
{
    if (InputPosition < InputCount)
        return InputBuffer[InputPosition++];
    // Only ever asked for what the entry still holds, so RemainingInput
    // stays the count of its bytes not yet read from the file.
    InputCount = FileRead(ArchiveFile, InputBuffer, (uint32_t)SmallerOf(RemainingInput, WindowSize));
    if (InputCount < 0)
        InputCount = 0;
    if (LocalHeader.Flags & 1)
        DecryptBlock(InputBuffer, InputCount);
    InputPosition = 0;
    if (InputCount == 0) {
        RemainingInput = 0;
        return -1;
    }
    InputPosition = 1;
    return InputBuffer[0];
}

int NextInputByte()
{
    if (RemainingInput <= 0)
        return -1;
    int b = ReadInputByte();
    RemainingInput--;
    return b;
}

void FlushWindow()
{
    // Only what the system took counts: a short or failed write must leave
    // the entry with a CRC that does not match.
    int32_t put = FileWrite(OutputFile, Window, WindowPosition);
    if (put > (int32_t)WindowPosition)
        put = WindowPosition;
    UpdateCrcOverBlock(Window, put, RunningCrc);
    WindowPosition = 0;
}

// The decoder's view of the byte source once the inlined fast path below
// has used up InputBuffer: end of data reads as 0xFF and is counted.
static uint32_t __attribute__((noinline)) SlowInputByte()
{
    int c = NextInputByte();
    if (c >= 0)
        return (uint32_t)c;
    InputOverrun++;
    return 0xFF;
}

// Working copies: b and k (bit buffer and count), in and end (the unread
// part of InputBuffer).  Every routine that reads bits declares them with
// BIT_STATE and has a label `overrun' for a stream that runs far past its
// data.
#define BIT_STATE                                                                                  \
    uint32_t b = BitBuffer;                                                                        \
    unsigned k = BitCount;                                                                         \
    const uint8_t *in = InputBuffer + InputPosition;                                               \
    const uint8_t *end = InputBuffer + InputCount;                                                 \
    unsigned pastEnd = 8 * InputOverrun

#define SYNC_INPUT()                                                                               \
    do {                                                                                           \
        uint16_t pos_ = (uint16_t)(in - InputBuffer);                                              \
        RemainingInput -= pos_ - InputPosition;                                                    \
        InputPosition = pos_;                                                                      \
    } while (0)

#define LOAD_INPUT()                                                                               \
    do {                                                                                           \
        in = InputBuffer + InputPosition;                                                          \
        end = InputBuffer + InputCount;                                                            \
    } while (0)

#define STORE_BITS()                                                                               \
    do {                                                                                           \
        SYNC_INPUT();                                                                              \
        BitBuffer = b;                                                                             \
        BitCount = (uint16_t)k;                                                                    \
    } while (0)

// FetchBits (n <= 16)
#define FETCH_BITS(n)                                                                              \
    do {                                                                                           \
        while (k < (unsigned)(n)) {                                                                \
            if (in < end) {                                                                        \
                b |= (uint32_t)*in++ << k;                                                         \
            } else {                                                                               \
                SYNC_INPUT();                                                                      \
                b |= SlowInputByte() << k;                                                         \
                LOAD_INPUT();                                                                      \
                pastEnd = 8 * InputOverrun;                                                        \
                if (InputOverrun >= 3)                                                             \
                    goto overrun;                                                                  \
            }                                                                                      \
            k += 8;                                                                                \
        }                                                                                          \
    } while (0)

// ConsumeBits
#define CONSUME_BITS(n)                                                                            \
    do {                                                                                           \
        b >>= (n);                                                                                 \
        k -= (n);                                                                                  \
    } while (0)

// True once bits past the end of the entry's data have been taken.  Checked
// before anything decoded from them reaches the window, so a truncated
// entry's output is always a prefix of what the whole entry holds.
#define READ_PAST_END() (k < pastEnd)

// ---------------------------------------------------------------------------
// Decoding tables.

void ReleaseDecodeTables(DecodeEntry *chain)
{
    while (chain) {
        DecodeEntry *link = chain - 1;
        chain = link->Next;
        FreeMem(link);
    }
}

// Canonical codes (RFC 1951 3.2.2), assigned shortest first and within one
// length by symbol.  The code is kept bit-reversed, as the stream delivers
// it, and advanced by a reversed increment.
int BuildDecodeTable(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases,
                     const uint8_t *extras, unsigned entries, DecodeEntry *&root,
                     DecodeEntry *&chain, unsigned &lookupBits)
{
    unsigned count[MaxCodeBits + 1];
    memset(count, 0, sizeof count);
    for (unsigned i = 0; i < n; i++)
        count[lengths[i]]++;
    root = 0;
    if (count[0] == n) {
        lookupBits = 0;
        return InflateOk;
    }

    unsigned k = 1;
    while (!count[k])
        k++;
    unsigned g = MaxCodeBits;
    while (!count[g])
        g--;
    unsigned m = lookupBits;
    if (m < k)
        m = k;
    if (m > g)
        m = g;

    // Kraft's inequality: patterns left after each length.  What is left
    // after the longest becomes dummy codes, which decode as invalid.
    int y = 1 << k;
    for (unsigned j = k; j < g; j++, y <<= 1)
        if ((y -= (int)count[j]) < 0)
            return InflateOverSubscribed;
    if ((y -= (int)count[g]) < 0)
        return InflateOverSubscribed;
    count[g] += (unsigned)y;

    // Symbols sorted by length, then by symbol.
    unsigned offset[MaxCodeBits + 1];
    offset[1] = 0;
    for (unsigned j = 1; j < g; j++)
        offset[j + 1] = offset[j] + count[j];
    uint16_t symbols[MaxSymbols];
    for (unsigned i = 0; i < n; i++)
        if (lengths[i])
            symbols[offset[lengths[i]]++] = (uint16_t)i;
    unsigned real = offset[g];

    // The end-of-block code ends at a table boundary, so that the block's
    // last look-up never reaches into bits past the block.
    unsigned el = n > 256 ? lengths[256] : (unsigned)MaxCodeBits;

    DecodeEntry *tables[MaxCodeBits];   // the open table of each level
    unsigned tableBits[MaxCodeBits + 1]; // [h + 1]: index bits of level h
    unsigned leading[MaxCodeBits];       // code bits that led to level h
    tableBits[0] = 0;
    leading[0] = 0;
    int h = -1;                          // level of the open table
    unsigned w = 0;                      // code bits before level h
    unsigned code = 0;
    unsigned next = 0;                   // next symbol in `symbols'
    DecodeEntry *q = 0;
    unsigned z = 0;
    DecodeEntry r;
    r.Op = 0;
    r.Value = 0;
    r.Next = 0;

    for (; k <= g; k++) {
        for (unsigned a = count[k]; a; a--) {
            // Open tables until the bits covered reach k.
            while (k > w + tableBits[h + 1]) {
                w += tableBits[h + 1];
                h++;
                unsigned limit = g - w < m ? g - w : m;
                unsigned j = k - w;
                unsigned f = 1u << j;
                if (f > a) {
                    // Too few codes of this length to fill j bits: grow the
                    // table while the next lengths' codes use up the room.
                    f -= a;
                    unsigned len = k;
                    while (j < limit && ++j < limit) {
                        f <<= 1;
                        if (f <= count[++len])
                            break;
                        f -= count[len];
                    }
                }
                if (w + j > el && w < el)
                    j = el - w;
                z = 1u << j;
                tableBits[h + 1] = j;
                q = (DecodeEntry *)GetMem((z + 1) * sizeof(DecodeEntry));
                q->Op = 0;
                q->Bits = 0;
                q->Value = 0;
                q->Next = chain;
                chain = ++q;
                tables[h] = q;
                if (h == 0) {
                    root = q;
                } else {
                    leading[h] = code;
                    DecodeEntry link;
                    link.Op = (uint8_t)(OpLiteral + j);
                    link.Bits = (uint8_t)tableBits[h];
                    link.Value = 0;
                    link.Next = q;
                    tables[h - 1][(code & ((1u << w) - 1)) >> (w - tableBits[h])] = link;
                }
            }

            r.Bits = (uint8_t)(k - w);
            if (next >= real) {
                r.Op = OpInvalid;       // dummy code; Value stays
            } else {
                unsigned symbol = symbols[next++];
                if (symbol < s) {
                    r.Op = symbol < 256 ? OpLiteral : OpEndOfBlock;
                    r.Value = (uint16_t)symbol;
                } else if (symbol - s < entries) {
                    r.Op = extras[symbol - s];
                    r.Value = bases[symbol - s];
                } else {
                    // Distance symbols 30 and 31: admitted by the header,
                    // defined nowhere.
                    r.Op = OpInvalid;
                }
            }
            for (unsigned j = code >> w; j < z; j += 1u << (k - w))
                q[j] = r;

            unsigned bit = 1u << (k - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;

            // Back to the level whose table the next code continues.
            while ((code & ((1u << w) - 1)) != leading[h]) {
                h--;
                w -= tableBits[h + 1];
            }
        }
    }

    lookupBits = tableBits[1];
    return y != 0 && g != 1 ? InflateBadData : InflateOk;
}

// ---------------------------------------------------------------------------
// Blocks.

static void FlushFrom(unsigned &w)
{
    WindowPosition = (uint16_t)w;
    FlushWindow();
    w = 0;
}

// Literal/length and distance symbols until the end of the block.
static int DecodeCodes(const DecodeEntry *tl, const DecodeEntry *td, unsigned bl, unsigned bd)
{
    BIT_STATE;
    uint8_t *const window = Window;
    unsigned w = WindowPosition;
    const unsigned ml = BitMask[bl], md = BitMask[bd];
    int result = InflateBadData;
    if (!tl)
        goto done;
    for (;;) {
        FETCH_BITS(bl);
        const DecodeEntry *t = tl + (b & ml);
        unsigned op = t->Op;
        while (op > OpLiteral) {
            if (op == OpInvalid)
                goto done;
            CONSUME_BITS(t->Bits);
            op -= OpLiteral;
            FETCH_BITS(op);
            t = t->Next + (b & BitMask[op]);
            op = t->Op;
        }
        CONSUME_BITS(t->Bits);
        if (READ_PAST_END())
            goto done;
        if (op == OpLiteral) {
            window[w++] = (uint8_t)t->Value;
            if (w == WindowSize)
                FlushFrom(w);
            continue;
        }
        if (op == OpEndOfBlock) {
            result = InflateOk;
            goto done;
        }

        FETCH_BITS(op);
        unsigned n = t->Value + (b & BitMask[op]);
        CONSUME_BITS(op);

        if (!td)
            goto done;
        FETCH_BITS(bd);
        t = td + (b & md);
        op = t->Op;
        while (op > OpLiteral) {
            if (op == OpInvalid)
                goto done;
            CONSUME_BITS(t->Bits);
            op -= OpLiteral;
            FETCH_BITS(op);
            t = t->Next + (b & BitMask[op]);
            op = t->Op;
        }
        CONSUME_BITS(t->Bits);
        FETCH_BITS(op);
        unsigned d = (w - t->Value - (b & BitMask[op])) & 0xFFFF;
        CONSUME_BITS(op);
        if (READ_PAST_END())
            goto done;

        // The window is circular: a source before position 0 is the tail
        // of the previous portion (zeros before the entry's first byte).
        do {
            d &= WindowSize - 1;
            unsigned e = WindowSize - (d > w ? d : w);
            if (e > n)
                e = n;
            n -= e;
            if ((int)(w - d) >= (int)e || d >= w + e) {
                memcpy(window + w, window + d, e);
                w += e;
                d += e;
            } else {
                // Overlapping: byte by byte, so the copy repeats the pattern.
                do
                    window[w++] = window[d++];
                while (--e);
            }
            if (w == WindowSize)
                FlushFrom(w);
        } while (n);
    }
overrun:
done:
    STORE_BITS();
    WindowPosition = (uint16_t)w;
    return result;
}

// RFC 1951 3.2.4: LEN, NLEN, then LEN bytes, from a byte boundary.
static int CopyStoredBlock()
{
    BIT_STATE;
    unsigned w = WindowPosition;
    int result = InflateBadData;
    unsigned len;
    CONSUME_BITS(k & 7);
    FETCH_BITS(16);
    len = b & 0xFFFF;
    CONSUME_BITS(16);
    FETCH_BITS(16);
    if ((~b & 0xFFFF) != len)
        goto done;
    CONSUME_BITS(16);
    if (READ_PAST_END())
        goto done;
    while (len) {
        if (k) {
            // Whole bytes the bit buffer already holds come first.
            Window[w++] = (uint8_t)b;
            CONSUME_BITS(8);
            len--;
            if (READ_PAST_END())
                goto done;
        } else if (in < end) {
            unsigned e = (unsigned)(end - in);
            if (e > len)
                e = len;
            if (e > WindowSize - w)
                e = WindowSize - w;
            memcpy(Window + w, in, e);
            in += e;
            w += e;
            len -= e;
        } else {
            SYNC_INPUT();
            int c = NextInputByte();
            LOAD_INPUT();
            if (c < 0)
                goto done;
            Window[w++] = (uint8_t)c;
            len--;
        }
        if (w == WindowSize)
            FlushFrom(w);
    }
    result = InflateOk;
overrun:
done:
    STORE_BITS();
    WindowPosition = (uint16_t)w;
    return result;
}

static int DecodeFixedBlock()
{
    if (!FixedLiteralTable) {
        // RFC 1951 3.2.6.
        uint8_t lengths[288];
        memset(lengths, 8, 144);
        memset(lengths + 144, 9, 112);
        memset(lengths + 256, 7, 24);
        memset(lengths + 280, 8, 8);
        FixedLiteralBits = 7;
        BuildDecodeTable(lengths, 288, 257, LengthBase, LengthExtra, 31, FixedLiteralTable,
                         FixedLiteralChain, FixedLiteralBits);
        // 30 of the 32 five-bit patterns: incomplete by design.
        memset(lengths, 5, 30);
        FixedDistanceBits = 5;
        BuildDecodeTable(lengths, 30, 0, DistanceBase, DistanceExtra, 30, FixedDistanceTable,
                         FixedDistanceChain, FixedDistanceBits);
    }
    return DecodeCodes(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits);
}

// RFC 1951 3.2.7: the code lengths of both codes, themselves coded with the
// code-length code.
static int DecodeDynamicBlock()
{
    BIT_STATE;
    uint8_t lengths[288 + 32];
    DecodeEntry *tl = 0, *td = 0, *chain = 0, *distanceChain = 0;
    unsigned nl, nd, nb, total, i = 0, previous = 0, bl = 7, bd = 6;
    int result = InflateBadData;

    FETCH_BITS(14);
    nl = 257 + (b & 31);
    CONSUME_BITS(5);
    nd = 1 + (b & 31);
    CONSUME_BITS(5);
    nb = 4 + (b & 15);
    CONSUME_BITS(4);
    for (unsigned j = 0; j < 19; j++) {
        unsigned len = 0;
        if (j < nb) {
            FETCH_BITS(3);
            len = b & 7;
            CONSUME_BITS(3);
        }
        lengths[CodeLengthOrder[j]] = (uint8_t)len;
    }
    if (READ_PAST_END())
        goto done;

    result = BuildDecodeTable(lengths, 19, 19, 0, 0, 0, tl, chain, bl);
    if (result != InflateOk)
        goto done;
    result = InflateBadData;
    if (!tl)
        goto done;                  // a code-length code without codes

    total = nl + nd;
    while (i < total) {
        FETCH_BITS(bl);
        const DecodeEntry *t = tl + (b & BitMask[bl]);
        // Lengths of at most 7 bits never need a sub-table; what is not a
        // plain slot is the free pattern of a single one-bit code.
        if (t->Op != OpLiteral)
            goto done;
        CONSUME_BITS(t->Bits);
        unsigned symbol = t->Value, repeat;
        if (symbol < 16) {
            lengths[i++] = (uint8_t)symbol;
            previous = symbol;
            continue;
        }
        if (symbol == 16) {
            FETCH_BITS(2);
            repeat = 3 + (b & 3);
            CONSUME_BITS(2);
        } else if (symbol == 17) {
            FETCH_BITS(3);
            repeat = 3 + (b & 7);
            CONSUME_BITS(3);
            previous = 0;
        } else {
            FETCH_BITS(7);
            repeat = 11 + (b & 127);
            CONSUME_BITS(7);
            previous = 0;
        }
        if (i + repeat > total)
            goto done;
        while (repeat--)
            lengths[i++] = (uint8_t)previous;
    }
    if (READ_PAST_END())
        goto done;
    STORE_BITS();
    ReleaseDecodeTables(chain);
    chain = 0;

    bl = 9;
    result = BuildDecodeTable(lengths, nl, 257, LengthBase, LengthExtra, 31, tl, chain, bl);
    if (result != InflateOk)
        goto released;
    // An incomplete distance code is accepted: its free patterns decode as
    // invalid codes when they are met.
    result = BuildDecodeTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, 30, td,
                              distanceChain, bd);
    if (result == InflateOverSubscribed)
        goto released;
    result = DecodeCodes(tl, td, bl, bd);
    goto released;

overrun:
    result = InflateBadData;
done:
    STORE_BITS();
released:
    ReleaseDecodeTables(chain);
    ReleaseDecodeTables(distanceChain);
    return result;
}

static int DecodeBlock(bool &last)
{
    unsigned type;
    {
        BIT_STATE;
        FETCH_BITS(3);
        last = b & 1;
        type = (b >> 1) & 3;
        CONSUME_BITS(3);
        STORE_BITS();
        if (READ_PAST_END())
            return InflateBadData;
    }
    if (type == 0)
        return CopyStoredBlock();
    if (type == 1)
        return DecodeFixedBlock();
    if (type == 2)
        return DecodeDynamicBlock();
    return InflateBadData;          // reserved block type
overrun:
    return InflateBadData;
}

void Inflate()
{
    InputPosition = 0;
    InputCount = 0;
    WindowPosition = 0;
    BitCount = 0;
    BitBuffer = 0;
    InputOverrun = 0;
    InputBuffer = (uint8_t *)GetMem(WindowSize);
    Window = (uint8_t *)GetMem(WindowSize);
    // A back-reference before the entry's first byte must copy zeros, never
    // what the memory held before.
    memset(Window, 0, WindowSize);
    FixedLiteralTable = FixedDistanceTable = 0;
    FixedLiteralChain = FixedDistanceChain = 0;

    bool last = false;
    while (DecodeBlock(last) == InflateOk && !last) {
    }
    if (WindowPosition > 0)
        FlushWindow();

    ReleaseDecodeTables(FixedLiteralChain);
    ReleaseDecodeTables(FixedDistanceChain);
    FixedLiteralTable = FixedDistanceTable = 0;
    FixedLiteralChain = FixedDistanceChain = 0;
    FreeMem(InputBuffer);
    FreeMem(Window);
    InputBuffer = Window = 0;
}
