// One AES entry's data path over arbitrary bytes: the decoders' input
// decrypted in counter mode, the MAC over the encrypted data, the code read
// after it and the written size, as DecodeEntryData takes them.  The key
// derivation is left aside (fixed keys, set as PasswordOpens would leave
// them): it is the system's, and 1,000 rounds of it per input would starve
// the search.
//
// The input is a control byte (bit 0 deflated, bit 1 AE-1, bit 2 change a
// byte), two bytes giving the changed byte's place, then the plain data,
// which the target encrypts with its code.  Besides the sanitizers'
// findings the target fails when a changed byte of the data or the code
// passes, or when an untouched entry of stored data, or of one whole
// deflate stream that zlib inflates, does not.
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "../../tests/host/support/ZlibReference.h"
#include "../FuzzTarget.h"
#include "common/FileIO.h"
#include "decode/CrcCrypt.h"
#include "decode/EntryData.h"
#include "decode/WinZipAes.h"

namespace {

// Far above what libFuzzer's inputs inflate to but for bombs, which get no
// expectation.
const size_t InflateLimit = 1 << 20;

const uint8_t Keys[64] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                          23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44,
                          45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64};

// The cipher and MAC of the entry, as a password that opened it leaves them.
bool StartEntry(AesStream &s)
{
    AesEnd(s);
    for (int i = 0; i < AesBlockSize; i++)
        s.Counter[i] = 0;
    s.Used = AesStreamSize;
    s.Done = 0;
    return CipherStart(s.Crypto, Keys) && MacStart(s.Crypto, Keys + 32, 32);
}

// zlib's size of one whole raw deflate stream (nothing after it, at most
// InflateLimit bytes), or -1.
long ZlibSize(const uint8_t *data, size_t size, uint32_t &crc)
{
    ZlibInflated z = ZlibInflate(data, size, 0);
    crc = z.Crc;
    return z.Complete && z.Used == size && z.Total <= InflateLimit ? (long)z.Total : -1;
}

struct AesFuzzState {
    std::string path;
    AesFuzzState()
    {
        // The smoke run names it alike every time (see the inflate target).
        path = getenv("SFX_FUZZ_SCRATCH") ? std::string("aes") : "/tmp/sfx-aes-fuzz-" + std::to_string(getpid());
        EnsureCrcTable();
    }
    ~AesFuzzState() { unlink(path.c_str()); }
};

}  // namespace

SFX_FUZZ_TARGET(aes)
{
    static AesFuzzState state;
    if (size < 3)
        return 0;
    uint8_t control = data[0];
    size_t place = data[1] | data[2] << 8;
    const uint8_t *plain = data + 3;
    size_t n = size - 3;
    bool deflated = control & 1, ae1 = control & 2, changed = control & 4;

    // The field parser over the same bytes, for what it finds there.
    uint16_t method = 0;
    uint8_t version = FindAesField(plain, (uint32_t)n, method);
    SFX_FUZZ_CHECK(version == 0 || ((version == 1 || version == 2) && (method == 0 || method == 8)));

    uint32_t crc = (uint32_t)crc32(0, plain, (uInt)n);
    long expected = deflated ? ZlibSize(plain, n, crc) : (long)n;

    // The encrypted data and its code, as a writer makes them.
    std::vector<uint8_t> body(plain, plain + n);
    AesStream writer = {};
    uint8_t code[Sha1Size];
    SFX_FUZZ_CHECK(StartEntry(writer));
    AesEncrypt(writer, body.data(), (uint32_t)n);
    SFX_FUZZ_CHECK(AesFinish(writer, code));
    body.insert(body.end(), code, code + AesCodeSize);
    if (changed)
        body[place % body.size()] ^= 0x01;
    FILE *f = fopen(state.path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(body.data(), 1, body.size(), f);
    fclose(f);

    LocalHeader = LocalFileHeader();
    LocalHeader.Flags = EncryptedFlag;
    LocalHeader.Method = AesMethod;
    LocalHeader.CompressedSize = (uint32_t)(n + AesOverhead);
    LocalHeader.UncompressedSize = (uint32_t)(expected >= 0 ? expected : n);
    LocalHeader.Crc32 = ae1 ? crc : 0;
    EntryAesVersion = ae1 ? 1 : 2;
    EntryAesMethod = deflated ? MethodDeflated : MethodStored;
    ArchiveFile = FileOpenRead(state.path.c_str());
    OutputFile = FileCreate("/dev/null");
    if (ArchiveFile == NoFile || OutputFile == NoFile)
        return 0;
    SFX_FUZZ_CHECK(StartEntry(EntryAes));
    bool sound = DecodeEntryData();
    FileClose(ArchiveFile);
    FileClose(OutputFile);
    ArchiveFile = OutputFile = NoFile;
    AesEnd(EntryAes);

    if (changed)
        SFX_FUZZ_CHECK(!sound);
    else if (expected >= 0)
        SFX_FUZZ_CHECK(sound);
    return 0;
}
