// Entry names as paths: which names may be written at all, and the target
// path a name becomes under TargetFolder.  Portable, so the host tests and
// the fuzzer judge exactly what the stub judges.
#ifndef SFX_ENTRYNAMES_H
#define SFX_ENTRYNAMES_H

#include "../common/SFXgbls.h"

// The longest path the file calls take (MAX_PATH, terminator included): a
// target path of this many bytes or more is refused before any of them sees
// it, since the system would cut or reinterpret it.
enum { MaxTargetPath = 260 };

// True when the name must not be written: a component that reaches the
// parent ("..", and the ".. " or "..." that Windows trims to it), a ':'
// (drive or alternate stream), a leading separator (root or UNC share), a
// component Windows maps to a device (CON, NUL.txt, com1 ...), or a
// character Windows forbids in names (* ? " < > | and 1 to 31).  Names are
// code page 949 bytes: no trail byte of that code page is any of these
// characters, so a byte-wise scan is exact.
bool IsUnsafeName(const char *name);

// TargetFolder without one trailing '\', a '\', the name with every '/'
// turned into '\'; allocated to fit (release with FreeMem).
char *BuildTargetPath(const Text &name);

#endif
