// The layout of a self-extracting file as the stub reads it and the builder
// writes it: the image, the settings block and the ZIP records.  Both sides
// and the tests take every number from here, so that none of them can come
// to mean something else on one side only.
#ifndef SFX_FORMAT_H
#define SFX_FORMAT_H

#include <stdint.h>

// ---------------------------------------------------------------------------
// The file: the image, then the settings block (optional), then the archive.

// Where the executable image ends and the settings block (or, without one,
// the archive) begins.
enum : uint32_t { ImageSize = 0x9800 };

// Every offset in the file is a signed 32-bit value: the whole file stays
// below 2 GiB.
const uint64_t FileSizeLimit = 0x80000000ULL;

// ---------------------------------------------------------------------------
// The settings block: the magic, its length (16 bits, low byte first), flags 1,
// flags 2, the lengths of the caption, folder, parameters and run file, then
// those texts in that order, code page 949, without terminators.

// The block's first bytes; without them the file has no block.
static const char SettingsMagic[] = "QBW";

enum {
    SettingsMagicSize = 3,
    SettingsFixedSize = 11,
    SettingsTextCount = 4,
    // A text's length is one byte.
    SettingsTextMax = 255,
    // The block's own length field is 16 bits.
    SettingsBlockMax = 0xFFFF,
};
static_assert(SettingsFixedSize == SettingsMagicSize + 2 + 2 + SettingsTextCount, "fixed fields");
static_assert(sizeof SettingsMagic == SettingsMagicSize + 1, "the magic and its size");

// flags 1
enum : uint8_t {
    ShowRunOptionFlag = 0x01,
    FixedOverwriteFlag = 0x04,
    OverwriteFlagsMask = 0x18,
    Flags1Used = ShowRunOptionFlag | FixedOverwriteFlag | OverwriteFlagsMask,
};
// flags 2
enum : uint8_t {
    RunOpensFileFlag = 0x01,
    DefaultToTempFlag = 0x02,
    SortEntriesFlag = 0x04,
    // Each extracted file gets its time from the archive; without the bit
    // (files made before it, or with mksfx --current-time) the time of
    // extraction, as it always was.
    RestoreTimesFlag = 0x08,
    Flags2Used = RunOpensFileFlag | DefaultToTempFlag | SortEntriesFlag | RestoreTimesFlag,
};

// What happens to a file that exists.  One number serves everywhere: it is
// the policy the extraction run applies, the main dialog's radio button
// counts from the first by it, the block stores All and Never as
// (choice + 1) << 3 and Ask as 0 (or 0x18, which reads as Ask too).
enum { OverwriteAll = 0, OverwriteNever = 1, OverwriteAsk = 2 };

inline uint8_t OverwriteFlags(int choice)
{
    return choice == OverwriteAsk ? 0 : (uint8_t)((choice + 1) << 3);
}

inline int OverwriteFromFlags(uint8_t flags1)
{
    int bits = (flags1 & OverwriteFlagsMask) >> 3;
    return bits == 1 ? OverwriteAll : bits == 2 ? OverwriteNever : OverwriteAsk;
}

// ---------------------------------------------------------------------------
// ZIP records (APPNOTE), as far as this file uses them.

// The local header's signature is formed at run time in the stub, whose
// image must never hold its bytes (ZipWalk.cpp); only the other programs
// may name it as a constant.
#ifndef SFX_STUB
enum : uint32_t { LocalHeaderSignature = 0x04034B50 };
#endif
enum : uint32_t {
    // Read as a local header too: the bytes 00 00 00 50.
    OddLocalSignature = 0x50000000,
    DescriptorSignature = 0x08074B50,
    CentralHeaderSignature = 0x02014B50,
    EndRecordSignature = 0x06054B50,
};

enum {
    LocalHeaderSize = 30,
    // Signature, CRC-32, compressed and uncompressed size.
    DescriptorSize = 16,
    CentralHeaderSize = 46,
    EndRecordSize = 22,
    // The traditional encryption's header in front of an entry's data,
    // counted in its compressed size.
    EncryptionHeaderSize = 12,
    // The largest count of entries without ZIP64.
    MaxEntries = 0xFFFF,
};

// General-purpose flag bits.
enum : uint16_t {
    EncryptedFlag = 0x0001,
    // Sizes and CRC follow the data; the password check byte comes from
    // the time.
    DescriptorFlag = 0x0008,
    Utf8NameFlag = 0x0800,
};

enum : uint16_t { MethodStored = 0, MethodDeflated = 8 };

// Info-ZIP's Unicode Path extra field: version 1, CRC-32 of the stored
// name, the name as UTF-8.
enum : uint16_t { UnicodePathId = 0x7075 };

// ---------------------------------------------------------------------------
// Limits of the program's buffers.

enum {
    // The password prompt's buffer: 79 bytes of code page 949 and a
    // terminator.  A longer password could never be typed.
    PasswordBufferSize = 80,
    PasswordMax = PasswordBufferSize - 1,
    // The longest path the file calls take (MAX_PATH, terminator
    // included), in UTF-16 units.
    MaxTargetPath = 260,
    // The longest target folder a run accepts, in UTF-16 units.
    TargetFolderChars = 255,
    // The longest name of one file or folder, in UTF-16 units.
    MaxComponentChars = 255,
    // The longest entry name the builder writes, in code page 949 bytes and
    // in UTF-16 units: whatever the folder, a longer one would only fail.
    MaxEntryName = 255,
};

#endif
