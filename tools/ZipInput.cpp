// Existing ZIPs as input (APPNOTE 4.3.12 central directory, 4.3.16 end
// record, 4.3.14-15 ZIP64 records, 4.6.9 Info-ZIP Unicode Path field).
//
// Entries are decoded to their plain bytes and then written again by the
// builder's writer: a peer may have put the CRC and sizes only in a data
// descriptor, set the UTF-8 flag, or used a name the stub cannot create,
// and decoding also proves the input sound.  A deflated entry's stream
// itself may be copied (ZipSource::ReadCopy): still inflated on the way,
// which costs a fraction of deflating it again.
#include "ZipInput.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <set>

#include "Builder.h"
#include "Platform.h"
#include "Workers.h"
#include "common/SFXgbls.h"
#include "common/Utf8.h"
#include "decode/CrcCrypt.h"
#include "decode/WinZipAes.h"

namespace mksfx {

static uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t Get32(const uint8_t *p) { return Get16(p) | (uint32_t)Get16(p + 2) << 16; }

static uint64_t FileSize(FILE *f)
{
    fseeko(f, 0, SEEK_END);
    return TellFile(f);
}

static bool ReadAt(FILE *f, uint64_t at, void *buffer, size_t n)
{
    return SeekFile(f, at) && fread(buffer, 1, n, f) == n;
}

std::vector<ZipEntryInfo> ReadCentralDirectory(FILE *f, const std::string &path, uint64_t *shiftOut,
                                               std::string *comment, ZipLayout *layout)
{
    const std::string file = "\"" + path + "\"";
    uint64_t size = FileSize(f);
    // The end record and a comment of up to 65535 bytes.
    uint64_t tailStart = size > EndRecordSize + 65535 ? size - EndRecordSize - 65535 : 0;
    std::vector<uint8_t> tail(size - tailStart);
    if (tail.size() < EndRecordSize || !ReadAt(f, tailStart, tail.data(), tail.size()))
        throw BuildError(file + " is no ZIP archive (too short)");
    size_t eocd = std::string::npos;
    for (size_t i = tail.size() - EndRecordSize + 1; i-- > 0;) {
        if (Get32(&tail[i]) == EndRecordSignature && i + EndRecordSize + Get16(&tail[i + 20]) <= tail.size()) {
            eocd = i;
            break;
        }
    }
    if (eocd == std::string::npos)
        throw BuildError(file + " is no ZIP archive (no end of central directory record)");
    const uint8_t *e = &tail[eocd];
    uint64_t eocdAt = tailStart + eocd;
    if (comment)
        comment->assign((const char *)e + EndRecordSize, Get16(e + 20));
    if (eocdAt >= 20) {
        uint8_t loc[4];
        if (ReadAt(f, eocdAt - 20, loc, 4) && Get32(loc) == 0x07064B50)
            throw BuildError(file + " is a ZIP64 archive, which is not supported");
    }
    uint16_t disk = Get16(e + 4), cdDisk = Get16(e + 6);
    uint16_t countHere = Get16(e + 8), count = Get16(e + 10);
    uint32_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
    if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF)
        throw BuildError(file + " is a ZIP64 archive, which is not supported");
    if (disk != 0 || cdDisk != 0 || countHere != count)
        throw BuildError(file + " is split over several disks, which is not supported");
    if ((uint64_t)cdSize > eocdAt)
        throw BuildError(file + " is damaged: its central directory does not fit");
    // Bytes in front of the archive whose offsets do not count them: the
    // directory really ends where the end record begins.
    uint64_t cdAt = eocdAt - cdSize;
    if (cdAt < cdOffset)
        throw BuildError(file + " is damaged: its central directory offset is wrong");
    uint64_t shift = cdAt - cdOffset;
    if (shiftOut)
        *shiftOut = shift;
    if (layout) {
        layout->FileSize = size;
        layout->EndRecord = eocdAt;
        layout->Directory = cdAt;
        layout->DirectorySize = cdSize;
        layout->DirectoryOffset = cdOffset;
        layout->CommentLength = Get16(e + 20);
    }

    std::vector<uint8_t> cd(cdSize);
    if (cdSize && !ReadAt(f, cdAt, cd.data(), cd.size()))
        throw BuildError(file + " cannot be read");
    std::vector<ZipEntryInfo> entries;
    size_t p = 0;
    for (uint32_t i = 0; i < count; i++) {
        if (p + CentralHeaderSize > cd.size() || Get32(&cd[p]) != CentralHeaderSignature)
            throw BuildError(file + " is damaged: its central directory is cut short");
        const uint8_t *h = &cd[p];
        ZipEntryInfo z;
        z.MadeBy = Get16(h + 4);
        z.Needed = Get16(h + 6);
        z.External = Get32(h + 38);
        z.Internal = Get16(h + 36);
        z.Flags = Get16(h + 8);
        z.Method = Get16(h + 10);
        z.Time = Get16(h + 12);
        z.Date = Get16(h + 14);
        z.Crc = Get32(h + 16);
        z.Compressed = Get32(h + 20);
        z.Size = Get32(h + 24);
        size_t nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLength = Get16(h + 32);
        uint16_t entryDisk = z.Disk = Get16(h + 34);
        uint32_t offset = Get32(h + 42);
        if (p + CentralHeaderSize + nameLength + extraLength + commentLength > cd.size())
            throw BuildError(file + " is damaged: its central directory is cut short");
        const uint8_t *name = h + CentralHeaderSize;
        z.RawName.assign((const char *)name, nameLength);
        z.Extra.assign(name + nameLength, name + nameLength + extraLength);
        z.CommentLength = (uint16_t)commentLength;
        p += CentralHeaderSize + nameLength + extraLength + commentLength;
        const std::string entry = "entry \"" + z.RawName + "\" of " + file;
        bool zip64 = z.Compressed == 0xFFFFFFFF || z.Size == 0xFFFFFFFF || offset == 0xFFFFFFFF ||
                     entryDisk == 0xFFFF;
        for (size_t x = 0; x + 4 <= z.Extra.size(); x += 4 + Get16(&z.Extra[x + 2]))
            zip64 = zip64 || Get16(&z.Extra[x]) == 0x0001;
        if (zip64)
            throw BuildError(entry + " uses ZIP64, which is not supported");
        z.LocalOffset = offset + shift;
        entries.push_back(z);
    }
    if (layout)
        layout->DirectoryUsed = p;
    return entries;
}

bool ValidUtf8(const std::string &s)
{
    for (size_t i = 0, n; i < s.size(); i += n)
        if (!(n = Utf8SequenceLength((const uint8_t *)s.data() + i, (uint32_t)(s.size() - i))))
            return false;
    return true;
}

bool EntryNameUtf8(const ZipEntryInfo &e, std::string &utf8)
{
    if (e.Flags & Utf8NameFlag) {
        utf8 = e.RawName;
        return ValidUtf8(utf8);
    }
    for (size_t x = 0; x + 4 <= e.Extra.size(); x += 4 + Get16(&e.Extra[x + 2])) {
        size_t n = Get16(&e.Extra[x + 2]);
        if (Get16(&e.Extra[x]) != UnicodePathId || x + 4 + n > e.Extra.size() || n < 5 || e.Extra[x + 4] != 1)
            continue;
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)e.RawName.data(), (uInt)e.RawName.size());
        std::string u((const char *)&e.Extra[x + 9], n - 5);
        // A stale field (the name was changed by a tool that did not know it)
        // does not count.
        if (crc == Get32(&e.Extra[x + 5]) && ValidUtf8(u)) {
            utf8 = u;
            return true;
        }
    }
    if (ValidUtf8(e.RawName)) {
        utf8 = e.RawName;
        return true;
    }
    return Cp949ToUtf8(e.RawName, utf8);
}

// ---------------------------------------------------------------------------

namespace {

const char *MethodName(uint16_t m)
{
    switch (m) {
    case 1: return "shrink";
    case 6: return "implode";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "zstd";
    case 95: return "xz";
    case 98: return "PPMd";
    case 99: return "AES encryption";
    default: return "unknown";
    }
}

}  // namespace

uint8_t AesVersionOf(const ZipEntryInfo &z, uint16_t &method)
{
    if (z.Method != AesMethod || !(z.Flags & EncryptedFlag))
        return 0;
    return FindAesField(z.Extra.data(), (uint32_t)z.Extra.size(), method);
}

namespace {

class ZipSource : public EntrySource {
public:
    ZipSource(const std::string &path, const ZipEntryInfo &info, const std::string &name,
              const std::string *password, bool exact = false)
        : path_(path), info_(info), name_(name), password_(password), exact_(exact)
    {
        // An AES entry's data is in the method its field names.
        uint16_t method = 0;
        aes_ = AesVersionOf(info_, method);
        if (aes_)
            info_.Method = method;
        // Its name is resolved already: the extra field is of no more use,
        // and a ZIP of 65,534 entries keeps one of these for each.
        info_.Extra.clear();
        info_.Extra.shrink_to_fit();
    }
    ~ZipSource() override { Close(); }

    void Rewind() override
    {
        Close();
        file_ = OpenInput(path_);
        uint8_t h[LocalHeaderSize];
        if (!ReadAt(file_, info_.LocalOffset, h, sizeof h) || Get32(h) != LocalHeaderSignature)
            throw BuildError(Where() + " is damaged: no local header where the directory says");
        uint64_t data = info_.LocalOffset + LocalHeaderSize + Get16(h + 26) + Get16(h + 28);
        if (!SeekFile(file_, data))
            throw BuildError(Where() + " cannot be read");
        remaining_ = info_.Compressed;
        encrypted_ = (info_.Flags & EncryptedFlag) != 0;
        if (aes_) {
            uint8_t header[AesHeaderSize];
            if (remaining_ < AesOverhead || fread(header, 1, AesHeaderSize, file_) != AesHeaderSize)
                throw BuildError(Where() + " is damaged: its salt and password verifier are cut short");
            remaining_ -= AesOverhead;
            if (!AesOpen(stream_, (const uint8_t *)password_->data(), (uint32_t)password_->size(), header,
                         header + AesSaltSize))
                throw BuildError(Where() + ": the password does not open it");
        } else if (encrypted_) {
            uint8_t buffer[2 * EncryptionHeaderSize];
            if (remaining_ < EncryptionHeaderSize ||
                fread(buffer + EncryptionHeaderSize, 1, EncryptionHeaderSize, file_) != EncryptionHeaderSize)
                throw BuildError(Where() + " is damaged: its encryption header is cut short");
            remaining_ -= EncryptionHeaderSize;
            Text pw = {const_cast<char *>(password_->data()), (uint32_t)password_->size()};
            Locked held(EncryptionKeysLock());
            uint32_t saved[3];
            memcpy(saved, EncryptionKeys, sizeof saved);
            bool ok = CheckEncryptionHeader(buffer, EncryptionHeaderSize, info_.Flags, pw,
                                            info_.Time | (uint32_t)info_.Date << 16, info_.Crc);
            memcpy(keys_, EncryptionKeys, sizeof keys_);
            memcpy(EncryptionKeys, saved, sizeof saved);
            if (!ok)
                throw BuildError(Where() + ": the password does not open it");
        }
        produced_ = 0;
        if (info_.Method == MethodDeflated) {
            // The input buffer lives only while the entry is read, so that
            // memory does not grow with the number of entries.
            in_.resize(1 << 16);
            memset(&z_, 0, sizeof z_);
            if (inflateInit2(&z_, -15) != Z_OK)
                throw BuildError("zlib: cannot start inflate");
            inflating_ = true;
        }
        ended_ = false;
        copying_ = false;
    }

    bool CanCopy() const override { return info_.Method == MethodDeflated; }

    void RewindCopy() override
    {
        Rewind();
        copying_ = true;
        crc_ = crc32(0, nullptr, 0);
    }

    // The deflate stream as stored (decrypted), up to its end; each piece
    // is inflated before it is handed out, into a buffer that is thrown
    // away, for the checks Read makes and the CRC.
    size_t ReadCopy(uint8_t *buffer, size_t n) override
    {
        if (!file_ || !copying_)
            return 0;
        size_t got = Fill(buffer, (size_t)std::min<uint64_t>(n, remaining_));
        if (got == 0)
            Finish(false);
        z_.next_in = buffer;
        z_.avail_in = (uInt)got;
        for (;;) {
            z_.next_out = in_.data();
            z_.avail_out = (uInt)in_.size();
            int r = inflate(&z_, Z_NO_FLUSH);
            size_t out = in_.size() - z_.avail_out;
            crc_ = crc32(crc_, in_.data(), (uInt)out);
            Produced(out);
            if (r == Z_STREAM_END) {
                // What follows the stream is not part of the entry.
                got -= z_.avail_in;
                z_.avail_in = 0;
                Finish(true);
                break;
            }
            if (r != Z_OK && !(r == Z_BUF_ERROR && z_.avail_in == 0))
                throw BuildError(Where() + " is damaged: its deflate data is invalid");
            if (z_.avail_in == 0 && z_.avail_out > 0)
                break;
        }
        if (file_ && remaining_ == 0)
            throw BuildError(Where() + " is damaged: its deflate data is cut short");
        return got;
    }
    uint32_t CopiedCrc() const override { return (uint32_t)crc_; }

    size_t Read(uint8_t *buffer, size_t n) override
    {
        if (!file_)
            return 0;
        // The stream ended with the last bytes handed out: the file, the
        // inflate state and the buffer go now, not when the build ends.
        if (ended_) {
            Finish(true);
            return 0;
        }
        if (info_.Method == MethodStored) {
            size_t got = Fill(buffer, (size_t)std::min<uint64_t>(n, remaining_));
            if (got == 0)
                Finish(remaining_ == 0);
            return Produced(got);
        }
        z_.next_out = buffer;
        z_.avail_out = (uInt)n;
        while (z_.avail_out > 0) {
            if (z_.avail_in == 0 && remaining_ > 0) {
                size_t got = Fill(in_.data(), (size_t)std::min<uint64_t>(in_.size(), remaining_));
                if (got == 0)
                    break;
                z_.next_in = in_.data();
                z_.avail_in = (uInt)got;
            }
            int r = inflate(&z_, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                // Bytes after the stream are no damage to a repack, which
                // takes what the stream holds; a finished file has none.
                if (exact_ && (z_.avail_in != 0 || remaining_ != 0))
                    throw BuildError(Where() + " is damaged: bytes of its data follow the end of its deflate stream");
                ended_ = true;
                break;
            }
            if (r != Z_OK)
                throw BuildError(Where() + " is damaged: its deflate data is invalid");
            if (z_.avail_in == 0 && remaining_ == 0 && z_.avail_out > 0)
                throw BuildError(Where() + " is damaged: its deflate data is cut short");
        }
        size_t got = n - z_.avail_out;
        if (ended_ && got == 0)
            Finish(true);
        return Produced(got);
    }

private:
    std::string Where() const { return "entry \"" + name_ + "\" of \"" + path_ + "\""; }

    // Stops at the first byte past the declared size: a small hostile entry
    // may inflate to gigabytes, and none of them is worth writing.
    size_t Produced(size_t got)
    {
        produced_ += got;
        if (produced_ > info_.Size)
            throw BuildError(Where() + " is damaged: it is longer than its declared " + std::to_string(info_.Size) +
                             " bytes");
        return got;
    }

    size_t Fill(uint8_t *buffer, size_t n)
    {
        size_t got = n ? fread(buffer, 1, n, file_) : 0;
        if (got < n)
            throw BuildError(Where() + " is damaged: its data is cut short");
        remaining_ -= got;
        if (aes_) {
            for (size_t i = 0; i < got; i += 1 << 30)
                AesDecrypt(stream_, buffer + i, (uint32_t)std::min<size_t>(got - i, 1 << 30));
        } else if (encrypted_) {
            Locked held(EncryptionKeysLock());
            memcpy(saved_, EncryptionKeys, sizeof saved_);
            memcpy(EncryptionKeys, keys_, sizeof keys_);
            for (size_t i = 0; i < got; i += 1 << 30)
                DecryptBlock(buffer + i, (int32_t)std::min<size_t>(got - i, 1 << 30));
            memcpy(keys_, EncryptionKeys, sizeof keys_);
            memcpy(EncryptionKeys, saved_, sizeof saved_);
        }
        return got;
    }
    void Finish(bool complete)
    {
        if (!complete)
            throw BuildError(Where() + " is damaged: its data is cut short");
        if (produced_ != info_.Size)
            throw BuildError(Where() + " is damaged: it is shorter than its declared " + std::to_string(info_.Size) +
                             " bytes");
        if (aes_)
            Authenticate();
        Close();
        ended_ = true;
    }
    // The code covers all of the data, also what follows the end of the
    // deflate stream; nothing of an entry whose code fails is sound.
    void Authenticate()
    {
        uint8_t rest[4096];
        while (remaining_ > 0)
            Fill(rest, (size_t)std::min<uint64_t>(sizeof rest, remaining_));
        uint8_t stored[AesCodeSize], code[Sha1Size];
        if (fread(stored, 1, AesCodeSize, file_) != AesCodeSize)
            throw BuildError(Where() + " is damaged: its authentication code is cut short");
        if (!AesFinish(stream_, code))
            throw BuildError("the system's cryptography failed (HMAC-SHA1)");
        if (memcmp(code, stored, AesCodeSize) != 0)
            throw BuildError(Where() + " is damaged or was changed: its AES authentication code does not match");
    }
    void Close()
    {
        AesEnd(stream_);
        if (inflating_)
            inflateEnd(&z_);
        inflating_ = false;
        if (file_)
            fclose(file_);
        file_ = nullptr;
        std::vector<uint8_t>().swap(in_);
    }

    std::string path_;
    ZipEntryInfo info_;
    std::string name_;
    const std::string *password_;
    bool exact_;
    std::vector<uint8_t> in_;
    FILE *file_ = nullptr;
    uint64_t remaining_ = 0, produced_ = 0;
    bool encrypted_ = false, inflating_ = false, ended_ = false, copying_ = false;
    uLong crc_ = 0;
    z_stream z_;
    uint32_t keys_[3] = {0, 0, 0}, saved_[3] = {0, 0, 0};
    uint8_t aes_ = 0;           // the AES field's version, 0 for none
    AesStream stream_ = {};
};

}  // namespace

void ReadEntryThrough(const std::string &path, const ZipEntryInfo &info, const std::string &name,
                      const std::string *password)
{
    ZipSource source(path, info, name, password, true);
    source.Rewind();
    std::vector<uint8_t> buffer(1 << 16);
    uLong crc = crc32(0, nullptr, 0);
    while (size_t n = source.Read(buffer.data(), buffer.size()))
        crc = crc32(crc, buffer.data(), (uInt)n);
    // AE-2 stores no CRC: its code, checked by the read, stands in for it.
    uint16_t method = 0;
    if (AesVersionOf(info, method) != 2 && crc != info.Crc)
        throw BuildError("entry \"" + name + "\" of \"" + path + "\" is damaged: its CRC-32 does not match");
}

// The local header that the entry's data follows: a ZIP64 field there (as
// Python writes with force_zip64) is refused like one in the directory.
static void CheckLocalHeader(FILE *f, const std::string &path, const ZipEntryInfo &z)
{
    const std::string entry = "entry \"" + z.RawName + "\" of \"" + path + "\"";
    uint8_t h[LocalHeaderSize];
    if (!ReadAt(f, z.LocalOffset, h, sizeof h) || Get32(h) != LocalHeaderSignature)
        throw BuildError(entry + " is damaged: no local header where the directory says");
    std::vector<uint8_t> extra(Get16(h + 28));
    bool zip64 = Get32(h + 18) == 0xFFFFFFFF || Get32(h + 22) == 0xFFFFFFFF;
    if (!extra.empty() && fseeko(f, Get16(h + 26), SEEK_CUR) == 0 &&
        fread(extra.data(), 1, extra.size(), f) == extra.size())
        for (size_t x = 0; x + 4 <= extra.size(); x += 4 + Get16(&extra[x + 2]))
            zip64 = zip64 || Get16(&extra[x]) == 0x0001;
    if (zip64)
        throw BuildError(entry + " uses ZIP64, which is not supported");
}

// Two directory entries whose local headers and data share bytes: one small
// deflated entry named a hundred times inflates a hundred times (a 70 KB
// archive that makes gigabytes).  Each entry's bytes run from its local
// header to the end of its data; sorted by their start, each must begin at or
// after the end of the one before (as Info-ZIP's unzip and CPython check).
static void CheckNoOverlap(FILE *f, const std::string &path, const std::vector<ZipEntryInfo> &infos)
{
    struct Span {
        uint64_t Begin, End;
        const ZipEntryInfo *Entry;
    };
    std::vector<Span> spans;
    spans.reserve(infos.size());
    for (const ZipEntryInfo &z : infos) {
        uint8_t h[LocalHeaderSize];
        if (!ReadAt(f, z.LocalOffset, h, sizeof h))
            continue;   // CheckLocalHeader names it
        spans.push_back({z.LocalOffset, z.LocalOffset + LocalHeaderSize + Get16(h + 26) + Get16(h + 28) + z.Compressed, &z});
    }
    // Stable: of entries that begin alike, the ones the directory names first are named.
    std::stable_sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.Begin < b.Begin; });
    for (size_t i = 1; i < spans.size(); i++)
        if (spans[i].Begin < spans[i - 1].End)
            throw BuildError("entries \"" + spans[i - 1].Entry->RawName + "\" and \"" + spans[i].Entry->RawName +
                             "\" of \"" + path + "\" share their bytes (the second begins at " +
                             std::to_string(spans[i].Begin) + ", inside the first, which ends at " +
                             std::to_string(spans[i - 1].End) + "); an archive whose entries overlap is refused");
}

// macOS's own entries: the __MACOSX/ folder of resource forks and ._name
// AppleDouble files (Finder data and extended attributes) beside the files.
static bool IsMacMetadata(const std::string &name)
{
    size_t last = name.find_last_of('/', name.size() - (!name.empty() && name.back() == '/') - 1);
    last = last == std::string::npos ? 0 : last + 1;
    return name.compare(0, 9, "__MACOSX/") == 0 || name == "__MACOSX" || name.compare(last, 2, "._") == 0;
}

void CollectZip(const std::string &path, std::vector<Entry> &entries, bool useEpoch, int64_t epoch,
                const std::string *password, bool keepMacMetadata,
                const std::function<void(const std::string &)> &note, ZipKept &kept)
{
    FILE *f = OpenInput(path);
    std::unique_ptr<FILE, int (*)(FILE *)> closer(f, fclose);
    std::vector<ZipEntryInfo> infos = ReadCentralDirectory(f, path, nullptr, &kept.Comment);
    CheckNoOverlap(f, path, infos);
    kept.HasSettings = ReadSettingsBlock(f, kept.Settings);
    std::vector<std::string> folders;
    size_t firstNew = entries.size(), metadata = 0;
    for (const ZipEntryInfo &z : infos) {
        CheckLocalHeader(f, path, z);
        std::string name;
        if (!EntryNameUtf8(z, name))
            throw BuildError("entry \"" + z.RawName + "\" of \"" + path +
                             "\": its name is neither UTF-8 nor code page 949");
        for (char &c : name)
            if (c == '\\')
                c = '/';   // written by some Windows tools
        if (!keepMacMetadata && IsMacMetadata(name)) {
            metadata++;
            continue;
        }
        std::string composed = ComposedName(name);
        if (composed != name)
            note("entry \"" + name + "\" of \"" + path + "\" stored as \"" + composed + "\": its Hangul composed");
        name = composed;
        const std::string where = "entry \"" + name + "\" of \"" + path + "\"";
        // Method 99 is AES (WinZip's AES-256 over stored or deflated data
        // is read), flag bit 6 strong encryption.
        uint16_t aesMethod = 0;
        uint8_t aes = AesVersionOf(z, aesMethod);
        if ((z.Method == AesMethod && !aes) || (z.Flags & 0x0040))
            throw BuildError(where + " uses an encryption the self-extracting file cannot open "
                                     "(only WinZip's AES-256 over stored or deflated data and the traditional "
                                     "ZIP encryption are supported)");
        if (z.Method != MethodStored && z.Method != MethodDeflated && !aes)
            throw BuildError(where + " uses compression method " + std::to_string(z.Method) + " (" +
                             MethodName(z.Method) + "); only stored (0) and deflated (8) are supported");
        if ((z.Flags & EncryptedFlag) && !password)
            throw BuildError(where + " is encrypted: give its password with --password");
        // A Unix symbolic link stores its target as the data: extracted on
        // Windows it would become a small text file holding a path.
        if ((z.MadeBy >> 8) == 3 && ((z.External >> 16) & 0170000) == 0120000)
            throw BuildError(where + " is a symbolic link, which the self-extracting file cannot create; "
                                     "refused");
        if (z.CommentLength)
            note("the comment of entry \"" + name + "\" dropped: the self-extracting file keeps none");
        if (!name.empty() && name.back() == '/') {
            folders.push_back(name);
            continue;
        }
        Entry e;
        e.Utf8Name = name;
        e.Name = ArchiveName(name);
        // Keep the entry's own time unless a reproducible one is asked for.
        e.DosTime = z.Time;
        e.DosDate = z.Date;
        if (useEpoch)
            DosTime(epoch, true, e.DosTime, e.DosDate);
        e.Source.reset(new ZipSource(path, z, name, password));
        e.Source->Size = z.Size;
        e.Source->Crc = z.Crc;
        // AE-2 stores a CRC of 0: its code stands in for it.
        e.Source->CrcKnown = aes != 2;
        entries.push_back(std::move(e));
    }
    std::set<std::string> holding;   // every folder that holds a file, with its '/'
    for (size_t i = firstNew; i < entries.size(); i++) {
        std::string k = NameKey(entries[i].Utf8Name);
        for (size_t p = k.find('/'); p != std::string::npos; p = k.find('/', p + 1))
            holding.insert(k.substr(0, p + 1));
    }
    if (metadata)
        note(std::to_string(metadata) + " macOS metadata entr" + (metadata == 1 ? "y" : "ies") +
             " (__MACOSX/, ._*) of \"" + path + "\" left out; --keep-macos-metadata keeps them");
    for (const std::string &folder : folders) {
        if (!holding.count(NameKey(folder)))
            note("empty folder \"" + folder + "\" of \"" + path + "\" left out: the self-extracting file "
                 "creates only folders that hold files");
    }
}

}  // namespace mksfx
