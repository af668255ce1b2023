#include "EntryData.h"

#include "CrcCrypt.h"

bool PasswordOpens(uint8_t *header, const Text &password)
{
    return CheckEncryptionHeader(header, EncryptionHeaderSize, LocalHeader.Flags, password,
                                 LocalHeader.ModTime | (uint32_t)LocalHeader.ModDate << 16, LocalHeader.Crc32);
}
