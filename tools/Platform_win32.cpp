// Windows side of the builder's system layer.  Paths, the command line and
// the environment go through the wide API, as UTF-8 on this side of it, so
// that names outside the ANSI code page are read and opened as they are,
// never as '?'.
#define _CRT_RAND_S   // rand_s: the system's cryptographic generator
#include "Platform.h"

#include "Builder.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace mksfx {

static std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &w[0], n);
    return w;
}

static std::string Narrow(const wchar_t *w, int length, UINT codePage, bool *lossy)
{
    if (length == 0)
        return std::string();
    BOOL usedDefault = FALSE;
    BOOL *flag = codePage == CP_UTF8 ? nullptr : &usedDefault;
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, w, length, nullptr, 0, nullptr, flag);
    if (n <= 0) {
        if (lossy)
            *lossy = true;
        return std::string();
    }
    std::string s(n, '\0');
    WideCharToMultiByte(codePage, flags, w, length, &s[0], n, nullptr, flag);
    if (lossy)
        *lossy = usedDefault != FALSE;
    return s;
}

bool Utf8ToCp949(const std::string &utf8, std::string &cp949)
{
    if (utf8.empty()) {
        cp949.clear();
        return true;
    }
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), (int)utf8.size(), nullptr, 0) <= 0)
        return false;
    std::wstring w = Wide(utf8);
    bool lossy = false;
    cp949 = Narrow(w.data(), (int)w.size(), 949, &lossy);
    // A best-fit mapping would round-trip to another character: check both ways.
    std::string back;
    return !lossy && Cp949ToUtf8(cp949, back) && back == utf8;
}

bool Cp949ToUtf8(const std::string &cp949, std::string &utf8)
{
    if (cp949.empty()) {
        utf8.clear();
        return true;
    }
    int n = MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, cp949.data(), (int)cp949.size(), nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring w(n, L'\0');
    MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, cp949.data(), (int)cp949.size(), &w[0], n);
    bool lossy = false;
    utf8 = Narrow(w.data(), n, CP_UTF8, &lossy);
    return !lossy;
}

// Wide text that may hold a lone surrogate, for a message: the surrogate
// as \uD800, the rest as UTF-8.
static std::string Shown(const wchar_t *w)
{
    std::string s;
    for (const wchar_t *p = w; *p;) {
        bool pair = *p >= 0xD800 && *p < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000;
        if ((*p >= 0xD800 && *p < 0xE000) && !pair) {
            char u[8];
            snprintf(u, sizeof u, "\\u%04X", (unsigned)*p++);
            s += u;
            continue;
        }
        int n = pair ? 2 : 1;
        s += Narrow(p, n, CP_UTF8, nullptr);
        p += n;
    }
    return s;
}

// Wide text as UTF-8.  A lone surrogate has no UTF-8 form: the text is
// refused, never emptied or cut, since an argument or a password that
// silently became another would be used as it (an empty password builds
// the payload unencrypted).
static std::string Utf8Of(const wchar_t *w, int length, const std::string &what)
{
    bool lossy = false;
    std::string s = Narrow(w, length, CP_UTF8, &lossy);
    if (lossy)
        throw BuildError(what + " holds a lone UTF-16 surrogate, which no text can hold: \"" +
                         Shown(std::wstring(w, length).c_str()) + "\"", ExitUsage);
    return s;
}

std::vector<std::string> CommandLine(int, char **)
{
    std::vector<std::string> args;
    int n = 0;
    wchar_t **w = CommandLineToArgvW(GetCommandLineW(), &n);
    struct Release {
        wchar_t **w;
        ~Release() { LocalFree(w); }
    } release{w};
    for (int i = 1; w && i < n; i++)
        args.push_back(Utf8Of(w[i], (int)wcslen(w[i]), "argument " + std::to_string(i)));
    return args;
}

static int64_t UnixTime(const FILETIME &ft)
{
    uint64_t t = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (int64_t)(t / 10000000ULL) - 11644473600LL;
}

bool GetEnvironment(const char *name, std::string &utf8)
{
    // The process's own wide block: the C runtime's copy may have been
    // made from the ANSI one, which loses what the code page lacks.
    std::wstring w = Wide(name);
    DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
    if (n == 0)
        return false;
    std::wstring v(n, L'\0');
    n = GetEnvironmentVariableW(w.c_str(), &v[0], n);
    utf8 = Utf8Of(v.c_str(), (int)n, std::string("the variable ") + name);
    return true;
}

PathInfo StatPath(const std::string &path)
{
    PathInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        return info;
    // Symbolic links and junctions; other reparse points (cloud files,
    // deduplicated files) are ordinary files to their users.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        WIN32_FIND_DATAW found;
        HANDLE f = FindFirstFileW(Wide(path).c_str(), &found);
        if (f != INVALID_HANDLE_VALUE) {
            info.Link = found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
            FindClose(f);
        }
    }
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION bh;
    bool opened = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &bh);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (info.Link) {
        // What the link points to, as a followed link is read.
        if (!opened)
            return info;
        data.dwFileAttributes = bh.dwFileAttributes;
        data.nFileSizeHigh = bh.nFileSizeHigh;
        data.nFileSizeLow = bh.nFileSizeLow;
        data.ftLastWriteTime = bh.ftLastWriteTime;
    }
    info.Exists = true;
    info.Folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.Regular = !info.Folder && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
    info.Size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    info.ModTime = UnixTime(data.ftLastWriteTime);
    if (opened)
        info.Id = ((uint64_t)bh.dwVolumeSerialNumber << 40) ^ (((uint64_t)bh.nFileIndexHigh << 32) | bh.nFileIndexLow);
    return info;
}

bool ListFolder(const std::string &path, std::vector<std::string> &names, std::string &error)
{
    WIN32_FIND_DATAW data;
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern += '\\';
    HANDLE h = FindFirstFileW(Wide(pattern + "*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        error = SystemError();
        return false;
    }
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(Narrow(data.cFileName, (int)wcslen(data.cFileName), CP_UTF8, nullptr));
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return true;
}

FILE *OpenFile(const std::string &path, const char *mode)
{
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

FILE *CreateNewFile(const std::string &path)
{
    int fd = _wopen(Wide(path).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    FILE *f = _fdopen(fd, "w+b");
    if (!f)
        _close(fd);
    return f;
}

bool SeekFile(FILE *f, uint64_t position)
{
    return fseeko64(f, (off64_t)position, SEEK_SET) == 0;
}

uint64_t TellFile(FILE *f)
{
    return (uint64_t)ftello64(f);
}

bool TruncateFile(FILE *f, uint64_t size)
{
    return fflush(f) == 0 && _chsize_s(_fileno(f), (__int64)size) == 0;
}

bool SyncFile(FILE *f)
{
    return fflush(f) == 0 && FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(f)));
}

bool MoveIntoPlace(const std::string &from, const std::string &to, std::string &error)
{
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = SystemError();
    return false;
}

void RemoveFile(const std::string &path)
{
    DeleteFileW(Wide(path).c_str());
}

std::string SystemError()
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, GetLastError(), 0, (wchar_t *)&text, 0, nullptr);
    std::string s = text ? Narrow(text, (int)wcslen(text), CP_UTF8, nullptr) : "system error";
    LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

bool IsTerminal(FILE *f)
{
    return _isatty(_fileno(f)) != 0;
}

void WriteText(FILE *f, const std::string &utf8)
{
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
    DWORD mode = 0;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) {
        fwrite(utf8.data(), 1, utf8.size(), f);
        return;
    }
    // What the C runtime still holds goes first, in its order.
    fflush(f);
    std::wstring w = Wide(utf8);
    for (size_t at = 0; at < w.size();) {
        DWORD part = (DWORD)std::min<size_t>(w.size() - at, 8192), written = 0;
        if (!WriteConsoleW(h, w.data() + at, part, &written, nullptr) || written == 0)
            break;
        at += written;
    }
}

void RandomBytes(uint8_t *bytes, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        unsigned int r = 0;
        rand_s(&r);
        bytes[i] = (uint8_t)r;
    }
}

bool Sha256(const uint8_t *data, size_t n, uint8_t digest[32])
{
    // The algorithm's provider is opened by handle, never by the pseudo-
    // handles of Windows 10, which Windows 7 does not know.
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    bool done = false;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
            done = true;
            for (size_t at = 0; done && at < n;) {
                ULONG part = (ULONG)std::min<size_t>(n - at, 1u << 30);
                done = BCryptHashData(hash, const_cast<PUCHAR>(data + at), part, 0) == 0;
                at += part;
            }
            done = done && BCryptFinishHash(hash, digest, 32, 0) == 0;
            BCryptDestroyHash(hash);
        }
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return done;
}

void DosTime(int64_t seconds, bool utc, uint16_t &time, uint16_t &date)
{
    __time64_t t = (__time64_t)seconds;
    struct tm tm;
    if ((utc ? _gmtime64_s(&tm, &t) : _localtime64_s(&tm, &t)) != 0 || tm.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1;
        return;
    }
    if (tm.tm_year > 207) {
        time = (23 << 11) | (59 << 5) | 29;
        date = (127 << 9) | (12 << 5) | 31;
        return;
    }
    time = (uint16_t)((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    date = (uint16_t)(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

static wchar_t InterruptPath[4096];
static HANDLE InterruptFile = INVALID_HANDLE_VALUE;

// Runs on a thread of its own while the main thread may be writing: the
// file's handle is closed under it (the process ends right after), since
// Windows deletes no file that is still open.
static BOOL WINAPI OnInterrupt(DWORD)
{
    if (InterruptFile != INVALID_HANDLE_VALUE)
        CloseHandle(InterruptFile);
    if (InterruptPath[0])
        DeleteFileW(InterruptPath);
    ExitProcess(130);
    return TRUE;
}

void RemoveOnInterrupt(const char *path, FILE *file)
{
    static bool installed = false;
    if (!path) {
        InterruptPath[0] = 0;
        InterruptFile = INVALID_HANDLE_VALUE;
        return;
    }
    InterruptFile = file ? (HANDLE)_get_osfhandle(_fileno(file)) : INVALID_HANDLE_VALUE;
    std::wstring w = Wide(path);
    wcsncpy(InterruptPath, w.c_str(), 4095);
    if (!installed) {
        installed = true;
        SetConsoleCtrlHandler(OnInterrupt, TRUE);
    }
}

}  // namespace mksfx
