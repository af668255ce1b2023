// --info and --verify.  Both run the very routines the stub runs on its own
// file (ReadSettings, ReadNextHeader, ReadEntryName, AdvanceToNextHeader,
// Inflate, CopyStoredEntry), with the file in ArchiveFile and a null device
// as OutputFile, so a file that passes here is one the stub walks the same
// way.
#include "Inspect.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "Builder.h"
#include "Platform.h"
#include "ZipInput.h"
#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

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
template <class Work>
bool WalkEntries(Work work)
{
    SeekArchive(ArchiveStart);
    if (LastSeekPosition == -1)
        return false;
    char nameBuffer[NameBufferSize];
    Text name = {nullptr, 0};
    bool more = ReadNextHeader();
    while (more) {
        int32_t position = LastSeekPosition;
        ReadEntryName(nameBuffer, name);
        WalkedEntry e = {position, LocalHeader, name.Data ? std::string(name.Data, name.Length) : "", "",
                         false};
        e.Unicode = ReadEntryNameAsUtf8(name);
        e.Used = name.Data ? std::string(name.Data, name.Length) : "";
        SeekArchive(position + 30 + LocalHeader.NameLength + LocalHeader.ExtraLength);
        work(e);
        more = AdvanceToNextHeader(position);
    }
    TextFree(name);
    return true;
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
        const char *choice = InitialOverwriteButton == 501 ? "overwrite all"
                             : InitialOverwriteButton == 502 ? "never overwrite" : "ask";
        fprintf(out, "existing files: %s%s\n", choice, FixedOverwrite ? " (fixed)" : "");
        fprintf(out, "entry list: %s\n", SortEntries ? "sorted by name" : "in archive order");
    }
    fprintf(out, "switches: /S /D=FOLDER /O=all|never|ask /P=PASSWORD /R=0|1 /W /? (mksfx --help)\n");
    fprintf(out, "%-8s %10s %10s %-8s %s\n", "method", "size", "packed", "crc-32", "name");
    int count = 0;
    bool readable = WalkEntries([&](const WalkedEntry &e) {
        const LocalFileHeader &h = e.Header;
        const char *method = h.Method == 0 ? "stored" : h.Method == 8 ? "deflated" : "other";
        fprintf(out, "%-8s %10u %10u %08X %s%s\n", method, (unsigned)h.UncompressedSize,
                (unsigned)h.CompressedSize, (unsigned)h.Crc32, Printable(e.Used).c_str(),
                (h.Flags & 1) ? "  (encrypted)" : "");
        count++;
    });
    fprintf(out, "%d entr%s\n", count, count == 1 ? "y" : "ies");
    Close();
    if (!readable || count == 0) {
        fprintf(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                Printable(path).c_str(), (unsigned)ArchiveStart);
        return ExitError;
    }
    return ExitOk;
}

int Verify(const std::string &path, const std::string *password, FILE *out)
{
    bool hasBlock = false;
    if (!Open(path, out, hasBlock))
        return ExitError;
    OutputFile = FileCreate(NullDevice);
    Text pw = {nullptr, 0};
    if (password)
        TextAssign(pw, password->c_str());
    std::vector<WalkedEntry> walked;
    int failures = 0, encrypted = 0;
    auto fail = [&](const std::string &name, const char *why) {
        fprintf(out, "FAILED  %s: %s\n", Shown(name).c_str(), why);
        failures++;
    };
    bool readable = WalkEntries([&](const WalkedEntry &e) {
        walked.push_back(e);
        const LocalFileHeader &h = e.Header;
        if (h.Method != 0 && h.Method != 8)
            return fail(e.Name, "compression method the stub cannot decode");
        // Without flag bit 11 or the Unicode Path field the stub reads a
        // name as code page 949: unmarked UTF-8 (from zip -r, say) would
        // arrive garbled.
        std::string utf8;
        if (!e.Unicode && !Cp949ToUtf8(e.Name, utf8))
            if (std::any_of(e.Name.begin(), e.Name.end(), [](char c) { return (unsigned char)c >= 0x80; }))
                return fail(e.Name, "the name is not in code page 949 (UTF-8?), so the self-extracting "
                                    "file would create it garbled; pack it with mksfx --zip");
        if (h.Flags & 1) {
            encrypted++;
            uint8_t buffer[24];
            if (FileRead(ArchiveFile, buffer + 12, 12) != 12)
                return fail(e.Name, "encryption header cut short");
            if (!password)
                return fail(e.Name, "encrypted, and no password was given");
            if (!CheckEncryptionHeader(buffer, 12, h.Flags, pw, h.ModTime | (uint32_t)h.ModDate << 16, h.Crc32))
                return fail(e.Name, "the password does not open it");
            RemainingInput -= 12;
        }
        RunningCrc = 0xFFFFFFFF;
        if (h.Method == 8)
            Inflate();
        else
            CopyStoredEntry();
        if ((RunningCrc ^ 0xFFFFFFFF) != h.Crc32)
            return fail(e.Name, "CRC-32 mismatch");
        fprintf(out, "OK      %s\n", Printable(e.Used).c_str());
    });
    FileClose(OutputFile);
    OutputFile = NoFile;
    TextFree(pw);
    Close();
    if (!readable || walked.empty()) {
        fprintf(out, "FAILED  no entry found at 0x%X\n", (unsigned)ArchiveStart);
        fprintf(stderr, "mksfx: \"%s\" is not a self-extracting file: no ZIP entry at 0x%X\n",
                Printable(path).c_str(), (unsigned)ArchiveStart);
        return ExitError;
    }
    if (password && encrypted == 0) {
        fprintf(out, "FAILED  a password was given, but no entry is encrypted\n");
        failures++;
    }

    // What every other ZIP reader sees: the central directory.
    FILE *f = OpenFile(path, "rb");
    std::string problem;
    try {
        uint64_t shift = 0;
        std::vector<ZipEntryInfo> cd = f ? ReadCentralDirectory(f, path, &shift) : std::vector<ZipEntryInfo>();
        if (!f)
            problem = "cannot open the file";
        else if (shift != 0)
            problem = "its offsets do not count from the start of the file";
        else if (cd.size() != walked.size())
            problem = "it lists " + std::to_string(cd.size()) + " entries, the local headers " +
                      std::to_string(walked.size());
        for (size_t i = 0; problem.empty() && i < cd.size(); i++) {
            const ZipEntryInfo &c = cd[i];
            const LocalFileHeader &h = walked[i].Header;
            if (c.LocalOffset != (uint64_t)walked[i].Position || c.RawName != walked[i].Name ||
                c.Crc != h.Crc32 || c.Compressed != h.CompressedSize || c.Size != h.UncompressedSize ||
                c.Method != h.Method || (c.Flags & 1) != (h.Flags & 1))
                problem = "entry \"" + Shown(walked[i].Name) + "\" differs from its local header";
        }
    } catch (const BuildError &e) {
        problem = e.what();
    }
    if (f)
        fclose(f);
    if (!problem.empty()) {
        fprintf(out, "FAILED  central directory: %s\n", Printable(problem).c_str());
        failures++;
    }
    fprintf(out, "%zu entries, %d failed\n", walked.size(), failures);
    return failures ? ExitError : ExitOk;
}

}  // namespace mksfx
