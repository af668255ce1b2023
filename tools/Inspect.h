// Looking into a finished self-extracting file with the stub's own code:
// the settings reader, the walk over the local headers and the decoders.
#ifndef MKSFX_INSPECT_H
#define MKSFX_INSPECT_H

#include <stdio.h>

#include <string>

namespace mksfx {

// Prints the settings block and the entries; returns the exit code.
int ShowInfo(const std::string &path, FILE *out);

// Decodes every entry as the stub would (with the password, in code page
// 949, when given) and checks its CRC-32, then checks that the central
// directory that other ZIP readers use agrees with the local headers.
// Returns 0 when everything passed, 1 otherwise; a line per entry to `out`.
int Verify(const std::string &path, const std::string *password, FILE *out);

}  // namespace mksfx

#endif
