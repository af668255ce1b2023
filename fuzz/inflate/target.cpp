// Inflate over arbitrary bytes, differential against zlib: every input ends
// without a crash, a leak or an access outside memory; when zlib inflates the
// input completely as a raw deflate stream, our output and CRC equal zlib's.
//
// The decoder runs through the real file layer.  Output beyond
// CompareLimit goes to /dev/null and only the CRC is compared.
#include "../FuzzTarget.h"
#include "../../bench/FileBytes.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/FileIO.h"
#include "common/Memory.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

namespace {

const size_t CompareLimit = 4 << 20;

struct InflateScratch {
    std::string folder, input, output;
    InflateScratch()
    {
        // A folder of its own for each run, unless the smoke run gives the
        // current one (SFX_FUZZ_SCRATCH): the names pass through the file
        // layer's conversions, whose coverage would otherwise differ from
        // run to run, and the smoke run decides alike every time.
        if (getenv("SFX_FUZZ_SCRATCH")) {
            folder = ".";
        } else {
            const char *t = getenv("TMPDIR");
            std::string tmpl = std::string(t && *t ? t : "/tmp") + "/sfxfuzz.XXXXXX";
            std::vector<char> buf(tmpl.begin(), tmpl.end());
            buf.push_back(0);
            if (mkdtemp(buf.data()))
                folder = buf.data();
        }
        input = folder + "/in";
        output = folder + "/out";
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
    }
    ~InflateScratch()
    {
        unlink(input.c_str());
        unlink(output.c_str());
        if (!getenv("SFX_FUZZ_SCRATCH"))
            rmdir(folder.c_str());
    }
};

// zlib's verdict: true when the input is one complete raw deflate stream
// (bytes after its end allowed); the first CompareLimit output bytes, the
// CRC and size of all of it.
bool ZlibInflate(const uint8_t *data, size_t size, std::vector<uint8_t> &out, uint32_t &crc, size_t &total)
{
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = (uInt)size;
    static uint8_t chunk[1 << 16];
    crc = (uint32_t)crc32(0, 0, 0);
    total = 0;
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        size_t got = sizeof chunk - z.avail_out;
        crc = (uint32_t)crc32(crc, chunk, (uInt)got);
        if (total < CompareLimit)
            out.insert(out.end(), chunk, chunk + (got < CompareLimit - total ? got : CompareLimit - total));
        total += got;
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

SFX_FUZZ_TARGET(inflate)
{
    static InflateScratch scratch;
    std::vector<uint8_t> expected;
    uint32_t expectedCrc = 0;
    size_t expectedSize = 0;
    bool complete = ZlibInflate(data, size, expected, expectedCrc, expectedSize);
    bool compareBytes = complete && expectedSize <= CompareLimit;

    FILE *f = fopen(scratch.input.c_str(), "wb");
    if (!f)
        return 0;
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);
    ArchiveFile = FileOpenRead(scratch.input.c_str());
    OutputFile = FileCreate(compareBytes ? scratch.output.c_str() : "/dev/null");
    if (ArchiveFile == NoFile || OutputFile == NoFile)
        return 0;
    LocalHeader = LocalFileHeader();
    RemainingInput = (int32_t)size;
    RunningCrc = 0xFFFFFFFF;
    Inflate();
    FileClose(ArchiveFile);
    FileClose(OutputFile);

    if (complete)
        SFX_FUZZ_CHECK((RunningCrc ^ 0xFFFFFFFF) == expectedCrc);
    if (compareBytes)
        SFX_FUZZ_CHECK(FileBytes(scratch.output) == expected);
    return 0;
}
