#include "zipmaker.h"

#include <string.h>
#include <zlib.h>

#include "RecordBytes.h"
#include "common/Memory.h"
#include "decode/CrcCrypt.h"
#include "decode/WinZipAes.h"

namespace zm {

uint32_t Crc32(const std::string &data)
{
    return (uint32_t)crc32(0, (const Bytef *)data.data(), (uInt)data.size());
}

static std::string Deflate(const std::string &data)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, (uLong)data.size()) + 16, '\0');
    z.next_in = (Bytef *)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// The entry's encryption header and data, encrypted by the routine the
// builder uses (the stub's decryption run the other way).  It works on the
// shared keys, which are put back so that a test may make an archive
// between two decryptions.
static std::string Encrypted(const std::string &password, std::string bytes)
{
    EnsureCrcTable();
    uint32_t saved[3];
    memcpy(saved, EncryptionKeys, sizeof saved);
    InitKeys(password.data(), (uint32_t)password.size());
    EncryptBlock((uint8_t *)&bytes[0], (int32_t)bytes.size());
    memcpy(EncryptionKeys, saved, sizeof saved);
    return bytes;
}

// Salt, verifier, the data encrypted by the format's own routines over CNG
// (as the Windows builder makes it), and the code.
static std::string AesEncrypted(const std::string &password, std::string bytes, int flip)
{
    uint8_t salt[AesSaltSize], verifier[AesVerifierSize], code[Sha1Size];
    for (int i = 0; i < AesSaltSize; i++)
        salt[i] = (uint8_t)(i * 53 + 7);
    AesStream s = {};
    if (!CryptoReady() || !AesBegin(s, (const uint8_t *)password.data(), (uint32_t)password.size(), salt, verifier))
        return std::string();
    AesEncrypt(s, (uint8_t *)&bytes[0], (uint32_t)bytes.size());
    AesFinish(s, code);
    std::string out = std::string((const char *)salt, AesSaltSize) + std::string((const char *)verifier, 2) + bytes +
                      std::string((const char *)code, AesCodeSize);
    // -2 is the last byte (of the code), -3 the one before ...
    int at = flip >= 0 ? flip : (int)out.size() + flip + 1;
    if (flip != -1 && at >= 0 && at < (int)out.size())
        out[at] ^= 0x10;
    return out;
}

static std::string Text(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Archive(const std::vector<Entry> &entries, uint32_t base)
{
    std::string out, central;
    for (const Entry &e : entries) {
        uint32_t crc = Crc32(e.data) ^ (e.badCrc ? 0x1234u : 0u);
        std::string body = e.method == MethodDeflated ? Deflate(e.data) : e.data;
        mksfx::EntryRecord r;
        r.Flags = (e.descriptor ? DescriptorFlag : 0) | e.flags;
        r.Method = e.method;
        r.Time = e.time;
        r.Date = e.date;
        r.Name = e.name;
        if (!e.unicodePath.empty())
            r.Extra = mksfx::UnicodePathFieldBytes(Crc32(e.name) ^ (e.staleUnicodePath ? 1u : 0u), e.unicodePath);
        r.Extra.insert(r.Extra.end(), e.extra.begin(), e.extra.end());
        if (!e.password.empty() && e.aes) {
            r.Flags |= EncryptedFlag;
            r.Method = AesMethod;
            std::vector<uint8_t> field = mksfx::AesFieldBytes(e.method);
            field[4] = e.aes;
            r.Extra.insert(r.Extra.end(), field.begin(), field.end());
            body = AesEncrypted(e.password, body, e.flip);
            // AE-2 stores no CRC.
            if (e.aes == 2)
                crc = e.badCrc ? 0x1234u : 0u;
        } else if (!e.password.empty()) {
            r.Flags |= EncryptedFlag;
            std::string header;
            for (int i = 0; i < EncryptionHeaderSize - 1; i++)
                header += (char)(i * 37 + 11);
            header += (char)(e.descriptor ? e.time >> 8 : crc >> 24);
            body = Encrypted(e.password, header + body);
        }
        if (!e.streamed) {
            r.Crc = crc;
            r.Compressed = (uint32_t)body.size();
            r.Size = (uint32_t)e.data.size();
        }
        uint32_t offset = base + (uint32_t)out.size();
        out += Text(mksfx::LocalHeaderBytes(r)) + body;
        if (e.descriptor) {
            static_assert(DescriptorSize == 4 * 4, "signature, CRC and both sizes");
            std::vector<uint8_t> d;
            if (!e.bareDescriptor)
                mksfx::PutLE(d, DescriptorSignature, 4);
            mksfx::PutLE(d, crc, 4);
            for (size_t size : {body.size(), e.data.size()}) {
                mksfx::PutLE(d, (uint32_t)size, 4);
                if (e.wideDescriptor)
                    mksfx::PutLE(d, 0, 4);
            }
            out += Text(d);
        }
        out += e.after;
        // Made by MS-DOS, version 2.0; no attributes.
        central += Text(mksfx::CentralHeaderBytes(r, 20, 0, offset));
    }
    uint32_t cdOffset = base + (uint32_t)out.size();
    out += central;
    out += Text(mksfx::EndRecordBytes((uint16_t)entries.size(), (uint32_t)central.size(), cdOffset));
    return out;
}

std::string Block(const Settings &s)
{
    if (!s.present)
        return std::string();
    return Text(mksfx::SettingsBlockBytes(s.flags1, s.flags2, s.caption, s.folder, s.parameters, s.runFile));
}

std::string SelfExtractor(const std::string &stub, const Settings &s,
                          const std::vector<Entry> &entries)
{
    std::string head = stub + Block(s);
    return head + Archive(entries, (uint32_t)head.size());
}

} // namespace zm
