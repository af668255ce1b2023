// Builds ZIP archives and whole self-extracting files in memory for the
// Windows tests: stored or deflated entries (zlib), traditional encryption,
// data descriptors, any compression method number, and the settings block
// in front.  The archive's offsets count from the start of the whole file.
#ifndef ZIPMAKER_H
#define ZIPMAKER_H

#include <stdint.h>
#include <string>
#include <vector>

#include "common/SfxFormat.h"

namespace zm {

struct Entry {
    std::string name;           // bytes as stored (code page 949)
    std::string data;           // uncompressed content
    uint16_t method = MethodDeflated;  // MethodStored, MethodDeflated; any other is stored raw
    std::string password;       // non-empty: traditional encryption, or AES with aes
    uint8_t aes = 0;            // with password: WinZip AES-256 of this vendor version (1 or 2)
    int flip = -1;              // AES: flip a bit of this byte of salt, verifier, data and code
                                // (-1 none, -2 the last byte, -3 the one before ...)
    bool descriptor = false;    // set flag bit 3 and write a data descriptor
    bool streamed = false;      // with descriptor: CRC and sizes 0 in the local header
    bool bareDescriptor = false;    // with descriptor: no signature in front of it
    bool wideDescriptor = false;    // with descriptor: 8-byte sizes (ZIP64)
    std::string after;          // bytes written between this entry and the next record
    bool badCrc = false;        // store a wrong CRC-32
    uint16_t time = 0x6000, date = 0x5A21;
    uint16_t flags = 0;         // more general-purpose flags (Utf8NameFlag: the name is UTF-8)
    std::string unicodePath;    // non-empty: an Info-ZIP Unicode Path field (UTF-8)
    bool staleUnicodePath = false;  // its CRC-32 not the stored name's
    std::string extra;          // more extra-field bytes, as they are
};

struct Settings {
    bool present = true;
    uint8_t flags1 = 0, flags2 = 0;
    std::string caption, folder, parameters, runFile;
};

uint32_t Crc32(const std::string &data);
// The ZIP archive alone, its offsets counted from `base`.
std::string Archive(const std::vector<Entry> &entries, uint32_t base);
// The settings block.
std::string Block(const Settings &s);
// stub bytes (padded image) + block + archive.
std::string SelfExtractor(const std::string &stub, const Settings &s,
                          const std::vector<Entry> &entries);

} // namespace zm

#endif
