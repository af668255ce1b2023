// The settings block that follows the executable image: its codec, which
// the stub's reader and the builder's reader and writer share, and the
// stub's reader itself.
#ifndef SFX_SETTINGS_H
#define SFX_SETTINGS_H

#include "../common/SFXgbls.h"

// The block's fixed fields, decoded: every flag bit of the block has its
// name here, and nowhere else but in the format header.
struct SettingsFields {
    uint16_t Length;                          // the block's own length field
    uint8_t TextLength[SettingsTextCount];    // caption, folder, parameters, run file
    bool ShowRunOption, FixedOverwrite;       // flags 1
    int Overwrite;                            // flags 1: OverwriteAll, OverwriteNever or OverwriteAsk
    bool RunOpensFile, DefaultToTemp, Sorted, RestoreTimes;   // flags 2
};

// True when the SettingsMagicSize bytes at p are the block's magic.
static inline bool IsSettingsMagic(const uint8_t *p)
{
    return p[0] == (uint8_t)SettingsMagic[0] && p[1] == (uint8_t)SettingsMagic[1] &&
           p[2] == (uint8_t)SettingsMagic[2];
}

// Decodes the SettingsFixedSize - SettingsMagicSize bytes behind the magic
// (the block's length, flags 1, flags 2, the four texts' lengths).  Bits the
// block does not define are passed over.
SFX_PART void ParseSettingsFields(const uint8_t *fields, SettingsFields &f)
{
    f.Length = (uint16_t)(fields[0] | fields[1] << 8);
    uint8_t flags1 = fields[2], flags2 = fields[3];
    f.ShowRunOption = (flags1 & ShowRunOptionFlag) != 0;
    f.FixedOverwrite = (flags1 & FixedOverwriteFlag) != 0;
    f.Overwrite = OverwriteFromFlags(flags1);
    f.RunOpensFile = (flags2 & RunOpensFileFlag) != 0;
    f.DefaultToTemp = (flags2 & DefaultToTempFlag) != 0;
    f.Sorted = (flags2 & SortEntriesFlag) != 0;
    f.RestoreTimes = (flags2 & RestoreTimesFlag) != 0;
    for (int i = 0; i < SettingsTextCount; i++)
        f.TextLength[i] = fields[4 + i];
}

// The two flag bytes the fields are written as (ParseSettingsFields reads
// them back alike).
static inline uint8_t SettingsFlags1(const SettingsFields &f)
{
    return (uint8_t)((f.ShowRunOption ? ShowRunOptionFlag : 0) | (f.FixedOverwrite ? FixedOverwriteFlag : 0) |
                     OverwriteFlags(f.Overwrite));
}
static inline uint8_t SettingsFlags2(const SettingsFields &f)
{
    return (uint8_t)((f.RunOpensFile ? RunOpensFileFlag : 0) | (f.DefaultToTemp ? DefaultToTempFlag : 0) |
                     (f.Sorted ? SortEntriesFlag : 0) | (f.RestoreTimes ? RestoreTimesFlag : 0));
}

// Reads the settings block of ArchiveFile (or keeps every default) and sets
// ArchiveStart.
void ReadSettings();

#endif
