// The bytes of the format's small records, from their stored fields: the
// settings block and the Unicode Path extra field.  Header-only: the
// builder writes them with it, and so do the tests, including the Windows
// test programs, which link the stub's code rather than the builder's.
#ifndef MKSFX_RECORD_BYTES_H
#define MKSFX_RECORD_BYTES_H

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "archive/SfxFormat.h"

namespace mksfx {

// "QBW", the block's length, the two flag bytes as given, the four texts'
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
    std::vector<uint8_t> b = {'Q', 'B', 'W', (uint8_t)length, (uint8_t)(length >> 8), flags1, flags2};
    for (const std::string *t : texts)
        b.push_back((uint8_t)t->size());
    for (const std::string *t : texts)
        b.insert(b.end(), t->begin(), t->end());
    return b;
}

// Info-ZIP's Unicode Path field: its id and length, the version (1 is the
// one readers take), the CRC-32 of the stored name the field belongs to, and
// the name as UTF-8.
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
