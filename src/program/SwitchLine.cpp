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

// /D= or /D: at p.
static bool IsFolderSwitch(const wchar_t *p)
{
    return p[0] == '/' && (p[1] | 0x20) == 'd' && (p[2] == '=' || p[2] == ':');
}

static bool HasValue(wchar_t key)
{
    return key == 'd' || key == 'o' || key == 'p' || key == 'r';
}

// Decodes the argument at p over itself (what is written never overtakes
// what is read) and zero-terminates it; the position after it.  A folder
// cannot hold a quote, so in one an escaped quote is taken for what the
// writer of /D="C:\Tools\" meant: the backslash, then the closing quote.
// A whole argument (unquoted /D=) runs over blanks to the end of the line,
// less the blanks at its end.
static wchar_t *DecodeArgument(wchar_t *p, bool folder, bool whole)
{
    wchar_t *out = p, *start = p;
    bool quoted = whole;
    int backslashes = 0;   // written just before, as they stood
    for (wchar_t c; (c = *p) && (quoted || !IsBlank(c)); p++) {
        if (c != '"') {
            backslashes = c == '\\' ? backslashes + 1 : 0;
            *out++ = c;
            continue;
        }
        // Half of them stay; the odd one out escapes the quote, except in
        // a folder, where it stays a backslash.
        bool escaped = (backslashes & 1) && !folder;
        out -= backslashes - (backslashes + folder) / 2;
        backslashes = 0;
        if (escaped)
            *out++ = '"';
        else if (quoted && p[1] == '"') {
            *out++ = '"';
            p++;
            quoted = false;
        } else {
            quoted = !quoted;
        }
    }
    while (whole && out > start && IsBlank(out[-1]))
        out--;
    // The terminator may land on the blank that ended the argument: step
    // over that first.
    wchar_t *next = *p ? p + 1 : p;
    *out = 0;
    return next;
}

bool NextSwitch(wchar_t **line, wchar_t *key, const wchar_t **value)
{
    wchar_t *p = *line;
    while (IsBlank(*p))
        p++;
    if (!*p)
        return false;
    wchar_t *arg = p, *q = p;
    // A folder's argument, whether quoted whole or after the '='.  A folder
    // cannot hold a quote, so one anywhere after an unquoted /D= is quoting
    // and the argument is read by the rules; without, it is the rest.
    while (*q == '"')
        q++;
    bool folder = IsFolderSwitch(q), whole = folder && q == p;
    while (*q && whole)
        whole = *q++ != '"';
    *line = DecodeArgument(p, folder, whole);
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
