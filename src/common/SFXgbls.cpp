#include "SFXgbls.h"

#include "FileIO.h"
#include "Memory.h"

SfxFile ArchiveFile;
int32_t ArchiveStart;
int32_t LastSeekPosition;
LocalFileHeader LocalHeader;
int32_t RemainingInput;
SfxFile OutputFile;
uint32_t *CrcTable;
uint32_t RunningCrc;
uint32_t EncryptionKeys[3];

// With -fdata-sections MinGW keeps zero-filled data in .data, where each
// byte costs a byte of the image; the large buffers go to a real .bss.
#ifdef _WIN32
#define SFX_BSS(name) __attribute__((section(".bss")))
#else
#define SFX_BSS(name)
#endif

SFX_BSS(TargetFolder) char TargetFolder[TargetFolderSize];
uint8_t OverwritePolicy;
uint8_t OverwriteAnswer;
Text ExistingName;
Text Password;
SFX_BSS(PasswordBuffer) char PasswordBuffer[PasswordBufferSize];
int32_t PasswordLength;
int32_t ListSearchIndex;
uint8_t ExtractSucceeded;
SfxWindow MainDialogWindow;
char *BrowseFolder;
bool RunInProgress;
SfxWindow ProgressBar;
uint64_t ProgressTotal, ProgressDone;
uint32_t ProgressShown;
bool StopRequested;
bool ArchiveUnread;
bool Silent;
bool WaitForRun;
bool NoRun;
uint32_t ExitCode;

int32_t InitialOverwriteButton;
bool ShowRunOption;
bool FixedOverwrite;
bool RunOpensFile;
bool DefaultToTemp;
bool SortEntries;
bool RestoreFileTimes;
bool HasCaption;
bool HasDefaultFolder;
bool RunWithParameters;
bool HasRunFile;
char *CaptionText;
char *DefaultFolder;
char *RunParameters;
char *RunFile;

static char *NewTextBuffer()
{
    char *p = (char *)GetMem(TextBufferSize);
    for (int i = 0; i < TextBufferSize; i++)
        p[i] = 0;
    return p;
}

void InitGlobals()
{
    CaptionText = NewTextBuffer();
    DefaultFolder = NewTextBuffer();
    RunParameters = NewTextBuffer();
    RunFile = NewTextBuffer();
    BrowseFolder = NewTextBuffer();
}

static void FreeText(Text &t)
{
    FreeMem(t.Data);
    t.Data = 0;
    t.Length = 0;
}

void DoneGlobals()
{
    FreeMem(BrowseFolder);
    FreeMem(RunFile);
    FreeMem(RunParameters);
    FreeMem(DefaultFolder);
    FreeMem(CaptionText);
    BrowseFolder = RunFile = RunParameters = DefaultFolder = CaptionText = 0;
    FreeText(Password);
    FreeText(ExistingName);
}
