#include "EntryNames.h"

#include "../common/Memory.h"
#include "../common/FileIO.h"
#include "../common/SFXmisc.h"
#include "../common/Utf8.h"

static bool IsSlash(char c)
{
    return c == '\\' || c == '/';
}

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 32) : c;
}

// Win32 turns these into devices in any folder, whatever follows the first
// dot and however many dots and spaces trail: "nul.txt", "Com1 .log",
// "AUX..".  The digit may be 0-9 or the superscripts 1 to 3 (UTF-8 C2 B9,
// C2 B2, C2 B3; code page 949 has them too), which Windows also maps.
static bool IsDeviceName(const char *c, uint32_t n)
{
    uint32_t base = 0;
    while (base < n && c[base] != '.')
        base++;
    while (base && (c[base - 1] == ' ' || c[base - 1] == '.'))
        base--;
    char u[7];
    if (base < 3 || base > 7)
        return false;
    for (uint32_t i = 0; i < base; i++)
        u[i] = Upper(c[i]);
    static const char three[] = "CONPRNAUXNUL";
    if (base == 3) {
        for (int i = 0; i < 12; i += 3)
            if (u[0] == three[i] && u[1] == three[i + 1] && u[2] == three[i + 2])
                return true;
        return false;
    }
    bool port = (u[0] == 'C' && u[1] == 'O' && u[2] == 'M') ||
                (u[0] == 'L' && u[1] == 'P' && u[2] == 'T');
    if (base == 4)
        return port && u[3] >= '0' && u[3] <= '9';
    if (base == 5)
        return port && (uint8_t)u[3] == 0xC2 &&
               ((uint8_t)u[4] == 0xB9 || (uint8_t)u[4] == 0xB2 || (uint8_t)u[4] == 0xB3);
    // The console's own handles.
    return u[0] == 'C' && u[1] == 'O' && u[2] == 'N' &&
           ((base == 6 && u[3] == 'I' && u[4] == 'N' && u[5] == '$') ||
            (base == 7 && u[3] == 'O' && u[4] == 'U' && u[5] == 'T' && u[6] == '$'));
}

// A component that Windows trims to ".." (trailing dots and spaces go).
static bool IsParentComponent(const char *c, uint32_t n)
{
    uint32_t dots = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (c[i] == '.')
            dots++;
        else if (c[i] != ' ')
            return false;
    }
    return dots >= 2;
}

bool IsUnsafeName(const char *name)
{
    if (IsSlash(name[0]))
        return true;
    const char *start = name;
    for (const char *p = name;; p++) {
        uint8_t c = (uint8_t)*p;
        if (c == 0 || IsSlash((char)c)) {
            uint32_t n = (uint32_t)(p - start);
            if (IsParentComponent(start, n) || IsDeviceName(start, n))
                return true;
            if (c == 0)
                return false;
            start = p + 1;
        } else if (c < 32 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
                   c == '>' || c == '|') {
            return true;
        }
    }
}

char *BuildTargetPath(const Text &name)
{
    uint32_t folder = TextLength(TargetFolder);
    if (folder >= TargetFolderSize)
        folder = TargetFolderSize - 1;
    if (folder && TargetFolder[folder - 1] == '\\')
        folder--;
    char *path = (char *)GetMem(folder + name.Length + 2);
    for (uint32_t i = 0; i < folder; i++)
        path[i] = TargetFolder[i];
    path[folder] = '\\';
    char *d = path + folder + 1;
    for (uint32_t i = 0; i < name.Length; i++)
        d[i] = name.Data[i] == '/' ? '\\' : name.Data[i];
    d[name.Length] = 0;
    return path;
}

void NormalizeUtf8(Text &text)
{
    const uint8_t *s = (const uint8_t *)text.Data;
    uint32_t n = text.Length;
    uint8_t *out = (uint8_t *)GetMem(n * 3 + 1);
    uint32_t o = 0;
    for (uint32_t i = 0; i < n;) {
        uint32_t length = Utf8SequenceLength(s + i, n - i);
        if (!length) {
            out[o++] = 0xEF;
            out[o++] = 0xBF;
            out[o++] = 0xBD;
            i++;
            continue;
        }
        while (length--)
            out[o++] = s[i++];
    }
    FixedTextToString(text, out, o);
    FreeMem(out);
}

// Unicode 3.12, Hangul syllable composition: 19 leading consonants from
// U+1100, 21 vowels from U+1161, 27 trailing consonants from U+11A8 (U+11A7
// stands for "none"), syllables from U+AC00 in that order.  All of them are
// three bytes of UTF-8, the jamo E1 84 80 to E1 87 BF.
enum : uint32_t { CountL = 19, CountV = 21, CountT = 28, FirstV = 0x61, NoT = 0xA7 };

// The jamo at s (n bytes left) as its offset from U+1100; 0x100 when there
// is none.
static uint32_t JamoAt(const uint8_t *s, uint32_t n)
{
    if (n < 3 || s[0] != 0xE1 || (s[1] & 0xFC) != 0x84 || (s[2] & 0xC0) != 0x80)
        return 0x100;
    return (s[1] & 3) << 6 | (s[2] & 0x3F);
}

// Only sequences of jamo compose: a trailing consonant after a syllable
// that came composed stays apart, as no decomposed name holds one.  That
// keeps the routine to what macOS writes, and small: each jamo is written
// out as it comes, and written over by the syllable it then completes.
uint32_t ComposeHangul(char *text, uint32_t length)
{
    uint8_t *s = (uint8_t *)text;
    uint32_t o = 0, c = 0;
    enum { Other, AfterL, AfterLV } state = Other;
    for (uint32_t i = 0; i < length;) {
        uint32_t j = JamoAt(s + i, length - i);
        if (state == AfterL && j - FirstV < CountV) {
            c = 0xAC00 + ((c - 0x1100) * CountV + j - FirstV) * CountT;
            state = AfterLV;
            o -= 3;
        } else if (state == AfterLV && j - NoT - 1 < CountT - 1) {
            c += j - NoT;
            state = Other;
            o -= 3;
        } else if (j < 0x100) {
            c = 0x1100 + j;
            state = j < CountL ? AfterL : Other;
        } else {
            s[o++] = s[i++];
            state = Other;
            continue;
        }
        s[o++] = (uint8_t)(0xE0 | c >> 12);
        s[o++] = (uint8_t)(0x80 | (c >> 6 & 0x3F));
        s[o++] = (uint8_t)(0x80 | (c & 0x3F));
        i += 3;
    }
    return o;
}

static uint16_t Read16(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

bool EntryNameToUtf8(Text &name, uint16_t flags, const uint8_t *extra, uint32_t extraLength)
{
    // The Unicode Path field: version 1, the CRC-32 of the stored name, the
    // name in UTF-8.  A stale field (the name was changed by a tool that
    // did not know the field) carries the wrong CRC and is passed over.
    for (uint32_t at = 0; at + 4 <= extraLength;) {
        uint32_t size = Read16(extra + at + 2);
        const uint8_t *data = extra + at + 4;
        if (at + 4 + size > extraLength)
            break;
        if (Read16(extra + at) == UnicodePathId && size > 5 && data[0] == 1) {
            uint32_t crc = 0xFFFFFFFF;
            UpdateCrcOverBlock((const uint8_t *)name.Data, (int32_t)name.Length, crc);
            if ((data[1] | data[2] << 8 | data[3] << 16 | (uint32_t)data[4] << 24) == ~crc) {
                FixedTextToString(name, data + 5, size - 5);
                flags |= 0x800;
                break;
            }
        }
        at += 4 + size;
    }
    if (flags & 0x800) {
        NormalizeUtf8(name);
        name.Length = ComposeHangul(name.Data, name.Length);
        name.Data[name.Length] = 0;
        return true;
    }
    // A byte the table cannot read may become three of UTF-8.
    char *buffer = (char *)GetMem(name.Length * 3 + 1);
    for (uint32_t i = 0; i <= name.Length; i++)
        buffer[i] = name.Data[i];
    Utf8From949(buffer, name.Length * 3 + 1);
    TextAssign(name, buffer);
    FreeMem(buffer);
    return false;
}
