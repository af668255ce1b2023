// The settings block's bytes from its stored fields.  Header-only: the
// builder writes its blocks with it, and so do the tests, including the
// Windows test programs, which link the stub's code rather than the
// builder's.
#ifndef MKSFX_SETTINGS_BLOCK_H
#define MKSFX_SETTINGS_BLOCK_H

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

}  // namespace mksfx

#endif
