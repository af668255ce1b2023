// One entry, as every reader of the archive judges and decodes it: the
// stub's extraction run, the builder's --verify, the tests and the fuzzers.
// Each routine works on LocalHeader and ArchiveFile as the walk left them.
// The stub's routines are defined here: its driver is their one caller, and
// takes them in whole instead of paying for calls.
//
// The road of an entry is the same for every reader:
//   1. JudgeEntry: the name rule, then whether the data can be decoded at
//      all (EntryKind);
//   2. the password, when NeedsPassword (ReadEncryptionHeader,
//      PasswordOpens);
//   3. DecodeEntryData.
// The stub's driver takes these steps with its prompts and files between
// them; every other reader takes them through JudgeAndDecode.  A new kind of
// entry is decided in JudgeEntry and nowhere else.
#ifndef SFX_ENTRYDATA_H
#define SFX_ENTRYDATA_H

#include <string.h>

#include "../archive/EntryNames.h"
#include "../common/FileIO.h"
#include "../common/SFXgbls.h"
#include "../common/SFXmisc.h"
#include "SFXinflt.h"
#include "WinZipAes.h"

// An entry that carries its sizes and CRC only in the data descriptor
// after its data, which the walk never reads: the local header says 0
// bytes.  Deflated, that can never hold a stream; stored, it is an empty
// file only when the next record follows at once.  Either way the entry
// cannot be extracted from the local header, and an empty file with a
// matching CRC of 0 would be reported as a success.  The file position is
// left at dataPosition.
static inline bool IsStreamedEntry(int32_t dataPosition)
{
    const LocalFileHeader &h = LocalHeaderFields();
    if (!(h.Flags & DescriptorFlag) || h.CompressedSize != 0)
        return false;
    if (h.Method != MethodStored)
        return true;
    uint8_t next[4] = {0, 0, 0, 0};
    SeekArchive(dataPosition);
    bool atRecord = FileRead(ArchiveFile, next, 4) < 4 ||
                    (next[0] == 'P' && next[1] == 'K' && next[2] < 9 && next[3] < 9);
    SeekArchive(dataPosition);
    return !atRecord;
}

// True when the entry's data cannot be decoded, whatever the password: a
// method other than stored and deflated (an AES entry's real one; an AES
// entry without CNG has none), or a streamed entry.
static inline bool IsUndecodableEntry(int32_t dataPosition)
{
    uint16_t method = EntryMethod();
    return (method != MethodStored && method != MethodDeflated) || IsStreamedEntry(dataPosition);
}

// What an entry is, judged before anything of it is written, in this order.
enum EntryKind : uint8_t {
    // Stored or deflated, also inside WinZip's AES-256 (EntryMethod):
    // decoded once a password opens it, if it needs one.
    EntryDecodable,
    // Any other method (an AES entry without CNG among them), or a streamed
    // entry: nothing can be made of its data, whatever the password
    // ("알수없는 압축파일" in the stub).
    EntryUndecodable,
    // The name rule refuses it (IsUnsafeName): it is never written.
    EntryNameRefused,
};

// Step 1 of an entry's road, right after the walk read it (ReadEntry), with
// the file at dataPosition, where it is left.
static inline uint8_t JudgeEntry(const char *name, int32_t dataPosition)
{
    if (IsUnsafeName(name))
        return EntryNameRefused;
    if (IsUndecodableEntry(dataPosition))
        return EntryUndecodable;
    return EntryDecodable;
}

// Step 2: whether the entry's data is read only after a password opened it.
// Asked of an undecodable entry too: the stub asks for its password before
// it says that the entry cannot be decoded.
// An AES entry that cannot be decoded here (no CNG, or not AES-256 over
// stored or deflated data) asks for none: no password could open it, and
// it fails as an unknown method does.
static inline bool NeedsPassword()
{
    return (LocalHeader.Flags & EncryptedFlag) != 0 && EntryMethod() != AesMethod;
}

// Reads the 12-byte encryption header at the current position into the
// second half of header (EncryptionHeaderSize * 2 bytes); the first half is
// zeroed.  An AES entry's salt and verifier (18 bytes) end where the
// traditional header ends.  False when the file ended before it.
static inline bool ReadEncryptionHeader(uint8_t *header)
{
    static_assert(AesHeaderSize <= EncryptionHeaderSize * 2, "the AES header fits the buffer");
    memset(header, 0, EncryptionHeaderSize * 2);
    int32_t n = EntryAesVersion ? (int32_t)AesHeaderSize : (int32_t)EncryptionHeaderSize;
    return FileRead(ArchiveFile, header + EncryptionHeaderSize * 2 - n, (uint32_t)n) == n;
}

// True when the password opens the entry (CheckEncryptionHeader on the
// untouched copy in the header's second half, which may be tried again);
// the keys are then ready for the data.
bool PasswordOpens(uint8_t *header, const Text &password);

// Decodes the entry's data from the current position (after its encryption
// header, which the compressed size counts) into OutputFile, stored or
// deflated; true when the CRC-32 of what was written matches the header's.
// An AES entry is sound only when its code matches over all of its data,
// and all of its bytes were written; AE-1 has its CRC checked too.
static inline bool DecodeEntryData()
{
    const LocalFileHeader &h = LocalHeaderFields();
    RunningCrc = 0xFFFFFFFF;
    EntryWritten = 0;
    // A size below the encryption header (and code), or one of 2 GiB or
    // more (negative here), leaves no data at all.
    int32_t remaining = (int32_t)h.CompressedSize;
    int32_t overhead = EntryAesVersion ? (int32_t)AesOverhead : (int32_t)EncryptionHeaderSize;
    bool cut = remaining < overhead;
    if (h.Flags & EncryptedFlag)
        remaining = cut ? 0 : remaining - overhead;
    RemainingInput = remaining < 0 ? 0 : remaining;
    uint32_t data = (uint32_t)RemainingInput;
    if (EntryMethod() == MethodStored)
        CopyStoredEntry();
    else
        Inflate();
    bool crcMatches = (RunningCrc ^ 0xFFFFFFFF) == LocalHeader.Crc32;
    if (!EntryAesVersion)
        return crcMatches;
    return AesEntryAuthentic(data) && !cut && EntryWritten == LocalHeader.UncompressedSize &&
           (crcMatches || EntryAesVersion == 2);
}

// What became of one entry that JudgeAndDecode took along the whole road, the
// first step that failed.
enum EntryOutcome : uint8_t {
    OutcomeDecoded,         // its CRC-32 matched (AES: its code, and AE-1 its CRC too)
    OutcomeNameRefused,     // JudgeEntry: EntryNameRefused
    OutcomeUndecodable,     // JudgeEntry: EntryUndecodable
    OutcomeHeaderCut,       // the encryption header is cut short by the file's end
    OutcomeNoPassword,      // encrypted, and no password was given
    OutcomeWrongPassword,   // the password does not open it
    OutcomeCrcMismatch,     // decoded, with another CRC-32 than the header's (AES: another code)
};

// The road of one entry for the readers that ask nobody (--verify, the
// tests, the fuzzers): JudgeEntry, the password (null when none was given)
// and DecodeEntryData into OutputFile.  The file must be at dataPosition,
// where ReadEntry left it.
uint8_t JudgeAndDecode(const char *name, int32_t dataPosition, const Text *password);

#endif
