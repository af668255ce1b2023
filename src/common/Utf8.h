// The one rule of well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF) and the one count of UTF-16 units,
// for every part that reads or measures UTF-8: the entry names, the path
// limits, the folder dialogs and the builder.
#ifndef SFX_UTF8_H
#define SFX_UTF8_H

#include <stdint.h>

// The length of the well-formed sequence at s, of which n (at least 1)
// bytes remain: 1 to 4, or 0 when none starts there.
uint32_t Utf8SequenceLength(const uint8_t *s, uint32_t n);

// The length of a valid UTF-8 text in UTF-16 units, which is what the
// system's path limits count; 0 for a null text.
uint32_t Utf16Units(const char *text);

#endif
