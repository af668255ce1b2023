// The walk over the payload archive's local headers.
#ifndef SFX_ZIPWALK_H
#define SFX_ZIPWALK_H

#include "../common/SFXgbls.h"
#include "../common/SFXmisc.h"

// How the last walk ended, set whenever ReadNextHeader or
// AdvanceToNextHeader returns false: at the central directory or the end
// record (the archive was read whole), anywhere else (other bytes, a record
// cut short, a failed seek), or at a ZIP64 data descriptor, which the walk
// does not read.
enum : uint8_t { WalkAtDirectory, WalkCut, WalkZip64 };
extern uint8_t WalkEnded;

// Reads the record at the current position of ArchiveFile into LocalHeader.
// True for an entry (RemainingInput := compressed size); false when the walk
// is over (RemainingInput := 0).  Steps over data descriptors itself.
bool ReadNextHeader();

// The last-write time an entry's extra field gives (NTFS, else Info-ZIP's
// extended timestamp), as a FILETIME; 0 when it gives none.
uint64_t ExtraFieldTime(const uint8_t *extra, uint32_t n);
// Set by ReadEntry when the settings ask for the archive's times:
// the current entry's ExtraFieldTime.
extern uint64_t EntryFileTime;

// Skips the extra field: seeks to the byte after the current entry's name
// and extra field, where its encryption header or data begins.
void SeekEntryData(int32_t headerPosition);

// The archive side of one entry, right after ReadNextHeader found it at
// headerPosition: its name and extra field, read in one call, and the file
// left where the entry's encryption header or data begins, LastSeekPosition
// there as SeekEntryData leaves it.  name becomes the UTF-8 name the entry
// is shown and written under (the stored name cut at its first zero byte,
// EntryNameToUtf8); storedName, when not null, the name as stored (cut
// there too).  The extra field gives EntryFileTime and the AES field
// (NoteAesField).  True when the entry gave its name as UTF-8.
bool ReadEntry(int32_t headerPosition, Text &name, Text *storedName);

// Seeks to the record after the current entry (header position + 30 + name
// + extra field + compressed size, whatever the entry's work read), steps
// over the data descriptor of an entry with flag bit 3, and reads it.  False, like the end of the archive, when that position would not lie
// after the header within the first 2 GiB.
bool AdvanceToNextHeader(int32_t headerPosition);

// The walk as every reader but the stub makes it (--info, --verify, the
// tests, the fuzzers; the stub's driver keeps the same loop inline): from
// ArchiveStart, each entry read (ReadEntry) and handed to
// visit(headerPosition, name, storedName, utf8) with the file at its
// encryption header or data, then on to the next record.  visit returns
// false to end the walk at its entry.  False when ArchiveStart cannot be
// reached; otherwise WalkEnded says how the walk ended, and
// LastSeekPosition where (for a walk visit did not end).
template <class Visit>
bool WalkArchive(Visit visit)
{
    SeekArchive(ArchiveStart);
    if (LastSeekPosition == -1)
        return false;
    Text name = {0, 0}, stored = {0, 0};
    bool more = ReadNextHeader();
    while (more) {
        int32_t headerPosition = LastSeekPosition;
        bool utf8 = ReadEntry(headerPosition, name, &stored);
        if (!visit(headerPosition, (const Text &)name, (const Text &)stored, utf8))
            break;
        more = AdvanceToNextHeader(headerPosition);
    }
    TextFree(name);
    TextFree(stored);
    return true;
}

#endif
