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

uint8_t JudgeAndDecode(const char *name, int32_t dataPosition, const Text *password)
{
    uint8_t kind = JudgeEntry(name, dataPosition);
    if (kind == EntryNameRefused)
        return OutcomeNameRefused;
    if (kind == EntryUndecodable)
        return OutcomeUndecodable;
    if (NeedsPassword()) {
        uint8_t header[EncryptionHeaderSize * 2];
        if (!ReadEncryptionHeader(header))
            return OutcomeHeaderCut;
        if (!password)
            return OutcomeNoPassword;
        if (!PasswordOpens(header, *password))
            return OutcomeWrongPassword;
    }
    return DecodeEntryData() ? OutcomeDecoded : OutcomeCrcMismatch;
}
