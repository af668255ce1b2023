// --info and --verify.  Both run the very routines the stub runs on its own
// file (ReadSettings and the walk, WalkArchive, and for --verify each
// entry's road, JudgeAndDecode),
// with the file in ArchiveFile and a null device as OutputFile, so a file
// that passes here is one the stub walks and decodes the same way.  --verify
// then judges the rest by what the builder writes and what other ZIP
// readers read: the image, the settings block, every header field, the
// central directory and the end record.
#include "Inspect.h"

#include <string.h>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "Builder.h"
#include "Platform.h"
#include "RecordBytes.h"
#include "SettingsRules.h"
#include "ZipInput.h"
#include "archive/EntryNames.h"
#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/EntryData.h"
#include "resources/resource.h"

namespace mksfx {

namespace {

#ifdef _WIN32
const char NullDevice[] = "NUL";
#else
const char NullDevice[] = "/dev/null";
#endif

// A text as a JSON string: quotes, backslashes and every control character
// escaped, and the bidirectional controls too, so that a report shown as it
// is cannot reorder what it says.
std::string JsonText(const std::string &utf8)
{
    std::string j = "\"";
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = (unsigned char)utf8[i];
        unsigned char c1 = i + 1 < utf8.size() ? (unsigned char)utf8[i + 1] : 0;
        unsigned char c2 = i + 2 < utf8.size() ? (unsigned char)utf8[i + 2] : 0;
        char u[8];
        if (c == '"' || c == '\\') {
            j += '\\';
            j += (char)c;
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(u, sizeof u, "\\u%04x", c);
            j += u;
        } else if (c == 0xE2 && ((c1 == 0x80 && c2 >= 0xAA && c2 <= 0xAE) || (c1 == 0x81 && c2 >= 0xA6 && c2 <= 0xA9))) {
            snprintf(u, sizeof u, "\\u%04x", 0x2000 | (c1 & 0x3F) << 6 | (c2 & 0x3F));
            j += u;
            i += 2;
        } else {
            j += (char)c;
        }
    }
    return j + "\"";
}

std::string Shown(const std::string &cp949)
{
    std::string u;
    if (Cp949ToUtf8(cp949, u))
        return Printable(u);
    std::string s;
    for (unsigned char c : cp949) {
        char hex[8];
        snprintf(hex, sizeof hex, c < 0x20 || c >= 0x80 ? "\\x%02X" : "%c", c);
        s += hex;
    }
    return s;
}

struct WalkedEntry {
    int32_t Position;
    LocalFileHeader Header;
    std::string Name;       // as stored
    std::string Used;       // the UTF-8 name the stub shows and writes
    bool Unicode;           // taken from flag bit 11 or the Unicode Path field
    uint8_t Aes;            // the AES field's version (EntryAesVersion), 0 for none
    uint16_t AesMethod;     // and the real method it names
};

// How an entry is encrypted, for --info: "none", "traditional", "aes-256"
// (the field's version in the text), or "aes-unsupported" for method 99
// without a field this reader decodes (AES-128, another method inside).
std::string EncryptionOf(const WalkedEntry &e, bool json)
{
    if (!(e.Header.Flags & EncryptedFlag))
        return "none";
    if (e.Header.Method != AesMethod)
        return "traditional";
    if (!e.Aes)
        return json ? "aes-unsupported" : "AES, not AES-256 over stored or deflated data";
    return json ? "aes-256" : std::string("AES-256, AE-") + (char)('0' + e.Aes);
}

// The method the entry's data is in: an AES entry's real one.
uint16_t DataMethod(const WalkedEntry &e)
{
    return e.Aes ? e.AesMethod : e.Header.Method;
}

// Opens the file as the stub's own, reads its settings; false with a
// message when it cannot be a self-extracting file at all.
bool Open(const std::string &path, FILE *out, bool &hasBlock)
{
    InitGlobals();
    EnsureCrcTable();
    // The file layer takes UTF-8 names on every system, as the builder does.
    ArchiveFile = FileOpenRead(path.c_str());
    if (ArchiveFile == NoFile) {
        PrintText(stderr, "mksfx: cannot open \"%s\"\n", Printable(path).c_str());
        DoneGlobals();
        return false;
    }
    PathInfo info = StatPath(path);
    uint8_t mz[2] = {0, 0};
    FileRead(ArchiveFile, mz, 2);
    if (info.Size < ImageSize || mz[0] != 'M' || mz[1] != 'Z') {
        PrintText(stderr, "mksfx: \"%s\" is not a self-extracting file: %s\n", Printable(path).c_str(),
                info.Size < ImageSize ? "it is shorter than the stub's image"
                                          : "no Windows program stands in front of its archive");
        FileClose(ArchiveFile);
        DoneGlobals();
        return false;
    }
    uint8_t magic[3] = {0, 0, 0};
    FileSeek(ArchiveFile, ImageSize);
    FileRead(ArchiveFile, magic, 3);
    hasBlock = IsSettingsMagic(magic);
    ReadSettings();
    return true;
}

void Close()
{
    FileClose(ArchiveFile);
    ArchiveFile = NoFile;
    DoneGlobals();
}

// The walk of the stub (WalkArchive): every entry's header, position and
// name.  The callback does the entry's work; the walk then seeks on from
// the header.  end receives where the record that ended the walk begins.
template <class Work>
bool WalkEntries(Work work, int32_t *end = nullptr)
{
    bool readable = WalkArchive([&](int32_t position, const Text &name, const Text &stored, bool unicode) {
        WalkedEntry e = {position, LocalHeader, std::string(stored.Data, stored.Length),
                         std::string(name.Data, name.Length), unicode, EntryAesVersion, EntryAesMethod};
        work(e);
        return true;
    });
    if (readable && end)
        *end = LastSeekPosition;
    return readable;
}

// Empty when the walk ended where a whole archive's does.
std::string WalkEndProblem(uint8_t ended, int32_t at)
{
    char where[16];
    snprintf(where, sizeof where, "0x%X", (unsigned)at);
    if (ended == WalkZip64)
        return std::string("a ZIP64 data descriptor (8-byte sizes) at ") + where +
               ", which the self-extracting file does not read; it stops there with \"압축파일 읽기에러.\"";
    if (ended != WalkAtDirectory)
        return std::string("the local headers end at ") + where +
               " without the central directory, so entries may be missing; the self-extracting file stops "
               "there with \"압축파일 읽기에러.\"";
    return "";
}

// What a listing shows is all there is only when the walk ended at the
// central directory and the end record is there: the stub reports any
// other end as an archive it could not read.  The exit code of --info.
int Whole(const std::string &path, uint8_t ended, int32_t walkEnd)
{
    std::string unread = WalkEndProblem(ended, walkEnd);
    if (unread.empty()) {
        FILE *f = OpenFile(path, "rb");
        try {
            if (!f)
                throw BuildError("it cannot be opened again");
            ReadCentralDirectory(f, path);
        } catch (const BuildError &e) {
            unread = e.what();
        }
        if (f)
            fclose(f);
    }
    if (unread.empty())
        return ExitOk;
    PrintText(stderr, "mksfx: \"%s\" is not whole: %s\n", Printable(path).c_str(), Printable(unread).c_str());
    return ExitError;
}

}  // namespace

namespace {

const char *ShownMethod(uint16_t m)
{
    return m == MethodStored ? "stored" : m == MethodDeflated ? "deflated" : "other";
}

// The stub's reading of its settings, as --info shows it.
int OverwriteChoice()
{
    return InitialOverwriteButton - IDC_OVERWRITE_ALL;
}

// --info --json: the settings the stub read and every entry.
void PrintInfoJson(const std::string &path, FILE *out, bool hasBlock, const std::vector<WalkedEntry> &entries,
                   uint64_t size, uint64_t packed)
{
    int overwrite = OverwriteChoice();
    const char *choice = overwrite == OverwriteAll ? "all" : overwrite == OverwriteNever ? "never" : "ask";
    PrintText(out, "{\"file\": %s, \"archive_offset\": %u, \"settings\": ", JsonText(path).c_str(),
              (unsigned)ArchiveStart);
    if (!hasBlock) {
        PrintText(out, "null");
    } else {
        auto text = [](bool has, const char *t) { return has ? JsonText(t) : std::string("null"); };
        PrintText(out, "{\"caption\": %s, \"folder\": %s, \"temporary_folder\": %s, ",
                  text(HasCaption, CaptionText).c_str(), text(HasDefaultFolder && !DefaultToTemp, DefaultFolder).c_str(),
                  DefaultToTemp ? "true" : "false");
        if (RunOpensFile && HasRunFile)
            PrintText(out, "\"run\": {\"file\": %s, \"parameters\": null}, ", JsonText(RunFile).c_str());
        else if (RunWithParameters)
            PrintText(out, "\"run\": {\"file\": %s, \"parameters\": %s}, ", JsonText(RunFile).c_str(),
                      JsonText(RunParameters).c_str());
        else
            PrintText(out, "\"run\": null, ");
        PrintText(out, "\"run_check_box\": %s, \"existing_files\": \"%s\", \"fixed_choice\": %s, \"sorted\": %s, "
                  "\"file_times\": \"%s\"}",
                  ShowRunOption ? "true" : "false", choice, FixedOverwrite ? "true" : "false",
                  SortEntries ? "true" : "false", RestoreFileTimes ? "archive" : "extraction");
    }
    PrintText(out, ", \"entries\": [");
    for (size_t i = 0; i < entries.size(); i++) {
        const LocalFileHeader &h = entries[i].Header;
        unsigned t = h.ModTime, d = h.ModDate;
        PrintText(out, "%s\n  {\"name\": %s, \"method\": \"%s\", \"method_number\": %u, \"size\": %u, "
                  "\"packed\": %u, \"crc32\": \"%08X\", \"encryption\": \"%s\", "
                  "\"time\": \"%04u-%02u-%02uT%02u:%02u:%02u\"}",
                  i ? "," : "", JsonText(entries[i].Used).c_str(), ShownMethod(DataMethod(entries[i])),
                  (unsigned)DataMethod(entries[i]), (unsigned)h.UncompressedSize, (unsigned)h.CompressedSize,
                  (unsigned)h.Crc32, EncryptionOf(entries[i], true).c_str(), 1980 + (d >> 9), (d >> 5) & 15, d & 31,
                  t >> 11, (t >> 5) & 63, (t & 31) * 2);
    }
    PrintText(out, "\n], \"totals\": {\"entries\": %zu, \"size\": %llu, \"packed\": %llu}}\n", entries.size(),
              (unsigned long long)size, (unsigned long long)packed);
}

// --info as lines: the settings block, then the entries.
void PrintInfoSettings(FILE *out, bool hasBlock)
{
    if (!hasBlock) {
        PrintText(out, "settings block: none (archive at 0x%X, every setting at its default)\n",
                  (unsigned)ArchiveStart);
        return;
    }
    PrintText(out, "settings block: %u bytes (archive at 0x%X)\n", (unsigned)(ArchiveStart - ImageSize),
              (unsigned)ArchiveStart);
    // The stub's reader hands the texts over as UTF-8.
    PrintText(out, "caption: %s\n", HasCaption ? Printable(CaptionText).c_str() : "(default)");
    if (DefaultToTemp)
        PrintText(out, "folder: the temporary folder\n");
    else
        PrintText(out, "folder: %s\n", HasDefaultFolder ? Printable(DefaultFolder).c_str() : "(current folder)");
    if (RunOpensFile && HasRunFile)
        PrintText(out, "run: open \"%s\" with its default action\n", Printable(RunFile).c_str());
    else if (RunWithParameters)
        PrintText(out, "run: open \"%s\" with parameters \"%s\"\n", Printable(RunFile).c_str(),
                  Printable(RunParameters).c_str());
    else
        PrintText(out, "run: none\n");
    PrintText(out, "run check box: %s\n", ShowRunOption ? "shown" : "hidden");
    int overwrite = OverwriteChoice();
    const char *shown = overwrite == OverwriteAll ? "overwrite all" : overwrite == OverwriteNever ? "never overwrite"
                                                                                                  : "ask";
    PrintText(out, "existing files: %s%s\n", shown, FixedOverwrite ? " (fixed)" : "");
    PrintText(out, "entry list: %s\n", SortEntries ? "sorted by name" : "in archive order");
    PrintText(out, "file times: %s\n", RestoreFileTimes ? "the archive's" : "the time of extraction");
}

void PrintInfoText(FILE *out, bool hasBlock, const std::vector<WalkedEntry> &entries, uint64_t size)
{
    PrintInfoSettings(out, hasBlock);
    PrintText(out, "switches: /S /D=FOLDER /O=all|never|ask /P=PASSWORD /R=0|1 /W /? (mksfx --help)\n");
    PrintText(out, "%-8s %10s %10s %-8s %s\n", "method", "size", "packed", "crc-32", "name");
    for (const WalkedEntry &e : entries) {
        const LocalFileHeader &h = e.Header;
        std::string encryption = EncryptionOf(e, false);
        PrintText(out, "%-8s %10u %10u %08X %s%s\n", ShownMethod(DataMethod(e)), (unsigned)h.UncompressedSize,
                  (unsigned)h.CompressedSize, (unsigned)h.Crc32, Printable(e.Used).c_str(),
                  encryption == "none" ? "" : ("  (encrypted: " + encryption + ")").c_str());
    }
    PrintText(out, "%zu entr%s, %llu bytes unpacked\n", entries.size(), entries.size() == 1 ? "y" : "ies",
              (unsigned long long)size);
}

}  // namespace

int ShowInfo(const std::string &path, FILE *out, ReportFormat format)
{
    bool hasBlock = false;
    if (!Open(path, out, hasBlock))
        return ExitError;
    // The walk first: a file with no entry where ours keep them (another
    // installer, say) is named as such before anything report-like.
    std::vector<WalkedEntry> entries;
    int32_t walkEnd = -1;
    bool readable = WalkEntries([&](const WalkedEntry &e) { entries.push_back(e); }, &walkEnd);
    uint8_t ended = WalkEnded;
    if (!readable || entries.empty()) {
        PrintText(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                  Printable(path).c_str(), (unsigned)ArchiveStart);
        Close();
        return ExitError;
    }
    uint64_t size = 0, packed = 0;
    for (const WalkedEntry &e : entries) {
        size += e.Header.UncompressedSize;
        packed += e.Header.CompressedSize;
    }
    if (format == ReportJson)
        PrintInfoJson(path, out, hasBlock, entries, size, packed);
    else
        PrintInfoText(out, hasBlock, entries, size);
    Close();
    return Whole(path, ended, walkEnd);
}

namespace {

uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t *p) { return Get16(p) | (uint32_t)Get16(p + 2) << 16; }

bool ReadAt(FILE *f, uint64_t at, void *buffer, size_t n)
{
    return SeekFile(f, at) && fread(buffer, 1, n, f) == n;
}

std::string Hex(uint32_t v)
{
    char s[16];
    snprintf(s, sizeof s, "0x%X", (unsigned)v);
    return s;
}

}  // namespace

// Names an image in a way anyone can check with `head -c 38912 FILE |
// sha256sum`.
std::string Sha256Hex(const uint8_t *data, size_t n)
{
    uint8_t digest[32];
    if (!Sha256(data, n, digest))
        return "(not to be had: the system's cryptography failed)";
    std::string hex;
    for (uint8_t b : digest) {
        char part[3];
        snprintf(part, sizeof part, "%02x", b);
        hex += part;
    }
    return hex;
}

// The PE image checksum (as Windows' CheckSumMappedFile computes it): the
// 16-bit one's-complement sum of the whole file, the field itself read as
// zero, plus the file's length.
uint32_t PeChecksum(FILE *f, uint64_t size, uint64_t fieldAt)
{
    uint64_t sum = 0;
    std::vector<uint8_t> buffer(1 << 16);
    for (uint64_t at = 0; at < size;) {
        size_t n = (size_t)std::min<uint64_t>(buffer.size(), size - at);
        if (!ReadAt(f, at, buffer.data(), n))
            return 0;
        if (n % 2)
            buffer[n++] = 0;
        for (size_t i = 0; i < n; i += 2) {
            uint64_t pos = at + i;
            if (pos >= fieldAt && pos < fieldAt + 4)
                continue;
            sum += Get16(&buffer[i]);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        at += n;
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + size);
}

// The builder writes the checksum of the whole file: signing tools and
// Windows' own checks (drivers, some installers' loaders) expect it to
// hold, and osslsigncode warns of an invalid one.
bool StampPeChecksum(FILE *f, uint64_t size)
{
    uint8_t header[0x40];
    uint8_t pe[4];
    if (!ReadAt(f, 0, header, sizeof header))
        return false;
    uint64_t at = (uint64_t)Get32(&header[0x3C]) + 24 + 64;
    if (!ReadAt(f, Get32(&header[0x3C]), pe, 4) || memcmp(pe, "PE\0\0", 4) != 0)
        return false;
    uint8_t sum[4];
    uint32_t v = PeChecksum(f, size, at);
    for (int i = 0; i < 4; i++)
        sum[i] = (uint8_t)(v >> (8 * i));
    return SeekFile(f, at) && fwrite(sum, 1, 4, f) == 4 && fflush(f) == 0;
}

namespace {

// What Verify found, part by part and entry by entry, in the order found:
// printed a line each as text, or as one JSON object at the end.
struct Findings {
    FILE *Out;
    ReportFormat Format;
    int Count = 0;
    struct Event {
        bool Ok;
        std::string What, Why;
        bool Entry;
    };
    std::vector<Event> Events;
    void Fail(const std::string &what, const std::string &why, bool entry = false)
    {
        if (Format == ReportText)
            PrintText(Out, "FAILED  %s: %s\n", Printable(what).c_str(), Printable(why).c_str());
        Events.push_back({false, what, why, entry});
        Count++;
    }
    void Ok(const std::string &what, const std::string &detail = "", bool entry = false)
    {
        if (Format == ReportText)
            PrintText(Out, "OK      %s%s\n", Printable(what).c_str(), Printable(detail).c_str());
        Events.push_back({true, what, detail, entry});
    }
    // The checks in the order made, each with its findings.
    void PrintJson(const std::string &path, size_t entries) const
    {
        PrintText(Out, "{\"file\": %s, \"ok\": %s, \"checks\": [", JsonText(path).c_str(), Count ? "false" : "true");
        for (size_t i = 0; i < Events.size();) {
            const Event &e = Events[i];
            PrintText(Out, "%s\n  {\"%s\": %s, \"ok\": %s, \"findings\": [", i ? "," : "", e.Entry ? "entry" : "part",
                    JsonText(e.What).c_str(), e.Ok ? "true" : "false");
            size_t k = i;
            for (; k < Events.size() && Events[k].What == e.What && Events[k].Entry == e.Entry && !Events[k].Ok; k++)
                PrintText(Out, "%s%s", k > i ? ", " : "", JsonText(Events[k].Why).c_str());
            PrintText(Out, "]}");
            i = k > i ? k : i + 1;
        }
        PrintText(Out, "\n], \"totals\": {\"entries\": %zu, \"failed\": %d}}\n", entries, Count);
    }
};

// The image must be the stub this builder carries.  Authenticode signing
// changes two fields of it (the checksum and the certificate table's place)
// and appends the certificate table behind the archive: that much is
// accepted when the table covers exactly the file's tail and the checksum
// is right for the whole signed file.  signedTail receives where the
// certificate table begins (the file's size when there is none).
void CheckStub(FILE *f, const std::vector<uint8_t> &stub, uint64_t size, uint64_t archiveEnd, Findings &found,
               uint64_t &signedTail)
{
    signedTail = size;
    std::vector<uint8_t> image(ImageSize);
    if (!ReadAt(f, 0, image.data(), image.size()))
        return found.Fail("stub", "the file is shorter than the stub's image");
    if (stub.size() != ImageSize)
        return found.Fail("stub", "not checked: this builder carries no stub (give --stub FILE)");
    std::vector<uint8_t> expected = stub;
    uint32_t pe = Get32(&stub[0x3C]);
    // PE32: the optional header follows the 4-byte signature and the
    // 20-byte file header; its checksum is at 64 and the certificate
    // table's entry (data directory 4) at 128.
    uint32_t checksumAt = pe + 24 + 64, certificateAt = pe + 24 + 128;
    bool pe32 = pe < ImageSize - 24 - 136 && memcmp(&stub[pe], "PE\0\0", 4) == 0 && Get16(&stub[pe + 24]) == 0x10B;
    bool isSigned = pe32 && Get32(&stub[certificateAt + 4]) == 0 && Get32(&image[certificateAt + 4]) != 0;
    if (isSigned) {
        uint32_t table = Get32(&image[certificateAt]), length = Get32(&image[certificateAt + 4]);
        // The signer pads the archive to 8 bytes with zeros first.
        std::vector<uint8_t> gap(table >= archiveEnd && table - archiveEnd < 8 ? table - archiveEnd : 0);
        bool padded = table >= archiveEnd && table - archiveEnd < 8 && ReadAt(f, archiveEnd, gap.data(), gap.size()) &&
                      std::all_of(gap.begin(), gap.end(), [](uint8_t b) { return b == 0; });
        if (!padded || (uint64_t)table + length != size)
            return found.Fail("stub", "its certificate table (at " + Hex(table) + ", " + std::to_string(length) +
                                          " bytes) is not the file's tail behind the archive");
        if (Get32(&image[checksumAt]) != PeChecksum(f, size, checksumAt))
            return found.Fail("stub", "its checksum does not match the signed file");
        memcpy(&expected[checksumAt], &image[checksumAt], 4);
        memcpy(&expected[certificateAt], &image[certificateAt], 8);
        signedTail = archiveEnd;
    } else if (pe32) {
        // The builder writes the whole file's checksum; earlier builders
        // left the stub's own, which the comparison below takes as it is.
        uint32_t stored = Get32(&image[checksumAt]), whole = PeChecksum(f, size, checksumAt);
        if (stored == whole)
            memcpy(&expected[checksumAt], &image[checksumAt], 4);
        else if (stored != Get32(&stub[checksumAt]) && memcmp(&image[0], &expected[0], checksumAt) == 0 &&
                 memcmp(&image[checksumAt + 4], &expected[checksumAt + 4], ImageSize - checksumAt - 4) == 0)
            return found.Fail("stub", "its PE checksum " + Hex(stored) + " is not the file's, " + Hex(whole) +
                                          ": the file was changed after it was built");
    }
    size_t differ = 0, first = 0;
    for (size_t i = ImageSize; i-- > 0;)
        if (image[i] != expected[i]) {
            differ++;
            first = i;
        }
    if (differ) {
        char at[16];
        snprintf(at, sizeof at, "0x%04zX", first);
        return found.Fail("stub", std::to_string(differ) + " of its " + std::to_string(ImageSize) +
                                      " bytes differ from the stub this builder carries, the first at " + at +
                                      " (its SHA-256: " + Sha256Hex(image.data(), image.size()) + ")");
    }
    found.Ok("stub", isSigned ? " (Authenticode-signed; the signature itself is not checked here)" : "");
}

// The block must be one the builder writes: settings it would accept, in
// exactly the bytes it would write for them.
void CheckBlock(FILE *f, const std::vector<std::string> &names, Findings &found)
{
    BlockSettings s;
    std::vector<uint8_t> bytes;
    if (!ReadSettingsBlock(f, s, &bytes)) {
        // No magic: the stub takes every default and expects the archive at
        // the image's end, which the walk has judged.
        found.Ok("settings block", ": none, every setting at its default");
        return;
    }
    int before = found.Count;
    for (const std::string &problem : SettingsProblems(s, names))
        found.Fail("settings block", problem);
    uint8_t flags1 = bytes[5], flags2 = bytes[6];
    size_t length = Get16(&bytes[SettingsMagicSize]);
    size_t texts = SettingsFixedSize + s.Caption.size() + s.Folder.size() + s.Parameters.size() + s.RunFile.size();
    std::vector<uint8_t> written = MakeSettingsBlock(s);
    if (flags1 & ~Flags1Used)
        found.Fail("settings block", "flags 1 is " + Hex(flags1) + ", with bits the builder never sets");
    else if ((flags1 & OverwriteFlagsMask) == OverwriteFlagsMask)
        found.Fail("settings block", "flags 1 holds the overwrite bits 0x18, which the builder writes as 0");
    if (flags2 & ~Flags2Used)
        found.Fail("settings block", "flags 2 is " + Hex(flags2) + ", with bits the builder never sets");
    if (length != texts)
        found.Fail("settings block", "its length is " + std::to_string(length) + " bytes; its fields and texts take " +
                                         std::to_string(texts));
    else if (bytes.size() < length)
        found.Fail("settings block", "it is cut short by the end of the file");
    else if (found.Count == before && bytes != written)
        found.Fail("settings block", "its bytes are not those the builder writes for its settings");
    if (found.Count == before)
        found.Ok("settings block");
}

// One entry as the walk found it, and its local header's bytes.
struct LocalEntry {
    WalkedEntry Walked;
    uint16_t Needed = 0;
    std::vector<uint8_t> Extra;
};

// The local header's fields that the builder fixes, and the Unicode Path
// field it writes beside a name that is not ASCII: the name the stub and
// other readers use must be the stored name's own.
void CheckLocalHeader(const LocalEntry &l, std::vector<std::string> &problems)
{
    const LocalFileHeader &h = l.Walked.Header;
    const std::string &stored = l.Walked.Name;
    bool encrypted = (h.Flags & EncryptedFlag) != 0;
    uint16_t needed = h.Method == MethodDeflated || encrypted ? VersionDeflated : VersionStored;
    if (l.Walked.Aes)
        needed = VersionAes;
    if (l.Needed != needed)
        problems.push_back("its version needed to extract is " + std::to_string(l.Needed) + "; the builder writes " +
                           std::to_string(needed));
    if (h.Flags & ~EncryptedFlag)
        problems.push_back("general-purpose flags " + Hex(h.Flags) +
                           ((h.Flags & DescriptorFlag) ? " (bit 3: sizes in a data descriptor, which the "
                                                         "self-extracting file never reads)"
                                                       : "; the builder sets bit 0 alone"));
    bool ascii = std::all_of(stored.begin(), stored.end(), [](char c) { return (unsigned char)c < 0x80; });
    std::vector<uint8_t> x = l.Extra;
    // An AES entry: the field the builder writes (AE-2, AES-256, the real
    // method) ends the extra field, and the CRC is 0 in its place.
    if (h.Method == AesMethod) {
        std::vector<uint8_t> field = AesFieldBytes(l.Walked.AesMethod);
        if (l.Walked.Aes != 2 || x.size() < field.size() || !std::equal(field.begin(), field.end(), x.end() - (long)field.size()))
            problems.push_back("its AES field is not the one the builder writes (AE-2, AES-256, stored or deflated)");
        else
            x.resize(x.size() - field.size());
        if (h.Crc32 != 0)
            problems.push_back("an AE-2 entry with a CRC-32 of " + Hex(h.Crc32) + "; the builder writes 0");
    }
    if (x.empty()) {
        if (!ascii)
            problems.push_back("a name beyond ASCII without the Unicode Path field the builder writes beside it");
        return;
    }
    size_t n = x.size() >= 4 ? Get16(&x[2]) : 0;
    if (x.size() < 9 || Get16(&x[0]) != UnicodePathId || 4 + n != x.size() || x[4] != 1) {
        problems.push_back("its extra field is not the one Unicode Path field (version 1) the builder writes");
        return;
    }
    if (Get32(&x[5]) != (uint32_t)crc32(0, (const Bytef *)stored.data(), (uInt)stored.size()))
        problems.push_back("its Unicode Path field's CRC-32 does not match the stored name");
    std::string text((const char *)&x[9], n - 5);
    std::string shown;
    try {
        shown = ArchiveName(text);
    } catch (const BuildError &) {
    }
    if (!ValidUtf8(text) || shown != stored)
        problems.push_back("its Unicode Path field \"" + text + "\" is not the stored name's UTF-8");
}

// The stub's road for one entry (JudgeAndDecode, into the null device): what
// would keep the stub from writing it as it stands, empty when nothing.
// The name's code page is judged after what the stub judges first and
// before the password, as a name the stub would garble matters more than
// a password.
std::string StubRoadProblem(const WalkedEntry &e, int32_t data, const Text *password)
{
    const LocalFileHeader &h = e.Header;
    if (e.Used.empty())
        return "an empty name: the self-extracting file stops at it";
    uint8_t outcome = JudgeAndDecode(e.Used.c_str(), data, password);
    if (outcome == OutcomeNameRefused)
        return "a name the self-extracting file refuses to write (a way out of the target folder, "
               "a device or a character Windows forbids)";
    if (outcome == OutcomeUndecodable) {
        if (IsStreamedEntry(data))
            return "written to a pipe: its sizes and CRC-32 are only in the data descriptor, and the "
                   "self-extracting file stops at it (\"알수없는 압축파일\")";
        if (h.Method == AesMethod && e.Aes)
            return "AES-256, and this system has no cryptography to decode it (CNG)";
        if (h.Method == AesMethod)
            return "AES encryption other than AES-256 over stored or deflated data, which the stub cannot decode";
        return "compression method " + std::to_string(h.Method) + ", which the stub cannot decode";
    }
    // Without flag bit 11 or the Unicode Path field the stub reads a name
    // as code page 949: unmarked UTF-8 (from zip -r, say) would arrive
    // garbled.
    std::string utf8;
    if (!e.Unicode && !Cp949ToUtf8(e.Name, utf8) &&
        std::any_of(e.Name.begin(), e.Name.end(), [](char c) { return (unsigned char)c >= 0x80; }))
        return "the name is not in code page 949 (UTF-8?), so the self-extracting file would create it garbled; "
               "pack it with mksfx --zip";
    switch (outcome) {
    case OutcomeHeaderCut:
        return "encryption header cut short";
    case OutcomeNoPassword:
        return "encrypted, and no password was given";
    case OutcomeWrongPassword:
        return "the password does not open it";
    case OutcomeCrcMismatch:
        return e.Aes ? "AES authentication code mismatch (or its data is cut short or damaged)" : "CRC-32 mismatch";
    default:
        return "";
    }
}

// The stub stops at the first byte it cannot use and keeps what it has;
// unzip, 7-Zip and Python read the data to its end (the final-block bit,
// the end-of-block code, the size) and would report what the stub passes
// over.  Empty when they read the entry as the stub does.
std::string OtherReadersProblem(const std::string &path, const LocalEntry &l, const std::string *password)
{
    const WalkedEntry &e = l.Walked;
    const LocalFileHeader &h = e.Header;
    ZipEntryInfo z;
    z.Extra = l.Extra;   // an AES entry's field
    z.Flags = h.Flags;
    z.Method = h.Method;
    z.Time = h.ModTime;
    z.Date = h.ModDate;
    z.Crc = h.Crc32;
    z.Compressed = h.CompressedSize;
    z.Size = h.UncompressedSize;
    z.LocalOffset = (uint64_t)e.Position;
    try {
        ReadEntryThrough(path, z, e.Used, password);
    } catch (const BuildError &error) {
        return std::string("as other ZIP readers decode it: ") + error.what();
    }
    return "";
}

// The local header's bytes the walk does not keep: the version needed and
// the extra field.
LocalEntry ReadLocalEntry(FILE *f, const WalkedEntry &e)
{
    LocalEntry l;
    l.Walked = e;
    uint8_t h[LocalHeaderSize];
    if (ReadAt(f, (uint64_t)e.Position, h, sizeof h)) {
        l.Needed = Get16(h + 4);
        l.Extra.resize(e.Header.ExtraLength);
        if (!ReadAt(f, (uint64_t)e.Position + LocalHeaderSize + e.Header.NameLength, l.Extra.data(), l.Extra.size()))
            l.Extra.clear();
    }
    return l;
}

// What Verify judges a file with.
struct Verifying {
    const std::string &Path;
    const std::string *Password;   // null when none was given
    const Text *Key;               // the same, as the core takes it
    FILE *File;
    Findings &Found;
};

// One entry as the walk found it, with the file at its data: the stub's
// road, the other readers' and what the builder writes.
void CheckEntry(const Verifying &v, const LocalEntry &l, int32_t data)
{
    const WalkedEntry &e = l.Walked;
    std::vector<std::string> problems;
    std::string failed = StubRoadProblem(e, data, v.Key);
    if (failed.empty() && !e.Used.empty())
        failed = OtherReadersProblem(v.Path, l, v.Password);
    if (!failed.empty())
        problems.push_back(failed);
    CheckLocalHeader(l, problems);
    if (problems.empty() && !IsUnsafeName(e.Used.c_str())) {
        // The name as the builder would store it: no name it refuses (a
        // trailing dot, ".", empty components ...) comes through.
        try {
            if (ArchiveName(e.Used) != e.Name)
                problems.push_back("stored as \"" + Shown(e.Name) + "\", where the builder stores \"" +
                                   Shown(ArchiveName(e.Used)) + "\"");
        } catch (const BuildError &error) {
            problems.push_back(error.what());
        }
    }
    for (const std::string &p : problems)
        v.Found.Fail(e.Used.empty() ? Shown(e.Name) : e.Used, p, true);
    if (problems.empty())
        v.Found.Ok(e.Used, "", true);
}

// The entries, through the stub's own walk and road, into the null
// device: walked receives each with its local header's bytes, walkEnd where
// the walk ended, encrypted how many are.  False when the walk could not
// begin.
bool CheckEntries(const std::string &path, const std::string *password, FILE *f, Findings &found,
                  std::vector<LocalEntry> &walked, int32_t &walkEnd, int &encrypted)
{
    Text key = {nullptr, 0};
    if (password)
        TextAssign(key, password->c_str());
    OutputFile = FileCreate(NullDevice);
    Verifying v{path, password, password ? &key : nullptr, f, found};
    bool readable = WalkEntries(
        [&](const WalkedEntry &e) {
            int32_t data = LastSeekPosition;
            walked.push_back(ReadLocalEntry(f, e));
            encrypted += (e.Header.Flags & EncryptedFlag) != 0;
            CheckEntry(v, walked.back(), data);
        },
        &walkEnd);
    FileClose(OutputFile);
    OutputFile = NoFile;
    TextFree(key);
    return readable;
}

// The entries under the names the stub writes them: two that are one file
// on Windows would meet there.
void CheckNames(const std::vector<LocalEntry> &walked, Findings &found)
{
    std::vector<Entry> unique;
    for (const LocalEntry &l : walked) {
        unique.emplace_back();
        unique.back().Utf8Name = l.Walked.Used;
        unique.back().Name = l.Walked.Name;
    }
    try {
        CheckUniqueNames(unique);
    } catch (const BuildError &e) {
        found.Fail("names", e.what());
    }
}

// What every other ZIP reader sees, read before the walk: the central
// directory, where it lies and what the end record says.
struct Directory {
    std::vector<ZipEntryInfo> Entries;
    ZipLayout Layout;
    uint64_t Shift = 0;
    std::string Comment;
    std::string Unreadable;   // why it cannot be read, or empty
};

// Every field a reader shows or uses: those shared with the local header
// must agree with it, the others must be what the builder writes (MS-DOS
// attributes, version 2.0, an archive file).
void CheckCentralEntry(const ZipEntryInfo &c, const LocalEntry &l, const std::function<void(const std::string &)> &fail)
{
    const LocalFileHeader &h = l.Walked.Header;
    const std::string entry = "entry \"" + Printable(l.Walked.Used) + "\": ";
    const struct {
        const char *Field;
        uint32_t Central, Expected;
        bool Local;
    } fields[] = {
        {"version made by", c.MadeBy, MadeByDos20, false},
        {"version needed to extract", c.Needed, l.Needed, true},
        {"general-purpose flags", c.Flags, h.Flags, true},
        {"compression method", c.Method, h.Method, true},
        {"time", c.Time, h.ModTime, true},
        {"date", c.Date, h.ModDate, true},
        {"CRC-32", c.Crc, h.Crc32, true},
        {"compressed size", c.Compressed, h.CompressedSize, true},
        {"size", c.Size, h.UncompressedSize, true},
        {"comment length", c.CommentLength, 0, false},
        {"disk number", c.Disk, 0, false},
        {"internal attributes", c.Internal, 0, false},
        {"external attributes", c.External, ArchiveAttribute, false},
        {"local header offset", (uint32_t)c.LocalOffset, (uint32_t)l.Walked.Position, true},
    };
    for (const auto &x : fields)
        if (x.Central != x.Expected)
            fail(entry + x.Field + " " + Hex(x.Central) + (x.Local ? ", the local header says " : ", the builder writes ") +
                 Hex(x.Expected));
    if (c.RawName != l.Walked.Name)
        fail(entry + "the name is \"" + Shown(c.RawName) + "\" there");
    if (c.Extra != l.Extra)
        fail(entry + "its extra field (the Unicode Path and AES fields) differs from the local header's");
}

// The central directory and end record against the walk: where the
// directory begins (walkEnd), what it lists, and that the file ends where
// the record's comment does (tail: the file's end, before any signature).
void CheckDirectory(const Directory &d, const std::vector<LocalEntry> &walked, int32_t walkEnd, uint64_t archiveEnd,
                    uint64_t tail, Findings &found)
{
    int before = found.Count;
    auto fail = [&](const std::string &why) { found.Fail("central directory", why); };
    const ZipLayout &layout = d.Layout;
    if (!d.Unreadable.empty()) {
        fail(d.Unreadable);
    } else {
        if (d.Shift != 0)
            fail("its offsets do not count from the start of the file");
        if (d.Entries.size() != walked.size())
            fail("it lists " + std::to_string(d.Entries.size()) + " entries, the local headers " +
                 std::to_string(walked.size()));
        if (layout.Directory != (uint64_t)walkEnd)
            fail("it begins at " + Hex((uint32_t)layout.Directory) + ", not where the last entry ends (" +
                 Hex((uint32_t)walkEnd) + ")");
        if (layout.DirectoryUsed != layout.DirectorySize)
            fail("the end record gives its size as " + std::to_string(layout.DirectorySize) + " bytes; its " +
                 std::to_string(d.Entries.size()) + " entries take " + std::to_string(layout.DirectoryUsed));
        if (archiveEnd != tail)
            fail("the end record's comment (" + std::to_string(layout.CommentLength) + " bytes) ends at " +
                 Hex((uint32_t)archiveEnd) + ", the file at " + Hex((uint32_t)tail));
        if (d.Comment.find("PK\x05\x06") != std::string::npos)
            fail("the archive comment holds an end record's signature, which readers may take for the record");
        for (size_t i = 0; i < std::min(d.Entries.size(), walked.size()); i++)
            CheckCentralEntry(d.Entries[i], walked[i], fail);
    }
    if (found.Count == before)
        found.Ok("central directory and end record");
}

}  // namespace

int Verify(const std::string &path, const std::string *password, const std::vector<uint8_t> &stub, FILE *out,
           ReportFormat format)
{
    bool hasBlock = false;
    if (!Open(path, out, hasBlock))
        return ExitError;
    FILE *f = OpenFile(path, "rb");
    std::unique_ptr<FILE, int (*)(FILE *)> closer(f, fclose);
    if (!f) {
        PrintText(stderr, "mksfx: cannot open \"%s\"\n", Printable(path).c_str());
        Close();
        return ExitError;
    }
    Findings found{out, format, 0, {}};

    // The central directory first: the stub's check needs to know where the
    // archive ends.
    Directory d;
    try {
        d.Entries = ReadCentralDirectory(f, path, &d.Shift, &d.Comment, &d.Layout);
    } catch (const BuildError &e) {
        d.Unreadable = e.what();
    }
    uint64_t size = StatPath(path).Size;
    uint64_t archiveEnd =
        d.Unreadable.empty() ? d.Layout.EndRecord + EndRecordSize + d.Layout.CommentLength : size;
    uint64_t tail = size;
    CheckStub(f, stub, size, archiveEnd, found, tail);

    std::vector<LocalEntry> walked;
    int encrypted = 0;
    int32_t walkEnd = -1;
    bool readable = CheckEntries(path, password, f, found, walked, walkEnd, encrypted);
    std::string unreadWalk = WalkEndProblem(WalkEnded, walkEnd);
    if (!unreadWalk.empty())
        found.Fail("archive", unreadWalk);
    int32_t archiveStart = ArchiveStart;
    Close();
    if (!readable || walked.empty()) {
        if (format == ReportText)
            PrintText(out, "FAILED  no entry found at 0x%X\n", (unsigned)archiveStart);
        PrintText(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                Printable(path).c_str(), (unsigned)archiveStart);
        return ExitError;
    }
    if (password && encrypted == 0)
        found.Fail("password", "a password was given, but no entry is encrypted");

    CheckNames(walked, found);
    std::vector<std::string> names;
    for (const LocalEntry &l : walked)
        names.push_back(l.Walked.Used);
    CheckBlock(f, names, found);
    CheckDirectory(d, walked, walkEnd, archiveEnd, tail, found);
    if (format == ReportText)
        PrintText(out, "%zu entr%s, %d failed\n", walked.size(), walked.size() == 1 ? "y" : "ies", found.Count);
    else if (format == ReportJson)
        found.PrintJson(path, walked.size());
    return found.Count ? ExitError : ExitOk;
}

}  // namespace mksfx
