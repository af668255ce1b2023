// Settings block, entry names, the walk over input folders and the writer
// of the payload archive.
//
// Format notes (APPNOTE 4.3.7, 4.3.12, 4.3.16, 6.1): the stub walks only the
// local headers and never reads a data descriptor's values, so every local
// header here carries the real CRC-32 and sizes and flag bit 3 stays clear;
// the encryption header's check byte is then the CRC's high byte.  Methods
// are 0 and 8 only, and nothing needs ZIP64: the whole file stays below
// 2 GiB, the stub's offsets being signed 32-bit values.
#include "Builder.h"

#include <stdarg.h>

#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <set>

#ifdef MKSFX_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "Platform.h"
#include "RecordBytes.h"
#include "Workers.h"
#include "archive/EntryNames.h"
#include "common/Memory.h"
#include "common/SFXgbls.h"
#include "common/SFXmisc.h"
#include "common/Utf8.h"
#include "decode/CrcCrypt.h"
#include "decode/WinZipAes.h"

namespace mksfx {

FILE *OpenInput(const std::string &path)
{
    FILE *f = OpenFile(path, "rb");
    if (!f)
        throw BuildError("cannot open \"" + path + "\": " + SystemError());
    return f;
}

// ---------------------------------------------------------------------------
// Settings block

std::string SettingText(const std::string &utf8, const char *what)
{
    std::string cp;
    if (!Utf8ToCp949(utf8, cp))
        throw BuildError(std::string(what) + " \"" + utf8 + "\" cannot be written in code page 949", ExitUsage);
    if (cp.size() > SettingsTextMax)
        throw BuildError(std::string(what) + " is " + std::to_string(cp.size()) +
                         " bytes in code page 949; the settings block holds at most " +
                         std::to_string(SettingsTextMax), ExitUsage);
    return cp;
}

std::vector<uint8_t> MakeSettingsBlock(const BlockSettings &s)
{
    try {
        return SettingsBlockBytes(SettingsFlags1(s), SettingsFlags2(s), s.Caption, s.Folder, s.Parameters, s.RunFile);
    } catch (const std::length_error &e) {
        throw BuildError(e.what());
    }
}

bool ReadSettingsBlock(FILE *f, BlockSettings &s, std::vector<uint8_t> *bytes)
{
    uint8_t h[SettingsFixedSize];
    if (!SeekFile(f, 0) || fread(h, 1, 2, f) != 2 || h[0] != 'M' || h[1] != 'Z' || !SeekFile(f, ImageSize) ||
        fread(h, 1, sizeof h, f) != sizeof h || !IsSettingsMagic(h))
        return false;
    ParseSettingsFields(h + SettingsMagicSize, s);
    std::string *texts[SettingsTextCount] = {&s.Caption, &s.Folder, &s.Parameters, &s.RunFile};
    for (int i = 0; i < SettingsTextCount; i++) {
        texts[i]->resize(s.TextLength[i]);
        if (s.TextLength[i] && fread(&(*texts[i])[0], 1, s.TextLength[i], f) != s.TextLength[i])
            return false;
    }
    if (bytes) {
        bytes->resize(std::max<size_t>(s.Length, sizeof h));
        memcpy(bytes->data(), h, sizeof h);
        if (!SeekFile(f, ImageSize + sizeof h))
            return false;
        size_t got = fread(bytes->data() + sizeof h, 1, bytes->size() - sizeof h, f);
        bytes->resize(sizeof h + got);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Names

// The length of the well-formed UTF-8 sequence at i (1 to 4), 0 for none.
static size_t SequenceAt(const std::string &s, size_t i)
{
    return Utf8SequenceLength((const uint8_t *)s.data() + i, (uint32_t)(s.size() - i));
}

std::string ComposedName(const std::string &utf8)
{
    std::string composed = utf8;
    composed.resize(ComposeHangul(&composed[0], (uint32_t)composed.size()));
    return composed;
}

std::string ArchiveName(const std::string &utf8)
{
    const std::string quoted = "\"" + utf8 + "\"";
    if (utf8.empty())
        throw BuildError("an entry has an empty name");
    if (utf8[0] == '/' || utf8[0] == '\\')
        throw BuildError("absolute name refused: " + quoted);
    if (utf8.size() >= 2 && utf8[1] == ':' && isalpha((unsigned char)utf8[0]))
        throw BuildError("drive-prefixed name refused: " + quoted);
    std::string clean;
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find('/', start);
        if (end == std::string::npos)
            end = utf8.size();
        std::string c = utf8.substr(start, end - start);
        start = end + 1;
        if (c.empty() || c == ".")
            continue;
        if (c == "..")
            throw BuildError("name with a '..' component refused: " + quoted);
        for (unsigned char ch : c) {
            if (ch < 0x20 || strchr("\\:*?\"<>|", ch))
                throw BuildError(std::string("name with the character ") +
                                 (ch < 0x20 ? "0x" + std::to_string(ch) : std::string(1, (char)ch)) +
                                 " refused (Windows cannot create it): " + quoted);
        }
        if (c.back() == '.' || c.back() == ' ')
            throw BuildError("name ending in a dot or space refused (Windows drops it): " + quoted);
        if (!clean.empty())
            clean += '/';
        clean += c;
    }
    if (clean.empty())
        throw BuildError("an entry has an empty name: " + quoted);
    // The stub's own rule: what it would refuse to write is refused here.
    // What is left for it after the checks above are the devices (CON,
    // NUL.txt, COM0, CONIN$, superscript port numbers ...).
    if (IsUnsafeName(clean.c_str()))
        throw BuildError("name of a Windows device refused: " + quoted);
    std::string cp;
    if (!Utf8ToCp949(clean, cp)) {
        // Stored as an approximation, '_' for each character code page 949
        // cannot hold; the Unicode Path field beside it carries the name
        // the stub and other readers use.
        cp.clear();
        size_t units = 0;
        for (size_t i = 0; i < clean.size();) {
            size_t n = SequenceAt(clean, i);
            if (n == 0)
                throw BuildError("name is not UTF-8, so it cannot be written in code page 949: " + quoted);
            std::string one;
            cp += Utf8ToCp949(clean.substr(i, n), one) ? one : "_";
            units += n == 4 ? 2 : 1;
            i += n;
        }
        // The stub's path limit counts UTF-16 units.
        if (units > MaxEntryName)
            throw BuildError("name longer than " + std::to_string(MaxEntryName) + " UTF-16 units refused: " + quoted);
    }
    // The stub joins the target folder (up to 255 characters) and the name
    // in a path the file functions limit to 259 characters.
    if (cp.size() > MaxEntryName)
        throw BuildError("name longer than " + std::to_string(MaxEntryName) + " bytes in code page 949 refused: " +
                         quoted);
    return cp;
}

// Windows compares names through its upcase table: every UTF-16 unit is
// replaced by its simple uppercase form, with no special casing and no
// normalisation, and units outside the table stand for themselves.  The
// ranges below are the lowercase letters of the scripts that code page 949
// and its neighbours hold, and of the other regular blocks a name beyond
// code page 949 may come from (Latin Extended-B and -D, Greek Extended,
// Coptic, Cyrillic Extended-B); `step` 2 marks ranges where lower and upper
// case alternate.  Letters that would become ASCII (dotless i, long s) are left
// out, as Windows leaves them.
namespace {

struct CaseRange {
    uint16_t First, Last;
    int16_t Delta;
    uint8_t Step;
};

const CaseRange UpperCase[] = {
    {0x0061, 0x007A, -32, 1},   {0x00E0, 0x00F6, -32, 1},   {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1},   {0x0101, 0x012F, -1, 2},    {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2},    {0x014B, 0x0177, -1, 2},    {0x017A, 0x017E, -1, 2},
    {0x03AC, 0x03AC, -38, 1},   {0x03AD, 0x03AF, -37, 1},   {0x03B1, 0x03C1, -32, 1},
    {0x03C2, 0x03C2, -31, 1},   {0x03C3, 0x03CB, -32, 1},   {0x03CC, 0x03CC, -64, 1},
    {0x03CD, 0x03CE, -63, 1},   {0x0430, 0x044F, -32, 1},   {0x0450, 0x045F, -80, 1},
    {0x0461, 0x0481, -1, 2},    {0x048B, 0x04BF, -1, 2},    {0x04C2, 0x04CE, -1, 2},
    {0x04D1, 0x052F, -1, 2},    {0x0561, 0x0586, -48, 1},   {0x1E01, 0x1E95, -1, 2},
    {0x1EA1, 0x1EFF, -1, 2},    {0x2170, 0x217F, -16, 1},   {0x24D0, 0x24E9, -26, 1},
    {0x2C30, 0x2C5E, -48, 1},   {0xFF41, 0xFF5A, -32, 1},
    {0x01CE, 0x01DC, -1, 2},    {0x01DF, 0x01EF, -1, 2},    {0x01F9, 0x021F, -1, 2},
    {0x0223, 0x0233, -1, 2},    {0x1F00, 0x1F07, 8, 1},     {0x1F10, 0x1F15, 8, 1},
    {0x1F20, 0x1F27, 8, 1},     {0x1F30, 0x1F37, 8, 1},     {0x1F40, 0x1F45, 8, 1},
    {0x1F51, 0x1F57, 8, 2},     {0x1F60, 0x1F67, 8, 1},     {0x2C81, 0x2CE3, -1, 2},
    {0xA641, 0xA66D, -1, 2},    {0xA681, 0xA69B, -1, 2},    {0xA723, 0xA72F, -1, 2},
    {0xA733, 0xA76F, -1, 2},
};

uint32_t Upper(uint32_t c)
{
    for (const CaseRange &r : UpperCase)
        if (c >= r.First && c <= r.Last && (c - r.First) % r.Step == 0)
            return (uint32_t)((int32_t)c + r.Delta);
    return c;
}

void PutUtf8(std::string &s, uint32_t c)
{
    if (c < 0x80) {
        s += (char)c;
    } else if (c < 0x800) {
        s += (char)(0xC0 | c >> 6);
        s += (char)(0x80 | (c & 0x3F));
    } else {
        s += (char)(0xE0 | c >> 12);
        s += (char)(0x80 | ((c >> 6) & 0x3F));
        s += (char)(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string NameKey(const std::string &utf8)
{
    std::string k;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        // Two- and three-byte sequences hold the BMP, where the table lies;
        // anything else (four-byte sequences, stray bytes) is kept as it is.
        if (c >= 0xC2 && c < 0xE0 && i + 1 < utf8.size() && ((unsigned char)utf8[i + 1] >> 6) == 2) {
            PutUtf8(k, Upper((uint32_t)(c & 0x1F) << 6 | (utf8[i + 1] & 0x3F)));
            i += 2;
        } else if (c >= 0xE0 && c < 0xF0 && i + 2 < utf8.size() && ((unsigned char)utf8[i + 1] >> 6) == 2 &&
                   ((unsigned char)utf8[i + 2] >> 6) == 2) {
            PutUtf8(k, Upper((uint32_t)(c & 0x0F) << 12 | (uint32_t)(utf8[i + 1] & 0x3F) << 6 |
                             (utf8[i + 2] & 0x3F)));
            i += 3;
        } else {
            k += c == '\\' ? '/' : c < 0x80 ? (char)Upper(c) : (char)c;
            i++;
        }
    }
    return k;
}

void CheckUniqueNames(const std::vector<Entry> &entries)
{
    std::map<std::string, const std::string *> files, folders, stored;
    for (const Entry &e : entries) {
        std::string k = NameKey(e.Utf8Name);
        auto seen = files.emplace(k, &e.Utf8Name);
        if (!seen.second)
            throw BuildError("two entries have the same name on Windows: \"" + *seen.first->second + "\" and \"" +
                             e.Utf8Name + "\"");
        // A reader that ignores the Unicode Path field sees the stored
        // names: two approximations (or one and a real name) that meet
        // there would overwrite each other.
        std::string storedUtf8;
        if (!e.Name.empty() && Cp949ToUtf8(e.Name, storedUtf8)) {
            auto twin = stored.emplace(NameKey(storedUtf8), &e.Utf8Name);
            if (!twin.second)
                throw BuildError("\"" + *twin.first->second + "\" and \"" + e.Utf8Name +
                                 "\" are both stored as \"" + storedUtf8 +
                                 "\" in code page 949; rename one of them");
        }
        for (size_t p = k.find('/'); p != std::string::npos; p = k.find('/', p + 1))
            folders.emplace(k.substr(0, p), &e.Utf8Name);
    }
    for (const Entry &e : entries) {
        auto inside = folders.find(NameKey(e.Utf8Name));
        if (inside != folders.end())
            throw BuildError("\"" + *inside->second + "\" puts a file in \"" + e.Utf8Name +
                             "\", which is a file itself");
    }
}

// ---------------------------------------------------------------------------
// Texts for a terminal

void PrintText(FILE *f, const char *format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0)
        vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    WriteText(f, text);
}

std::string Printable(const std::string &text)
{
    std::string s;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t n = SequenceAt(text, i);
        bool whole = n > 0;
        // C0 controls (line feed and carriage return too: a name holding
        // them would forge whole lines of a report), DEL, the C1 controls
        // (U+0080-U+009F, which some terminals obey as well) and the
        // bidirectional embeddings, overrides and isolates (U+202A-U+202E,
        // U+2066-U+2069: "photo<U+202E>gpj.exe" shows as "photoexe.jpg")
        // are shown as escapes; so is every byte that is not part of a
        // UTF-8 sequence.
        unsigned char c1 = n > 1 ? (unsigned char)text[i + 1] : 0, c2 = n > 2 ? (unsigned char)text[i + 2] : 0;
        bool control = (n == 1 && (c < 0x20 || c == 0x7F)) || (n == 2 && c == 0xC2 && c1 < 0xA0) ||
                       (n == 3 && c == 0xE2 && ((c1 == 0x80 && c2 >= 0xAA && c2 <= 0xAE) ||
                                                (c1 == 0x81 && c2 >= 0xA6 && c2 <= 0xA9)));
        if (whole && !control) {
            s.append(text, i, n);
            i += n;
            continue;
        }
        size_t bytes = whole ? n : 1;
        for (size_t k = 0; k < bytes; k++) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)text[i + k]);
            s += hex;
        }
        i += bytes;
    }
    return s;
}

// ---------------------------------------------------------------------------
// Files and folders

namespace {

class FileSource : public EntrySource {
public:
    explicit FileSource(const std::string &path) : path_(path) {}
    ~FileSource() override { Close(); }
    void Rewind() override
    {
        Close();
        file_ = OpenInput(path_);
    }
    size_t Read(uint8_t *buffer, size_t n) override
    {
        if (!file_)
            return 0;
        size_t got = fread(buffer, 1, n, file_);
        if (got == 0) {
            bool failed = ferror(file_) != 0;
            Close();
            if (failed)
                throw BuildError("cannot read \"" + path_ + "\"");
        }
        return got;
    }

private:
    void Close()
    {
        if (file_)
            fclose(file_);
        file_ = nullptr;
    }
    std::string path_;
    FILE *file_ = nullptr;
};

struct Walk {
    std::vector<Entry> &Entries;
    bool UseEpoch;
    int64_t Epoch;
    uint64_t SkipId;
    const std::function<void(const std::string &)> &Note;
    bool FollowLinks;
    std::vector<uint64_t> Stack;   // folders being walked, to stop link loops
    std::vector<std::string> EmptyFolders;
    std::string Links;             // the refused links, each named
};

void AddFile(Walk &w, const std::string &path, const std::string &name, const PathInfo &info)
{
    // A pipe or device has no size to put in the header, and may never end.
    if (!info.Regular)
        throw BuildError("\"" + path + "\" is not a regular file");
    Entry e;
    e.Utf8Name = ComposedName(name);
    if (e.Utf8Name != name)
        w.Note("\"" + name + "\" stored as \"" + e.Utf8Name + "\": its Hangul composed");
    e.Name = ArchiveName(e.Utf8Name);
    DosTime(w.UseEpoch ? w.Epoch : info.ModTime, w.UseEpoch, e.DosTime, e.DosDate);
    e.Source.reset(new FileSource(path));
    e.Source->Size = info.Size;
    w.Entries.push_back(std::move(e));
}

// Returns the number of files taken below the folder.
size_t WalkFolder(Walk &w, const std::string &path, const std::string &prefix, uint64_t id)
{
    if (id && std::find(w.Stack.begin(), w.Stack.end(), id) != w.Stack.end())
        throw BuildError("folder \"" + path + "\" contains itself through a link");
    std::vector<std::string> names;
    std::string error;
    if (!ListFolder(path, names, error))
        throw BuildError("cannot list \"" + path + "\": " + error);
    // Byte order of the UTF-8 names: the same on every system and run.
    std::sort(names.begin(), names.end());
    w.Stack.push_back(id);
    size_t files = 0;
    for (const std::string &n : names) {
        std::string child = path + "/" + n;
        std::string name = prefix.empty() ? n : prefix + "/" + n;
        PathInfo info = StatPath(child);
        if (info.Link && !w.FollowLinks) {
            // Whoever filled the folder chose where a link points: at
            // /etc/shadow, say, when the builder runs as root.  Every link
            // is named before the build is refused.
            w.Links += (w.Links.empty() ? "\"" : ", \"") + name + "\" is a symbolic link";
            continue;
        }
        if (!info.Exists)
            throw BuildError("cannot read \"" + child + "\" (a broken link?)");
        if (info.Folder) {
            // Only the outermost empty folder is worth a note.
            size_t notes = w.EmptyFolders.size();
            size_t inner = WalkFolder(w, child, name, info.Id);
            if (inner == 0) {
                w.EmptyFolders.resize(notes);
                w.EmptyFolders.push_back(name);
            }
            files += inner;
        } else if (info.Id && info.Id == w.SkipId) {
            w.Note("\"" + name + "\" is the output file itself: left out");
        } else {
            AddFile(w, child, name, info);
            files++;
        }
    }
    w.Stack.pop_back();
    return files;
}

}  // namespace

void CollectFiles(const std::string &path, std::vector<Entry> &entries, bool useEpoch, int64_t epoch,
                  uint64_t skipId, bool followLinks, const std::function<void(const std::string &)> &note)
{
    PathInfo info = StatPath(path);
    if (!info.Exists)
        throw BuildError("\"" + path + "\" does not exist");
    Walk w{entries, useEpoch, epoch, skipId, note, followLinks, {}, {}, {}};
    if (info.Folder) {
        std::string root = path;
        // "C:\" stays: "C:" would be the current folder of drive C.
        while (root.size() > 1 && (root.back() == '/' || root.back() == '\\') &&
               !(root.size() == 3 && root[1] == ':'))
            root.pop_back();
        size_t files = WalkFolder(w, root, "", info.Id);
        if (!w.Links.empty())
            throw BuildError(w.Links + ": symbolic links in \"" + path +
                             "\" are refused; --follow-symlinks packs what they point to");
        if (files == 0)
            note("folder \"" + path + "\" holds no files");
        else
            for (const std::string &name : w.EmptyFolders)
                note("empty folder \"" + name + "\" left out: the self-extracting file creates only "
                     "folders that hold files");
        return;
    }
    std::string base = path;
    size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    AddFile(w, path, base, info);
}

// ---------------------------------------------------------------------------
// Writing the archive
//
// An entry's data is made (copied, deflated or stored) either by the writer
// itself as it writes it, or ahead of its turn by a worker thread into
// memory; either way by the same routine, fed in the same pieces, so the
// bytes are the same for any number of threads.  Everything that must
// follow the entry order (the encryption headers' random bytes, the keys,
// the offsets) is the writer's alone, and the writer takes the entries in
// order.

Mutex &EncryptionKeysLock()
{
    static Mutex lock;
    return lock;
}

namespace {

// The three keys of the traditional encryption, kept apart from the shared
// EncryptionKeys so that a source decrypting its input and the writer
// encrypting the output can take turns with the one set of routines.
struct Keys {
    uint32_t K[3];
};

struct KeysInUse {
    Locked Held;
    Keys &Mine;
    Keys Saved;
    explicit KeysInUse(Keys &k) : Held(EncryptionKeysLock()), Mine(k)
    {
        memcpy(Saved.K, EncryptionKeys, sizeof Saved.K);
        memcpy(EncryptionKeys, Mine.K, sizeof Mine.K);
    }
    ~KeysInUse()
    {
        memcpy(Mine.K, EncryptionKeys, sizeof Mine.K);
        memcpy(EncryptionKeys, Saved.K, sizeof Saved.K);
    }
};

// The shared routines count bytes in 32 signed bits; a longer run goes to
// them in parts.
template <class Byte, class Step> void InParts(Byte *bytes, size_t n, Step step)
{
    while (n > 0) {
        int32_t part = (int32_t)std::min<size_t>(n, 1 << 30);
        step(bytes, part);
        bytes += part;
        n -= (size_t)part;
    }
}

void Encrypt(Keys &keys, uint8_t *bytes, size_t n)
{
    KeysInUse use(keys);
    InParts(bytes, n, EncryptBlock);
}

// zlib's CRC-32: worker threads compute it side by side, and the stub's
// routine keeps caches of its own that one thread at a time may fill (a race
// here gave entries wrong CRCs now and then).  --verify checks every entry
// with the stub's routine all the same.
uint32_t Crc32(const uint8_t *bytes, size_t n, uint32_t crc = 0)
{
    InParts(bytes, n, [&crc](const uint8_t *part, int32_t size) { crc = (uint32_t)crc32(crc, part, (uInt)size); });
    return crc;
}

struct Written {
    EntryRecord Record;
    uint64_t Offset;
};

// The Info-ZIP Unicode Path field: the stub and the ZIP readers
// that know it use the UTF-8 name, everything else the code page 949 name
// (an approximation where code page 949 cannot hold the name).  Only for
// names that are not plain ASCII.
std::vector<uint8_t> UnicodePathField(const Entry &e)
{
    bool ascii = std::all_of(e.Utf8Name.begin(), e.Utf8Name.end(), [](char c) { return (unsigned char)c < 0x80; });
    if (ascii)
        return std::vector<uint8_t>();
    return UnicodePathFieldBytes(Crc32((const uint8_t *)e.Name.data(), e.Name.size()), e.Utf8Name);
}

// splitmix64: a fixed sequence for reproducible encryption headers.
struct SeededRandom {
    uint64_t State;
    uint8_t Next()
    {
        uint64_t z = (State += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return (uint8_t)((z ^ (z >> 31)) >> 24);
    }
};

// Where the bytes of an entry's data go as they are made: into the output
// (encrypted on the way) when the writer makes the entry itself, into
// memory when a worker makes it ahead of its turn.
class Sink {
public:
    virtual ~Sink() {}
    // May encrypt the bytes in place.
    virtual void Put(uint8_t *bytes, size_t n) = 0;
    // Drops what was put, to make the data again another way.
    virtual void Restart() = 0;
};

class MemorySink : public Sink {
public:
    explicit MemorySink(std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    void Put(uint8_t *bytes, size_t n) override { bytes_.insert(bytes_.end(), bytes, bytes + n); }
    void Restart() override { bytes_.clear(); }

private:
    std::vector<uint8_t> &bytes_;
};

// What making an entry's data gave.
struct Made {
    bool Deflated = false;
    uint32_t Crc = 0;        // of the plain bytes
    uint64_t Read = 0;       // plain bytes
    uint64_t Written = 0;    // bytes put, the encryption header aside
};

// Makes entries' data: one per thread, with its own buffers and, for the
// levels above zlib's, its own libdeflate compressor.
class Maker {
public:
    // progress, when given, is told how many plain bytes of the entry are
    // done (starting again from 0 when the data is made again); stop, when
    // given and set, ends the work between two pieces.
    Maker(const WriteOptions &o, const std::function<void(uint64_t)> *progress, const std::atomic<bool> *stop)
        : o_(o), progress_(progress), stop_(stop), in_(1 << 18), buf_(1 << 18) {}
    ~Maker()
    {
#ifdef MKSFX_LIBDEFLATE
        if (compressor_)
            libdeflate_free_compressor(compressor_);
#endif
    }

    // An entry that deflate does not shrink is stored; one of an input ZIP
    // that is deflated there already is copied (unless o.Recompress), when
    // that is smaller than storing it.
    Made Make(Entry &e, Sink &sink)
    {
        Made m;
        if (o_.Level > 0 && e.Source->Size > 0) {
            bool made = !o_.Recompress && e.Source->CanCopy() && Copy(e, sink, m);
            if (!made) {
                Restart(sink, m);
                made = o_.Level > MaxZlibLevel ? DeflateWhole(e, sink, m) : Deflate(e, sink, m);
            }
            if (made)
                return m;
            Restart(sink, m);
        }
        Store(e, sink, m);
        return m;
    }

private:
    void Restart(Sink &sink, Made &m)
    {
        if (m.Read || m.Written) {
            sink.Restart();
            m = Made();
            Done(0);
        }
    }
    void Done(uint64_t plain)
    {
        if (stop_ && stop_->load())
            throw BuildError("stopped");
        if (progress_)
            (*progress_)(plain);
    }
    // Reads the next piece of plain bytes, counted into m.
    size_t ReadPiece(Entry &e, uint8_t *into, size_t n, Made &m)
    {
        size_t got = e.Source->Read(into, n);
        m.Crc = Crc32(into, got, m.Crc);
        m.Read += got;
        if (m.Read > e.Source->Size)
            throw BuildError("\"" + e.Utf8Name + "\" changed size while it was being read");
        Done(m.Read);
        return got;
    }

    bool Copy(Entry &e, Sink &sink, Made &m);
    bool Deflate(Entry &e, Sink &sink, Made &m);
    bool DeflateWhole(Entry &e, Sink &sink, Made &m);
    void Store(Entry &e, Sink &sink, Made &m);

    const WriteOptions &o_;
    const std::function<void(uint64_t)> *progress_;
    const std::atomic<bool> *stop_;
    std::vector<uint8_t> in_, buf_;
#ifdef MKSFX_LIBDEFLATE
    libdeflate_compressor *compressor_ = nullptr;
#endif
};

// Returns false when the copy would not be smaller than the plain bytes.
bool Maker::Copy(Entry &e, Sink &sink, Made &m)
{
    e.Source->RewindCopy();
    while (size_t n = e.Source->ReadCopy(buf_.data(), buf_.size())) {
        m.Written += n;
        if (m.Written >= e.Source->Size)
            return false;
        sink.Put(buf_.data(), n);
        Done(0);
    }
    // The source counted and checked the plain bytes as it inflated them.
    m.Read = e.Source->Size;
    m.Crc = e.Source->CopiedCrc();
    m.Deflated = true;
    Done(m.Read);
    return true;
}

// Returns false when deflate stopped making the entry smaller.
bool Maker::Deflate(Entry &e, Sink &sink, Made &m)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit2(&z, o_.Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw BuildError("zlib: cannot start deflate");
    std::unique_ptr<z_stream, int (*)(z_stream *)> end(&z, deflateEnd);
    e.Source->Rewind();
    int flush = Z_NO_FLUSH;
    int r = Z_OK;
    while (r != Z_STREAM_END) {
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            size_t n = ReadPiece(e, in_.data(), in_.size(), m);
            z.next_in = in_.data();
            z.avail_in = (uInt)n;
            if (n == 0)
                flush = Z_FINISH;
        }
        z.next_out = buf_.data();
        z.avail_out = (uInt)buf_.size();
        r = deflate(&z, flush);
        if (r == Z_STREAM_ERROR)
            throw BuildError("zlib: deflate failed on \"" + e.Utf8Name + "\"");
        size_t have = buf_.size() - z.avail_out;
        m.Written += have;
        if (m.Written >= e.Source->Size)   // no gain: give up early, store instead
            return false;
        sink.Put(buf_.data(), have);
    }
    m.Deflated = true;
    return true;
}

// libdeflate deflates whole buffers only: the entry and its deflated form
// are held in memory together.
bool Maker::DeflateWhole(Entry &e, Sink &sink, Made &m)
{
#ifdef MKSFX_LIBDEFLATE
    if (!compressor_ && !(compressor_ = libdeflate_alloc_compressor(o_.Level)))
        throw BuildError("libdeflate: cannot start deflate at level " + std::to_string(o_.Level));
    std::vector<uint8_t> plain((size_t)e.Source->Size);
    e.Source->Rewind();
    size_t have = 0;
    while (have < plain.size()) {
        size_t n = ReadPiece(e, plain.data() + have, std::min<size_t>(in_.size(), plain.size() - have), m);
        if (n == 0)
            break;
        have += n;
    }
    // One byte more is refused by ReadPiece; one byte less by the writer.
    uint8_t more;
    ReadPiece(e, &more, 1, m);
    // Room for one byte less than the plain data: what does not fit there
    // is stored.
    std::vector<uint8_t> out(plain.size() - 1);
    size_t n = plain.size() > 1 ? libdeflate_deflate_compress(compressor_, plain.data(), plain.size(), out.data(),
                                                              out.size())
                                : 0;
    m.Written = n;
    if (n == 0)
        return false;
    std::vector<uint8_t>().swap(plain);
    sink.Put(out.data(), n);
    m.Deflated = true;
    return true;
#else
    throw BuildError("level " + std::to_string(o_.Level) + " needs libdeflate, which this builder lacks");
#endif
}

void Maker::Store(Entry &e, Sink &sink, Made &m)
{
    e.Source->Rewind();
    while (size_t n = ReadPiece(e, in_.data(), in_.size(), m)) {
        m.Written += n;
        sink.Put(in_.data(), n);
    }
}

// An entry's data made ahead of its turn, waiting to be written.
struct Ahead {
    Made Result;
    std::vector<uint8_t> Data;
    std::exception_ptr Error;
    bool Done = false;
};

// Workers that make the entries' data ahead of the writer, in entry order.
// Memory is bounded: an entry larger than AheadLimit is left to the writer,
// which makes it as it writes it (the workers go on with the entries behind
// it), and the entries in flight hold at most AheadBudget bytes of plain
// data between them, or just one entry when it alone is larger.
class Workers {
public:
    enum : uint64_t { AheadLimit = 32u << 20, AheadBudget = 128u << 20 };

    Workers(std::vector<Entry> &entries, const WriteOptions &o, unsigned count)
        : entries_(entries), o_(o), stop_(false)
    {
        for (unsigned i = 0; i < count; i++) {
            try {
                std::unique_ptr<Thread> t(new Thread([this] { Work(); }));
                if (t->Started())
                    threads_.push_back(std::move(t));
            } catch (const std::exception &) {
                break;   // fewer workers, or none: the writer makes the rest
            }
        }
        window_ = 16 * threads_.size();
    }
    ~Workers()
    {
        {
            Locked held(lock_);
            stop_ = true;
            changed_.WakeAll();
        }
        threads_.clear();   // joins them
    }

    // The entry's data, waiting for it; null when the writer makes it.
    Ahead *Take(size_t i)
    {
        if (threads_.empty() || !Eligible(i))
            return nullptr;
        Locked held(lock_);
        for (;;) {
            auto it = slots_.find(i);
            if (it != slots_.end() && it->second->Done)
                return it->second.get();
            changed_.Wait(lock_);
        }
    }
    // The entry is written: its memory goes, and its budget back.
    void Release(size_t i)
    {
        Locked held(lock_);
        reserved_ -= entries_[i].Source->Size;
        slots_.erase(i);
        changed_.WakeAll();
    }

private:
    bool Eligible(size_t i) const { return entries_[i].Source->Size <= AheadLimit; }

    void Work()
    {
        Maker maker(o_, nullptr, &stop_);
        Locked held(lock_);
        for (;;) {
            while (next_ < entries_.size() && !Eligible(next_))
                next_++;
            if (stop_ || next_ >= entries_.size())
                return;
            uint64_t size = entries_[next_].Source->Size;
            if (!slots_.empty() && (reserved_ + size > AheadBudget || slots_.size() >= window_)) {
                changed_.Wait(lock_);
                continue;
            }
            size_t i = next_++;
            reserved_ += size;
            Ahead *a = (slots_[i] = std::unique_ptr<Ahead>(new Ahead)).get();
            lock_.Unlock();
            try {
                MemorySink sink(a->Data);
                a->Result = maker.Make(entries_[i], sink);
            } catch (...) {
                a->Error = std::current_exception();
            }
            lock_.Lock();
            a->Done = true;
            changed_.WakeAll();
        }
    }

    std::vector<Entry> &entries_;
    const WriteOptions &o_;
    std::atomic<bool> stop_;
    std::vector<std::unique_ptr<Thread>> threads_;
    Mutex lock_;
    Condition changed_;
    std::map<size_t, std::unique_ptr<Ahead>> slots_;   // taken, not yet written
    size_t next_ = 0, window_ = 0;
    uint64_t reserved_ = 0;
};

class Writer {
public:
    Writer(FILE *out, const WriteOptions &o, uint64_t total) : out_(out), o_(o), random_{o.Seed}, total_(total) {}

    // Writes the entry, made here or ahead (by a worker).
    Written WriteEntry(Entry &e, Ahead *ahead);

private:
    void Put(const uint8_t *bytes, size_t n)
    {
        if (n && fwrite(bytes, 1, n, out_) != n)
            throw BuildError("cannot write the output: " + SystemError());
    }
    void Seek(uint64_t to)
    {
        if (!SeekFile(out_, to))
            throw BuildError("cannot seek in the output: " + SystemError());
    }
    void Advance(uint64_t n)
    {
        if (o_.Progress)
            o_.Progress(done_ + n, total_);
    }
    uint32_t CrcPass(Entry &e);
    void PutEncryptionHeader(uint32_t crc, Keys &keys);
    void PutAesHeader(AesStream &aes, uint8_t *salt);
    void BeginAes(AesStream &aes, const uint8_t *salt, uint8_t *verifier);

    // The output as a sink, encrypting with the entry's keys (or its AES
    // stream) on the way.
    class FileSink : public Sink {
    public:
        FileSink(Writer &w, Keys *keys, AesStream *aes, const uint8_t *salt)
            : w_(w), keys_(keys), aes_(aes), salt_(salt), start_(TellFile(w.out_))
        {
            if (keys)
                startKeys_ = *keys;
        }
        void Put(uint8_t *bytes, size_t n) override
        {
            if (keys_)
                Encrypt(*keys_, bytes, n);
            if (aes_)
                InParts(bytes, n, [this](uint8_t *part, int32_t size) { AesEncrypt(*aes_, part, (uint32_t)size); });
            w_.Put(bytes, n);
        }
        void Restart() override
        {
            w_.Seek(start_);
            if (keys_)
                *keys_ = startKeys_;
            if (aes_) {
                // The same salt gives the same keys: the stream starts over.
                uint8_t verifier[AesVerifierSize];
                w_.BeginAes(*aes_, salt_, verifier);
            }
            restarted_ = true;
        }
        bool Restarted() const { return restarted_; }

    private:
        Writer &w_;
        Keys *keys_;
        AesStream *aes_;
        const uint8_t *salt_;
        Keys startKeys_;
        uint64_t start_;
        bool restarted_ = false;
    };

    FILE *out_;
    const WriteOptions &o_;
    SeededRandom random_;
    uint64_t total_, done_ = 0;
};

uint32_t Writer::CrcPass(Entry &e)
{
    std::vector<uint8_t> buffer(1 << 18);
    uint32_t crc = 0;
    e.Source->Rewind();
    while (size_t n = e.Source->Read(buffer.data(), buffer.size()))
        crc = Crc32(buffer.data(), n, crc);
    return crc;
}

// Random bytes in entry order (seeded or the system's), the check byte from
// the CRC's high byte; leaves the keys where the entry's data starts.
void Writer::PutEncryptionHeader(uint32_t crc, Keys &keys)
{
    uint8_t eh[EncryptionHeaderSize];
    if (o_.Seeded)
        for (int i = 0; i < EncryptionHeaderSize - 1; i++)
            eh[i] = random_.Next();
    else
        RandomBytes(eh, EncryptionHeaderSize - 1);
    eh[EncryptionHeaderSize - 1] = (uint8_t)(crc >> 24);
    {
        KeysInUse use(keys);
        InitKeys(o_.Password->data(), (uint32_t)o_.Password->size());
    }
    Encrypt(keys, eh, EncryptionHeaderSize);
    Put(eh, EncryptionHeaderSize);
}

void Writer::BeginAes(AesStream &aes, const uint8_t *salt, uint8_t *verifier)
{
    if (!AesBegin(aes, (const uint8_t *)o_.Password->data(), (uint32_t)o_.Password->size(), salt, verifier))
        throw BuildError("the system's cryptography failed (AES-256, HMAC-SHA1 or PBKDF2)");
}

// The salt from random bytes in entry order (seeded or the system's), the
// verifier the password gives with it; leaves the stream where the entry's
// data starts.
void Writer::PutAesHeader(AesStream &aes, uint8_t *salt)
{
    if (o_.Seeded) {
        for (int i = 0; i < AesSaltSize; i++)
            salt[i] = random_.Next();
    } else if (!SystemRandom(salt, AesSaltSize)) {
        throw BuildError("the system's random generator failed");
    }
    uint8_t verifier[AesVerifierSize];
    BeginAes(aes, salt, verifier);
    Put(salt, AesSaltSize);
    Put(verifier, AesVerifierSize);
}

Written Writer::WriteEntry(Entry &e, Ahead *ahead)
{
    Written w;
    w.Offset = TellFile(out_);
    EntryRecord &r = w.Record;
    r.Name = e.Name;
    r.Time = e.DosTime;
    r.Date = e.DosDate;
    r.Extra = UnicodePathField(e);
    // AES (AE-2) stores no CRC, so it needs none before the data; the
    // field's method is set once the data is made.
    bool aes = o_.Password && o_.Aes;
    if (aes) {
        std::vector<uint8_t> field = AesFieldBytes(MethodStored);
        r.Extra.insert(r.Extra.end(), field.begin(), field.end());
    }
    r.Flags = o_.Password ? EncryptedFlag : 0;
    r.Version = VersionStored;
    if (e.Source->Size > 0xFFFFFFFEULL)
        throw BuildError("\"" + e.Utf8Name + "\" is 4 GiB or larger; ZIP64 is not supported");
    if (ahead && ahead->Error)
        std::rethrow_exception(ahead->Error);

    // The check byte of the encryption header is the CRC's high byte, so
    // an encrypted entry needs its CRC before its first byte is written:
    // from the input ZIP, from the data made ahead, or from a pass of its own.
    uint32_t expected = e.Source->Crc;
    bool known = e.Source->CrcKnown;
    if (ahead && !known)
        expected = ahead->Result.Crc;
    else if (o_.Password && !aes && !known) {
        expected = CrcPass(e);
        known = true;
    }
    std::vector<uint8_t> header = LocalHeaderBytes(r);
    Put(header.data(), header.size());

    Keys keys;
    AesStream stream = {};
    std::unique_ptr<AesStream, void (*)(AesStream *)> held(&stream, [](AesStream *s) { AesEnd(*s); });
    uint8_t salt[AesSaltSize];
    uint64_t encryption = 0;
    if (aes) {
        PutAesHeader(stream, salt);
        encryption = AesOverhead;
    } else if (o_.Password) {
        PutEncryptionHeader(expected, keys);
        encryption = EncryptionHeaderSize;
    }
    Made m;
    if (ahead) {
        m = ahead->Result;
        if (aes)
            InParts(ahead->Data.data(), ahead->Data.size(),
                    [&stream](uint8_t *part, int32_t size) { AesEncrypt(stream, part, (uint32_t)size); });
        else if (o_.Password)
            Encrypt(keys, ahead->Data.data(), ahead->Data.size());
        Put(ahead->Data.data(), ahead->Data.size());
        Advance(m.Read);
    } else {
        std::function<void(uint64_t)> progress = [this](uint64_t n) { Advance(n); };
        Maker maker(o_, o_.Progress ? &progress : nullptr, nullptr);
        FileSink sink(*this, o_.Password && !aes ? &keys : nullptr, aes ? &stream : nullptr, salt);
        m = maker.Make(e, sink);
        // Stored after all: what deflate had written past the end goes.
        if (sink.Restarted() && !TruncateFile(out_, TellFile(out_)))
            throw BuildError("cannot truncate the output: " + SystemError());
    }
    if (aes) {
        uint8_t code[Sha1Size];
        if (!AesFinish(stream, code))
            throw BuildError("the system's cryptography failed (HMAC-SHA1)");
        Put(code, AesCodeSize);
    }
    done_ += e.Source->Size;
    if (m.Read != e.Source->Size)
        throw BuildError("\"" + e.Utf8Name + "\" changed size while it was being read");
    if (known && m.Crc != expected)
        throw BuildError(e.Source->CrcKnown ? "\"" + e.Utf8Name + "\" is damaged: its CRC-32 does not match"
                                            : "\"" + e.Utf8Name + "\" changed while it was being read");
    uint64_t end = TellFile(out_);
    if (end >= FileSizeLimit)
        throw BuildError("the self-extracting file would be 2 GiB or larger");
    r.Method = m.Deflated ? MethodDeflated : MethodStored;
    r.Version = (m.Deflated || o_.Password) ? VersionDeflated : VersionStored;
    r.Crc = m.Crc;
    if (aes) {
        r.Extra[r.Extra.size() - 2] = (uint8_t)r.Method;
        r.Method = AesMethod;
        r.Version = VersionAes;
        r.Crc = 0;
    }
    r.Compressed = (uint32_t)(m.Written + encryption);
    r.Size = (uint32_t)m.Read;
    header = LocalHeaderBytes(r);
    Seek(w.Offset);
    Put(header.data(), header.size());
    Seek(end);
    return w;
}

}  // namespace

void WriteArchive(FILE *out, std::vector<Entry> &entries, const WriteOptions &options)
{
    EnsureCrcTable();
    // Set up once, before any thread uses it.
    if (!CryptoReady())
        throw BuildError("the system's cryptography (CNG) is not available");
    if (entries.empty())
        throw BuildError("nothing to pack: no files were given");
    // The end record counts entries in 16 bits.
    if (entries.size() > MaxEntries)
        throw BuildError("more than " + std::to_string(MaxEntries) + " entries need ZIP64, which is not supported");
    uint64_t total = 0;
    for (const Entry &e : entries)
        total += e.Source->Size;
    Writer writer(out, options, total);
    std::vector<Written> done;
    {
        std::unique_ptr<Workers> workers;
        if (options.Jobs > 1 && entries.size() > 1)
            workers.reset(new Workers(entries, options, options.Jobs));
        for (size_t i = 0; i < entries.size(); i++) {
            Ahead *ahead = workers ? workers->Take(i) : nullptr;
            done.push_back(writer.WriteEntry(entries[i], ahead));
            if (ahead)
                workers->Release(i);
        }
    }

    std::vector<uint8_t> cd;
    for (const Written &w : done) {
        // Made by MS-DOS, version 2.0; FILE_ATTRIBUTE_ARCHIVE.
        std::vector<uint8_t> h = CentralHeaderBytes(w.Record, MadeByDos20, ArchiveAttribute, (uint32_t)w.Offset);
        cd.insert(cd.end(), h.begin(), h.end());
    }
    uint64_t cdOffset = TellFile(out);
    std::vector<uint8_t> end = EndRecordBytes((uint16_t)entries.size(), (uint32_t)cd.size(), (uint32_t)cdOffset,
                                              options.Comment);
    cd.insert(cd.end(), end.begin(), end.end());
    if (cdOffset + cd.size() >= FileSizeLimit)
        throw BuildError("the self-extracting file would be 2 GiB or larger");
    if (fwrite(cd.data(), 1, cd.size(), out) != cd.size())
        throw BuildError("cannot write the output: " + SystemError());
}

}  // namespace mksfx
