// The stub's reader of the settings block (its layout: SfxFormat.h; its
// fields: ParseSettingsFields), at ImageSize in the program's own file.  A
// file without the magic is valid and keeps every default.
//
// A block cut off by the end of the file reads its missing fields as 0 and
// its texts cut where the file ends: every read below is bounded by what
// the file gave, never by what the block claims.
#include "Settings.h"

#include "../common/FileIO.h"
#include "../common/SFXmisc.h"
#include "../resources/resource.h"

static_assert(IDC_OVERWRITE_NEVER == IDC_OVERWRITE_ALL + OverwriteNever &&
                  IDC_OVERWRITE_ASK == IDC_OVERWRITE_ALL + OverwriteAsk,
              "the overwrite buttons stand in the order of the choices");

// Reads n bytes; what the file cannot supply reads as zero bytes.  Returns
// the number of bytes really read.
static int32_t ReadOrZero(void *buffer, uint32_t n)
{
    uint8_t *p = (uint8_t *)buffer;
    int32_t got = n ? FileRead(ArchiveFile, p, n) : 0;
    if (got < 0)
        got = 0;
    for (uint32_t i = (uint32_t)got; i < n; i++)
        p[i] = 0;
    return got;
}

// A text of the given length, code page 949 in the block, into a buffer of
// TextBufferSize bytes as UTF-8.
static void ReadText(char *buffer, uint8_t length)
{
    int32_t got = ReadOrZero(buffer, length);
    buffer[got] = 0;
    Utf8From949(buffer, TextBufferSize);
}

void ReadSettings()
{
    ArchiveStart = ImageSize;
    InitialOverwriteButton = IDC_OVERWRITE_ALL + OverwriteAsk;
    SeekArchive(ImageSize);
    uint8_t fixed[SettingsFixedSize];
    if (LastSeekPosition == -1 || FileRead(ArchiveFile, fixed, SettingsMagicSize) != SettingsMagicSize ||
        !IsSettingsMagic(fixed))
        return;

    ReadOrZero(fixed + SettingsMagicSize, SettingsFixedSize - SettingsMagicSize);
    SettingsFields f;
    ParseSettingsFields(fixed + SettingsMagicSize, f);
    ArchiveStart += f.Length;

    ShowRunOption = f.ShowRunOption;
    FixedOverwrite = f.FixedOverwrite;
    RunOpensFile = f.RunOpensFile;
    DefaultToTemp = f.DefaultToTemp;
    SortEntries = f.Sorted;
    RestoreFileTimes = f.RestoreTimes;
    InitialOverwriteButton = IDC_OVERWRITE_ALL + f.Overwrite;

    uint8_t captionLength = f.TextLength[0], folderLength = f.TextLength[1];
    uint8_t parametersLength = f.TextLength[2], runFileLength = f.TextLength[3];
    HasCaption = captionLength > 0;
    HasDefaultFolder = folderLength > 0 && !DefaultToTemp;
    RunWithParameters = parametersLength > 0 && !RunOpensFile;
    HasRunFile = runFileLength > 0 && (RunOpensFile || RunWithParameters);

    ReadText(CaptionText, captionLength);
    ReadText(DefaultFolder, folderLength);
    ReadText(RunParameters, parametersLength);
    ReadText(RunFile, runFileLength);

    if (DefaultToTemp) {
        // A path too long for the buffer comes back as the size it needs,
        // with nothing written: that is no folder either.
        uint32_t n = TempFolder(DefaultFolder, MaxTargetPath);
        HasDefaultFolder = n != 0 && n < MaxTargetPath;
    }
}
