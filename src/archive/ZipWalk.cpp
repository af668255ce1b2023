// The walk over the local headers (APPNOTE 4.3.7).  The central directory is
// never read: the walk ends at the first record that is no entry and no data
// descriptor.  Where it ends tells whether the archive was read whole: a
// sound archive's local headers are followed by its central directory, or
// by the end record when it has no entries.  Anything else there (other
// bytes, a header cut short, the end of the file) means entries may follow
// that the walk could not reach, and no run may then count as complete.
#include "ZipWalk.h"

#include "../decode/WinZipAes.h"

#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "EntryNames.h"

#include <string.h>

// Formed at run time so that the stub's image never holds the signature's
// bytes: the only occurrences in a self-extracting file are the archive's own
// local headers.  The empty asm hides the value from the compiler, which
// would otherwise fold the subtraction into the signature's constant.
static uint32_t LocalSignature()
{
    uint32_t s = 0x04034B51;
    __asm__("" : "+r"(s));
    return s - 1;
}

uint8_t WalkEnded;

static bool IsRecordSignature(uint32_t s)
{
    return s == LocalSignature() || s == OddLocalSignature || s == CentralHeaderSignature ||
           s == EndRecordSignature;
}

bool ReadNextHeader()
{
    LocalFileHeader &h = LocalHeaderFields();
    const uint32_t localSignature = LocalSignature();
    for (;;) {
        h.Signature = 0;
        // A header cut short by the end of the file is no header, even when
        // its signature made it in: the fields after it would be the last
        // entry's, and the walk would list that entry a second time.
        // The end record (22 bytes) is shorter than a local header: at the
        // end of a file without a comment only its signature tells it.
        int32_t got = FileRead(ArchiveFile, &h, sizeof h);
        uint32_t ending = got >= 4 ? h.Signature : 0;
        if (got != (int32_t)sizeof h)
            h.Signature = 0;
        WalkEnded = ending == CentralHeaderSignature || ending == EndRecordSignature ? WalkAtDirectory : WalkCut;
        uint32_t s = h.Signature;
        if (s == localSignature || s == OddLocalSignature) {
            RemainingInput = (int32_t)h.CompressedSize;
            return true;
        }
        RemainingInput = 0;
        if (s != DescriptorSignature || LastSeekPosition == -1)
            return false;
        // A data descriptor: step over its 16 bytes (signature, CRC, sizes)
        // and read on.  A loop rather than the recursion it stands for, so
        // that a long run of descriptors cannot exhaust the stack.
        if (LastSeekPosition > 0x7FFFFFFF - DescriptorSize)
            return false;
        SeekArchive(LastSeekPosition + DescriptorSize);
        if (LastSeekPosition == -1)
            return false;
    }
}

static uint32_t Get32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// At the record after an entry with flag bit 3 (APPNOTE 4.3.9): its data
// descriptor, with the optional signature or without it.  A descriptor with
// its signature is stepped over by ReadNextHeader whatever it holds; one
// without it is known only by its values, so it is taken when its CRC-32 and
// sizes are the local header's (which they must be for the entry to have been
// read at all).  ZIP64 descriptors carry 8-byte sizes; taking one for the
// 4-byte form would land the walk inside it, so one found is refused instead.
// The position after the descriptor, or -1 when it is a ZIP64 one.
static int32_t StepOverDescriptor(int32_t at)
{
    LocalFileHeader &h = LocalHeaderFields();
    uint8_t d[24];
    memset(d, 0, sizeof d);
    FileRead(ArchiveFile, d, sizeof d);
    bool withSignature = Get32(d) == DescriptorSignature;
    if (!withSignature && IsRecordSignature(Get32(d)))
        return at;
    const uint8_t *v = d + (withSignature ? 4 : 0);
    int narrowSize = withSignature ? DescriptorSize : DescriptorSize - 4;
    bool sameCrc = Get32(v) == h.Crc32 && Get32(v + 4) == h.CompressedSize;
    bool narrow = sameCrc && Get32(v + 8) == h.UncompressedSize;
    bool wide = sameCrc && Get32(v + 8) == 0 && Get32(v + 12) == h.UncompressedSize && Get32(v + 16) == 0;
    if (wide && !(narrow && IsRecordSignature(Get32(d + narrowSize))))
        return -1;
    return withSignature || !narrow ? at : at + narrowSize;
}

uint64_t EntryFileTime;

static uint32_t Le32(const uint8_t *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Format notes: an extra field is a run of blocks, each a 2-byte id, a
// 2-byte length and that many bytes (APPNOTE 4.5).  NTFS (0x000A, APPNOTE
// 4.5.5): 4 reserved bytes, then attributes of a tag and a length; tag 1,
// 24 bytes long, holds the last-write, last-access and creation FILETIMEs.
// Info-ZIP's extended timestamp (0x5455): a flags byte whose bit 0 says a
// last-write time follows, as 32-bit signed seconds since 1970, UTC.  The
// NTFS time is the finer and wins.  Blocks that run past the field are not
// read.
uint64_t ExtraFieldTime(const uint8_t *extra, uint32_t n)
{
    uint64_t unixTime = 0;
    for (uint32_t at = 0; at + 4 <= n;) {
        uint32_t id = extra[at] | extra[at + 1] << 8, size = extra[at + 2] | extra[at + 3] << 8;
        const uint8_t *d = extra + at + 4;
        if (at + 4 + size > n)
            break;
        if (id == 0x000A) {
            for (uint32_t a = 4; a + 4 <= size;) {
                uint32_t tag = d[a] | d[a + 1] << 8, length = d[a + 2] | d[a + 3] << 8;
                if (a + 4 + length > size)
                    break;
                if (tag == 1 && length >= 8) {
                    uint64_t t = Le32(d + a + 4) | (uint64_t)Le32(d + a + 8) << 32;
                    if (t)
                        return t;
                }
                a += 4 + length;
            }
        } else if (id == 0x5455 && size >= 5 && (d[0] & 1)) {
            // FILETIME counts 100 ns from 1601; Unix seconds from 1970.
            unixTime = (uint64_t)((int64_t)(int32_t)Le32(d + 1) * 10000000 + 116444736000000000LL);
        }
        at += 4 + size;
    }
    return unixTime;
}

// Where the entry's encryption header or data begins; -1 past 2 GiB, which
// fails like any other seek.
static int32_t EntryDataPosition(int32_t headerPosition)
{
    LocalFileHeader &h = LocalHeaderFields();
    int64_t data = (int64_t)headerPosition + LocalHeaderSize + h.NameLength + h.ExtraLength;
    return data > 0x7FFFFFFF ? -1 : (int32_t)data;
}

void SeekEntryData(int32_t headerPosition)
{
    SeekArchive(EntryDataPosition(headerPosition));
}

bool ReadEntry(int32_t headerPosition, Text &name, Text *storedName)
{
    LocalFileHeader &h = LocalHeaderFields();
    uint32_t n = h.NameLength, size = n + h.ExtraLength;
    uint8_t *fields = (uint8_t *)GetMem(size + 1);
    // FileRead answers 0, never less, when nothing could be read.  What the
    // file did not hold of the name reads as cut there, of the extra field
    // as absent.
    uint32_t got = (uint32_t)FileRead(ArchiveFile, fields, size);
    FixedTextToString(name, fields, got < n ? got : n);
    if (storedName)
        FixedTextToString(*storedName, name.Data, name.Length);
    const uint8_t *extra = fields + n;
    uint32_t extraGot = got > n ? got - n : 0;
    bool utf8 = EntryNameToUtf8(name, h.Flags, extra, extraGot);
    EntryFileTime = RestoreFileTimes ? ExtraFieldTime(extra, extraGot) : 0;
    NoteAesField(extra, extraGot);
    FreeMem(fields);
    // A whole read right after the header left the file where the entry's
    // data begins: a seek there would be a system call for nothing.  The
    // position is noted all the same, as the seek would have noted it.
    int32_t data = EntryDataPosition(headerPosition);
    if (got == size)
        LastSeekPosition = data;
    else
        SeekArchive(data);
    return utf8;
}

bool AdvanceToNextHeader(int32_t headerPosition)
{
    LocalFileHeader &h = LocalHeaderFields();
    // 64-bit sum: a compressed size of 2 GiB or more would wrap a 32-bit
    // offset backwards and make the walk loop.  The walk only moves forward.
    int64_t next = (int64_t)headerPosition + LocalHeaderSize + h.NameLength +
                   h.ExtraLength + h.CompressedSize;
    WalkEnded = WalkCut;
    if (headerPosition < 0 || next > 0x7FFFFFFF) {
        RemainingInput = 0;
        return false;
    }
    SeekArchive((int32_t)next);
    if (LastSeekPosition != -1 && (h.Flags & DescriptorFlag)) {
        int32_t after = StepOverDescriptor((int32_t)next);
        if (after < 0) {
            WalkEnded = WalkZip64;
            RemainingInput = 0;
            return false;
        }
        SeekArchive(after);
    }
    if (LastSeekPosition == -1) {
        RemainingInput = 0;
        return false;
    }
    return ReadNextHeader();
}
