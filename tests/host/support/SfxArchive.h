// Made-up self-extracting files for the host tests of the archive walk and
// the decryption: raw ZIP records (any signature, any size field, so that
// broken archives can be written as easily as good ones), the 0x9800-byte
// image in front, and a walk over the result done the way the extraction
// driver does it.
#ifndef SFX_TEST_SFXARCHIVE_H
#define SFX_TEST_SFXARCHIVE_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "common/SFXgbls.h"
#include "decode/CrcCrypt.h"
#include "support/TempFile.h"

typedef std::vector<unsigned char> Bytes;

struct Record {
    uint32_t signature = LocalHeaderSignature;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0x6000, date = 0x5A21;
    uint32_t crc = 0;
    // compressedSize defaults to data.size(); set it to lie.
    int64_t compressedSize = -1;
    std::string name;
    Bytes extra;
    Bytes data;
};

void Put16(Bytes &b, uint16_t v);
void Put32(Bytes &b, uint32_t v);
Bytes ToBytes(const std::string &s);
uint32_t Crc32Of(const Bytes &data);

// A local header with its name, extra field and data.
void PutRecord(Bytes &archive, const Record &r);
// A data descriptor (signature, CRC, sizes).
void PutDescriptor(Bytes &archive, uint32_t crc, uint32_t size);
// A central directory header for a name, then the end record: the walk must
// stop at either.
void PutCentralDirectory(Bytes &archive, const std::string &name);

// Image bytes (0x9800, never holding a local signature), then the tail.
std::string WriteSelfExtractor(const ScratchFolder &scratch, const std::string &file, const Bytes &tail);


struct WalkedEntry {
    std::string name;           // as stored (cut at a zero byte)
    std::string utf8Name;       // as the stub shows and writes it
    int32_t headerPosition;
    LocalFileHeader header;
    int32_t remainingInput;     // as the walk set it
};

// Opens the file as ArchiveFile, reads the settings and walks the local
// headers exactly like the driver: ReadEntry, the entry's work, advance.
// `work` runs with the file positioned at the entry's encryption header or
// data; `limit` stops a walk that
// fails to end (the test then sees limit entries).
std::vector<WalkedEntry> WalkSelfExtractor(const std::string &path,
                                           const std::function<void(const WalkedEntry &)> &work = nullptr,
                                           size_t limit = 10000);

#endif
