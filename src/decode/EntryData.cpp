#include "EntryData.h"

#include <string.h>

#include "../common/FileIO.h"
#include "../common/SFXmisc.h"
#include "CrcCrypt.h"
#include "SFXinflt.h"

bool IsUndecodableEntry(int32_t dataPosition)
{
    return (LocalHeader.Method != MethodStored && LocalHeader.Method != MethodDeflated) ||
           IsStreamedEntry(dataPosition);
}

// Written to a pipe, an entry carries its sizes and CRC only in the data
// descriptor; the local header says 0 bytes.  Deflated, that can never hold
// a stream; stored, it is an empty file only when the next record follows
// at once.  Either way the entry cannot be extracted from the local header,
// and an empty file with a matching CRC of 0 would be reported as a success.
bool IsStreamedEntry(int32_t dataPosition)
{
    if (!(LocalHeader.Flags & DescriptorFlag) || LocalHeader.CompressedSize != 0)
        return false;
    if (LocalHeader.Method != MethodStored)
        return true;
    uint8_t next[4] = {0, 0, 0, 0};
    SeekArchive(dataPosition);
    bool atRecord = FileRead(ArchiveFile, next, 4) < 4 ||
                    (next[0] == 'P' && next[1] == 'K' && next[2] < 9 && next[3] < 9);
    SeekArchive(dataPosition);
    return !atRecord;
}

bool ReadEncryptionHeader(uint8_t *header)
{
    memset(header, 0, EncryptionHeaderSize * 2);
    return FileRead(ArchiveFile, header + EncryptionHeaderSize, EncryptionHeaderSize) == EncryptionHeaderSize;
}

bool PasswordOpens(uint8_t *header, const Text &password)
{
    return CheckEncryptionHeader(header, EncryptionHeaderSize, LocalHeader.Flags, password,
                                 LocalHeader.ModTime | (uint32_t)LocalHeader.ModDate << 16, LocalHeader.Crc32);
}

bool DecodeEntryData()
{
    RunningCrc = 0xFFFFFFFF;
    // The compressed size counts the encryption header, already read.  A
    // size below that, or one of 2 GiB or more (negative here), leaves no
    // data at all.
    int32_t remaining = (int32_t)LocalHeader.CompressedSize;
    if (LocalHeader.Flags & EncryptedFlag)
        remaining = remaining < EncryptionHeaderSize ? 0 : remaining - EncryptionHeaderSize;
    RemainingInput = remaining < 0 ? 0 : remaining;
    if (LocalHeader.Method == MethodStored)
        CopyStoredEntry();
    else
        Inflate();
    return (RunningCrc ^ 0xFFFFFFFF) == LocalHeader.Crc32;
}
