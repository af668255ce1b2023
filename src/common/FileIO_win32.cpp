// Win32 side of the file layer: each routine is one system call with the
// arguments the program has always used, through the wide entry points.
#include "FileIO.h"
#include "SFXmisc.h"

#include "SfxFormat.h"

#include "Memory.h"
#include "WideText.h"

SfxFile const NoFile = INVALID_HANDLE_VALUE;

SfxFile FileOpenRead(const char *path)
{
    return CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

SfxFile FileCreate(const char *path)
{
    return CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

int32_t FileRead(SfxFile f, void *buffer, uint32_t n)
{
    DWORD got = 0;
    if (!ReadFile(f, buffer, n, &got, NULL))
        return 0;
    return (int32_t)got;
}

int32_t FileWrite(SfxFile f, const void *buffer, uint32_t n)
{
    DWORD put = 0;
    WriteFile(f, buffer, n, &put, NULL);
#ifdef SFX_STUB
    // Every byte the stub writes is an extracted byte: the run's progress.
    ProgressTick(put);
#endif
    return (int32_t)put;
}

int32_t FileSeek(SfxFile f, int32_t offset)
{
    DWORD pos = SetFilePointer(f, offset, NULL, FILE_BEGIN);
    return pos == INVALID_SET_FILE_POINTER ? -1 : (int32_t)pos;
}

bool FileClose(SfxFile f)
{
    return CloseHandle(f) != 0;
}

bool PathFind(const char *pattern, char *name, uint32_t size)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(Wide(pattern), &data);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    if (name && size)
        Utf8FromWide(data.cFileName, name, size);
    return true;
}

bool DriveRootExists(const char *root)
{
    DWORD a = GetFileAttributesW(Wide(root));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderCreate(const char *path)
{
    return CreateDirectoryW(Wide(path), NULL) != 0;
}

uint32_t TempFolder(char *buffer, uint32_t size)
{
    // size counts UTF-16 units, as GetTempPathA's did bytes; the buffer
    // holds three bytes for each.
    return SystemTextUtf8(GetTempPathW, buffer, size);
}

void Utf8From949(char *buffer, uint32_t size)
{
    int n = MultiByteToWideChar(949, 0, buffer, -1, NULL, 0);
    wchar_t *wide = (wchar_t *)GetMem((uint32_t)(n > 0 ? n : 1) * sizeof(wchar_t));
    wide[0] = 0;
    if (n > 0)
        MultiByteToWideChar(949, 0, buffer, -1, wide, n);
    Utf8FromWide(wide, buffer, size);
    FreeMem(wide);
}

bool FileSetTime(SfxFile f, uint64_t fileTime)
{
    FILETIME t = {(DWORD)fileTime, (DWORD)(fileTime >> 32)};
    return SetFileTime(f, NULL, NULL, &t) != 0;
}

uint64_t DosTimeToFileTime(uint32_t dateTime)
{
    FILETIME local, utc;
    if (!DosDateTimeToFileTime((WORD)(dateTime >> 16), (WORD)dateTime, &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return 0;
    return (uint64_t)utc.dwHighDateTime << 32 | utc.dwLowDateTime;
}

SfxFile FileCreateNew(const char *path)
{
    return CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

SfxFile FileCreateBeside(const char *folder, char *name)
{
    wchar_t path[MAX_PATH];
    if (!GetTempFileNameW(Wide(folder), L"sfx", 0, path))
        return NoFile;
    Utf8FromWide(path, name, MaxTargetPath * 3);
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

bool FileDelete(const char *path)
{
    return DeleteFileW(Wide(path)) != 0;
}

bool FileReplace(const char *from, const char *to)
{
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}
