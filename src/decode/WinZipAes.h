// WinZip's AES encryption of ZIP entries, AE-1 and AE-2, AES-256 only (as
// 7-Zip, WinRAR, libarchive and pyzipper write it).
//
// Format notes: such an entry says method 99 in its headers and carries the
// extra field 0x9901: a 2-byte vendor version (1 for AE-1, 2 for AE-2), the
// vendor id "AE", the strength (3: AES-256) and the real method (0 stored,
// 8 deflated).  Its data is a 16-byte salt, a 2-byte password verifier, the
// encrypted data and a 10-byte authentication code.  PBKDF2-HMAC-SHA1 over
// the password and the salt, 1,000 iterations, gives 32 bytes of AES key,
// 32 of HMAC key and the 2 of the verifier.  The data is AES-256 in counter
// mode, the counter a little-endian 128-bit number from 1; the code is the
// first 10 bytes of HMAC-SHA1 over the encrypted data.  AE-2 stores a CRC
// of 0 and the code stands in its place; AE-1 has both.
//
// The verifier only screens passwords: one wrong password in 65,536 passes
// it.  Only the code says the data is the archive's own, so an entry is
// sound only when its code matches, checked over all of its data.
#ifndef SFX_WINZIPAES_H
#define SFX_WINZIPAES_H

#include "../common/SFXgbls.h"
#include "Crypto.h"
#include "CrcCrypt.h"

enum {
    AesMethod = 99,
    AesFieldId = 0x9901,
    AesFieldSize = 7,
    AesStrength256 = 3,
    AesSaltSize = 16,
    AesVerifierSize = 2,
    AesHeaderSize = AesSaltSize + AesVerifierSize,
    AesCodeSize = 10,
    AesOverhead = AesHeaderSize + AesCodeSize,
    AesIterations = 1000,
    AesKeyBytes = 32 + 32 + AesVerifierSize,
    // Counter blocks enciphered at once: one call into the system per 256
    // bytes of data.
    AesStreamSize = 16 * AesBlockSize,
};

// The vendor version (1 or 2) of the AES field among an extra field's
// blocks, with the real method in method; 0 when there is none this reader
// can decode (no field, a strength other than AES-256, a method other than
// stored and deflated, a field cut short).
uint8_t FindAesField(const uint8_t *extra, uint32_t n, uint16_t &method);

// One entry's cipher and MAC.  Zero-filled it holds nothing.
struct AesStream {
    CryptoState Crypto;
    uint8_t Counter[AesBlockSize];
    uint8_t Stream[AesStreamSize];  // the key stream, Used bytes of it spent
    uint32_t Used;
    uint32_t Done;                  // bytes of encrypted data through the MAC
};

// Derives the keys from the password and the salt and writes the verifier
// they give; starts the cipher and the MAC.  False when the system could
// not, with nothing left held.
bool AesBegin(AesStream &s, const uint8_t *password, uint32_t length, const uint8_t *salt, uint8_t *verifier);
// AesBegin when the verifier matches the stored one; false otherwise, with
// nothing left held.  An empty password never passes.
bool AesOpen(AesStream &s, const uint8_t *password, uint32_t length, const uint8_t *salt,
             const uint8_t *verifier);
// Encrypted data in portions of any size: decrypting puts it through the
// MAC first, encrypting after.
void AesDecrypt(AesStream &s, uint8_t *bytes, uint32_t n);
void AesEncrypt(AesStream &s, uint8_t *bytes, uint32_t n);
// Ends the entry: writes its 10-byte code and lets go of cipher and MAC.
// False when the system failed anywhere on the way.
bool AesFinish(AesStream &s, uint8_t *code);
// Lets go of what an unfinished entry holds.
void AesEnd(AesStream &s);

// ---------------------------------------------------------------------------
// The entry the walk is at (stub, --verify, tests, fuzzers): the version of
// its AES field (0 when it is no AES entry this reader can decode) and the
// real method, set by ReadEntryNameAsUtf8 from the local header's extra
// field, and its cipher once a password opened it.
//
// The stub's image has no room for the AES entries yet: without
// SFX_STUB_AES they are entries of an unknown method there, and the code
// that would decode them folds away (SFX_AES_ENTRIES undefined): the stub
// is the one it was before them.
#if !defined(SFX_STUB) || defined(SFX_STUB_AES)
#define SFX_AES_ENTRIES 1
#endif
#ifdef SFX_AES_ENTRIES
extern uint8_t EntryAesVersion;
#else
enum : uint8_t { EntryAesVersion = 0 };
#endif
extern uint16_t EntryAesMethod;
extern AesStream EntryAes;
// Bytes the current entry's decode has written (both decoders count them):
// AE-2 has no CRC to tell a short write or a stream cut short.
extern uint32_t EntryWritten;

// Reads the current entry's AES field from its extra field (method 99 only).
void NoteAesField(const uint8_t *extra, uint32_t n);

// The method the entry's data is in: its AES field's real method, 99 for
// an AES entry that cannot be decoded here (no usable field, not flagged
// encrypted, or no CNG), else the header's.
// The decoders' one call on encrypted input: traditional or AES.
// The count of bytes written, for EntryWritten.
#ifdef SFX_AES_ENTRIES
uint16_t EntryMethod();
void DecryptInput(uint8_t *bytes, int32_t n);
static inline void CountWritten(int32_t n)
{
    if (n > 0)
        EntryWritten += (uint32_t)n;
}
#else
static inline uint16_t EntryMethod()
{
    return LocalHeader.Method;
}
static inline void DecryptInput(uint8_t *bytes, int32_t n)
{
    DecryptBlock(bytes, n);
}
static inline void CountWritten(int32_t)
{
}
#endif

// After the data's decode: true only when the MAC took all dataSize
// encrypted bytes and the code that follows them matches.
bool AesEntryAuthentic(uint32_t dataSize);

#endif
