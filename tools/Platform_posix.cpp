// Linux (POSIX) side of the builder's system layer.
#include "Platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <random>

#include <openssl/evp.h>

namespace mksfx {

static bool Convert(const char *to, const char *from, const std::string &in, std::string &out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1)
        return false;
    out.assign(in.size() * 4 + 4, '\0');
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char *dst = &out[0];
    size_t dstLeft = out.size();
    // glibc's CP949 refuses unmappable characters with EILSEQ rather than
    // substituting, which is the behaviour wanted here.
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = r != (size_t)-1 && srcLeft == 0 && r == 0;
    if (ok)
        ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != (size_t)-1;
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok;
}

bool Utf8ToCp949(const std::string &utf8, std::string &cp949)
{
    return Convert("CP949", "UTF-8", utf8, cp949);
}

bool Cp949ToUtf8(const std::string &cp949, std::string &utf8)
{
    return Convert("UTF-8", "CP949", cp949, utf8);
}

std::vector<std::string> CommandLine(int argc, char **argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool GetEnvironment(const char *name, std::string &utf8)
{
    const char *v = getenv(name);
    if (!v)
        return false;
    utf8 = v;
    return true;
}

PathInfo StatPath(const std::string &path)
{
    PathInfo info;
    struct stat st;
    info.Link = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (stat(path.c_str(), &st) != 0)
        return info;
    info.Exists = true;
    info.Folder = S_ISDIR(st.st_mode);
    info.Regular = S_ISREG(st.st_mode);
    info.Size = (uint64_t)st.st_size;
    info.ModTime = (int64_t)st.st_mtime;
    info.Id = ((uint64_t)st.st_dev << 40) ^ (uint64_t)st.st_ino;
    return info;
}

bool ListFolder(const std::string &path, std::vector<std::string> &names, std::string &error)
{
    DIR *d = opendir(path.c_str());
    if (!d) {
        error = SystemError();
        return false;
    }
    errno = 0;
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    bool ok = errno == 0;
    if (!ok)
        error = SystemError();
    closedir(d);
    return ok;
}

FILE *OpenFile(const std::string &path, const char *mode)
{
    return fopen(path.c_str(), mode);
}

FILE *CreateNewFile(const std::string &path)
{
    return fopen(path.c_str(), "w+xb");
}

bool SeekFile(FILE *f, uint64_t position)
{
    return fseeko(f, (off_t)position, SEEK_SET) == 0;
}

uint64_t TellFile(FILE *f)
{
    return (uint64_t)ftello(f);
}

bool TruncateFile(FILE *f, uint64_t size)
{
    return fflush(f) == 0 && ftruncate(fileno(f), (off_t)size) == 0;
}

bool SyncFile(FILE *f)
{
    return fflush(f) == 0 && fsync(fileno(f)) == 0;
}

bool MoveIntoPlace(const std::string &from, const std::string &to, std::string &error)
{
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = SystemError();
    return false;
}

void RemoveFile(const std::string &path)
{
    unlink(path.c_str());
}

std::string SystemError()
{
    return strerror(errno);
}

bool IsTerminal(FILE *f)
{
    return isatty(fileno(f)) != 0;
}

void WriteText(FILE *f, const std::string &utf8)
{
    fwrite(utf8.data(), 1, utf8.size(), f);
}

void RandomBytes(uint8_t *bytes, size_t n)
{
    std::random_device device;
    for (size_t i = 0; i < n; i++)
        bytes[i] = (uint8_t)device();
}

bool Sha256(const uint8_t *data, size_t n, uint8_t digest[32])
{
    unsigned int length = 0;
    return EVP_Digest(data, n, digest, &length, EVP_sha256(), nullptr) && length == 32;
}

void DosTime(int64_t seconds, bool utc, uint16_t &time, uint16_t &date)
{
    time_t t = (time_t)seconds;
    struct tm tm;
    if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm)) || tm.tm_year < 80) {
        time = 0;
        date = (0 << 9) | (1 << 5) | 1;   // 1980-01-01, the format's first day
        return;
    }
    if (tm.tm_year > 207) {   // 2107-12-31 23:59:58, its last
        time = (23 << 11) | (59 << 5) | 29;
        date = (127 << 9) | (12 << 5) | 31;
        return;
    }
    time = (uint16_t)((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    date = (uint16_t)(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

// The path is copied into static storage: the handler may only call
// async-signal-safe functions, and unlink is one.
static char InterruptPath[4096];

static void OnInterrupt(int signal)
{
    if (InterruptPath[0])
        unlink(InterruptPath);
    _exit(128 + signal);
}

void RemoveOnInterrupt(const char *path, FILE *)
{
    static bool installed = false;
    if (!path) {
        InterruptPath[0] = 0;
        return;
    }
    strncpy(InterruptPath, path, sizeof InterruptPath - 1);
    if (!installed) {
        installed = true;
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            struct sigaction sa;
            memset(&sa, 0, sizeof sa);
            sa.sa_handler = OnInterrupt;
            sigaction(s, &sa, nullptr);
        }
    }
}

}  // namespace mksfx
