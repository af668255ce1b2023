// The bytes of the format's records, from their stored fields: the
// settings block, the ZIP headers and end record, and the Unicode Path
// extra field.  Header-only: the builder writes them with it, and so do the
// tests, including the Windows test programs, which link the stub's code
// rather than the builder's.
#ifndef MKSFX_RECORD_BYTES_H
#define MKSFX_RECORD_BYTES_H

// The stub's image must never hold a local header's signature.
#ifdef SFX_STUB
#error "the stub writes no records"
#endif

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/SfxFormat.h"
#include "decode/WinZipAes.h"

namespace mksfx {

// The magic, the block's length, the two flag bytes as given, the four texts'
// lengths, then the texts (code page 949, no terminators).  A text over
// SettingsTextMax bytes cannot be described by its one-byte length and is
// refused, never cut; the builder checks before and says which option.
inline std::vector<uint8_t> SettingsBlockBytes(uint8_t flags1, uint8_t flags2, const std::string &caption,
                                               const std::string &folder, const std::string &parameters,
                                               const std::string &runFile)
{
    static_assert(SettingsFixedSize + SettingsTextCount * SettingsTextMax <= SettingsBlockMax,
                  "the longest texts fit the block's length field");
    const std::string *texts[SettingsTextCount] = {&caption, &folder, &parameters, &runFile};
    size_t length = SettingsFixedSize;
    for (const std::string *t : texts) {
        if (t->size() > SettingsTextMax)
            throw std::length_error("a settings text is " + std::to_string(t->size()) +
                                    " bytes; the settings block holds at most " +
                                    std::to_string(SettingsTextMax));
        length += t->size();
    }
    std::vector<uint8_t> b = {(uint8_t)SettingsMagic[0], (uint8_t)SettingsMagic[1], (uint8_t)SettingsMagic[2], (uint8_t)length, (uint8_t)(length >> 8), flags1, flags2};
    for (const std::string *t : texts)
        b.push_back((uint8_t)t->size());
    for (const std::string *t : texts)
        b.insert(b.end(), t->begin(), t->end());
    return b;
}

// Little-endian fields.
inline void PutLE(std::vector<uint8_t> &b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        b.push_back((uint8_t)(v >> (8 * i)));
}

// What a local header and its central directory header share (APPNOTE
// 4.3.7, 4.3.12), and the name and extra field that follow both.
struct EntryRecord {
    uint16_t Version = 20, Flags = 0, Method = MethodStored, Time = 0, Date = 0;
    uint32_t Crc = 0, Compressed = 0, Size = 0;
    std::string Name;   // as stored
    std::vector<uint8_t> Extra;
};

// From "version needed" to the extra field's length: 26 bytes.
inline void PutSharedFields(std::vector<uint8_t> &b, const EntryRecord &r)
{
    static_assert(LocalHeaderSize == 4 + 26, "signature and shared fields");
    for (uint16_t v : {r.Version, r.Flags, r.Method, r.Time, r.Date})
        PutLE(b, v, 2);
    for (uint32_t v : {r.Crc, r.Compressed, r.Size})
        PutLE(b, v, 4);
    PutLE(b, (uint32_t)r.Name.size(), 2);
    PutLE(b, (uint32_t)r.Extra.size(), 2);
}

inline std::vector<uint8_t> LocalHeaderBytes(const EntryRecord &r)
{
    std::vector<uint8_t> b;
    PutLE(b, LocalHeaderSignature, 4);
    PutSharedFields(b, r);
    b.insert(b.end(), r.Name.begin(), r.Name.end());
    b.insert(b.end(), r.Extra.begin(), r.Extra.end());
    return b;
}

// No comment, disk 0, no internal attributes.
inline std::vector<uint8_t> CentralHeaderBytes(const EntryRecord &r, uint16_t madeBy, uint32_t externalAttributes,
                                               uint32_t localOffset)
{
    static_assert(CentralHeaderSize == 4 + 2 + 26 + 2 + 2 + 2 + 4 + 4, "central header fields");
    std::vector<uint8_t> b;
    PutLE(b, CentralHeaderSignature, 4);
    PutLE(b, madeBy, 2);
    PutSharedFields(b, r);
    PutLE(b, 0, 2);
    PutLE(b, 0, 2);
    PutLE(b, 0, 2);
    PutLE(b, externalAttributes, 4);
    PutLE(b, localOffset, 4);
    b.insert(b.end(), r.Name.begin(), r.Name.end());
    b.insert(b.end(), r.Extra.begin(), r.Extra.end());
    return b;
}

// One disk; the comment as stored.
inline std::vector<uint8_t> EndRecordBytes(uint16_t entries, uint32_t centralSize, uint32_t centralOffset,
                                           const std::string &comment = std::string())
{
    static_assert(EndRecordSize == 4 + 2 + 2 + 2 + 2 + 4 + 4 + 2, "end record fields");
    if (comment.size() > 0xFFFF)
        throw std::length_error("an archive comment of " + std::to_string(comment.size()) + " bytes");
    std::vector<uint8_t> b;
    PutLE(b, EndRecordSignature, 4);
    PutLE(b, 0, 2);
    PutLE(b, 0, 2);
    PutLE(b, entries, 2);
    PutLE(b, entries, 2);
    PutLE(b, centralSize, 4);
    PutLE(b, centralOffset, 4);
    PutLE(b, (uint32_t)comment.size(), 2);
    b.insert(b.end(), comment.begin(), comment.end());
    return b;
}

// Info-ZIP's Unicode Path field: its id and length, the version (1 is the
// one readers take), the CRC-32 of the stored name the field belongs to, and
// the name as UTF-8.
// WinZip's AES field (0x9901): vendor version 2 (AE-2), "AE", strength 3
// (AES-256), the real method.  The method is the field's last two bytes.
inline std::vector<uint8_t> AesFieldBytes(uint16_t method)
{
    std::vector<uint8_t> b;
    PutLE(b, AesFieldId, 2);
    PutLE(b, AesFieldSize, 2);
    PutLE(b, 2, 2);
    b.push_back('A');
    b.push_back('E');
    b.push_back(AesStrength256);
    PutLE(b, method, 2);
    return b;
}

inline std::vector<uint8_t> UnicodePathFieldBytes(uint32_t storedNameCrc, const std::string &utf8,
                                                  uint8_t version = 1)
{
    const size_t fixed = 5;   // version and CRC
    if (utf8.size() > 0xFFFF - fixed)
        throw std::length_error("a Unicode Path name of " + std::to_string(utf8.size()) + " bytes");
    const size_t size = fixed + utf8.size();
    std::vector<uint8_t> x = {(uint8_t)UnicodePathId, (uint8_t)(UnicodePathId >> 8), (uint8_t)size,
                              (uint8_t)(size >> 8), version};
    for (int i = 0; i < 4; i++)
        x.push_back((uint8_t)(storedNameCrc >> (8 * i)));
    x.insert(x.end(), utf8.begin(), utf8.end());
    return x;
}

}  // namespace mksfx

#endif
