// Inflate over arbitrary bytes, differential against zlib: every input ends
// without a crash, a leak or an access outside memory; when zlib inflates the
// input completely as a raw deflate stream, our output and CRC equal zlib's.
//
// The decoder runs through the real file layer.  Output beyond
// CompareLimit goes to /dev/null and only the CRC is compared.
#include "../FuzzTarget.h"
#include "../../tests/host/support/ZlibReference.h"
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
        EnsureCrcTable();
    }
    ~InflateScratch()
    {
        unlink(input.c_str());
        unlink(output.c_str());
        if (!getenv("SFX_FUZZ_SCRATCH"))
            rmdir(folder.c_str());
    }
};

}  // namespace

SFX_FUZZ_TARGET(inflate)
{
    static InflateScratch scratch;
    // zlib's verdict: one complete raw deflate stream (bytes after its end
    // allowed), the first CompareLimit bytes of it, its CRC and size.
    ZlibInflated z = ZlibInflate(data, size, CompareLimit);
    bool complete = z.Complete;
    bool compareBytes = complete && z.Total <= CompareLimit;

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
    uint32_t crc = InflateStream((int32_t)size);
    FileClose(ArchiveFile);
    FileClose(OutputFile);

    if (complete)
        SFX_FUZZ_CHECK(crc == z.Crc);
    if (compareBytes)
        SFX_FUZZ_CHECK(FileBytes(scratch.output) == z.Out);
    return 0;
}
