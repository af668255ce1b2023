// What the builder needs of the system it runs on, behind one header so the
// rest of it is the same on Linux and on Windows.  Every text crossing this
// interface is UTF-8; code page 949 appears only where a name or setting is
// turned into the bytes the stub will see.
#ifndef MKSFX_PLATFORM_H
#define MKSFX_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace mksfx {

// UTF-8 <-> code page 949.  False when a character has no code in the
// target (never a best-fit substitute: a '?' would silently rename a file).
bool Utf8ToCp949(const std::string &utf8, std::string &cp949);
bool Cp949ToUtf8(const std::string &cp949, std::string &utf8);

// The command line as UTF-8 (on Windows from the wide command line, so that
// names outside the console's code page survive).
std::vector<std::string> CommandLine(int argc, char **argv);

// An environment variable as UTF-8 (on Windows from the wide environment,
// not the ANSI one); false when it is not set.
bool GetEnvironment(const char *name, std::string &utf8);

struct PathInfo {
    bool Exists = false;
    bool Folder = false;
    bool Regular = false;   // a plain file (no device, pipe or socket)
    bool Link = false;      // the path itself is a symbolic link (or junction);
                            // the other fields describe what it points to
    uint64_t Size = 0;
    int64_t ModTime = 0;    // seconds since 1970, UTC
    uint64_t Id = 0;        // identifies the file (inode or file index), 0 unknown
};
PathInfo StatPath(const std::string &path);

// The names in a folder without "." and "..", in no particular order; false
// with a reason when the folder cannot be listed.
bool ListFolder(const std::string &path, std::vector<std::string> &names, std::string &error);

FILE *OpenFile(const std::string &path, const char *mode);
// Creates a file that must not exist yet, for writing (and reading back);
// null when it does.
FILE *CreateNewFile(const std::string &path);
// 64-bit positioning of a FILE.
bool SeekFile(FILE *f, uint64_t position);
uint64_t TellFile(FILE *f);
bool TruncateFile(FILE *f, uint64_t size);
// Flushes the file to the disk before it is renamed into place.
bool SyncFile(FILE *f);
// Renames over an existing file in one step.
bool MoveIntoPlace(const std::string &from, const std::string &to, std::string &error);
void RemoveFile(const std::string &path);
std::string SystemError();

bool IsTerminal(FILE *f);
// Everything the builder prints goes through these.  On a Windows console
// the text is written as UTF-16, so that every name shows whatever the
// console's code page (and the code page is left as the user had it);
// redirected to a file or a pipe, and on Linux, it is UTF-8 without a byte
// order mark, the same bytes on both systems (JSON readers refuse a mark).
void WriteText(FILE *f, const std::string &utf8);
// MinGW's C++ takes its own printf family (%zu and %llu), whose formats the
// compiler checks as GNU ones; its plain "printf" archetype is Microsoft's.
#ifdef __MINGW_PRINTF_FORMAT
#define MKSFX_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define MKSFX_PRINTF_FORMAT printf
#endif
void PrintText(FILE *f, const char *format, ...) __attribute__((format(MKSFX_PRINTF_FORMAT, 2, 3)));
void RandomBytes(uint8_t *bytes, size_t n);
// The SHA-256 of the bytes, from the system's own cryptography (libcrypto
// on Linux, CNG on Windows); false when that cannot give it.
bool Sha256(const uint8_t *data, size_t n, uint8_t digest[32]);
// MS-DOS time and date of a moment, in local time or (for reproducible
// builds) in UTC.
void DosTime(int64_t seconds, bool utc, uint16_t &time, uint16_t &date);

// While a build writes its temporary file, an interrupt (Ctrl+C, SIGTERM,
// closing the console) removes that file before the process ends.  Null
// switches it off.
void RemoveOnInterrupt(const char *path, FILE *file);


}  // namespace mksfx

#endif
