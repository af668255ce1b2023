// The primitives of Crypto.h from Windows' CNG (bcrypt.dll): the stub and
// the Windows builder.
//
// bcrypt.dll is no KnownDLL, so the stub imports nothing from it: it is
// loaded at run time from the system folder (SystemProc), as comctl32 and
// mpr are, and its functions are found by name.  BCryptDeriveKeyPBKDF2
// came with Windows 7; where it or CNG is missing, CryptoReady says so and
// an AES entry fails as an unknown method does.  The algorithm providers
// are opened with BCryptOpenAlgorithmProvider, once per process: the
// ready-made pseudo-handles (BCRYPT_AES_ECB_ALG_HANDLE ...) exist only from
// Windows 10 on and crash Windows 7.  The key and hash objects are left to
// CNG to allocate (a null buffer, Windows 7 and later).
#include "Crypto.h"

#include <bcrypt.h>

#ifdef SFX_STUB
#include "../common/SFXmisc.h"
#endif

namespace {

// The functions used, in the order of their names below.
struct CngProcs {
    decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
    decltype(&BCryptSetProperty) SetProperty;
    decltype(&BCryptGenerateSymmetricKey) GenerateSymmetricKey;
    decltype(&BCryptEncrypt) Encrypt;
    decltype(&BCryptDestroyKey) DestroyKey;
    decltype(&BCryptCreateHash) CreateHash;
    decltype(&BCryptHashData) HashData;
    decltype(&BCryptFinishHash) FinishHash;
    decltype(&BCryptDestroyHash) DestroyHash;
    decltype(&BCryptDeriveKeyPBKDF2) DeriveKeyPBKDF2;
};
enum { CngProcCount = sizeof(CngProcs) / sizeof(void *) };

#ifdef SFX_STUB
// In .bss by name: -fdata-sections would give them zeros in the image.
__attribute__((section(".bss"))) CngProcs Cng;
const char CngNames[] = "BCryptOpenAlgorithmProvider\0BCryptSetProperty\0BCryptGenerateSymmetricKey\0"
                        "BCryptEncrypt\0BCryptDestroyKey\0BCryptCreateHash\0BCryptHashData\0"
                        "BCryptFinishHash\0BCryptDestroyHash\0BCryptDeriveKeyPBKDF2";
#else
const CngProcs Cng = {BCryptOpenAlgorithmProvider, BCryptSetProperty, BCryptGenerateSymmetricKey,
                      BCryptEncrypt, BCryptDestroyKey, BCryptCreateHash, BCryptHashData,
                      BCryptFinishHash, BCryptDestroyHash, BCryptDeriveKeyPBKDF2};
#endif

BCRYPT_ALG_HANDLE AesProvider, HmacProvider;
// 0 not tried yet, 1 ready, 2 missing.
uint8_t Readiness;

}  // namespace

bool CryptoReady()
{
    if (Readiness)
        return Readiness == 1;
    Readiness = 2;
#ifdef SFX_STUB
    const char *name = CngNames;
    for (int i = 0; i < CngProcCount; i++) {
        FARPROC p = SystemProc("bcrypt.dll", name);
        if (!p)
            return false;
        ((FARPROC *)&Cng)[i] = p;
        while (*name++)
            ;
    }
#endif
    if (Cng.OpenAlgorithmProvider(&AesProvider, BCRYPT_AES_ALGORITHM, 0, 0) < 0 ||
        Cng.SetProperty(AesProvider, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                        sizeof BCRYPT_CHAIN_MODE_ECB, 0) < 0 ||
        Cng.OpenAlgorithmProvider(&HmacProvider, BCRYPT_SHA1_ALGORITHM, 0, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0)
        return false;
    Readiness = 1;
    return true;
}

bool DeriveKey(const uint8_t *password, uint32_t passwordLength, const uint8_t *salt, uint32_t saltLength,
               uint32_t iterations, uint8_t *out, uint32_t outLength)
{
    return Cng.DeriveKeyPBKDF2(HmacProvider, (PUCHAR)password, passwordLength, (PUCHAR)salt, saltLength, iterations,
                               out, outLength, 0) >= 0;
}

bool CipherStart(CryptoState &s, const uint8_t key[32])
{
    BCRYPT_KEY_HANDLE k = 0;
    if (Cng.GenerateSymmetricKey(AesProvider, &k, 0, 0, (PUCHAR)key, 32, 0) < 0)
        return false;
    s.Cipher = k;
    return true;
}

bool CipherBlocks(CryptoState &s, const uint8_t *in, uint8_t *out, uint32_t count)
{
    ULONG got = 0;
    return s.Cipher && Cng.Encrypt(s.Cipher, (PUCHAR)in, count, 0, 0, 0, out, count, &got, 0) >= 0 && got == count;
}

void CipherEnd(CryptoState &s)
{
    if (s.Cipher)
        Cng.DestroyKey(s.Cipher);
    s.Cipher = 0;
}

bool MacStart(CryptoState &s, const uint8_t *key, uint32_t keyLength)
{
    BCRYPT_HASH_HANDLE h = 0;
    if (Cng.CreateHash(HmacProvider, &h, 0, 0, (PUCHAR)key, keyLength, 0) < 0)
        return false;
    s.Mac = h;
    return true;
}

// A failed update ends the MAC, so that its finish fails too: a code
// computed over less than the data must never be compared.
void MacUpdate(CryptoState &s, const uint8_t *bytes, uint32_t count)
{
    if (s.Mac && count && Cng.HashData(s.Mac, (PUCHAR)bytes, count, 0) < 0)
        MacEnd(s);
}

bool MacFinish(CryptoState &s, uint8_t code[Sha1Size])
{
    bool ok = s.Mac && Cng.FinishHash(s.Mac, code, Sha1Size, 0) >= 0;
    MacEnd(s);
    return ok;
}

void MacEnd(CryptoState &s)
{
    if (s.Mac)
        Cng.DestroyHash(s.Mac);
    s.Mac = 0;
}

#ifndef SFX_STUB
bool SystemRandom(uint8_t *out, uint32_t count)
{
    return BCryptGenRandom(0, out, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
#endif
