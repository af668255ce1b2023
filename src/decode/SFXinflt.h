// The inflate decoder (RFC 1951) with its buffered input and output.
#ifndef SFX_INFLT_H
#define SFX_INFLT_H

#include "../common/SFXgbls.h"

// Decodes the current deflated entry: RemainingInput compressed bytes from
// the current position of ArchiveFile (decrypted when bit 0 of
// LocalHeader.Flags is set), output to OutputFile, every written byte added
// to RunningCrc.
void Inflate();

// Inflate with what the extraction run sets before it (RemainingInput :=
// size, RunningCrc started), for the programs that decode a stream of their
// own: the tests, the fuzzers and the benchmarks.  LocalHeader still says
// whether the data is encrypted.  The CRC-32 of what was written.
uint32_t InflateStream(int32_t size);

// ---------------------------------------------------------------------------
// Decoding tables.  A table of j index bits is one block of 2^j + 1
// slots: a link slot in front (its Next is the table allocated before it,
// so every table of one code hangs on one chain), then the 2^j slots that
// the next j bits of the stream index.
//
//   Op   0..13  length or distance base, plus Op extra bits
//        15     end of block
//        16     literal (or code-length symbol)
//        17..32 link: the next Op - 16 bits index the sub-table in Next
//        99     invalid code

struct DecodeEntry {
    uint8_t Op;
    uint8_t Bits;               // bits taken by this slot
    uint16_t Value;
    DecodeEntry *Next;
};

enum { OpEndOfBlock = 15, OpLiteral = 16, OpInvalid = 99 };

// Results of the block routines, the table builder and the code loop.
enum { InflateOk = 0, InflateBadData = 1, InflateOverSubscribed = 2 };

enum { WindowSize = 32768 };

// Builds the tables of one code from n code lengths (0 to 16 bits).
// Symbols below s are simple (their slot holds the symbol); symbol s + i
// takes bases[i] and extras[i] for i < entries, and is invalid past them.
// chain must be null before the first build of a chain; lookupBits comes in
// as the wanted root size and goes out as the size built.
int BuildDecodeTable(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases,
                     const uint8_t *extras, unsigned entries, DecodeEntry *&root,
                     DecodeEntry *&chain, unsigned &lookupBits);
void ReleaseDecodeTables(DecodeEntry *chain);

// RFC 1951 3.2.5 and 3.2.7.
extern const uint16_t LengthBase[31];
extern const uint8_t LengthExtra[31];
extern const uint16_t DistanceBase[30];
extern const uint8_t DistanceExtra[30];
extern const uint16_t BitMask[17];
extern const uint8_t CodeLengthOrder[19];

#endif
