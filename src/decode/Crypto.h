// The cryptographic primitives the AES entries need, and nothing more:
// PBKDF2-HMAC-SHA1, AES-256 on whole blocks (ECB: the counter mode is the
// format's own, WinZipAes.cpp) and HMAC-SHA1.  None of it is written here:
// the stub and the Windows builder call Windows' CNG (bcrypt.dll,
// Crypto_cng.cpp), the Linux builder, the tests and the fuzzers OpenSSL's
// libcrypto (Crypto_openssl.cpp).
//
// Every routine but CryptoReady works on the CryptoState it is given and on
// nothing shared, so the builder's workers may each hold their own.
#ifndef SFX_CRYPTO_H
#define SFX_CRYPTO_H

#include "../common/SfxTypes.h"

struct CryptoState {
    void *Cipher;   // the AES-256 key, null when none
    void *Mac;      // the HMAC-SHA1 in progress, null when none
};

enum { AesBlockSize = 16, Sha1Size = 20 };

// True when the system offers everything below.  The first call does the
// set-up (the stub loads bcrypt.dll from the system folder and opens its
// algorithm providers); call it once before threads share the routines.
// False for good where CNG or its PBKDF2 (Windows 7 and later) is missing.
bool CryptoReady();

// PBKDF2 (RFC 8018 5.2) with HMAC-SHA1: out[0, outLength) from the password
// and the salt.
bool DeriveKey(const uint8_t *password, uint32_t passwordLength, const uint8_t *salt, uint32_t saltLength,
               uint32_t iterations, uint8_t *out, uint32_t outLength);

// AES-256 (FIPS-197) encryption of count bytes, a multiple of 16, block by
// block; in and out may be the same.
bool CipherStart(CryptoState &s, const uint8_t key[32]);
bool CipherBlocks(CryptoState &s, const uint8_t *in, uint8_t *out, uint32_t count);
void CipherEnd(CryptoState &s);

// HMAC-SHA1 (RFC 2104).  MacFinish writes the 20-byte code and ends the MAC;
// MacEnd ends one left unfinished (after a failure).
bool MacStart(CryptoState &s, const uint8_t *key, uint32_t keyLength);
void MacUpdate(CryptoState &s, const uint8_t *bytes, uint32_t count);
bool MacFinish(CryptoState &s, uint8_t code[Sha1Size]);
void MacEnd(CryptoState &s);

// count bytes from the system's random generator, for salts (builder only;
// the stub's linker drops it).
bool SystemRandom(uint8_t *out, uint32_t count);

#endif
