// The decoder and the CRC as the stub builds them (32-bit, size-optimised,
// the CRC in four parts rather than the host's eight), through the Win32
// file layer, against zlib.
#include "wintest_main.h"

#include <zlib.h>

#include <string>
#include <vector>

#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

typedef std::vector<unsigned char> Bytes;

static const char *InputPath = "C:\\sfxtest_inflate.in";
static const char *OutputPath = "C:\\sfxtest_inflate.out";

static uint32_t Seed = 1;
static unsigned char NextRandom()
{
    Seed = Seed * 1103515245u + 12345u;
    return (unsigned char)(Seed >> 16);
}

static Bytes TextLike(size_t n)
{
    static const char *words[] = {"window ", "of ", "the ", "archive ", "inflate ", "\n", "32768 ", "code "};
    Bytes out;
    while (out.size() < n) {
        const char *w = words[NextRandom() % 8];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(n);
    return out;
}

static Bytes Noise(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = NextRandom();
    return out;
}

static Bytes Deflate(const Bytes &data, int level, int strategy)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, (uLong)data.size()) + 64);
    z.next_in = const_cast<unsigned char *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static void WriteWhole(const char *path, const Bytes &bytes)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD put = 0;
    if (!bytes.empty())
        WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
    CloseHandle(h);
}

static Bytes ReadWhole(const char *path)
{
    Bytes bytes;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    unsigned char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got)
        bytes.insert(bytes.end(), buf, buf + got);
    CloseHandle(h);
    return bytes;
}

// Inflates `stream' from a file and checks the output file and the CRC.
static void CheckRoundTrip(const Bytes &data, const Bytes &stream)
{
    WriteWhole(InputPath, stream);
    ArchiveFile = FileOpenRead(InputPath);
    OutputFile = FileCreate(OutputPath);
    LocalHeader = LocalFileHeader();
    uint32_t crc = InflateStream((int32_t)stream.size());
    FileClose(ArchiveFile);
    FileClose(OutputFile);
    Bytes out = ReadWhole(OutputPath);
    CHECK(out == data);
    CHECK(crc == (uint32_t)crc32(0, data.data(), (uInt)data.size()));
}

static void Setup()
{
    EnsureCrcTable();
}

TEST_CASE(CrcInPartsEqualsZlib)
{
    Setup();
    Bytes data = Noise(70000);
    const int32_t lengths[] = {0, 1, 1023, 1024, 1027, 4096, 32767, 32768, 69999};
    for (int32_t n : lengths) {
        uint32_t reg = 0xFFFFFFFF;
        UpdateCrcOverBlock(data.data(), n, reg);
        CHECK((reg ^ 0xFFFFFFFF) == (uint32_t)crc32(0, data.data(), (uInt)n));
    }
    // In uneven pieces, as the stored copy and short final windows give it.
    uint32_t pieces = 0xFFFFFFFF;
    for (int32_t pos = 0, step = 5000; pos < 70000; pos += step, step += 3001)
        UpdateCrcOverBlock(data.data() + pos, step < 70000 - pos ? step : 70000 - pos, pieces);
    CHECK((pieces ^ 0xFFFFFFFF) == (uint32_t)crc32(0, data.data(), 70000));
}

TEST_CASE(ZlibStreamsOfEveryKind)
{
    Setup();
    Bytes text = TextLike(200000);
    const int levels[] = {1, 6, 9};
    for (int level : levels)
        CheckRoundTrip(text, Deflate(text, level, Z_DEFAULT_STRATEGY));
    CheckRoundTrip(text, Deflate(text, 6, Z_FIXED));
    CheckRoundTrip(text, Deflate(text, 6, Z_RLE));
    CheckRoundTrip(text, Deflate(text, 6, Z_HUFFMAN_ONLY));
    Bytes noise = Noise(100000);
    CheckRoundTrip(noise, Deflate(noise, 6, Z_DEFAULT_STRATEGY));
    CheckRoundTrip(Bytes(), Deflate(Bytes(), 6, Z_DEFAULT_STRATEGY));
}

TEST_CASE(WindowSizesAndLongMatches)
{
    Setup();
    const size_t sizes[] = {32767, 32768, 32769, 1048577};
    for (size_t n : sizes) {
        Bytes data = TextLike(n);
        CheckRoundTrip(data, Deflate(data, 9, Z_DEFAULT_STRATEGY));
    }
    // A random piece repeated: matches reaching across flushes.
    Bytes piece = Noise(30000), data;
    for (int i = 0; i < 6; i++)
        data.insert(data.end(), piece.begin(), piece.end());
    CheckRoundTrip(data, Deflate(data, 9, Z_DEFAULT_STRATEGY));
    DeleteFileA(InputPath);
    DeleteFileA(OutputPath);
}
