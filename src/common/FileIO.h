// The thin layer through which every portable routine reaches files and
// folders, every path as UTF-8.  The stub links FileIO_win32.cpp (the wide
// Win32 calls, the path converted to UTF-16, with the arguments the program
// has always used); host builds link FileIO_posix.cpp, which exists only so
// the portable parts can run under tests, fuzzers and benchmarks on Linux.
#ifndef SFX_FILEIO_H
#define SFX_FILEIO_H

#include "SfxTypes.h"

// The value of a file that is not open (INVALID_HANDLE_VALUE on Windows).
extern SfxFile const NoFile;

// Opens an existing file for reading, shared with other readers.
SfxFile FileOpenRead(const char *path);
// Creates or truncates a file for writing (normal attributes).
SfxFile FileCreate(const char *path);
// Reads up to n bytes at the current position; the count read, 0 at the end
// of the file or on error.
int32_t FileRead(SfxFile f, void *buffer, uint32_t n);
// Writes n bytes; the count the system reports written (0 on error).
int32_t FileWrite(SfxFile f, const void *buffer, uint32_t n);
// Absolute seek from the beginning of the file; the new position or -1.
int32_t FileSeek(SfxFile f, int32_t offset);
// Closes the file; false when the system reports a failure.
bool FileClose(SfxFile f);

// FindFirstFileW semantics: true when the pattern (which may hold the
// wildcards * and ?) names at least one file-system entry.  When name is not
// null, the first entry's name as stored (long form, stored case) is copied
// into it, at most size - 1 bytes and a terminator.
bool PathFind(const char *pattern, char *name = 0, uint32_t size = 0);
// True when the drive root (such as "D:\\") exists, even when it holds no
// entry at all (FindFirstFileW finds nothing in an empty root).
bool DriveRootExists(const char *root);
// CreateDirectoryW without security attributes; the result is not used by
// the program (callers test with PathFind afterwards).
bool FolderCreate(const char *path);
// GetTempPath: the temporary folder with a trailing backslash, as UTF-8;
// its length in UTF-16 units (size or more when it does not fit in size
// units, with nothing written), 0 on failure.  The buffer holds 3 * size
// bytes.
uint32_t TempFolder(char *buffer, uint32_t size);
// FileCreate for a file that does not exist yet: fails, touching nothing,
// when the name exists or its folder does not.
SfxFile FileCreateNew(const char *path);

// Sets the file's last-write time (a FILETIME: 100 ns units since 1601,
// UTC); false when the system refuses.
bool FileSetTime(SfxFile f, uint64_t fileTime);
// An MS-DOS date (high half) and time (low half), read as local time, as a
// FILETIME; 0 when it is no date.
uint64_t DosTimeToFileTime(uint32_t dateTime);
// The extraction run's own (Win32 only).  A file that replaces another is
// written beside it under a new name and moved over it once it checks out.
//
// Creates an empty file of a name that did not exist in the folder
// (GetTempFileName) and opens it for writing; its path, as UTF-8, into name
// (MaxTargetPath * 3 bytes).
SfxFile FileCreateBeside(const char *folder, char *name);
bool FileDelete(const char *path);
// Moves the file over another of the same folder, which it replaces.
bool FileReplace(const char *from, const char *to);

// A zero-terminated code page 949 text, in a buffer of size bytes,
// rewritten in place as UTF-8 (as the system's own table reads it: a byte
// it cannot read becomes U+FFFD or the system's default character); a text
// that would not fit is cut at a character.  The buffer needs half as much
// again as the text.
void Utf8From949(char *buffer, uint32_t size);

#endif
