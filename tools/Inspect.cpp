// --info and --verify.  Both run the very routines the stub runs on its own
// file (ReadSettings, ReadNextHeader, ReadEntry, AdvanceToNextHeader, and
// for --verify IsUndecodableEntry, the password check and DecodeEntryData),
// with the file in ArchiveFile and a null device as OutputFile, so a file
// that passes here is one the stub walks and decodes the same way.  --verify
// then judges the rest by what the builder writes and what other ZIP
// readers read: the image, the settings block, every header field, the
// central directory and the end record.
#include "Inspect.h"

#include <string.h>

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Builder.h"
#include "Platform.h"
#include "SettingsRules.h"
#include "ZipInput.h"
#include "archive/EntryNames.h"
#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/SFXmisc.h"
#include "decode/EntryData.h"
#include "resources/resource.h"

namespace mksfx {

namespace {

#ifdef _WIN32
const char NullDevice[] = "NUL";
#else
const char NullDevice[] = "/dev/null";
#endif

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
};

// Opens the file as the stub's own, reads its settings; false with a
// message when it cannot be a self-extracting file at all.
bool Open(const std::string &path, FILE *out, bool &hasBlock)
{
    InitGlobals();
    EnsureCrcTable();
    ArchiveFile = FileOpenRead(NarrowPath(path).c_str());
    if (ArchiveFile == NoFile) {
        fprintf(stderr, "mksfx: cannot open \"%s\"\n", Printable(path).c_str());
        DoneGlobals();
        return false;
    }
    PathInfo info = StatPath(path);
    uint8_t mz[2] = {0, 0};
    FileRead(ArchiveFile, mz, 2);
    if (info.Size < ImageSize || mz[0] != 'M' || mz[1] != 'Z') {
        fprintf(stderr, "mksfx: \"%s\" is not a self-extracting file: %s\n", Printable(path).c_str(),
                info.Size < ImageSize ? "it is shorter than the stub's image"
                                          : "no Windows program stands in front of its archive");
        FileClose(ArchiveFile);
        DoneGlobals();
        return false;
    }
    uint8_t magic[3] = {0, 0, 0};
    FileSeek(ArchiveFile, ImageSize);
    FileRead(ArchiveFile, magic, 3);
    hasBlock = memcmp(magic, "QBW", 3) == 0;
    ReadSettings();
    return true;
}

void Close()
{
    FileClose(ArchiveFile);
    ArchiveFile = NoFile;
    DoneGlobals();
}

// The walk of the stub: every entry's header, position and name.  The
// callback does the entry's work; the walk then seeks on from the header.
// end receives where the record that ended the walk begins.
template <class Work>
bool WalkEntries(Work work, int32_t *end = nullptr)
{
    SeekArchive(ArchiveStart);
    if (LastSeekPosition == -1)
        return false;
    char nameBuffer[NameBufferSize];
    Text name = {nullptr, 0}, stored = {nullptr, 0};
    bool more = ReadNextHeader();
    while (more) {
        int32_t position = LastSeekPosition;
        bool unicode = ReadEntry(position, nameBuffer, name, &stored);
        WalkedEntry e = {position, LocalHeader, std::string(stored.Data, stored.Length),
                         std::string(name.Data, name.Length), unicode};
        work(e);
        more = AdvanceToNextHeader(position);
    }
    if (end)
        *end = LastSeekPosition;
    TextFree(name);
    TextFree(stored);
    return true;
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

}  // namespace

int ShowInfo(const std::string &path, FILE *out)
{
    bool hasBlock = false;
    if (!Open(path, out, hasBlock))
        return ExitError;
    if (!hasBlock) {
        fprintf(out, "settings block: none (archive at 0x%X, every setting at its default)\n",
                (unsigned)ArchiveStart);
    } else {
        fprintf(out, "settings block: %u bytes (archive at 0x%X)\n", (unsigned)(ArchiveStart - ImageSize),
                (unsigned)ArchiveStart);
        // The stub's reader hands the texts over as UTF-8.
        fprintf(out, "caption: %s\n", HasCaption ? Printable(CaptionText).c_str() : "(default)");
        if (DefaultToTemp)
            fprintf(out, "folder: the temporary folder\n");
        else
            fprintf(out, "folder: %s\n", HasDefaultFolder ? Printable(DefaultFolder).c_str() : "(current folder)");
        if (RunOpensFile && HasRunFile)
            fprintf(out, "run: open \"%s\" with its default action\n", Printable(RunFile).c_str());
        else if (RunWithParameters)
            fprintf(out, "run: open \"%s\" with parameters \"%s\"\n", Printable(RunFile).c_str(),
                    Printable(RunParameters).c_str());
        else
            fprintf(out, "run: none\n");
        fprintf(out, "run check box: %s\n", ShowRunOption ? "shown" : "hidden");
        int overwrite = InitialOverwriteButton - IDC_OVERWRITE_ALL;
        const char *choice = overwrite == OverwriteAll ? "overwrite all" : overwrite == OverwriteNever ? "never overwrite"
                                                                                                      : "ask";
        fprintf(out, "existing files: %s%s\n", choice, FixedOverwrite ? " (fixed)" : "");
        fprintf(out, "entry list: %s\n", SortEntries ? "sorted by name" : "in archive order");
    }
    fprintf(out, "switches: /S /D=FOLDER /O=all|never|ask /P=PASSWORD /R=0|1 /W /? (mksfx --help)\n");
    fprintf(out, "%-8s %10s %10s %-8s %s\n", "method", "size", "packed", "crc-32", "name");
    int count = 0;
    int32_t walkEnd = -1;
    bool readable = WalkEntries([&](const WalkedEntry &e) {
        const LocalFileHeader &h = e.Header;
        const char *method = h.Method == MethodStored ? "stored" : h.Method == MethodDeflated ? "deflated" : "other";
        fprintf(out, "%-8s %10u %10u %08X %s%s\n", method, (unsigned)h.UncompressedSize,
                (unsigned)h.CompressedSize, (unsigned)h.Crc32, Printable(e.Used).c_str(),
                (h.Flags & EncryptedFlag) ? "  (encrypted)" : "");
        count++;
    }, &walkEnd);
    fprintf(out, "%d entr%s\n", count, count == 1 ? "y" : "ies");
    uint8_t ended = WalkEnded;
    int32_t archiveStart = ArchiveStart;
    Close();
    if (!readable || count == 0) {
        fprintf(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                Printable(path).c_str(), (unsigned)archiveStart);
        return ExitError;
    }
    // What the listing shows is all there is only when the walk ended at
    // the central directory and the end record is there: the stub reports
    // any other end as an archive it could not read.
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
    if (!unread.empty()) {
        fprintf(stderr, "mksfx: \"%s\" is not whole: %s\n", Printable(path).c_str(), Printable(unread).c_str());
        return ExitError;
    }
    return ExitOk;
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

// SHA-256 (FIPS 180-4): names a foreign image in a way anyone can check
// with `head -c 38912 FILE | sha256sum`.
std::string Sha256(const uint8_t *data, size_t n)
{
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<uint8_t> m(data, data + n);
    m.push_back(0x80);
    while (m.size() % 64 != 56)
        m.push_back(0);
    for (int i = 7; i >= 0; i--)
        m.push_back((uint8_t)((uint64_t)n * 8 >> (i * 8)));
    auto rotr = [](uint32_t x, int r) { return x >> r | x << (32 - r); };
    for (size_t at = 0; at < m.size(); at += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; i++)
            w[i] = (uint32_t)m[at + 4 * i] << 24 | m[at + 4 * i + 1] << 16 | m[at + 4 * i + 2] << 8 | m[at + 4 * i + 3];
        for (int i = 16; i < 64; i++)
            w[i] = w[i - 16] + (rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ w[i - 15] >> 3) + w[i - 7] +
                   (rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ w[i - 2] >> 10);
        uint32_t a[8];
        memcpy(a, h, sizeof a);
        for (int i = 0; i < 64; i++) {
            uint32_t t1 = a[7] + (rotr(a[4], 6) ^ rotr(a[4], 11) ^ rotr(a[4], 25)) + ((a[4] & a[5]) ^ (~a[4] & a[6])) +
                          k[i] + w[i];
            uint32_t t2 = (rotr(a[0], 2) ^ rotr(a[0], 13) ^ rotr(a[0], 22)) + ((a[0] & a[1]) ^ (a[0] & a[2]) ^ (a[1] & a[2]));
            memmove(a + 1, a, 7 * sizeof a[0]);
            a[4] += t1;
            a[0] = t1 + t2;
        }
        for (int i = 0; i < 8; i++)
            h[i] += a[i];
    }
    std::string hex;
    for (uint32_t v : h) {
        char part[9];
        snprintf(part, sizeof part, "%08x", (unsigned)v);
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

// The failures found, one line each.
struct Findings {
    FILE *Out;
    int Count = 0;
    void Fail(const std::string &what, const std::string &why)
    {
        fprintf(Out, "FAILED  %s: %s\n", what.c_str(), Printable(why).c_str());
        Count++;
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
                                      " (its SHA-256: " + Sha256(image.data(), image.size()) + ")");
    }
    fprintf(found.Out, "OK      stub%s\n", isSigned ? " (Authenticode-signed; the signature itself is not checked here)"
                                                    : "");
}

// The block must be one the builder writes: settings it would accept, in
// exactly the bytes it would write for them.
void CheckBlock(FILE *f, const std::vector<std::string> &names, Findings &found)
{
    BlockSettings s;
    std::vector<uint8_t> bytes;
    if (!ReadSettingsBlock(f, s, &bytes)) {
        // No "QBW": the stub takes every default and expects the archive at
        // the image's end, which the walk has judged.
        fprintf(found.Out, "OK      settings block: none, every setting at its default\n");
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
        fprintf(found.Out, "OK      settings block\n");
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
    if (l.Needed != needed)
        problems.push_back("its version needed to extract is " + std::to_string(l.Needed) + "; the builder writes " +
                           std::to_string(needed));
    if (h.Flags & ~EncryptedFlag)
        problems.push_back("general-purpose flags " + Hex(h.Flags) +
                           ((h.Flags & DescriptorFlag) ? " (bit 3: sizes in a data descriptor, which the "
                                                         "self-extracting file never reads)"
                                                       : "; the builder sets bit 0 alone"));
    bool ascii = std::all_of(stored.begin(), stored.end(), [](char c) { return (unsigned char)c < 0x80; });
    const std::vector<uint8_t> &x = l.Extra;
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

}  // namespace

int Verify(const std::string &path, const std::string *password, const std::vector<uint8_t> &stub, FILE *out)
{
    bool hasBlock = false;
    if (!Open(path, out, hasBlock))
        return ExitError;
    OutputFile = FileCreate(NullDevice);
    Text pw = {nullptr, 0};
    if (password)
        TextAssign(pw, password->c_str());
    FILE *f = OpenFile(path, "rb");
    std::unique_ptr<FILE, int (*)(FILE *)> closer(f, fclose);
    if (!f) {
        fprintf(stderr, "mksfx: cannot open \"%s\"\n", Printable(path).c_str());
        Close();
        return ExitError;
    }
    Findings found{out};

    // What every other ZIP reader sees: the central directory.  Read first,
    // for the stub's check needs to know where the archive ends.
    std::vector<ZipEntryInfo> cd;
    ZipLayout layout;
    uint64_t shift = 0;
    std::string comment, unreadable;
    try {
        cd = ReadCentralDirectory(f, path, &shift, &comment, &layout);
    } catch (const BuildError &e) {
        unreadable = e.what();
    }
    uint64_t size = StatPath(path).Size;
    uint64_t archiveEnd = unreadable.empty() ? layout.EndRecord + EndRecordSize + layout.CommentLength : size;
    uint64_t tail = size;
    CheckStub(f, stub, size, archiveEnd, found, tail);

    std::vector<LocalEntry> walked;
    int encrypted = 0;
    int32_t walkEnd = -1;
    bool readable = WalkEntries(
        [&](const WalkedEntry &e) {
            int32_t data = LastSeekPosition;
            LocalEntry l;
            l.Walked = e;
            uint8_t h[LocalHeaderSize];
            if (ReadAt(f, (uint64_t)e.Position, h, sizeof h)) {
                l.Needed = Get16(h + 4);
                l.Extra.resize(e.Header.ExtraLength);
                if (!ReadAt(f, (uint64_t)e.Position + LocalHeaderSize + e.Header.NameLength, l.Extra.data(),
                            l.Extra.size()))
                    l.Extra.clear();
            }
            walked.push_back(l);
            const LocalFileHeader &hd = e.Header;
            if (hd.Flags & EncryptedFlag)
                encrypted++;
            std::vector<std::string> problems;
            auto decode = [&]() -> std::string {
                if (e.Used.empty())
                    return "an empty name: the self-extracting file stops at it";
                if (IsUnsafeName(e.Used.c_str()))
                    return "a name the self-extracting file refuses to write (a way out of the target folder, "
                           "a device or a character Windows forbids)";
                if (IsStreamedEntry(data))
                    return "written to a pipe: its sizes and CRC-32 are only in the data descriptor, and the "
                           "self-extracting file stops at it (\"알수없는 압축파일\")";
                if (IsUndecodableEntry(data))
                    return "compression method " + std::to_string(hd.Method) + ", which the stub cannot decode";
                // Without flag bit 11 or the Unicode Path field the stub reads a
                // name as code page 949: unmarked UTF-8 (from zip -r, say) would
                // arrive garbled.
                std::string utf8;
                if (!e.Unicode && !Cp949ToUtf8(e.Name, utf8))
                    if (std::any_of(e.Name.begin(), e.Name.end(), [](char c) { return (unsigned char)c >= 0x80; }))
                        return "the name is not in code page 949 (UTF-8?), so the self-extracting "
                               "file would create it garbled; pack it with mksfx --zip";
                if (hd.Flags & EncryptedFlag) {
                    uint8_t header[EncryptionHeaderSize * 2];
                    if (!ReadEncryptionHeader(header))
                        return "encryption header cut short";
                    if (!password)
                        return "encrypted, and no password was given";
                    if (!PasswordOpens(header, pw))
                        return "the password does not open it";
                }
                if (!DecodeEntryData())
                    return "CRC-32 mismatch";
                // The stub stops at the first byte it cannot use and keeps
                // what it has; unzip, 7-Zip and Python read the data to its
                // end (the final-block bit, the end-of-block code, the
                // size) and would report what the stub passes over.
                ZipEntryInfo z;
                z.Flags = hd.Flags;
                z.Method = hd.Method;
                z.Time = hd.ModTime;
                z.Date = hd.ModDate;
                z.Crc = hd.Crc32;
                z.Compressed = hd.CompressedSize;
                z.Size = hd.UncompressedSize;
                z.LocalOffset = (uint64_t)e.Position;
                try {
                    ReadEntryThrough(path, z, e.Used, password);
                } catch (const BuildError &error) {
                    return std::string("as other ZIP readers decode it: ") + error.what();
                }
                return "";
            };
            std::string failed = decode();
            if (!failed.empty())
                problems.push_back(failed);
            CheckLocalHeader(l, problems);
            if (problems.empty() && !IsUnsafeName(e.Used.c_str())) {
                // The name as the builder would store it: no name it refuses
                // (a trailing dot, ".", empty components ...) comes through.
                try {
                    if (ArchiveName(e.Used) != e.Name)
                        problems.push_back("stored as \"" + Shown(e.Name) + "\", where the builder stores \"" +
                                           Shown(ArchiveName(e.Used)) + "\"");
                } catch (const BuildError &error) {
                    problems.push_back(error.what());
                }
            }
            for (const std::string &p : problems)
                found.Fail(e.Used.empty() ? Shown(e.Name) : Printable(e.Used), p);
            if (problems.empty())
                fprintf(out, "OK      %s\n", Printable(e.Used).c_str());
        },
        &walkEnd);
    FileClose(OutputFile);
    OutputFile = NoFile;
    TextFree(pw);
    std::string unreadWalk = WalkEndProblem(WalkEnded, walkEnd);
    if (!unreadWalk.empty())
        found.Fail("archive", unreadWalk);
    int32_t archiveStart = ArchiveStart;
    Close();
    if (!readable || walked.empty()) {
        fprintf(out, "FAILED  no entry found at 0x%X\n", (unsigned)archiveStart);
        fprintf(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                Printable(path).c_str(), (unsigned)archiveStart);
        return ExitError;
    }
    if (password && encrypted == 0)
        found.Fail("password", "a password was given, but no entry is encrypted");

    // The entries under the names the stub writes them: two that are one
    // file on Windows would meet there.
    std::vector<std::string> names;
    std::vector<Entry> unique;
    for (const LocalEntry &l : walked) {
        names.push_back(l.Walked.Used);
        unique.emplace_back();
        unique.back().Utf8Name = l.Walked.Used;
        unique.back().Name = l.Walked.Name;
    }
    try {
        CheckUniqueNames(unique);
    } catch (const BuildError &e) {
        found.Fail("names", e.what());
    }
    CheckBlock(f, names, found);

    int before = found.Count;
    auto fail = [&](const std::string &why) { found.Fail("central directory", why); };
    if (!unreadable.empty()) {
        fail(unreadable);
    } else {
        if (shift != 0)
            fail("its offsets do not count from the start of the file");
        if (cd.size() != walked.size())
            fail("it lists " + std::to_string(cd.size()) + " entries, the local headers " +
                 std::to_string(walked.size()));
        if (layout.Directory != (uint64_t)walkEnd)
            fail("it begins at " + Hex((uint32_t)layout.Directory) + ", not where the last entry ends (" +
                 Hex((uint32_t)walkEnd) + ")");
        if (layout.DirectoryUsed != layout.DirectorySize)
            fail("the end record gives its size as " + std::to_string(layout.DirectorySize) + " bytes; its " +
                 std::to_string(cd.size()) + " entries take " + std::to_string(layout.DirectoryUsed));
        if (archiveEnd != tail)
            fail("the end record's comment (" + std::to_string(layout.CommentLength) + " bytes) ends at " +
                 Hex((uint32_t)archiveEnd) + ", the file at " + Hex((uint32_t)tail));
        if (comment.find("PK\x05\x06") != std::string::npos)
            fail("the archive comment holds an end record's signature, which readers may take for the record");
    }
    for (size_t i = 0; unreadable.empty() && i < std::min(cd.size(), walked.size()); i++) {
        const ZipEntryInfo &c = cd[i];
        const LocalEntry &l = walked[i];
        const LocalFileHeader &h = l.Walked.Header;
        const std::string entry = "entry \"" + Printable(l.Walked.Used) + "\": ";
        // Every field a reader shows or uses: those shared with the local
        // header must agree with it, the others must be what the builder
        // writes (MS-DOS attributes, version 2.0, an archive file).
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
            fail(entry + "its extra field (the Unicode Path field) differs from the local header's");
    }
    if (found.Count == before)
        fprintf(out, "OK      central directory and end record\n");
    fprintf(out, "%zu entr%s, %d failed\n", walked.size(), walked.size() == 1 ? "y" : "ies", found.Count);
    return found.Count ? ExitError : ExitOk;
}

}  // namespace mksfx
