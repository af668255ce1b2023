#include "CrcCrypt.h"

#include "../common/Memory.h"

void BuildCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[n] = c;
    }
}

void EnsureCrcTable()
{
    if (!CrcTable) {
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
    }
}

void UpdateKeys(uint8_t plain)
{
    EncryptionKeys[0] = UpdateCrc(plain, EncryptionKeys[0]);
    EncryptionKeys[1] = (EncryptionKeys[1] + (EncryptionKeys[0] & 0xFF)) * 0x08088405u + 1;
    EncryptionKeys[2] = UpdateCrc((uint8_t)(EncryptionKeys[1] >> 24), EncryptionKeys[2]);
}

void InitKeys(const char *password, uint32_t length)
{
    EncryptionKeys[0] = 0x12345678u;
    EncryptionKeys[1] = 0x23456789u;
    EncryptionKeys[2] = 0x34567890u;
    for (uint32_t i = 0; i < length; i++)
        UpdateKeys((uint8_t)password[i]);
}

uint8_t DecryptByte()
{
    uint32_t t = (EncryptionKeys[2] & 0xFFFF) | 2;
    return (uint8_t)((t * (t ^ 1)) >> 8);
}

void DecryptBlock(uint8_t *bytes, int32_t n)
{
    for (int32_t i = 0; i < n; i++) {
        uint8_t p = bytes[i] ^ DecryptByte();
        UpdateKeys(p);
        bytes[i] = p;
    }
}

void EncryptBlock(uint8_t *bytes, int32_t n)
{
    for (int32_t i = 0; i < n; i++) {
        uint8_t p = bytes[i];
        bytes[i] = p ^ DecryptByte();
        UpdateKeys(p);
    }
}

bool CheckEncryptionHeader(uint8_t *buffer, int count, uint16_t flags, const Text &password,
                           uint32_t modTime, uint32_t crc)
{
    if (password.Length == 0)
        return false;
    InitKeys(password.Data, password.Length);
    for (int i = 0; i < count; i++) {
        uint8_t p = buffer[count + i] ^ DecryptByte();
        UpdateKeys(p);
        buffer[i] = p;
    }
    uint8_t check = buffer[count - 1];
    if (flags & 0x0008)
        return check == (uint8_t)((modTime & 0xFFFF) >> 8);
    return check == (uint8_t)(crc >> 24);
}
