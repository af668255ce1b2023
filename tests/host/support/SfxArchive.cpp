#include "support/SfxArchive.h"

#include <zlib.h>

#include "archive/Settings.h"
#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"

void Put16(Bytes &b, uint16_t v)
{
    b.push_back((unsigned char)v);
    b.push_back((unsigned char)(v >> 8));
}

void Put32(Bytes &b, uint32_t v)
{
    Put16(b, (uint16_t)v);
    Put16(b, (uint16_t)(v >> 16));
}

Bytes ToBytes(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

uint32_t Crc32Of(const Bytes &data)
{
    return (uint32_t)crc32(0, data.data(), (uInt)data.size());
}

void PutRecord(Bytes &a, const Record &r)
{
    Put32(a, r.signature);
    Put16(a, 20);
    Put16(a, r.flags);
    Put16(a, r.method);
    Put16(a, r.time);
    Put16(a, r.date);
    Put32(a, r.crc);
    Put32(a, r.compressedSize < 0 ? (uint32_t)r.data.size() : (uint32_t)r.compressedSize);
    Put32(a, (uint32_t)r.data.size());
    Put16(a, (uint16_t)r.name.size());
    Put16(a, (uint16_t)r.extra.size());
    a.insert(a.end(), r.name.begin(), r.name.end());
    a.insert(a.end(), r.extra.begin(), r.extra.end());
    a.insert(a.end(), r.data.begin(), r.data.end());
}

void PutDescriptor(Bytes &a, uint32_t crc, uint32_t size)
{
    Put32(a, DescriptorSignature);
    Put32(a, crc);
    Put32(a, size);
    Put32(a, size);
}

void PutCentralDirectory(Bytes &a, const std::string &name)
{
    size_t start = a.size();
    Put32(a, CentralHeaderSignature);
    for (int i = 0; i < 6; i++)
        Put32(a, 0);
    Put16(a, (uint16_t)name.size());
    for (int i = 0; i < 4; i++)
        Put32(a, 0);
    a.insert(a.end(), name.begin(), name.end());
    Put32(a, EndRecordSignature);
    Put32(a, 0);
    Put16(a, 1);
    Put16(a, 1);
    Put32(a, (uint32_t)(a.size() - start - 12));
    Put32(a, (uint32_t)start);
    Put16(a, 0);
}

std::string WriteSelfExtractor(const ScratchFolder &scratch, const std::string &file, const Bytes &tail)
{
    Bytes all(ImageSize, 0x90);
    all.insert(all.end(), tail.begin(), tail.end());
    return scratch.Write(file, all);
}


std::vector<WalkedEntry> WalkSelfExtractor(const std::string &path,
                                           const std::function<void(const WalkedEntry &)> &work, size_t limit)
{
    std::vector<WalkedEntry> seen;
    EnsureCrcTable();
    bool ownGlobals = CaptionText == nullptr;
    if (ownGlobals)
        InitGlobals();
    ArchiveFile = FileOpenRead(path.c_str());
    if (ArchiveFile != NoFile) {
        ReadSettings();
        WalkArchive([&](int32_t position, const Text &name, const Text &stored, bool) {
            if (seen.size() >= limit)
                return false;
            WalkedEntry e;
            e.headerPosition = position;
            e.header = LocalHeader;
            e.remainingInput = RemainingInput;
            e.name.assign(stored.Data ? stored.Data : "", stored.Length);
            e.utf8Name.assign(name.Data ? name.Data : "", name.Length);
            seen.push_back(e);
            if (work)
                work(e);
            return true;
        });
        FileClose(ArchiveFile);
        ArchiveFile = NoFile;
    }
    if (ownGlobals)
        DoneGlobals();
    return seen;
}
