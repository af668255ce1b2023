// The builder's model of a self-extracting file: what goes into the
// settings block, which entries go into the archive and from where, and the
// routines that check and write them.  Failures are thrown as BuildError
// with a message for the user and the process exit code.
#ifndef MKSFX_BUILDER_H
#define MKSFX_BUILDER_H

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/SfxFormat.h"
#include "archive/Settings.h"

namespace mksfx {

enum ExitCode { ExitOk = 0, ExitError = 1, ExitUsage = 2 };

struct BuildError : std::runtime_error {
    int Code;
    BuildError(const std::string &message, int code = ExitError)
        : std::runtime_error(message), Code(code) {}
};

// An input opened for reading; throws BuildError naming it when it cannot be.
FILE *OpenInput(const std::string &path);

// The settings block's contents, texts already in code page 949.  The flags
// are the stub's own decoded fields (SettingsFields), so that the block is
// read and written by one codec; their Length and TextLength are what a
// block read from a file (ReadSettingsBlock) gave, and are not written:
// MakeSettingsBlock measures the texts.
struct BlockSettings : SettingsFields {
    std::string Caption, Folder, Parameters, RunFile;
    BlockSettings() : SettingsFields() { Overwrite = OverwriteAsk; }
};

// The magic, block length, flags, lengths and texts.  A text over 255 bytes is
// refused (its one-byte length cannot hold it); never cut.
std::vector<uint8_t> MakeSettingsBlock(const BlockSettings &settings);

// The settings block of a self-extracting file: a Windows program of at
// least the stub's size with the magic where the stub looks for it.  bytes,
// when given, receives the block as stored (its own length, or what the
// file holds of it).
bool ReadSettingsBlock(FILE *f, BlockSettings &s, std::vector<uint8_t> *bytes = nullptr);

// A setting given as UTF-8, checked and converted; `what` names the option
// in messages.
// A setting given as an option, in code page 949; refused as a wrong command
// line (ExitUsage) when the block cannot hold it.
std::string SettingText(const std::string &utf8, const char *what);

// An entry name as it will be stored: checked (no '..', no absolute or
// drive-prefixed names, nothing Windows cannot create) and converted to code
// page 949 with '/' separators.  The name is UTF-8 with '/' separators.
std::string ArchiveName(const std::string &utf8);
// The name with its Hangul composed (ComposeHangul): macOS writes names
// decomposed, and Windows would show and search such a file as loose jamo.
std::string ComposedName(const std::string &utf8);
// The key under which two names count as the same file on Windows.
std::string NameKey(const std::string &utf8);

// Plain bytes of one entry, read from wherever the entry comes from.
class EntrySource {
public:
    virtual ~EntrySource() {}
    // Starts (again) from the first byte.
    virtual void Rewind() = 0;
    // Up to n plain bytes; 0 at the end.  Throws BuildError on failure.
    virtual size_t Read(uint8_t *buffer, size_t n) = 0;
    // A source that holds the entry deflated already (an entry of an
    // existing ZIP) can hand out that deflate stream as it is, decrypted,
    // for copying instead of deflating again.  It inflates what it hands
    // out on the way, so a damaged stream, or one that makes more or fewer
    // than Size bytes, throws as Read does; CopiedCrc is then the CRC-32 of
    // the plain bytes the stream holds.
    virtual bool CanCopy() const { return false; }
    virtual void RewindCopy() {}
    virtual size_t ReadCopy(uint8_t *, size_t) { return 0; }
    virtual uint32_t CopiedCrc() const { return 0; }
    uint64_t Size = 0;
    bool CrcKnown = false;
    uint32_t Crc = 0;
};

struct Entry {
    std::string Utf8Name;    // for messages and the Unicode path field
    std::string Name;        // as stored: code page 949, '/' separators
    uint16_t DosTime = 0, DosDate = 0;
    std::unique_ptr<EntrySource> Source;
};

// Files and folders named on the command line.  A folder contributes its
// contents (names relative to it), walked in byte order of the names; a file
// contributes itself under its own name; Hangul in names is composed, with a
// note naming each entry so changed.  skipId is a file never taken (the
// output itself).  Empty folders are reported through `note` and left out.
// Symbolic links inside a folder are refused, every one named, unless
// followLinks; a path named on the command line is always followed.
void CollectFiles(const std::string &path, std::vector<Entry> &entries, bool useEpoch,
                  int64_t epoch, uint64_t skipId, bool followLinks,
                  const std::function<void(const std::string &)> &note);

// What an input ZIP carries besides its entries.
struct ZipKept {
    bool HasSettings = false;   // it is a self-extracting file with a block
    BlockSettings Settings;
    std::string Comment;        // the archive's comment, as stored
};

// The entries of an existing ZIP (any ZIP, including a self-extracting one),
// their Hangul composed as in CollectFiles.
// Encrypted entries need their password; it is the one used for the output.
// Symbolic links are refused; entry comments are dropped with a note.
// macOS's __MACOSX/ folder and ._* AppleDouble files (resource forks and
// Finder data, meaningless on Windows) are left out with a note unless
// keepMacMetadata.
void CollectZip(const std::string &path, std::vector<Entry> &entries, bool useEpoch,
                int64_t epoch, const std::string *password, bool keepMacMetadata,
                const std::function<void(const std::string &)> &note, ZipKept &kept);

// Refuses duplicate names (as Windows compares them) and a name that is both
// a file and a folder, naming both entries.
void CheckUniqueNames(const std::vector<Entry> &entries);

// A text for a terminal: control characters and bytes that are no UTF-8
// become \xNN escapes, so that a name cannot clear or retitle the screen.
std::string Printable(const std::string &text);

// The values the writer gives the fields that nothing else decides, which
// --verify expects: version needed 1.0 for a stored entry and 2.0 for a
// deflated or encrypted one, "version made by" 2.0 on MS-DOS, and the
// external attributes of an archived file (FILE_ATTRIBUTE_ARCHIVE).
enum : uint16_t { VersionStored = 10, VersionDeflated = 20, MadeByDos20 = 20 };
// WinZip's AES entries ask for version 5.1 to extract them.
enum : uint16_t { VersionAes = 51 };
enum : uint32_t { ArchiveAttribute = 0x20 };

// Levels 0 to 9 are zlib's, on both systems, so the Linux and the Windows
// builder write the same bytes; 10 to 12 are libdeflate's, which only the
// Linux build has (Debian offers no MinGW build of it).
#ifdef MKSFX_LIBDEFLATE
enum { MaxLevel = 12 };
#else
enum { MaxLevel = 9 };
#endif
enum { MaxZlibLevel = 9 };

struct WriteOptions {
    int Level = 9;                       // 0 stores everything
    // An entry of a --zip input that is deflated already is copied as it is
    // unless this asks for deflating it again at Level (a level given on the
    // command line).
    bool Recompress = false;
    // Threads making entries' data side by side; 1 makes every entry in
    // turn, as it is written.  The output is the same for any number.
    unsigned Jobs = 1;
    const std::string *Password = nullptr;  // code page 949, null: no encryption
    bool Aes = true;                     // WinZip AES-256 (AE-2); false: the traditional scheme
    bool Seeded = false;
    uint64_t Seed = 0;
    std::string Comment;                 // the archive's comment, as stored
    // Called with bytes done and bytes in all for progress reports.
    std::function<void(uint64_t, uint64_t)> Progress;
};

// Writes the archive at the current position of `out`: local headers
// carrying CRC and sizes (never data descriptors), data, central directory
// and end record, with offsets counted from the start of the file.
void WriteArchive(FILE *out, std::vector<Entry> &entries, const WriteOptions &options);


// The shared traditional encryption works on one set of keys in globals:
// whoever swaps their own keys in (a worker decrypting an input entry, the
// writer encrypting the output) holds this lock meanwhile.
class Mutex;
Mutex &EncryptionKeysLock();

}  // namespace mksfx

#endif
