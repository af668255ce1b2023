// The settings reader and the archive walk over arbitrary bytes after the
// executable image, with every entry's data handed to its decoder the way
// the extraction driver does it.  Besides the sanitizers' findings, the
// target traps when the walk fails to move forward or lists more entries
// than the file can hold: either would let a crafted archive make the
// listing loop.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "../FuzzTarget.h"
#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

namespace {

// Deflated input handed to Inflate per entry: 4 KB inflate to at most about
// 4 MB, which keeps an iteration fast.  The inflate target covers the
// decoder itself; here it only has to meet the walk.
const int32_t MaxInflateInput = 4096;

struct WalkFuzzState {
    int fd = -1;                // the self-extracting file in /dev/shm
    char path[64];
    SfxFile nullOutput;
    WalkFuzzState()
    {
        snprintf(path, sizeof path, "/dev/shm/sfx-walk-fuzz-%d", (int)getpid());
        fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
        static unsigned char image[ImageSize];
        memset(image, 0x90, sizeof image);
        if (fd < 0 || pwrite(fd, image, sizeof image, 0) != (ssize_t)sizeof image)
            __builtin_trap();
        nullOutput = FileCreate("/dev/null");
    }
    ~WalkFuzzState()
    {
        close(fd);
        unlink(path);
        FileClose(nullOutput);
    }
};

void Decode(int32_t headerPosition)
{
    SeekEntryData(headerPosition);
    if (LocalHeader.Flags & 1) {
        uint8_t header[24];
        if (FileRead(ArchiveFile, header + 12, 12) != 12)
            return;
        memcpy(header, header + 12, 12);
        Text password = {0, 0};
        TextAssign(password, "pw");
        bool fits = CheckEncryptionHeader(header, 12, LocalHeader.Flags, password,
                                          LocalHeader.ModTime | (uint32_t)LocalHeader.ModDate << 16,
                                          LocalHeader.Crc32);
        TextFree(password);
        if (!fits)
            return;
    }
    RunningCrc = 0xFFFFFFFF;
    // As the driver budgets it: a size of 2 GiB or more, or an encrypted
    // entry shorter than its header, leaves no data (no signed overflow).
    int32_t remaining = (int32_t)LocalHeader.CompressedSize;
    if (LocalHeader.Flags & 1)
        remaining = remaining < 12 ? 0 : remaining - 12;
    RemainingInput = remaining < 0 ? 0 : remaining;
    if (LocalHeader.Method == 0) {
        CopyStoredEntry();
    } else if (LocalHeader.Method == 8) {
        if (RemainingInput > MaxInflateInput)
            RemainingInput = MaxInflateInput;
        Inflate();
    }
}

} // namespace

SFX_FUZZ_TARGET(walk)
{
    static WalkFuzzState state;
    // Set up here rather than once: replayed inside the host test program,
    // other tests release the shared buffers between calls.
    if (!CaptionText)
        InitGlobals();
    if (!CrcTable) {
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
    }
    if (ftruncate(state.fd, ImageSize) != 0 ||
        (size && pwrite(state.fd, data, size, ImageSize) != (ssize_t)size))
        __builtin_trap();
    ArchiveFile = FileOpenRead(state.path);
    if (ArchiveFile == NoFile)
        __builtin_trap();
    OutputFile = state.nullOutput;

    ReadSettings();
    SeekArchive(ArchiveStart);
    if (LastSeekPosition != -1) {
        // Every entry advances by 30 bytes or more, so a file holds at most
        // this many; a longer listing is a loop.
        const size_t maxEntries = (ImageSize + size) / 30 + 1;
        char nameBuffer[NameBufferSize];
        Text name = {0, 0};
        size_t entries = 0;
        int32_t lastHeader = -1;
        bool more = ReadNextHeader();
        while (more) {
            int32_t headerPosition = LastSeekPosition;
            if (headerPosition <= lastHeader || ++entries > maxEntries)
                __builtin_trap();
            lastHeader = headerPosition;
            ReadEntryName(nameBuffer, name);
            if (name.Length > LocalHeader.NameLength || (name.Length && !name.Data))
                __builtin_trap();
            Decode(headerPosition);
            more = AdvanceToNextHeader(headerPosition);
        }
        TextFree(name);
    }
    FileClose(ArchiveFile);
    ArchiveFile = NoFile;
    return 0;
}
