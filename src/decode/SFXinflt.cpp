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
// The code loop has two ways through a symbol.  Far from the ends of
// InputBuffer and of the window, a tight loop keeps the bit buffer, its
// count and both positions in locals, takes input straight from
// InputBuffer four bytes at a time and tests nothing per symbol but the
// codes themselves.  Near an end, one symbol at a time goes through checked
// steps on the decoder state, which refill through the byte source and
// flush the window.  Block headers, stored blocks and code lengths are cold
// and share small bit routines on the decoder state: in the stub this
// module is about 7 KB of code.
//
// The window is never cleared: until its first flush, the bytes past the
// write position were never written, and a back-reference that reaches
// them (before the entry's first byte) gets zeros.
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
#include "WinZipAes.h"

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

// Slots of table space per entry (see AllocateTable).
enum { TableSpaceSlots = 2048 };

// ---------------------------------------------------------------------------
// Decoder state: one entry is decoded at a time.

// Every variable here is the decoder's alone.  Window and WindowPosition
// stay external all the same: declared static, the stub's code for the
// window grows by 40 bytes (GCC 12, -Os with LTO).
//
// Unconsumed input bits, next bit lowest.  Bits above BitCount are 0 or the
// stream's next bits, loaded ahead by the code loop.
static uint32_t BitBuffer;
static uint16_t BitCount;           // valid bits in BitBuffer
uint8_t *Window;                    // history and output buffer
uint16_t WindowPosition;            // 0..32768: where the next output byte goes
static uint8_t *InputBuffer;
static uint16_t InputPosition;      // next byte to take from InputBuffer
static int32_t InputCount;          // bytes the last refill placed there
// The fixed codes' tables, built by the first fixed block of the run and
// kept for the rest of it at the bottom of the table space (see Inflate).
static DecodeEntry *FixedLiteralTable;
static DecodeEntry *FixedDistanceTable;
static DecodeEntry *FixedLiteralChain;
static DecodeEntry *FixedDistanceChain;
static unsigned FixedLiteralBits;
static unsigned FixedDistanceBits;
static DecodeEntry *FixedSpaceTop;  // the table space above them
// Bytes of end of data (read as 0xFF) shifted into the bit buffer.  Real
// bits always sit below them, so the stream has read past its data exactly
// when fewer than 8 * InputOverrun bits remain.  A valid stream holds at
// most 23 bits after a fetch, so a third such byte is always an overrun.
static unsigned InputOverrun;
// True once the window has been flushed full: from then on all of it is
// history.  Before that, the bytes past WindowPosition were never written
// and a back-reference reads them as zeros.
static bool WindowFilled;

// ---------------------------------------------------------------------------
// Buffered input and output.

static int ReadInputByte()
{
    if (InputPosition < InputCount)
        return InputBuffer[InputPosition++];
    // Only ever asked for what the entry still holds, so RemainingInput
    // stays the count of its bytes not yet read from the file.
    InputCount = FileRead(ArchiveFile, InputBuffer, (uint32_t)SmallerOf(RemainingInput, WindowSize));
    if (InputCount < 0)
        InputCount = 0;
    if (LocalHeader.Flags & EncryptedFlag)
        DecryptInput(InputBuffer, InputCount);
    InputPosition = 0;
    if (InputCount == 0) {
        RemainingInput = 0;
        return -1;
    }
    InputPosition = 1;
    return InputBuffer[0];
}

static int NextInputByte()
{
    if (RemainingInput <= 0)
        return -1;
    int b = ReadInputByte();
    RemainingInput--;
    return b;
}

static void FlushWindow()
{
    // Only what the system took counts: a short or failed write must leave
    // the entry with a CRC that does not match.
    int32_t put = FileWrite(OutputFile, Window, WindowPosition);
    if (put > (int32_t)WindowPosition)
        put = WindowPosition;
    UpdateCrcOverBlock(Window, put, RunningCrc);
    CountWritten(put);
    WindowFilled = true;
    WindowPosition = 0;
}

// The byte source as the bit reader sees it: end of data reads as 0xFF
// and is counted.
static uint32_t BitSourceByte()
{
    int c = NextInputByte();
    if (c >= 0)
        return (uint32_t)c;
    InputOverrun++;
    return 0xFF;
}

// FetchBits and ConsumeBits on the decoder state itself, for the block
// headers, the stored blocks and the code lengths; the code loop works on
// local copies (below).  n is at most 16.
static void FetchBits(unsigned n)
{
    while (BitCount < n) {
        BitBuffer |= BitSourceByte() << BitCount;
        BitCount += 8;
    }
}

static void ConsumeBits(unsigned n)
{
    BitBuffer >>= n;
    BitCount = (uint16_t)(BitCount - n);
}

static unsigned ReadBits(unsigned n)
{
    FetchBits(n);
    unsigned value = BitBuffer & BitMask[n];
    ConsumeBits(n);
    return value;
}

// True once bits past the end of the entry's data have been taken: the end
// of data bytes sit above every real bit, so fewer than 8 * InputOverrun
// bits are left exactly then.
static bool ReadPastEnd() { return BitCount < 8 * InputOverrun; }

// Working copies for the code loop: b and k (bit buffer and count), in and
// end (the unread part of InputBuffer), pastEnd (ReadPastEnd as a bound on
// k).
#define BIT_STATE                                                                                  \
    uint32_t b = BitBuffer;                                                                        \
    unsigned k = BitCount;                                                                         \
    const uint8_t *in = InputBuffer + InputPosition;                                               \
    const uint8_t *end = InputBuffer + InputCount;                                                 \
    unsigned pastEnd = 8 * InputOverrun

#define STORE_BITS()                                                                               \
    do {                                                                                           \
        uint16_t pos_ = (uint16_t)(in - InputBuffer);                                              \
        RemainingInput -= pos_ - InputPosition;                                                    \
        InputPosition = pos_;                                                                      \
        BitBuffer = b;                                                                             \
        BitCount = (uint16_t)k;                                                                    \
    } while (0)

// At least 16 bits, which holds any code (15 bits at most) or extra bits.
// With four bytes left in InputBuffer, one unaligned load tops the buffer up
// to 24..31 bits; the bits it places above the count are the stream's next
// bits, which later loads OR in again unchanged.  Otherwise the bytes come
// one by one through FetchBits.  A stream that runs a third byte past its
// end has certainly read past it (valid ones hold at most 23 bits).
#define REFILL_FAST()                                                                              \
    do {                                                                                           \
        uint32_t word_;                                                                            \
        memcpy(&word_, in, 4);                                                                     \
        b |= word_ << k;                                                                           \
        in += (31 - k) >> 3;                                                                       \
        k |= 24;                                                                                   \
    } while (0)

#define REFILL()                                                                                   \
    do {                                                                                           \
        if (k < 16) {                                                                              \
            if (end - in >= 4) {                                                                   \
                REFILL_FAST();                                                                     \
            } else {                                                                               \
                STORE_BITS();                                                                      \
                FetchBits(16);                                                                     \
                b = BitBuffer;                                                                     \
                k = BitCount;                                                                      \
                in = InputBuffer + InputPosition;                                                  \
                end = InputBuffer + InputCount;                                                    \
                pastEnd = 8 * InputOverrun;                                                        \
                if (InputOverrun >= 3)                                                             \
                    goto done;                                                                     \
            }                                                                                      \
        }                                                                                          \
    } while (0)

#define CONSUME_BITS(n)                                                                            \
    do {                                                                                           \
        b >>= (n);                                                                                 \
        k -= (n);                                                                                  \
    } while (0)

// Checked before anything decoded from such bits reaches the window, so a
// truncated entry's output is always a prefix of what the whole entry holds.
#define READ_PAST_END() (k < pastEnd)

// One code's symbol into t and op, its bits consumed: links walk down to
// the sub-tables; the bits a code looks at never go past its table's
// longest code, so 16 bits cover the walk.
#define DECODE_SYMBOL(table, mask)                                                                 \
    do {                                                                                           \
        t = (table) + (b & (mask));                                                                \
        while ((op = t->Op) > OpLiteral) {                                                         \
            if (op == OpInvalid)                                                                   \
                goto done;                                                                         \
            CONSUME_BITS(t->Bits);                                                                 \
            t = t->Next + (b & BitMask[op - OpLiteral]);                                           \
        }                                                                                          \
        CONSUME_BITS(t->Bits);                                                                     \
    } while (0)

// One routine is where the stub's size optimisation costs real time: the
// fast code loop (at -Os GCC keeps the bit buffer and both positions of a
// 32-bit build in memory).  It alone is compiled for speed.  The table
// builder, which every dynamic block runs three times, was too, for 400
// bytes of the image: at -Os it costs 1.6 % more instructions on 10,000
// small streams, 0.4 % on files shipped already compressed and 0.1 to
// 0.2 % on text and binaries (i686, callgrind), which the image's room for
// the AES entries is worth.
#if defined(__GNUC__) && !defined(__clang__)
#define HOT_LOOP __attribute__((optimize("O2")))
#else
#define HOT_LOOP
#endif

// ---------------------------------------------------------------------------
// Decoding tables.

// While an entry is decoded, its tables are carved from the end of the
// entry's one allocation (TableSpaceTop up to TableSpaceEnd) instead of one
// heap block each: a small entry spent as much time in the heap as in
// decoding.  Tables live last in, first out (a block's tables go before the
// next block's are built; the fixed ones, built by a fixed block, last the
// run), so releasing a table gives back the space from it upwards.  A
// table that does not fit comes from the heap as before; outside Inflate
// there is no space and every table does.
static DecodeEntry *TableSpace;
static DecodeEntry *TableSpaceTop;
static DecodeEntry *TableSpaceEnd;
static uint8_t *DecodeMemory;       // see Inflate

static DecodeEntry *AllocateTable(unsigned slots)
{
    DecodeEntry *q = TableSpaceTop;
    if ((unsigned)(TableSpaceEnd - q) >= slots) {
        TableSpaceTop = q + slots;
        return q;
    }
    return (DecodeEntry *)GetMem(slots * sizeof(DecodeEntry));
}

void ReleaseDecodeTables(DecodeEntry *chain)
{
    while (chain) {
        DecodeEntry *link = chain - 1;
        chain = link->Next;
        if (link >= TableSpace && link < TableSpaceEnd) {
            if (link < TableSpaceTop)
                TableSpaceTop = link;
        } else {
            FreeMem(link);
        }
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
                q = AllocateTable(z + 1);
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

// Copies and fills of a length known only at run time.  At -Os GCC moves
// them a byte per step (rep movsb, rep stosb); the i686 build moves four
// bytes per step, which is what stored blocks of already-compressed data
// spend most of their time in.  Forward order, as memcpy's.
static inline void CopyBytes(uint8_t *to, const uint8_t *from, unsigned n)
{
#if defined(__i386__) && defined(__GNUC__)
    unsigned words = n >> 2;
    n &= 3;
    __asm__ volatile("rep movsl\n\tmovl %3, %%ecx\n\trep movsb"
                     : "+D"(to), "+S"(from), "+c"(words)
                     : "r"(n)
                     : "memory");
#else
    memcpy(to, from, n);
#endif
}

static inline void FillBytes(uint8_t *to, uint8_t value, unsigned n)
{
#if defined(__i386__) && defined(__GNUC__)
    unsigned words = n >> 2;
    n &= 3;
    __asm__ volatile("rep stosl\n\tmovl %3, %%ecx\n\trep stosb"
                     : "+D"(to), "+c"(words)
                     : "a"(value * 0x01010101u), "r"(n)
                     : "memory");
#else
    memset(to, value, n);
#endif
}

// Copies a match of e bytes within the window, as a byte-by-byte copy in
// increasing order would: a source that overlaps its destination repeats
// the pattern.  Sources at least 8 bytes back (or after the destination,
// without overlap) move in pieces of 8, 4 and 2 bytes, each of which reads
// only bytes that are already final; no piece writes past the copy's end,
// since the bytes there are history still to be read.
static inline void CopyMatch(uint8_t *to, const uint8_t *from, unsigned e)
{
    if (to - from >= 8 || from - to >= (ptrdiff_t)e) {
        if (e >= 64 && to - from >= (ptrdiff_t)e) {
            CopyBytes(to, from, e);
            return;
        }
        for (; e >= 8; e -= 8, to += 8, from += 8) {
            uint64_t piece;
            memcpy(&piece, from, 8);
            memcpy(to, &piece, 8);
        }
        if (e >= 4) {
            uint32_t head, tail;
            memcpy(&head, from, 4);
            memcpy(&tail, from + e - 4, 4);
            memcpy(to, &head, 4);
            memcpy(to + e - 4, &tail, 4);
        } else if (e >= 2) {
            uint16_t head, tail;
            memcpy(&head, from, 2);
            memcpy(&tail, from + e - 2, 2);
            memcpy(to, &head, 2);
            memcpy(to + e - 2, &tail, 2);
        } else if (e) {
            *to = *from;
        }
    } else if (to - from == 1) {
        FillBytes(to, from[0], e);
    } else {
        // Sources 4 to 7 bytes back: pieces of 4 still read final bytes.
        if (to - from >= 4) {
            for (; e >= 4; e -= 4, to += 4, from += 4) {
                uint32_t piece;
                memcpy(&piece, from, 4);
                memcpy(to, &piece, 4);
            }
        }
        while (e--)
            *to++ = *from++;
    }
}

// Copies a match of n bytes from dist bytes back, as RFC 1951 defines it
// on a circular window: a source before position 0 is the tail of the
// previous portion (zeros before the entry's first byte), and a copy that
// fills the window is split around the flush.
static void CopyAround(unsigned n, unsigned dist)
{
    uint8_t *const window = Window;
    unsigned w = WindowPosition;
    unsigned d = (w - dist) & 0xFFFF;
    do {
        d &= WindowSize - 1;
        unsigned e = WindowSize - (d > w ? d : w);
        if (e > n)
            e = n;
        n -= e;
        if (d >= w && !WindowFilled)
            memset(window + w, 0, e);   // never written: reads as zeros
        else
            CopyMatch(window + w, window + d, e);
        w += e;
        d += e;
        WindowPosition = (uint16_t)w;
        if (w == WindowSize) {
            FlushWindow();
            w = 0;
        }
    } while (n);
}

// DecodeCodes' result for a symbol decoded with more to come.
enum { NextSymbol = 3 };

// One literal/length symbol, and the distance of a length, on the decoder
// state, every step checked: near the ends of InputBuffer and of the window.
static int DecodeSymbolChecked(const DecodeEntry *tl, const DecodeEntry *td, unsigned ml, unsigned md)
{
    BIT_STATE;
    const DecodeEntry *t;
    unsigned op, n;
    int result = InflateBadData;
    REFILL();
    DECODE_SYMBOL(tl, ml);
    if (READ_PAST_END())
        goto done;
    if (op == OpLiteral) {
        Window[WindowPosition++] = (uint8_t)t->Value;
        if (WindowPosition == WindowSize)
            FlushWindow();
        result = NextSymbol;
        goto done;
    }
    if (op == OpEndOfBlock) {
        result = InflateOk;
        goto done;
    }
    if (k < op)
        REFILL();
    n = t->Value + (b & BitMask[op]);
    CONSUME_BITS(op);
    if (!td)
        goto done;
    REFILL();
    DECODE_SYMBOL(td, md);
    if (k < op)
        REFILL();
    {
        unsigned dist = t->Value + (b & BitMask[op]);
        CONSUME_BITS(op);
        if (READ_PAST_END())
            goto done;
        STORE_BITS();
        CopyAround(n, dist);
        return NextSymbol;
    }
done:
    STORE_BITS();
    return result;
}

// Symbols far from the ends of InputBuffer and of the window, where they
// need none of the tests that the ends call for: a symbol's three refills
// at most (each a 4-byte load that advances up to 3 bytes, or 8 and 7 on a
// 64-bit host) stay inside InputBuffer when 12 (24) bytes are left,
// nothing it writes reaches the window's end, and bits past the end of
// data cannot be in the buffer (they come in only once InputBuffer is used
// up).  Returns at the end of the block, at bad data, or with NextSymbol
// when a symbol comes near an end.  The loop keeps nothing across a call
// (it makes one only for a match from before the entry's first byte), so
// that the bit buffer, its count and both positions can stay in registers:
// a 32-bit build has few to spare.
//
// Its bit buffer is a machine word: on a 64-bit host a refill tops it up to
// 56..63 bits, and whole bytes beyond 31 bits go back to InputBuffer when
// the state is stored.
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t FastBits;
#else
typedef uint32_t FastBits;
#endif

#define REFILL_WORD()                                                                              \
    do {                                                                                           \
        FastBits word_;                                                                            \
        memcpy(&word_, in, sizeof word_);                                                          \
        b |= word_ << k;                                                                           \
        in += (8 * sizeof(FastBits) - 1 - k) >> 3;                                                 \
        k |= 8 * sizeof(FastBits) - 8;                                                             \
    } while (0)

#define STORE_WORD()                                                                               \
    do {                                                                                           \
        if (sizeof(FastBits) > 4)                                                                  \
            for (; k > 31; k -= 8)                                                                 \
                in--;                                                                              \
        STORE_BITS();                                                                              \
        WindowPosition = (uint16_t)(out - Window);                                                 \
    } while (0)

HOT_LOOP static int DecodeFast(const DecodeEntry *tl, const DecodeEntry *td, unsigned ml, unsigned md)
{
    FastBits b = BitBuffer;
    unsigned k = BitCount;
    const uint8_t *in = InputBuffer + InputPosition;
    const unsigned margin = 3 * sizeof(FastBits);
    const uint8_t *const inFast = InputBuffer + (InputCount > (int32_t)margin ? InputCount - margin : 0);
    uint8_t *out = Window + WindowPosition;
    uint8_t *const outFast = Window + WindowSize - 258;   // the longest match
    const DecodeEntry *t;
    unsigned op, n, dist;
    int result = InflateBadData;
    while (in < inFast && out < outFast) {
        REFILL_WORD();
        DECODE_SYMBOL(tl, ml);
        if (op == OpLiteral) {
            *out++ = (uint8_t)t->Value;
            // Literals come in runs.  The refill left at least 24 bits and
            // a code takes 15 at most, so the 9 or more left hold any code
            // of the root table: a literal found there is taken without a
            // test of the count.  A run that tested the count for every
            // further literal cost more than it saved: the number of codes
            // a refill holds varies, and the test that ended the run was
            // mispredicted about once per refill.
            t = tl + (b & ml);
            if (t->Op == OpLiteral) {
                CONSUME_BITS(t->Bits);
                *out++ = (uint8_t)t->Value;
                // With a 64-bit buffer (56 bits or more after a refill)
                // runs are longer, and those whose codes the buffer
                // holds follow without a refill or a loop test (at most
                // 63 of them, well inside the window's margin).
                if (sizeof(FastBits) > 4)
                    for (t = tl + (b & ml); t->Op == OpLiteral && t->Bits <= k; t = tl + (b & ml)) {
                        CONSUME_BITS(t->Bits);
                        *out++ = (uint8_t)t->Value;
                    }
            }
            continue;
        }
        if (op == OpEndOfBlock) {
            result = InflateOk;
            goto done;
        }
        // A length code and its extra bits take 20 bits at most.
        n = t->Value + (b & BitMask[op]);
        CONSUME_BITS(op);
        if (!td)
            goto done;
        REFILL_WORD();
        DECODE_SYMBOL(td, md);
        if (k < op)
            REFILL_WORD();
        dist = t->Value + (b & BitMask[op]);
        CONSUME_BITS(op);
        const uint8_t *from = out - dist;
        if (dist > (unsigned)(out - Window)) {
            if (!WindowFilled) {
                // Before the entry's first byte: zeros, CopyAround's case.
                // The state goes back for the call and comes back from it,
                // so that nothing is kept across it; the copy cannot fill
                // the window.
                STORE_WORD();
                CopyAround(n, dist);
                b = BitBuffer;
                k = BitCount;
                in = InputBuffer + InputPosition;
                out = Window + WindowPosition;
                continue;
            }
            // The source lies in the previous portion, at the window's end
            // (at or after out: a forward copy reads each byte before it is
            // overwritten), and may go on at its start.
            from += WindowSize;
            unsigned e = (unsigned)(Window + WindowSize - from);
            if (e < n) {
                // Rare: the source runs across the window's end.
                n -= e;
                do
                    *out++ = *from++;
                while (--e);
                from = Window;
            }
            CopyMatch(out, from, n);
            out += n;
            continue;
        }
        // The source lies in this portion of the window.
        CopyMatch(out, from, n);
        out += n;
    }
    result = NextSymbol;
done:
    STORE_WORD();
    return result;
}

// Literal/length and distance symbols until the end of the block: the fast
// loop while it can, one checked symbol when it cannot.
static int DecodeCodes(const DecodeEntry *tl, const DecodeEntry *td, unsigned bl, unsigned bd)
{
    const unsigned ml = BitMask[bl], md = BitMask[bd];
    if (!tl)
        return InflateBadData;
    for (;;) {
        int result = DecodeFast(tl, td, ml, md);
        if (result == NextSymbol)
            result = DecodeSymbolChecked(tl, td, ml, md);
        if (result != NextSymbol)
            return result;
    }
}

// RFC 1951 3.2.4: LEN, NLEN, then LEN bytes, from a byte boundary.
static int CopyStoredBlock()
{
    ConsumeBits(BitCount & 7);
    unsigned len = ReadBits(16);
    if (ReadBits(16) != (~len & 0xFFFF) || ReadPastEnd())
        return InflateBadData;
    while (len) {
        unsigned w = WindowPosition;
        if (BitCount) {
            // Whole bytes the bit buffer already holds come first.
            Window[w] = (uint8_t)ReadBits(8);
            if (ReadPastEnd())
                return InflateBadData;
            w++;
            len--;
        } else {
            BitBuffer = 0;          // drop bits loaded ahead of these bytes
            if (InputPosition >= InputCount) {
                int c = NextInputByte();
                if (c < 0)
                    return InflateBadData;
                Window[w++] = (uint8_t)c;
                len--;
            }
            unsigned e = (unsigned)(InputCount - InputPosition);
            if (e > len)
                e = len;
            if (e > WindowSize - w)
                e = WindowSize - w;
            CopyBytes(Window + w, InputBuffer + InputPosition, e);
            InputPosition = (uint16_t)(InputPosition + e);
            RemainingInput -= (int32_t)e;
            w += e;
            len -= e;
        }
        WindowPosition = (uint16_t)w;
        if (w == WindowSize)
            FlushWindow();
    }
    return InflateOk;
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
        // No other table is live between blocks, so they sit at the bottom
        // of the table space, and the space above them is what later
        // entries start from.
        FixedSpaceTop = TableSpaceTop;
    }
    return DecodeCodes(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits);
}

// RFC 1951 3.2.7: the code lengths of both codes, themselves coded with the
// code-length code.
static int DecodeDynamicBlock()
{
    uint8_t lengths[288 + 32];
    DecodeEntry *tl = 0, *td = 0, *chain = 0, *distanceChain = 0;
    unsigned bl = 7, bd = 6;

    unsigned nl = 257 + ReadBits(5);
    unsigned nd = 1 + ReadBits(5);
    unsigned nb = 4 + ReadBits(4);
    for (unsigned j = 0; j < 19; j++)
        lengths[CodeLengthOrder[j]] = (uint8_t)(j < nb ? ReadBits(3) : 0);

    int result = ReadPastEnd() ? InflateBadData : BuildDecodeTable(lengths, 19, 19, 0, 0, 0, tl, chain, bl);
    if (result == InflateOk) {
        result = InflateBadData;
        unsigned total = nl + nd, i = 0, previous = 0;
        // A code-length code without codes leaves tl null.
        while (tl && i < total) {
            FetchBits(bl);
            const DecodeEntry *t = tl + (BitBuffer & BitMask[bl]);
            // Lengths of at most 7 bits never need a sub-table; what is not
            // a plain slot is the free pattern of a single one-bit code.
            if (t->Op != OpLiteral)
                break;
            ConsumeBits(t->Bits);
            unsigned symbol = t->Value, repeat = 1;
            if (symbol < 16)
                previous = symbol;
            else if (symbol == 16)
                repeat = 3 + ReadBits(2);
            else if (symbol == 17)
                repeat = 3 + ReadBits(3), previous = 0;
            else
                repeat = 11 + ReadBits(7), previous = 0;
            if (i + repeat > total)
                break;              // a repeat past the end
            while (repeat--)
                lengths[i++] = (uint8_t)previous;
        }
        if (i == total && !ReadPastEnd())
            result = InflateOk;
    }
    ReleaseDecodeTables(chain);
    chain = 0;
    if (result != InflateOk)
        return result;

    bl = 9;
    result = BuildDecodeTable(lengths, nl, 257, LengthBase, LengthExtra, 31, tl, chain, bl);
    if (result == InflateOk) {
        // An incomplete distance code is accepted: its free patterns decode
        // as invalid codes when they are met.
        result = BuildDecodeTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, 30, td,
                                  distanceChain, bd);
        if (result != InflateOverSubscribed)
            result = DecodeCodes(tl, td, bl, bd);
    }
    ReleaseDecodeTables(chain);
    ReleaseDecodeTables(distanceChain);
    return result;
}

static int DecodeBlock(bool &last)
{
    last = ReadBits(1);
    unsigned type = ReadBits(2);
    if (ReadPastEnd())
        return InflateBadData;
    if (type == 0)
        return CopyStoredBlock();
    if (type == 1)
        return DecodeFixedBlock();
    if (type == 2)
        return DecodeDynamicBlock();
    return InflateBadData;          // reserved block type
}

void Inflate()
{
    InputPosition = 0;
    InputCount = 0;
    WindowPosition = 0;
    BitCount = 0;
    BitBuffer = 0;
    InputOverrun = 0;
    WindowFilled = false;
    // Input, window and table space are one block, allocated by the first
    // entry and kept for the run: under Wine a heap block of this size
    // allocated and freed per entry cost a small entry more than its
    // decoding.  Only the fixed codes' tables carry over: the input is
    // refilled, the window's old bytes are never read (WindowFilled) and a
    // dynamic block's tables are built for it.  Building the fixed tables
    // again for every entry was a tenth of the work on small files that
    // deflate to fixed blocks (small PNG images, short texts).
    if (!DecodeMemory)
        DecodeMemory = (uint8_t *)GetMem(2 * WindowSize + TableSpaceSlots * sizeof(DecodeEntry));
    InputBuffer = DecodeMemory;
    Window = InputBuffer + WindowSize;
    TableSpace = TableSpaceTop = (DecodeEntry *)(Window + WindowSize);
    TableSpaceEnd = TableSpace + TableSpaceSlots;
    if (FixedLiteralTable)
        TableSpaceTop = FixedSpaceTop;

    bool last = false;
    while (DecodeBlock(last) == InflateOk && !last) {
    }
    if (WindowPosition > 0)
        FlushWindow();

    InputBuffer = Window = 0;
    TableSpace = TableSpaceTop = TableSpaceEnd = 0;
}

uint32_t InflateStream(int32_t size)
{
    RemainingInput = size;
    RunningCrc = 0xFFFFFFFF;
    Inflate();
    return RunningCrc ^ 0xFFFFFFFF;
}
