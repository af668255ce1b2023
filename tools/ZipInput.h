// Reading an existing ZIP through its central directory, for packing its
// entries again and for checking a finished file.
#ifndef MKSFX_ZIPINPUT_H
#define MKSFX_ZIPINPUT_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace mksfx {

struct ZipEntryInfo {
    std::string RawName;      // as stored
    uint16_t Flags = 0, Method = 0, Time = 0, Date = 0;
    uint32_t Crc = 0, Compressed = 0, Size = 0;
    uint64_t LocalOffset = 0;   // where the local header really is
    uint16_t MadeBy = 0;        // "version made by": the high byte names the system
    uint16_t Needed = 0;        // "version needed to extract"
    uint32_t External = 0;      // external attributes (Unix mode in the high half)
    uint16_t Internal = 0;      // internal attributes (bit 0: a text file)
    uint16_t Disk = 0;          // the disk the entry starts on
    uint16_t CommentLength = 0;
    std::vector<uint8_t> Extra;
};

// Where the records of a ZIP lie, for judging a finished file.
struct ZipLayout {
    uint64_t FileSize = 0;
    uint64_t EndRecord = 0;        // where the end record begins
    uint64_t Directory = 0;        // where the central directory really begins
    uint32_t DirectorySize = 0;    // as the end record says
    uint32_t DirectoryOffset = 0;  // as the end record says
    uint64_t DirectoryUsed = 0;    // bytes of it the entries take
    uint16_t CommentLength = 0;
};

// The central directory of the ZIP in `f`.  Data in front of the archive
// (a stub, say) is allowed: offsets that count from the archive's own start
// are moved to where the records really are.  ZIP64 archives and entries,
// and archives split over disks, are refused naming the file or entry.
// shift, when given, receives how far the records lie behind where the
// archive's offsets say (0 for a file whose offsets count from its start).
// comment, when given, receives the archive's comment as stored, and
// layout where the records lie.
std::vector<ZipEntryInfo> ReadCentralDirectory(FILE *f, const std::string &path,
                                               uint64_t *shift = nullptr, std::string *comment = nullptr,
                                               ZipLayout *layout = nullptr);

// Decodes the entry whose local header is at info.LocalOffset as other ZIP
// readers do (zlib, and the password in code page 949 when it is
// encrypted), to its end: throws BuildError, naming it by `name`, unless
// its data holds one whole stream of exactly info.Size bytes with the CRC-32
// info.Crc.
void ReadEntryThrough(const std::string &path, const ZipEntryInfo &info, const std::string &name,
                      const std::string *password);

// The entry's name as UTF-8: by flag bit 11, else the Info-ZIP Unicode Path
// field, else the bytes as they are when they are UTF-8 (as Unix tools
// write them), else as code page 949 (as Korean Windows writes them).  False
// when none of these reads them.
bool EntryNameUtf8(const ZipEntryInfo &e, std::string &utf8);

// The version of the entry's WinZip AES field (1 or 2) when it is an AES
// entry this reader decodes, with its real method; 0 otherwise.
uint8_t AesVersionOf(const ZipEntryInfo &e, uint16_t &method);

// Well-formed UTF-8 (common/Utf8.h).
bool ValidUtf8(const std::string &s);

}  // namespace mksfx

#endif
