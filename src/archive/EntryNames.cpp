#include "EntryNames.h"

#include "../common/Memory.h"
#include "../common/SFXmisc.h"

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
// "AUX..".  The digit may be 0-9 or, since code page 949 has them, the
// superscripts 1 to 3 (two bytes A9 F6 to A9 F8), which Windows also maps.
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
        return port && (uint8_t)u[3] == 0xA9 && (uint8_t)u[4] >= 0xF6 && (uint8_t)u[4] <= 0xF8;
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
