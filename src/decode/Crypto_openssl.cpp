// The primitives of Crypto.h from OpenSSL's libcrypto: the Linux builder,
// the tests and the fuzzers.
#include "Crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

bool CryptoReady()
{
    return true;
}

bool DeriveKey(const uint8_t *password, uint32_t passwordLength, const uint8_t *salt, uint32_t saltLength,
               uint32_t iterations, uint8_t *out, uint32_t outLength)
{
    return PKCS5_PBKDF2_HMAC_SHA1((const char *)password, (int)passwordLength, salt, (int)saltLength,
                                  (int)iterations, (int)outLength, out) == 1;
}

bool CipherStart(CryptoState &s, const uint8_t key[32])
{
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    if (!c)
        return false;
    if (EVP_EncryptInit_ex(c, EVP_aes_256_ecb(), nullptr, key, nullptr) != 1 || EVP_CIPHER_CTX_set_padding(c, 0) != 1) {
        EVP_CIPHER_CTX_free(c);
        return false;
    }
    s.Cipher = c;
    return true;
}

bool CipherBlocks(CryptoState &s, const uint8_t *in, uint8_t *out, uint32_t count)
{
    int got = 0;
    return s.Cipher && count % AesBlockSize == 0 &&
           EVP_EncryptUpdate((EVP_CIPHER_CTX *)s.Cipher, out, &got, in, (int)count) == 1 && (uint32_t)got == count;
}

void CipherEnd(CryptoState &s)
{
    EVP_CIPHER_CTX_free((EVP_CIPHER_CTX *)s.Cipher);
    s.Cipher = nullptr;
}

bool MacStart(CryptoState &s, const uint8_t *key, uint32_t keyLength)
{
    // Fetched once for the process (the fetch is the slow part of a MAC's
    // start; the threads' first calls wait for it).
    static EVP_MAC *const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX *c = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    if (!c)
        return false;
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(c, key, keyLength, params) != 1) {
        EVP_MAC_CTX_free(c);
        return false;
    }
    s.Mac = c;
    return true;
}

// A failed update ends the MAC, so that its finish fails too: a code
// computed over less than the data must never be compared.
void MacUpdate(CryptoState &s, const uint8_t *bytes, uint32_t count)
{
    if (s.Mac && count && EVP_MAC_update((EVP_MAC_CTX *)s.Mac, bytes, count) != 1)
        MacEnd(s);
}

bool MacFinish(CryptoState &s, uint8_t code[Sha1Size])
{
    size_t got = 0;
    bool ok = s.Mac && EVP_MAC_final((EVP_MAC_CTX *)s.Mac, code, &got, Sha1Size) == 1 && got == Sha1Size;
    MacEnd(s);
    return ok;
}

void MacEnd(CryptoState &s)
{
    EVP_MAC_CTX_free((EVP_MAC_CTX *)s.Mac);
    s.Mac = nullptr;
}

bool SystemRandom(uint8_t *out, uint32_t count)
{
    return RAND_bytes(out, (int)count) == 1;
}
