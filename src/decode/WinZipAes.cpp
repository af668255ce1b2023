#include "WinZipAes.h"

#include "../common/FileIO.h"
#include "../common/SFXmisc.h"
#include "CrcCrypt.h"

// The stream is taken by its address, not by GCC's copy of it on the
// global, whose every access would cost the stub a relocation.  Clang,
// which builds only the fuzzers, has no such optimisation to keep out.
#if defined(__GNUC__) && !defined(__clang__)
#define BY_ADDRESS __attribute__((noipa))
#else
#define BY_ADDRESS
#endif

#ifdef SFX_AES_ENTRIES
uint8_t EntryAesVersion;
#endif
uint16_t EntryAesMethod;
AesStream EntryAes;
uint32_t EntryWritten;

// Format notes: an extra field is a run of blocks, each a 2-byte id, a
// 2-byte length and that many bytes (APPNOTE 4.5); the AES block is the
// 7 bytes of WinZip's "AES Encryption Information" (version, "AE",
// strength, method).  Blocks that run past the field are not read.
uint8_t FindAesField(const uint8_t *extra, uint32_t n, uint16_t &method)
{
    for (uint32_t at = 0; at + 4 <= n;) {
        uint32_t id = extra[at] | extra[at + 1] << 8, size = extra[at + 2] | extra[at + 3] << 8;
        const uint8_t *d = extra + at + 4;
        if (at + 4 + size > n)
            break;
        if (id == AesFieldId) {
            if (size < AesFieldSize)
                return 0;
            uint32_t version = d[0] | d[1] << 8;
            method = (uint16_t)(d[5] | d[6] << 8);
            bool usable = (version == 1 || version == 2) && d[2] == 'A' && d[3] == 'E' &&
                          d[4] == AesStrength256 && (method == MethodStored || method == MethodDeflated);
            return usable ? (uint8_t)version : 0;
        }
        at += 4 + size;
    }
    return 0;
}

void AesEnd(AesStream &s)
{
    CipherEnd(s.Crypto);
    MacEnd(s.Crypto);
}

bool AesBegin(AesStream &s, const uint8_t *password, uint32_t length, const uint8_t *salt, uint8_t *verifier)
{
    AesEnd(s);
    uint8_t keys[AesKeyBytes];
    if (!DeriveKey(password, length, salt, AesSaltSize, AesIterations, keys, AesKeyBytes))
        return false;
    verifier[0] = keys[64];
    verifier[1] = keys[65];
    for (int i = 0; i < AesBlockSize; i++)
        s.Counter[i] = 0;
    s.Used = AesStreamSize;
    s.Done = 0;
    if (CipherStart(s.Crypto, keys) && MacStart(s.Crypto, keys + 32, 32))
        return true;
    AesEnd(s);
    return false;
}

bool AesOpen(AesStream &s, const uint8_t *password, uint32_t length, const uint8_t *salt, const uint8_t *verifier)
{
    uint8_t v[AesVerifierSize];
    if (!length || !AesBegin(s, password, length, salt, v))
        return false;
    if (v[0] == verifier[0] && v[1] == verifier[1])
        return true;
    AesEnd(s);
    return false;
}

// Counter mode: the counter goes up by one before each block, so the first
// block is enciphered with 1.  A cipher that fails ends the MAC, so that
// the entry cannot pass.
static void XorStream(AesStream &s, uint8_t *bytes, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) {
        if (s.Used == AesStreamSize) {
            for (uint32_t b = 0; b < AesStreamSize; b += AesBlockSize) {
                for (int j = 0; j < AesBlockSize && ++s.Counter[j] == 0; j++)
                    ;
                for (int j = 0; j < AesBlockSize; j++)
                    s.Stream[b + j] = s.Counter[j];
            }
            if (!CipherBlocks(s.Crypto, s.Stream, s.Stream, AesStreamSize))
                MacEnd(s.Crypto);
            s.Used = 0;
        }
        bytes[i] ^= s.Stream[s.Used++];
    }
}

BY_ADDRESS void AesDecrypt(AesStream &s, uint8_t *bytes, uint32_t n)
{
    MacUpdate(s.Crypto, bytes, n);
    s.Done += n;
    XorStream(s, bytes, n);
}

void AesEncrypt(AesStream &s, uint8_t *bytes, uint32_t n)
{
    XorStream(s, bytes, n);
    MacUpdate(s.Crypto, bytes, n);
    s.Done += n;
}

BY_ADDRESS bool AesFinish(AesStream &s, uint8_t *code)
{
    bool ok = MacFinish(s.Crypto, code);
    AesEnd(s);
    return ok;
}

void NoteAesField(const uint8_t *extra, uint32_t n)
{
#ifdef SFX_AES_ENTRIES
    EntryAesVersion = 0;
    if (LocalHeader.Method == AesMethod && (LocalHeader.Flags & EncryptedFlag))
        EntryAesVersion = FindAesField(extra, n, EntryAesMethod);
#endif
}

#ifdef SFX_AES_ENTRIES
uint16_t EntryMethod()
{
    if (LocalHeader.Method != AesMethod)
        return LocalHeader.Method;
    return EntryAesVersion && CryptoReady() ? EntryAesMethod : (uint16_t)AesMethod;
}

void DecryptInput(uint8_t *bytes, int32_t n)
{
    if (!EntryAesVersion)
        DecryptBlock(bytes, n);
    else if (n > 0)
        AesDecrypt(EntryAes, bytes, (uint32_t)n);
}

#endif

bool AesEntryAuthentic(uint32_t dataSize)
{
    // The decoders read an entry's data whole in all but two cases: a
    // deflate stream they found damaged, and one followed by more than a
    // buffer of other bytes.  Neither is sound, and neither passes: the
    // code is compared only when it covers every byte.  The code follows the
    // last byte read.
    uint8_t code[Sha1Size], stored[AesCodeSize];
    bool ok = EntryAes.Done == dataSize && FileRead(ArchiveFile, stored, AesCodeSize) == AesCodeSize;
    ok = AesFinish(EntryAes, code) && ok;
    for (int i = 0; i < AesCodeSize; i++)
        ok = ok && code[i] == stored[i];
    return ok;
}
