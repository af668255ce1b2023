#include "zipmaker.h"

#include <string.h>
#include <zlib.h>

#include "RecordBytes.h"
#include "common/Memory.h"
#include "decode/CrcCrypt.h"

namespace zm {

static void Put16(std::string &s, uint32_t v)
{
    s += (char)(v & 0xFF);
    s += (char)((v >> 8) & 0xFF);
}

static void Put32(std::string &s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

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
    if (!CrcTable) {
        CrcTable = (uint32_t *)GetMem(1028);
        BuildCrcTable();
    }
    uint32_t saved[3];
    memcpy(saved, EncryptionKeys, sizeof saved);
    InitKeys(password.data(), (uint32_t)password.size());
    EncryptBlock((uint8_t *)&bytes[0], (int32_t)bytes.size());
    memcpy(EncryptionKeys, saved, sizeof saved);
    return bytes;
}

std::string Archive(const std::vector<Entry> &entries, uint32_t base)
{
    std::string out, central;
    for (const Entry &e : entries) {
        uint32_t crc = Crc32(e.data) ^ (e.badCrc ? 0x1234u : 0u);
        std::string body = e.method == MethodDeflated ? Deflate(e.data) : e.data;
        uint16_t flags = (e.descriptor ? DescriptorFlag : 0) | e.flags;
        std::string extra;
        if (!e.unicodePath.empty()) {
            std::vector<uint8_t> x =
                mksfx::UnicodePathFieldBytes(Crc32(e.name) ^ (e.staleUnicodePath ? 1u : 0u), e.unicodePath);
            extra.assign(x.begin(), x.end());
        }
        if (!e.password.empty()) {
            flags |= EncryptedFlag;
            std::string header;
            for (int i = 0; i < EncryptionHeaderSize - 1; i++)
                header += (char)(i * 37 + 11);
            header += (char)(e.descriptor ? e.time >> 8 : crc >> 24);
            body = Encrypted(e.password, header + body);
        }
        uint32_t offset = base + (uint32_t)out.size();
        std::string h;
        Put32(h, LocalHeaderSignature);
        Put16(h, 20);
        Put16(h, flags);
        Put16(h, e.method);
        Put16(h, e.time);
        Put16(h, e.date);
        Put32(h, e.streamed ? 0 : crc);
        Put32(h, e.streamed ? 0 : (uint32_t)body.size());
        Put32(h, e.streamed ? 0 : (uint32_t)e.data.size());
        Put16(h, (uint32_t)e.name.size());
        Put16(h, (uint32_t)extra.size());
        out += h + e.name + extra + body;
        if (e.descriptor) {
            Put32(out, DescriptorSignature);
            Put32(out, crc);
            Put32(out, (uint32_t)body.size());
            Put32(out, (uint32_t)e.data.size());
        }
        std::string c;
        Put32(c, CentralHeaderSignature);
        Put16(c, 20);
        c += h.substr(4, LocalHeaderSize - 4);
        Put16(c, 0);   // comment
        Put16(c, 0);   // disk
        Put16(c, 0);   // internal attributes
        Put32(c, 0);   // external attributes
        Put32(c, offset);
        central += c + e.name + extra;
    }
    uint32_t cdOffset = base + (uint32_t)out.size();
    out += central;
    Put32(out, EndRecordSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, (uint32_t)entries.size());
    Put16(out, (uint32_t)entries.size());
    Put32(out, (uint32_t)central.size());
    Put32(out, cdOffset);
    Put16(out, 0);
    return out;
}

std::string Block(const Settings &s)
{
    if (!s.present)
        return std::string();
    std::vector<uint8_t> b =
        mksfx::SettingsBlockBytes(s.flags1, s.flags2, s.caption, s.folder, s.parameters, s.runFile);
    return std::string(b.begin(), b.end());
}

std::string SelfExtractor(const std::string &stub, const Settings &s,
                          const std::vector<Entry> &entries)
{
    std::string head = stub + Block(s);
    return head + Archive(entries, (uint32_t)head.size());
}

} // namespace zm
