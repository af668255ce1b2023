// Splitting the command line into switches.  Portable (no system call), so
// the host tests read the command lines that launchers write.
#ifndef SFX_SWITCHLINE_H
#define SFX_SWITCHLINE_H

// The first argument after the program's own name: a quoted name ends at
// the next quote (no escapes, as Windows reads it), another at a blank.
wchar_t *SkipProgramName(wchar_t *line);

// Reads the next switch from *line, decoding it in place (the line is the
// process's own copy), and moves *line past it.  False at the end of the
// line.  *key is the switch's letter in lower case ('?' for /?), or 0 when
// the argument is no well-formed switch: no '/', or a value missing from
// /D /O /P /R (after '=' or ':') or given to another switch.  *value is the
// zero-terminated value, empty for switches without one.
//
// Arguments follow the rules of CommandLineToArgvW, which every launcher
// that passes an argument list writes for (PowerShell, Python, .NET, Wine,
// cmd's start): blanks outside quotes separate arguments, quotes anywhere in
// an argument open and close a quoted stretch, 2n backslashes before a quote
// are n backslashes, 2n + 1 are n and a literal quote, other backslashes are
// themselves; inside a quoted stretch two quotes are a literal quote and
// close the stretch.  So "/P=a b" and /P="a b" are one and the same.  In a
// folder (/D), which cannot hold a quote, the odd backslash before a quote
// stays a backslash: /D="C:\Tools\" is C:\Tools\.
//
// One exception, kept for the batch files written for it: /D= (or /D:)
// without any quote after it takes the rest of the line as it stands,
// spaces and backslashes included, trailing blanks left out.
bool NextSwitch(wchar_t **line, wchar_t *key, const wchar_t **value);

#endif
