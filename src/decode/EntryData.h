// One entry's data, as every reader of the archive treats it: the stub's
// extraction run, the builder's --verify, the tests and the fuzzers.  Each
// routine works on LocalHeader and ArchiveFile as the walk left them.
#ifndef SFX_ENTRYDATA_H
#define SFX_ENTRYDATA_H

#include "../common/SFXgbls.h"

// True when the entry's data cannot be decoded, whatever the password: a
// method other than stored and deflated, or an entry written to a pipe
// (IsStreamedEntry).  The file position is left at dataPosition.
bool IsUndecodableEntry(int32_t dataPosition);

// An entry that carries its sizes and CRC only in the data descriptor
// after its data, which the walk never reads.
bool IsStreamedEntry(int32_t dataPosition);

// Reads the 12-byte encryption header at the current position into the
// second half of header (EncryptionHeaderSize * 2 bytes); the first half is
// zeroed.  False when the file ended before it.
bool ReadEncryptionHeader(uint8_t *header);

// True when the password opens the entry (CheckEncryptionHeader on the
// untouched copy in the header's second half, which may be tried again);
// the keys are then ready for the data.
bool PasswordOpens(uint8_t *header, const Text &password);

// Decodes the entry's data from the current position (after its encryption
// header, which the compressed size counts) into OutputFile, stored or
// deflated; true when the CRC-32 of what was written matches the header's.
bool DecodeEntryData();

#endif
