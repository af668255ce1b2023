// The listing shows the current folder as the system hands it out, which
// may be in 8.3 aliases or in lower case (Wine lower-cases it).  Looking up
// each growing prefix of the path gives every component's stored name, so
// what the user sees and gets back is the folder's real long form.
#include "PathUtils.h"
#include "../archive/EntryNames.h"
#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "../common/Utf8.h"
#include "../common/WideText.h"

#include <string.h>

enum { ExpandedChars = TargetFolderChars };

// A long form that does not fit in 255 characters is not cut, since the cut
// text would name another folder (which ensure folder would then make): the
// text as the system gave it, which names the same folder, stays.
void ExpandLongPath(char *buffer)
{
    uint32_t n = TextLength(buffer);
    if (n < 4)
        return;
    // The input with its trailing backslash gets a copy of its own: a full
    // 260-character buffer has no room for one more byte, and the prefixes
    // are cut in it while the result grows in another.
    char input[TextBufferSize + 1];
    memcpy(input, buffer, n);
    if (input[n - 1] != '\\')
        input[n++] = '\\';
    input[n] = 0;

    char result[ExpandedChars * Utf8PerUnit + 1];
    uint32_t length = 3, units = 3;
    memcpy(result, input, 3);
    char name[TextBufferSize];
    uint32_t start = 3;     // first character of the current component
    for (uint32_t i = 3; i < n; i++) {
        if (input[i] != '\\')
            continue;
        input[i] = 0;
        // Not found: the component as given, ended by the zero just put.
        const char *part = PathFind(input, name, sizeof name) ? name : input + start;
        // Counted in UTF-16 units, as the system counts; a character that
        // would pass the limit is left out whole.
        for (; *part; part++) {
            uint8_t c = (uint8_t)*part;
            if ((c & 0xC0) != 0x80) {
                uint32_t width = 1 + (c >= 0xF0);
                if (units + width > ExpandedChars)
                    break;
                units += width;
            }
            result[length++] = *part;
        }
        bool full = *part || units == ExpandedChars;
        input[i] = '\\';
        if (full)
            goto unchanged;
        result[length++] = '\\';
        units++;
        start = i + 1;
    }
    memcpy(buffer, result, length);
    buffer[length] = 0;
    return;
unchanged:
    // The backslash joins when the text stays within 260 units.
    if (Utf16Units(input) <= TextBufferSize / Utf8PerUnit)
        memcpy(buffer, input, n + 1);
}

bool CreateAndEnterFolder(const char *base, const char *name)
{
    for (const char *p = name; *p; p++)
        if (*p == ':')
            return false;
    while (*name == '\\')
        name++;
    if (!*name)
        return false;

    uint32_t baseLength = TextLength(base);
    uint32_t nameLength = TextLength(name);
    char *path = (char *)GetMem(baseLength + nameLength + 2);
    memcpy(path, base, baseLength);
    memcpy(path + baseLength, name, nameLength + 1);
    EnsureFolder(path);
    // The same buffer tests the name relative to the current folder; a
    // trailing backslash typed by the user is not doubled.
    memcpy(path, name, nameLength + 1);
    bool made = PathExists(AppendBackslash(path));
    if (made)
        SetCurrentDirectoryW(Wide(name));
    FreeMem(path);
    return made;
}
