// POSIX side of the file layer, for host builds only (tests, fuzzers,
// benchmarks).  Paths are taken as the stub would pass them; a backslash is
// read as '/', and the only wildcard pattern the program builds, a folder
// followed by "*.*", is answered by listing the folder.
#include "FileIO.h"

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

SfxFile const NoFile = (SfxFile)(intptr_t)-1;

static SfxFile FromFd(int fd) { return fd < 0 ? NoFile : (SfxFile)(intptr_t)fd; }
static int ToFd(SfxFile f) { return (int)(intptr_t)f; }

static void HostPath(const char *path, char *out, size_t size)
{
    size_t i = 0;
    for (; path[i] && i + 1 < size; i++)
        out[i] = path[i] == '\\' ? '/' : path[i];
    out[i] = 0;
}

SfxFile FileOpenRead(const char *path)
{
    char p[4096];
    HostPath(path, p, sizeof p);
    return FromFd(open(p, O_RDONLY));
}

SfxFile FileCreate(const char *path)
{
    char p[4096];
    HostPath(path, p, sizeof p);
    return FromFd(open(p, O_WRONLY | O_CREAT | O_TRUNC, 0644));
}

int32_t FileRead(SfxFile f, void *buffer, uint32_t n)
{
    uint32_t got = 0;
    while (got < n) {
        ssize_t r = read(ToFd(f), (char *)buffer + got, n - got);
        if (r <= 0)
            break;
        got += (uint32_t)r;
    }
    return (int32_t)got;
}

int32_t FileWrite(SfxFile f, const void *buffer, uint32_t n)
{
    uint32_t put = 0;
    while (put < n) {
        ssize_t r = write(ToFd(f), (const char *)buffer + put, n - put);
        if (r <= 0)
            break;
        put += (uint32_t)r;
    }
    return (int32_t)put;
}

int32_t FileSeek(SfxFile f, int32_t offset)
{
    if (offset < 0)
        return -1;
    off_t r = lseek(ToFd(f), offset, SEEK_SET);
    return r < 0 || r > 0x7FFFFFFF ? -1 : (int32_t)r;
}

bool FileClose(SfxFile f)
{
    return close(ToFd(f)) == 0;
}

bool PathFind(const char *pattern, char *name, uint32_t size)
{
    char p[4096];
    HostPath(pattern, p, sizeof p);
    size_t n = strlen(p);
    if (n == 0)
        return false;
    if (n >= 4 && strcmp(p + n - 4, "/*.*") == 0) {
        p[n - 4] = 0;
        DIR *d = opendir(p[0] ? p : "/");
        if (!d)
            return false;
        bool any = false;
        while (struct dirent *e = readdir(d)) {
            any = true;   // like Windows, "." counts
            if (name && size) {
                strncpy(name, e->d_name, size - 1);
                name[size - 1] = 0;
            }
            break;
        }
        closedir(d);
        return any;
    }
    struct stat st;
    if (stat(p, &st) != 0)
        return false;
    if (name && size) {
        const char *base = strrchr(p, '/');
        base = base ? base + 1 : p;
        strncpy(name, base, size - 1);
        name[size - 1] = 0;
    }
    return true;
}

bool DriveRootExists(const char *root)
{
    char p[4096];
    HostPath(root, p, sizeof p);
    struct stat st;
    return stat(p, &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderCreate(const char *path)
{
    char p[4096];
    HostPath(path, p, sizeof p);
    return mkdir(p, 0755) == 0;
}

uint32_t TempFolder(char *buffer, uint32_t size)
{
    const char *t = getenv("TMPDIR");
    if (!t || !*t)
        t = "/tmp";
    size_t n = strlen(t);
    if (n + 2 > size)
        return (uint32_t)(n + 2);
    memcpy(buffer, t, n);
    if (buffer[n - 1] != '/')
        buffer[n++] = '/';
    buffer[n] = 0;
    return (uint32_t)n;
}

bool FileSetTime(SfxFile f, uint64_t fileTime)
{
    // FILETIME counts from 1601 in 100 ns units.
    int64_t since1970 = (int64_t)(fileTime - 116444736000000000ULL);
    struct timespec t[2];
    t[0].tv_nsec = UTIME_OMIT;
    t[0].tv_sec = 0;
    t[1].tv_sec = (time_t)(since1970 / 10000000);
    t[1].tv_nsec = (long)(since1970 % 10000000) * 100;
    return futimens(ToFd(f), t) == 0;
}

uint64_t DosTimeToFileTime(uint32_t dateTime)
{
    struct tm tm = {};
    tm.tm_year = (int)(dateTime >> 25) + 80;
    tm.tm_mon = (int)((dateTime >> 21) & 15) - 1;
    tm.tm_mday = (int)((dateTime >> 16) & 31);
    tm.tm_hour = (int)((dateTime >> 11) & 31);
    tm.tm_min = (int)((dateTime >> 5) & 63);
    tm.tm_sec = (int)(dateTime & 31) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0)
        return 0;
    time_t t = mktime(&tm);
    return t == (time_t)-1 ? 0 : (uint64_t)((int64_t)t * 10000000 + 116444736000000000LL);
}

SfxFile FileCreateNew(const char *path)
{
    char p[4096];
    HostPath(path, p, sizeof p);
    return FromFd(open(p, O_WRONLY | O_CREAT | O_EXCL, 0644));
}

// A byte that can follow a lead byte of code page 949.
static bool IsTrailByte(unsigned char c)
{
    return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xFE);
}

void Utf8From949(char *buffer, uint32_t size)
{
    // glibc's CP949 stands in for the system's table; a character it cannot
    // read becomes U+FFFD.  One character at a time: after refusing a pair
    // glibc may or may not have taken it in (A2 E8 comes back as an error
    // with nothing left), so its position after an error says nothing.  A
    // lead byte takes no byte along that cannot be its trail, so no
    // separator or dot is ever lost in a replacement.
    size_t n = strlen(buffer);
    char *in = (char *)malloc(n + 1), *out = buffer;
    memcpy(in, buffer, n + 1);
    size_t room = size - 1;
    iconv_t cd = iconv_open("UTF-8", "CP949");
    for (size_t i = 0; i < n && cd != (iconv_t)-1;) {
        unsigned char c = (unsigned char)in[i];
        size_t unit = c >= 0x81 && c <= 0xFE && i + 1 < n && IsTrailByte((unsigned char)in[i + 1]) ? 2 : 1;
        char *from = in + i, *to = out;
        size_t left = unit, space = room;
        if (iconv(cd, &from, &left, &to, &space) != (size_t)-1) {
            out = to;
            room = space;
        } else {
            bool full = errno == E2BIG;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (full || room < 3)
                break;
            memcpy(out, "\xEF\xBF\xBD", 3);
            out += 3;
            room -= 3;
        }
        i += unit;
    }
    if (cd != (iconv_t)-1)
        iconv_close(cd);
    *out = 0;
    free(in);
}
