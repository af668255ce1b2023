// Shared routines: file position of the archive, text and path operations,
// the entry-list tally, the CRC over a block and the stored-entry copy.
//
// Texts are UTF-8 (see WideText.h).  Every byte 0x5C, '/' or ':' counts as
// that separator wherever it stands: no byte of a multi-byte sequence is
// ASCII.
#ifndef SFX_MISC_H
#define SFX_MISC_H

#include "SFXgbls.h"

// Absolute seek of ArchiveFile; LastSeekPosition := new position or -1.
void SeekArchive(int32_t offset);

uint32_t TextLength(const char *text);
int32_t SmallerOf(int32_t a, int32_t b);

// Counted texts.  FixedTextToString copies count bytes and cuts the text at
// the first zero byte; the result is always zero-terminated.
void FixedTextToString(Text &out, const void *source, uint32_t count);
void TextAssign(Text &out, const char *text);
void TextFree(Text &text);

// The text after the last '\', '/' or ':' (at most 255 UTF-16 units); empty
// for a text that ends with a separator (a folder entry).
void FileNamePart(const char *text, Text &out);
// The text before the last separator; a drive root such as C:\ keeps it.
void FolderPart(const char *text, Text &out);

char *SlashesToBackslashes(char *text);
// True when a file or folder of that name exists; for a text ending in '\'
// when that folder holds any entry, or is an existing drive root.  A text
// without a trailing backslash has its '/' turned into '\' in place.
bool PathExists(char *text);
// Creates every missing folder of the path, outermost first.  Never fails:
// callers test the result with PathExists.
void EnsureFolder(const char *text);
// Appends '\' unless the text ends with one; the buffer needs a spare byte.
char *AppendBackslash(char *text);
// Removes one trailing '\'.
char *StripBackslash(char *text);

// crc := UpdateCrc of every byte, first to last; count <= 0 changes nothing.
void UpdateCrcOverBlock(const uint8_t *bytes, int32_t count, uint32_t &crc);
// True when UpdateCrcOverBlock takes blocks of 1,024 bytes or more with
// carry-less multiplies: set by the first such block from what the
// processor offers (tests clear it to run the tables).
extern bool CrcFolds;

// The decoder of stored (method 0) entries: RemainingInput bytes from the
// current position of ArchiveFile to OutputFile, decrypted when bit 0 of
// LocalHeader.Flags is set, RunningCrc over the bytes reported written.
void CopyStoredEntry();

#ifdef SFX_STUB
// An entry point of a DLL that Windows does not protect as a KnownDLL,
// loaded from the system folder and nowhere else; null when it cannot be
// had.  The folder of the self-extracting file is typically a Downloads
// folder that anyone may drop a DLL of that name into.
FARPROC SystemProc(const char *dll, const char *proc);
// Centres a window on the primary screen.
void CentreWindow(SfxWindow window);
// The list item after ListSearchIndex (wrapping) whose whole text equals the
// name without regard to case; ListSearchIndex := its index or -1.  True
// when it is selected.
bool EntryIsSelected(SfxWindow list, const char *name);
// Handles the pending messages of the thread (at most 16), so the dialog
// repaints and answers its buttons during a run.
void PumpMessages();
// Progress of an extraction run: n more bytes written.  While ProgressBar
// names a window, at most five times a second, the part of it that stands
// for ProgressDone of ProgressTotal is filled and the messages pumped; a
// single large entry moves it too.
void ProgressTick(uint32_t n);
// Draws the bar as it stands, after the status line's text has changed.
void ProgressPaint();
#endif

#endif
