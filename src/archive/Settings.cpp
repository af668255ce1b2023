// The settings block: "QBW", a 16-bit block length, two flag bytes, four
// text lengths and the texts (caption, folder, parameters, run file), all at
// ImageSize in the program's own file.  A file without the magic is valid
// and keeps every default.
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
    uint8_t magic[3];
    if (LastSeekPosition == -1 || FileRead(ArchiveFile, magic, 3) != 3 || magic[0] != 'Q' ||
        magic[1] != 'B' || magic[2] != 'W')
        return;

    uint8_t fixed[SettingsFixedSize - SettingsMagicSize];   // block length (2), flags 1, flags 2, four lengths
    ReadOrZero(fixed, sizeof fixed);
    ArchiveStart += fixed[0] | (fixed[1] << 8);

    uint8_t flags1 = fixed[2], flags2 = fixed[3];
    ShowRunOption = (flags1 & ShowRunOptionFlag) != 0;
    FixedOverwrite = (flags1 & FixedOverwriteFlag) != 0;
    RunOpensFile = (flags2 & RunOpensFileFlag) != 0;
    DefaultToTemp = (flags2 & DefaultToTempFlag) != 0;
    SortEntries = (flags2 & SortEntriesFlag) != 0;
    RestoreFileTimes = (flags2 & RestoreTimesFlag) != 0;
    InitialOverwriteButton = IDC_OVERWRITE_ALL + OverwriteFromFlags(flags1);

    uint8_t captionLength = fixed[4], folderLength = fixed[5];
    uint8_t parametersLength = fixed[6], runFileLength = fixed[7];
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
