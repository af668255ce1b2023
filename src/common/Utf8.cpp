#include "Utf8.h"

uint32_t Utf8SequenceLength(const uint8_t *s, uint32_t n)
{
    uint8_t lead = s[0], low = 0x80, high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2 || lead > 0xF4)
        return 0;
    if (lead == 0xE0)
        low = 0xA0;         // no overlong three-byte forms
    else if (lead == 0xED)
        high = 0x9F;        // no surrogates
    else if (lead == 0xF0)
        low = 0x90;         // no overlong four-byte forms
    else if (lead == 0xF4)
        high = 0x8F;        // nothing past U+10FFFF
    uint32_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length > n)
        return 0;
    for (uint32_t k = 1; k < length; k++)
        if (s[k] < (k == 1 ? low : 0x80) || s[k] > (k == 1 ? high : 0xBF))
            return 0;
    return length;
}

uint32_t Utf16Units(const char *text)
{
    uint32_t n = 0;
    for (const uint8_t *p = (const uint8_t *)text; p && *p; p++)
        n += ((*p & 0xC0) != 0x80) + (*p >= 0xF0);
    return n;
}
