#include "EntryData.h"

#include "CrcCrypt.h"

bool PasswordOpens(uint8_t *header, const Text &password)
{
    if (EntryAesVersion) {
        const uint8_t *salt = header + EncryptionHeaderSize * 2 - AesHeaderSize;
        return AesOpen(EntryAes, (const uint8_t *)password.Data, password.Length, salt, salt + AesSaltSize);
    }
    return CheckEncryptionHeader(header, EncryptionHeaderSize, LocalHeader.Flags, password,
                                 LocalHeader.ModTime | (uint32_t)LocalHeader.ModDate << 16, LocalHeader.Crc32);
}
