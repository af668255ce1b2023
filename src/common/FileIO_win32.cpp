// Win32 side of the file layer: each routine is one system call with the
// arguments the program has always used.
#include "FileIO.h"

SfxFile const NoFile = INVALID_HANDLE_VALUE;

SfxFile FileOpenRead(const char *path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

SfxFile FileCreate(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
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
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    if (name && size) {
        uint32_t i = 0;
        for (; i + 1 < size && data.cFileName[i]; i++)
            name[i] = data.cFileName[i];
        name[i] = 0;
    }
    return true;
}

bool DriveRootExists(const char *root)
{
    DWORD a = GetFileAttributesA(root);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderCreate(const char *path)
{
    return CreateDirectoryA(path, NULL) != 0;
}

uint32_t TempFolder(char *buffer, uint32_t size)
{
    return GetTempPathA(size, buffer);
}

SfxFile FileCreateNew(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}
