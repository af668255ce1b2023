// Process-wide state of the extractor.  One instance of each, alive from
// module initialisation (InitGlobals) to finalisation (DoneGlobals).  All of
// it is used by one thread and admits one extraction run at a time.
#ifndef SFX_GBLS_H
#define SFX_GBLS_H

#include "SfxFormat.h"
#include "SfxTypes.h"

// ---------------------------------------------------------------------------
// Counted texts: names and messages built at run time, in UTF-8 (see
// WideText.h).  Data is owned, zero-terminated, and null while the text is
// empty and never set.

struct Text {
    char *Data;
    uint32_t Length;
};

// ---------------------------------------------------------------------------
// The ZIP local file header exactly as it lies in the file (APPNOTE 4.3.7).

#pragma pack(push, 1)
struct LocalFileHeader {
    uint32_t Signature;
    uint16_t VersionNeeded;
    uint16_t Flags;             // bit 0 encrypted, bit 3 check byte from time
    uint16_t Method;            // 0 stored, 8 deflated
    uint16_t ModTime;
    uint16_t ModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t NameLength;
    uint16_t ExtraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalFileHeader) == 30, "local header is 30 bytes");

// ---------------------------------------------------------------------------
// Sizes of the fixed text buffers.

// Texts are UTF-8: a UTF-16 unit takes at most three bytes of it.
enum {
    Utf8PerUnit = 3,
    // Settings texts and BrowseFolder (a path of the system's) with a
    // terminator.
    TextBufferSize = MaxTargetPath * Utf8PerUnit + 1,
    // A path at the system's limit, the backslash the run after extraction
    // appends, and a terminator.  The buffer holds more than
    // TargetFolderChars: a longer folder (typed, browsed, or the temporary
    // folder) is kept whole and refused by the run, since cut short it would
    // name another folder.
    TargetFolderUnits = MaxTargetPath + 2,
    TargetFolderSize = (MaxTargetPath + 1) * Utf8PerUnit + 1,
};
// A code page 949 character of two bytes is at most three in UTF-8.
static_assert(SettingsTextMax * 3 / 2 < TextBufferSize, "a settings text fits as UTF-8");
static_assert(TargetFolderChars < MaxTargetPath, "a target folder leaves room for a name");
static_assert(PasswordBufferSize > PasswordMax, "the password prompt's terminator");

// ---------------------------------------------------------------------------
// Archive and decoding state.

extern SfxFile ArchiveFile;
extern int32_t ArchiveStart;
extern int32_t LastSeekPosition;    // -1 after a failed seek
extern LocalFileHeader LocalHeader;
extern int32_t RemainingInput;
extern SfxFile OutputFile;
extern uint32_t *CrcTable;          // 256 entries in a 1028-byte block
extern uint32_t RunningCrc;
extern uint32_t EncryptionKeys[3];

// A variable's address as the compiler cannot know it: a routine that uses
// several of a variable's fields or bytes reaches them from one register,
// where each one's own absolute address would cost the stub's image a
// relocation at every use.
template <class T>
static inline T *InRegister(T *p)
{
    __asm__("" : "+r"(p));
    return p;
}
// LocalHeader for a routine that reads several of its fields.
static inline LocalFileHeader &LocalHeaderFields()
{
    return *InRegister(&LocalHeader);
}

// ---------------------------------------------------------------------------
// Extraction state shared by the driver, the dialogs and the prompts.

extern char TargetFolder[TargetFolderSize];
extern uint8_t OverwritePolicy;
extern uint8_t OverwriteAnswer;
extern Text ExistingName;
extern Text Password;
extern char PasswordBuffer[PasswordBufferSize];
extern int32_t PasswordLength;
extern int32_t ListSearchIndex;
extern uint8_t ExtractSucceeded;
extern SfxWindow MainDialogWindow;
extern char *BrowseFolder;          // TextBufferSize bytes
// Set while an extraction run is in progress, so that commands reaching the
// main dialog through the pumped message or an unowned prompt cannot start
// a second run (or close the dialog) over the same state.
extern bool RunInProgress;
// The progress of an extraction run (ProgressTick): the status line while
// a run shows it (null otherwise), the bytes the entries unpack to (from the
// listing), the bytes written so far, and when the bar was last drawn.
extern SfxWindow ProgressBar;
extern uint64_t ProgressTotal, ProgressDone;
extern uint32_t ProgressShown;
// The user asked, during a run, to stop it after the current entry.
extern bool StopRequested;
// Set by a run whose walk ended short of the central directory (or at an
// empty name): entries may lie beyond what it read, so it succeeded at
// nothing, and a silent run ends with 3.
extern bool ArchiveUnread;

// ---------------------------------------------------------------------------
// What the command line asked for (program/Switches.cpp).  Started without
// switches, all of it stays off and the program behaves as it always has.

extern bool Silent;                 // /S: no window, no prompt, no message box
extern bool WaitForRun;             // /W: the launched program's exit code is ours
extern bool NoRun;                  // /R=0: the configured file is not run
extern uint32_t ExitCode;

// ---------------------------------------------------------------------------
// Run-time settings, filled once by ReadSettings.

extern int32_t InitialOverwriteButton;
extern bool ShowRunOption;
extern bool FixedOverwrite;
extern bool RunOpensFile;
extern bool DefaultToTemp;
extern bool SortEntries;
extern bool RestoreFileTimes;
extern bool HasCaption;
extern bool HasDefaultFolder;
extern bool RunWithParameters;
extern bool HasRunFile;
extern char *CaptionText;           // TextBufferSize bytes each
extern char *DefaultFolder;
extern char *RunParameters;
extern char *RunFile;

// Module initialisation and finalisation: the five text buffers.
void InitGlobals();
void DoneGlobals();

#endif
