// CRC-32 of the ZIP format (reflected, polynomial 0xEDB88320) with one
// 256-entry table, and the traditional PKWARE encryption (APPNOTE 6.1).
#ifndef SFX_CRCCRYPT_H
#define SFX_CRCCRYPT_H

#include "../common/SFXgbls.h"

// Fills CrcTable (allocated by the caller): entry n is the CRC remainder of
// the single byte n.
void BuildCrcTable();

// Allocates CrcTable (the 1028-byte block the stub gives it) and builds it,
// unless it is built already: for the builder, the tests, the fuzzers and
// the benchmarks.  The stub does both once, at its start.
void EnsureCrcTable();

// One table step; no inversion (the caller starts at 0xFFFFFFFF and inverts
// at the end).
static inline uint32_t UpdateCrc(uint8_t byte, uint32_t crc)
{
    return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

void InitKeys(const char *password, uint32_t length);
void UpdateKeys(uint8_t plain);
uint8_t DecryptByte();
// Decrypts n bytes in place, first to last: x ^ DecryptByte, then UpdateKeys
// with the plain byte.  n <= 0 does nothing.
void DecryptBlock(uint8_t *bytes, int32_t n);
// The other direction, for the builder and the tests that make encrypted
// entries: x ^ DecryptByte, then UpdateKeys with x as it was.  The stub
// never calls it; its linker drops it.
void EncryptBlock(uint8_t *bytes, int32_t n);

// Checks a password against an entry's 12-byte encryption header.  buffer
// holds 2 * count bytes: the encrypted header in its second half (never
// written), the decrypted one is written into its first half.  modTime holds
// the header's time (low half) and date; flag bit 3 compares the check byte
// with the time's high byte instead of the CRC's.  An empty password never
// passes and leaves the keys alone.
bool CheckEncryptionHeader(uint8_t *buffer, int count, uint16_t flags, const Text &password,
                           uint32_t modTime, uint32_t crc);

#endif
