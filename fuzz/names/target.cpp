// The name rule and the target-path builder over arbitrary names and target
// folders.  A name the rule lets through must land inside the target folder
// and name an ordinary file there, as Windows would resolve the path; the
// resolver below is written from Windows' rules, not from the rule it
// checks: separators, "." and "..", trailing dots and spaces, devices,
// streams and drives.
#include <string.h>

#include <string>
#include <vector>

#include "../FuzzTarget.h"
#include "archive/EntryNames.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"

namespace {

bool IsDevice(std::string c)
{
    // What Win32 takes for a device: the part before the first dot, less
    // trailing spaces (and dots), compared without case.
    c = c.substr(0, c.find('.'));
    while (!c.empty() && (c.back() == ' ' || c.back() == '.'))
        c.pop_back();
    for (char &ch : c)
        ch = (char)toupper((unsigned char)ch);
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *d : devices)
        if (c == d)
            return true;
    if ((c.compare(0, 3, "COM") == 0 || c.compare(0, 3, "LPT") == 0) &&
        ((c.size() == 4 && isdigit((unsigned char)c[3])) ||
         (c.size() == 5 && (uint8_t)c[3] == 0xC2 &&
          ((uint8_t)c[4] == 0xB9 || (uint8_t)c[4] == 0xB2 || (uint8_t)c[4] == 0xB3))))
        return true;
    return false;
}

// Resolves path as Win32 does with its components; false when the result is
// no plain file-system path (a device, a stream, a drive-relative jump, a
// UNC or rooted path, a character a name cannot hold).
bool Resolve(const std::string &path, std::vector<std::string> &out)
{
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\')
        return false;
    out.assign(1, path.substr(0, 2));
    std::string rest = path.substr(3), part;
    rest += '\\';
    for (char c : rest) {
        if (c == '/' || c == '\\') {
            bool onlyDots = part.find_first_not_of(". ") == std::string::npos;
            size_t dots = 0;
            for (char p : part)
                dots += p == '.';
            if (onlyDots && dots >= 2) {
                if (out.size() == 1)
                    return false;       // above the root: the root stays, but so does the escape
                out.pop_back();
            } else if (!onlyDots) {
                while (part.back() == '.' || part.back() == ' ')
                    part.pop_back();
                if (IsDevice(part))
                    return false;
                out.push_back(part);
            }
            part.clear();
            continue;
        }
        if ((uint8_t)c < 32 || strchr(":*?\"<>|", c))
            return false;
        part += c;
    }
    return true;
}

} // namespace

SFX_FUZZ_TARGET(names)
{
    // The first byte picks a target folder and whether the name is UTF-8
    // (flag bit 11) or code page 949; the rest is the entry name, cut at
    // its first zero byte as the walk cuts names, and judged as the stub
    // judges it: after its conversion to the UTF-8 it is written under.
    static const char *const folders[] = {"C:\\out", "C:\\out\\", "D:\\a b\\c.d", "E:", "E:\\"};
    if (size == 0)
        return 0;
    EnsureCrcTable();
    const char *folder = folders[data[0] % 5];
    strcpy(TargetFolder, folder);
    Text text = {0, 0};
    FixedTextToString(text, data + 1, (uint32_t)(size - 1));
    EntryNameToUtf8(text, data[0] & 0x80 ? 0x800 : 0, nullptr, 0);
    std::string name(text.Data, text.Length);
    TextFree(text);
    if (name.empty() || IsUnsafeName(name.c_str()))
        return 0;
    text = {(char *)name.c_str(), (uint32_t)name.size()};
    char *path = BuildTargetPath(text);

    std::vector<std::string> base, target;
    std::string root = folder;
    if (root.size() == 2)
        root += '\\';
    SFX_FUZZ_CHECK(Resolve(root, base) && Resolve(path, target));
    // Inside the folder, below it (an entry is never the folder itself
    // unless it is a folder entry, which creates nothing).
    SFX_FUZZ_CHECK(target.size() >= base.size());
    for (size_t i = 0; i < base.size(); i++)
        SFX_FUZZ_CHECK(target[i] == base[i]);
    FreeMem(path);
    return 0;
}
