// Entry names as paths: which names may be written at all, and the target
// path a name becomes under TargetFolder.  Portable, so the host tests and
// the fuzzer judge exactly what the stub judges.
#ifndef SFX_ENTRYNAMES_H
#define SFX_ENTRYNAMES_H

#include "../common/SFXgbls.h"

// True when the name must not be written: a component that reaches the
// parent ("..", and the ".. " or "..." that Windows trims to it), a ':'
// (drive or alternate stream), a leading separator (root or UNC share), a
// component Windows maps to a device (CON, NUL.txt, com1 ...), or a
// character Windows forbids in names (* ? " < > | and 1 to 31).  Names are
// the UTF-8 the program holds them in (EntryNameToUtf8): no byte of a
// multi-byte sequence is ASCII, so a byte-wise scan is exact.
bool IsUnsafeName(const char *name);

// The name an entry is written and shown under, as valid UTF-8: the
// Info-ZIP Unicode Path field (0x7075, version 1) of the extra field when
// its CRC-32 matches the stored name, else the stored name itself, read as
// UTF-8 when flag bit 11 is set and as code page 949 otherwise.  CrcTable
// must be built; name.Data must not be null (FixedTextToString never leaves
// it so).  True when the name came as UTF-8.
bool EntryNameToUtf8(Text &name, uint16_t flags, const uint8_t *extra, uint32_t extraLength);

// Invalid UTF-8 (stray, overlong or surrogate sequences) replaced with
// U+FFFD, byte by byte: what the system would make of it, and no byte of
// it can turn into a separator or a dot.
void NormalizeUtf8(Text &text);

// Hangul syllables composed, in place, from the conjoining jamo that macOS
// writes names in (U+1100-U+11FF, decomposed): a leading consonant, a
// vowel and an optional trailing consonant become one syllable, by the
// arithmetic of the Unicode Standard, section 3.12.
// Anything else, a lone jamo among it, stays as it is.  The new length
// (never more than length); no terminator is written.  Windows neither
// composes nor matches decomposed names, so a name is searchable only
// composed; the stub and the builder share this one routine.
uint32_t ComposeHangul(char *text, uint32_t length);

// TargetFolder without one trailing '\', a '\', the name with every '/'
// turned into '\'; allocated to fit (release with FreeMem).
char *BuildTargetPath(const Text &name);

#endif
