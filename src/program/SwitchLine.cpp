// Splitting the command line, by the rules of CommandLineToArgvW.  Windows
// hands a program one line and leaves the splitting to it; every launcher
// that takes an argument list (Start-Process, subprocess, ArgumentList, start)
// quotes each argument holding a blank whole, "/D=C:\My Folder", expecting
// these rules to take the quotes off again.
#include "SwitchLine.h"

static bool IsBlank(wchar_t c)
{
    return c == ' ' || c == '\t';
}

wchar_t *SkipProgramName(wchar_t *p)
{
    if (*p == '"') {
        while (*++p && *p != '"')
            ;
        if (*p)
            p++;
    } else {
        while (*p && !IsBlank(*p))
            p++;
    }
    return p;
}

// Decodes the argument at p over itself (what is written never overtakes
// what is read) and zero-terminates it; the position after it.  A folder
// cannot hold a quote, so in one an escaped quote is taken for what the
// writer of /D="C:\Tools\" meant: the backslash, then the closing quote.
static wchar_t *DecodeArgument(wchar_t *p, bool folder)
{
    wchar_t *out = p;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
        int backslashes = 0;
        while (p[backslashes] == '\\')
            backslashes++;
        if (p[backslashes] != '"') {
            // Backslashes not before a quote, or any other character.
            int n = backslashes ? backslashes : 1;
            while (n--)
                *out++ = *p++;
            continue;
        }
        p += backslashes;
        // The odd one out escapes the quote, in a folder it stays a backslash.
        if (folder && backslashes % 2)
            backslashes++;
        for (; backslashes >= 2; backslashes -= 2)
            *out++ = '\\';
        p++;
        if (backslashes)
            *out++ = '"';
        else if (quoted && *p == '"') {
            *out++ = '"';
            p++;
            quoted = false;
        } else {
            quoted = !quoted;
        }
    }
    // The terminator may land on the blank that ended the argument: step
    // over that first.
    wchar_t *next = *p ? p + 1 : p;
    *out = 0;
    return next;
}

// /D= or /D: at p.
static bool IsFolderSwitch(const wchar_t *p)
{
    return p[0] == '/' && (p[1] | 0x20) == 'd' && (p[2] == '=' || p[2] == ':');
}

static bool HasValue(wchar_t key)
{
    return key == 'd' || key == 'o' || key == 'p' || key == 'r';
}

bool NextSwitch(wchar_t **line, wchar_t *key, const wchar_t **value)
{
    wchar_t *p = *line;
    while (IsBlank(*p))
        p++;
    if (!*p)
        return false;
    wchar_t *arg = p;
    bool rawFolder = IsFolderSwitch(p);
    for (wchar_t *q = p + 3; rawFolder && *q; q++)
        rawFolder = *q != '"';
    if (rawFolder) {
        // A folder cannot hold a quote, so one anywhere after /D= is quoting
        // and the argument is read by the rules; without, it is the rest.
        wchar_t *end = p + 3;
        while (*end)
            end++;
        *line = end;
        while (end > p + 3 && IsBlank(end[-1]))
            end--;
        *end = 0;
    } else {
        // A folder's argument, whether quoted whole or after the '='.
        wchar_t *q = p;
        while (*q == '"')
            q++;
        *line = DecodeArgument(p, IsFolderSwitch(q));
    }
    static const wchar_t none = 0;
    *key = 0;
    *value = &none;
    if (arg[0] == '/' && arg[1]) {
        wchar_t k = arg[1] | 0x20;
        if (HasValue(k) ? arg[2] == '=' || arg[2] == ':' : !arg[2]) {
            *key = k;
            *value = arg + 2 + HasValue(k);
        }
    }
    return true;
}
