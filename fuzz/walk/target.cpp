// The settings reader and the archive walk over arbitrary bytes after the
// executable image, each entry going along the road of the extraction run
// (JudgeAndDecode): its name made UTF-8, judged, its password checked and its
// data decoded.  Besides the sanitizers' findings, the
// target fails when the walk fails to move forward or lists more entries
// than the file can hold: either would let a crafted archive make the
// listing loop.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "../FuzzTarget.h"
#include "archive/EntryNames.h"
#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/EntryData.h"

namespace {

struct WalkFuzzState {
    int fd = -1;                // the self-extracting file in /dev/shm
    char path[64];
    SfxFile nullOutput;
    WalkFuzzState()
    {
        // The smoke run names it alike every time (see the inflate target).
        if (getenv("SFX_FUZZ_SCRATCH"))
            snprintf(path, sizeof path, "walk");
        else
            snprintf(path, sizeof path, "/dev/shm/sfx-walk-fuzz-%d", (int)getpid());
        fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
        static unsigned char image[ImageSize];
        memset(image, 0x90, sizeof image);
        SFX_FUZZ_CHECK(fd >= 0 && pwrite(fd, image, sizeof image, 0) == (ssize_t)sizeof image);
        nullOutput = FileCreate("/dev/null");
    }
    ~WalkFuzzState()
    {
        close(fd);
        unlink(path);
        FileClose(nullOutput);
    }
};

} // namespace

SFX_FUZZ_TARGET(walk)
{
    static WalkFuzzState state;
    // Set up here rather than once: replayed inside the host test program,
    // other tests release the shared buffers between calls.
    if (!CaptionText)
        InitGlobals();
    EnsureCrcTable();
    SFX_FUZZ_CHECK(ftruncate(state.fd, ImageSize) == 0 &&
                   (!size || pwrite(state.fd, data, size, ImageSize) == (ssize_t)size));
    ArchiveFile = FileOpenRead(state.path);
    SFX_FUZZ_CHECK(ArchiveFile != NoFile);
    OutputFile = state.nullOutput;

    ReadSettings();
    // Every entry advances by 30 bytes or more, so a file holds at most
    // this many; a longer listing is a loop.
    const size_t maxEntries = (ImageSize + size) / 30 + 1;
    size_t entries = 0;
    int32_t lastHeader = -1;
    Text password = {0, 0};
    // A fixed password, so that a crafted header can pass.
    TextAssign(password, "pw");
    WalkArchive([&](int32_t headerPosition, const Text &name, const Text &, bool) {
        SFX_FUZZ_CHECK(headerPosition > lastHeader && ++entries <= maxEntries);
        lastHeader = headerPosition;
        SFX_FUZZ_CHECK(name.Data);
        // The listing run ends at a nameless entry; so does this walk.
        if (name.Length == 0)
            return false;
        JudgeAndDecode(name.Data, LastSeekPosition, &password);
        return true;
    });
    TextFree(password);
    FileClose(ArchiveFile);
    ArchiveFile = NoFile;
    return 0;
}
