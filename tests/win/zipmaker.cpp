#include "zipmaker.h"

#include <zlib.h>

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

// Traditional PKWARE encryption (APPNOTE 6.1), written out independently of
// the stub's decoder so the two check each other.
struct Keys {
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    static uint32_t Crc(uint32_t c, uint8_t b)
    {
        c ^= b;
        for (int i = 0; i < 8; i++)
            c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        return c;
    }
    void Update(uint8_t p)
    {
        k0 = Crc(k0, p);
        k1 = (k1 + (k0 & 0xFF)) * 0x08088405u + 1;
        k2 = Crc(k2, (uint8_t)(k1 >> 24));
    }
    uint8_t Stream()
    {
        uint32_t t = (k2 & 0xFFFF) | 2;
        return (uint8_t)((t * (t ^ 1)) >> 8);
    }
    char Encrypt(uint8_t p)
    {
        uint8_t c = p ^ Stream();
        Update(p);
        return (char)c;
    }
};

std::string Archive(const std::vector<Entry> &entries, uint32_t base)
{
    std::string out, central;
    for (const Entry &e : entries) {
        uint32_t crc = Crc32(e.data) ^ (e.badCrc ? 0x1234u : 0u);
        std::string body = e.method == 8 ? Deflate(e.data) : e.data;
        uint16_t flags = (e.descriptor ? 0x0008 : 0) | e.flags;
        std::string extra;
        if (!e.unicodePath.empty()) {
            Put16(extra, 0x7075);
            Put16(extra, 5 + (uint32_t)e.unicodePath.size());
            extra += (char)1;
            Put32(extra, Crc32(e.name) ^ (e.staleUnicodePath ? 1u : 0u));
            extra += e.unicodePath;
        }
        if (!e.password.empty()) {
            flags |= 1;
            Keys k;
            for (unsigned char c : e.password)
                k.Update(c);
            std::string enc;
            for (int i = 0; i < 11; i++)
                enc += k.Encrypt((uint8_t)(i * 37 + 11));
            enc += k.Encrypt(e.descriptor ? (uint8_t)(e.time >> 8) : (uint8_t)(crc >> 24));
            for (unsigned char c : body)
                enc += k.Encrypt(c);
            body = enc;
        }
        uint32_t offset = base + (uint32_t)out.size();
        std::string h;
        Put32(h, 0x04034B50);
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
            Put32(out, 0x08074B50);
            Put32(out, crc);
            Put32(out, (uint32_t)body.size());
            Put32(out, (uint32_t)e.data.size());
        }
        std::string c;
        Put32(c, 0x02014B50);
        Put16(c, 20);
        c += h.substr(4, 26);
        Put16(c, 0);   // comment
        Put16(c, 0);   // disk
        Put16(c, 0);   // internal attributes
        Put32(c, 0);   // external attributes
        Put32(c, offset);
        central += c + e.name + extra;
    }
    uint32_t cdOffset = base + (uint32_t)out.size();
    out += central;
    Put32(out, 0x06054B50);
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
    std::string b = "QBW";
    uint32_t length = 11 + (uint32_t)(s.caption.size() + s.folder.size() + s.parameters.size() +
                                      s.runFile.size());
    Put16(b, length);
    b += (char)s.flags1;
    b += (char)s.flags2;
    b += (char)s.caption.size();
    b += (char)s.folder.size();
    b += (char)s.parameters.size();
    b += (char)s.runFile.size();
    b += s.caption + s.folder + s.parameters + s.runFile;
    return b;
}

std::string SelfExtractor(const std::string &stub, const Settings &s,
                          const std::vector<Entry> &entries)
{
    std::string head = stub + Block(s);
    return head + Archive(entries, (uint32_t)head.size());
}

} // namespace zm
