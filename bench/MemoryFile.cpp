// The file layer for the benchmark: the archive is a block of memory and the
// target file swallows what it is given, so the figures are those of the
// decoder and the CRC, not of the system's file cache.
#include "common/FileIO.h"

#include <string.h>

#include "MemoryFile.h"

SfxFile const NoFile = (SfxFile)(intptr_t)-1;

const uint8_t *MemoryArchive;
size_t MemoryArchiveSize;
static size_t ArchivePosition;

static SfxFile const ArchiveHandle = (SfxFile)(intptr_t)1;
static SfxFile const OutputHandle = (SfxFile)(intptr_t)2;

SfxFile FileOpenRead(const char *)
{
    ArchivePosition = 0;
    return ArchiveHandle;
}

SfxFile FileCreate(const char *) { return OutputHandle; }

int32_t FileRead(SfxFile f, void *buffer, uint32_t n)
{
    if (f != ArchiveHandle)
        return 0;
    size_t left = MemoryArchiveSize - ArchivePosition;
    if (n > left)
        n = (uint32_t)left;
    memcpy(buffer, MemoryArchive + ArchivePosition, n);
    ArchivePosition += n;
    return (int32_t)n;
}

int32_t FileWrite(SfxFile f, const void *, uint32_t n) { return f == OutputHandle ? (int32_t)n : 0; }

int32_t FileSeek(SfxFile f, int32_t offset)
{
    if (f != ArchiveHandle || offset < 0 || (size_t)offset > MemoryArchiveSize)
        return -1;
    ArchivePosition = (size_t)offset;
    return offset;
}

bool FileClose(SfxFile) { return true; }
bool PathFind(const char *, char *, uint32_t) { return false; }
bool DriveRootExists(const char *) { return false; }
bool FolderCreate(const char *) { return false; }
uint32_t TempFolder(char *, uint32_t) { return 0; }

// The benchmarks decode plain entries only: the AES side of the decoders'
// input (WinZipAes.cpp, over the system's cryptography) stays out of them.
// Linked with the stub's own code (the Windows tree), that code has its own.
#ifndef SFX_STUB
#include "decode/CrcCrypt.h"
#include "decode/WinZipAes.h"

uint32_t EntryWritten;

void DecryptInput(uint8_t *bytes, int32_t n)
{
    DecryptBlock(bytes, n);
}
#endif
