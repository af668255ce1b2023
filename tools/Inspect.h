// Looking into a finished self-extracting file with the stub's own code:
// the settings reader, the walk over the local headers and the decoders.
#ifndef MKSFX_INSPECT_H
#define MKSFX_INSPECT_H

#include <stdio.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace mksfx {

// How a report is written: lines for people, one JSON object for scripts
// (the schema is in the README), or nothing at all (the exit code alone).
enum ReportFormat { ReportText, ReportJson, ReportSilent };

// Prints the settings block and the entries; returns the exit code.  A file
// in which no entry is found is said not to be one of ours before anything
// that looks like a report is printed.
int ShowInfo(const std::string &path, FILE *out, ReportFormat format = ReportText);

// Judges a finished file against what the builder writes: the image against
// `stub` (the stub the file should carry; empty: it cannot be checked, which
// fails), the settings block against the builder's rules and its own
// encoding, every entry decoded as the stub would (with the password, in
// code page 949, when given) with its CRC-32, its name as the stub takes it,
// and the central directory and end record that other ZIP readers use,
// field by field against the local headers.  Returns 0 when everything
// passed, 1 otherwise; a line for each part and entry, and one for each
// failure, to `out`.
int Verify(const std::string &path, const std::string *password, const std::vector<uint8_t> &stub, FILE *out,
           ReportFormat format = ReportText);

// The SHA-256 of the bytes in hex, as sha256sum prints it.
std::string Sha256Hex(const uint8_t *data, size_t n);

// The PE image checksum of a file of `size` bytes (as Windows'
// CheckSumMappedFile computes it), the 4 bytes at fieldAt read as zero;
// StampPeChecksum writes it into the file's own header (opened for reading
// and writing).  False when the file holds no PE header or cannot be read.
uint32_t PeChecksum(FILE *f, uint64_t size, uint64_t fieldAt);
bool StampPeChecksum(FILE *f, uint64_t size);

}  // namespace mksfx

#endif
