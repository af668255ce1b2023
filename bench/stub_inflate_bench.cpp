// Inflate + CRC-32 as the stub builds them (i686, its own flags and objects)
// against zlib's inflate + crc32, side by side in one run:
//
//   stub_inflate_bench DATA_DIR [RUNS]
//       every *.deflate stream in DATA_DIR and the small streams of
//       small.streams (made by scripts/bench.sh); each decoder takes every
//       kind in turn, RUNS rounds (default 7), the best time of each group
//       of streams counted.
//   stub_inflate_bench --once DECODER FILE
//       decodes FILE once (a .deflate stream, or every stream of a .streams
//       file) with DECODER (ours, zlib) and prints the output size; for
//       counting instructions under callgrind with --toggle-collect=Decode_*.
//
// Built for Windows against libsfxwin.a (run under Wine) and, for the
// instruction counts, with gcc -m32 and the stub's flags on Linux.  Our
// decoder reads an in-memory archive and writes to a target file that takes
// everything (bench/MemoryFile.cpp); zlib inflates into one buffer of the
// whole output and crc32 runs over it, its fastest use.  Each small stream
// is a separate entry for both: Inflate for ours, inflateInit2, inflate and
// inflateEnd for zlib.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <time.h>
#endif

#include "FileBytes.h"
#include "MemoryFile.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "common/SFXgbls.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

typedef std::vector<uint8_t> Bytes;

namespace {

struct Kind {
    std::string name;
    std::vector<Bytes> streams;
    std::vector<size_t> sizes;      // output size of each stream
    std::vector<uint32_t> crcs;     // zlib's CRC-32 of each
    size_t total;
    Bytes out;                      // zlib's output buffer
};

double Now()
{
#ifdef _WIN32
    static LARGE_INTEGER f;
    if (!f.QuadPart)
        QueryPerformanceFrequency(&f);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
#else
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
#endif
}

// A .streams file: each stream as a 4-byte little-endian length and its
// bytes.  Anything else is one stream.
std::vector<Bytes> Streams(const std::string &path)
{
    Bytes all = FileBytes(path);
    std::vector<Bytes> streams;
    if (path.size() < 8 || path.compare(path.size() - 8, 8, ".streams") != 0) {
        streams.push_back(all);
        return streams;
    }
    for (size_t p = 0; p + 4 <= all.size();) {
        size_t n = all[p] | all[p + 1] << 8 | all[p + 2] << 16 | (size_t)all[p + 3] << 24;
        p += 4;
        if (n > all.size() - p)
            break;
        streams.push_back(Bytes(all.begin() + p, all.begin() + p + n));
        p += n;
    }
    return streams;
}

// zlib's size and CRC of a stream; false when it is not one whole stream.
bool Reference(const Bytes &in, size_t &size, uint32_t &crc)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    inflateInit2(&z, -15);
    static uint8_t probe[1 << 16];
    z.next_in = const_cast<uint8_t *>(in.data());
    z.avail_in = (uInt)in.size();
    crc = (uint32_t)crc32(0, 0, 0);
    size = 0;
    int rc;
    do {
        z.next_out = probe;
        z.avail_out = sizeof probe;
        rc = inflate(&z, Z_NO_FLUSH);
        crc = (uint32_t)crc32(crc, probe, (uInt)(sizeof probe - z.avail_out));
        size += sizeof probe - z.avail_out;
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

// One decode each; extern "C" so that callgrind can name them.
extern "C" {

__attribute__((noinline)) uint32_t Decode_ours(const Bytes &in)
{
    MemoryArchive = in.data();
    MemoryArchiveSize = in.size();
    ArchiveFile = FileOpenRead("archive");
    OutputFile = FileCreate("output");
    LocalHeader = LocalFileHeader();
    uint32_t crc = InflateStream((int32_t)in.size());
    return crc;
}

__attribute__((noinline)) uint32_t Decode_zlib(const Bytes &in, uint8_t *out, size_t size)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t *>(in.data());
    z.avail_in = (uInt)in.size();
    z.next_out = out;
    z.avail_out = (uInt)size;
    inflate(&z, Z_FINISH);
    size_t n = z.total_out;
    inflateEnd(&z);
    return (uint32_t)crc32(0, out, (uInt)n);
}
}

// Reads the streams of a kind with zlib's sizes and CRCs; when verify is
// set, ours must give the same CRCs.
static bool LoadKind(Kind &k, const std::string &path, bool verify)
{
    k.streams = Streams(path);
    k.total = 0;
    size_t largest = 0;
    for (const Bytes &s : k.streams) {
        size_t size;
        uint32_t crc;
        if (!Reference(s, size, crc) || (verify && Decode_ours(s) != crc)) {
            fprintf(stderr, "%s: a stream that zlib and ours do not decode alike\n", path.c_str());
            return false;
        }
        k.sizes.push_back(size);
        k.crcs.push_back(crc);
        k.total += size;
        largest = std::max(largest, size);
    }
    k.out.resize(largest + 64);
    return !k.streams.empty();
}

// Streams are timed in groups of about 10 ms (500 small streams, or one
// large one), so that a busy spell of the shared machine spoils one group of
// a round rather than the whole kind.
enum { GroupSize = 500 };

// Seconds for each group of one pass over every stream of the kind.
static std::vector<double> Pass(Kind &k, bool ours)
{
    std::vector<double> times;
    uint32_t sum = 0;
    for (size_t g = 0; g < k.streams.size(); g += GroupSize) {
        double start = Now();
        for (size_t i = g; i < k.streams.size() && i < g + GroupSize; i++)
            sum ^= ours ? Decode_ours(k.streams[i]) : Decode_zlib(k.streams[i], k.out.data(), k.sizes[i]);
        times.push_back(Now() - start);
    }
    uint32_t expected = 0;
    for (uint32_t c : k.crcs)
        expected ^= c;
    if (sum != expected)
        fprintf(stderr, "%s: wrong CRC in a timed pass\n", k.name.c_str());
    return times;
}

int main(int argc, char **argv)
{
    EnsureCrcTable();

    if (argc == 4 && !strcmp(argv[1], "--once")) {
        bool ours = !strcmp(argv[2], "ours");
        if (!ours && strcmp(argv[2], "zlib")) {
            fprintf(stderr, "unknown decoder %s\n", argv[2]);
            return 2;
        }
        Kind k;
        if (!LoadKind(k, argv[3], false))
            return 1;
        for (size_t i = 0; i < k.streams.size(); i++)
            ours ? Decode_ours(k.streams[i]) : Decode_zlib(k.streams[i], k.out.data(), k.sizes[i]);
        printf("%lu\n", (unsigned long)k.total);
        return 0;
    }
    if (argc < 2) {
        fprintf(stderr, "usage: %s DATA_DIR [RUNS] | --once ours|zlib FILE\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int runs = argc > 2 ? atoi(argv[2]) : 7;
    if (runs < 1)
        runs = 1;

    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            names.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    const char *sep = "\\";
#else
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            names.push_back(e->d_name);
        closedir(d);
    }
    const char *sep = "/";
#endif
    std::sort(names.begin(), names.end());
    std::vector<Kind> kinds;
    for (const std::string &n : names) {
        size_t dot = n.rfind('.');
        if (dot == std::string::npos || (n.substr(dot) != ".deflate" && n.substr(dot) != ".streams"))
            continue;
        Kind k;
        k.name = n.substr(0, dot);
        if (!LoadKind(k, dir + sep + n, true))
            return 1;
        kinds.push_back(k);
    }
    if (kinds.empty()) {
        fprintf(stderr, "no *.deflate or *.streams in %s (scripts/bench.sh makes them)\n", dir.c_str());
        return 2;
    }

    // Rounds rather than one decoder after the other, so that a busy spell
    // of the machine hits both alike; each group's best time counts.
    std::vector<std::vector<double> > groups(2 * kinds.size());
    for (int r = 0; r < runs; r++)
        for (size_t i = 0; i < kinds.size(); i++)
            for (int d = 0; d < 2; d++) {
                std::vector<double> t = Pass(kinds[i], d == 0);
                std::vector<double> &g = groups[2 * i + d];
                if (g.empty())
                    g = t;
                for (size_t j = 0; j < t.size(); j++)
                    g[j] = std::min(g[j], t[j]);
            }
    std::vector<double> best(2 * kinds.size(), 0);
    for (size_t i = 0; i < best.size(); i++)
        for (double t : groups[i])
            best[i] += t;

    // The CRC alone, over 32 KiB portions as the window flush gives them.
    Bytes block(8 << 20);
    for (size_t i = 0; i < block.size(); i++)
        block[i] = (uint8_t)(i * 2654435761u >> 13);
    double crcBest[2] = {1e30, 1e30};
    for (int r = 0; r < runs; r++)
        for (int d = 0; d < 2; d++) {
            double start = Now();
            uint32_t c = d ? (uint32_t)crc32(0, 0, 0) : 0xFFFFFFFF;
            for (size_t p = 0; p < block.size(); p += 32768) {
                if (d)
                    c = (uint32_t)crc32(c, block.data() + p, 32768);
                else
                    UpdateCrcOverBlock(block.data() + p, 32768, c);
            }
            crcBest[d] = std::min(crcBest[d], Now() - start);
            if (d == 0 && (c ^ 0xFFFFFFFF) != (uint32_t)crc32(0, block.data(), (uInt)block.size()))
                fprintf(stderr, "CRC-32 differs from zlib's\n");
        }

    printf("best of %d rounds (per group of streams), MB/s (10^6 bytes) of output\n", runs);
    printf("%-12s %8s %10s %12s %10s %7s\n", "kind", "streams", "MB", "ours + CRC", "zlib+crc32", "ratio");
    for (size_t i = 0; i < kinds.size(); i++) {
        double mb = kinds[i].total / 1e6;
        double ours = mb / best[2 * i], zlib = mb / best[2 * i + 1];
        printf("%-12s %8lu %10.1f %12.0f %10.0f %7.2f\n", kinds[i].name.c_str(),
               (unsigned long)kinds[i].streams.size(), mb, ours, zlib, ours / zlib);
    }
    double mb = block.size() / 1e6;
    printf("%-12s %8s %10.1f %12.0f %10.0f %7.2f\n", "(CRC alone)", "", mb, mb / crcBest[0], mb / crcBest[1],
           crcBest[1] / crcBest[0]);
    return 0;
}
