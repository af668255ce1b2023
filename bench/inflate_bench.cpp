// Our inflate and CRC-32 against zlib and libdeflate, on the same raw
// deflate streams, in one run:
//
//   inflate_bench DATA_DIR [benchmark flags]
//       every *.deflate stream in DATA_DIR (made by scripts/bench.sh), MB/s
//       of output for each decoder, then a table of the ratios ours/zlib.
//   inflate_bench --once DECODER FILE
//       decodes FILE once with DECODER (ours, ours-nocrc, zlib, zlib-crc,
//       libdeflate, libdeflate-crc) and prints the output size; for counting
//       instructions under callgrind with --toggle-collect=Decode_*.
//
// Our decoder runs over an in-memory archive and a target file that takes
// everything (bench/MemoryFile.cpp); zlib and libdeflate inflate into one
// buffer of the whole output, their fastest use.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <libdeflate.h>
#include <stdio.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "MemoryFile.h"
#include "common/FileIO.h"
#include "common/Memory.h"
#include "decode/CrcCrypt.h"
#include "decode/SFXinflt.h"

// The program's routine, renamed in this build (bench/CMakeLists.txt), and
// the switch that leaves it out to time the decoder alone.
void ProgramUpdateCrcOverBlock(const uint8_t *bytes, int32_t count, uint32_t &crc);
static bool CrcEnabled = true;

void UpdateCrcOverBlock(const uint8_t *bytes, int32_t count, uint32_t &crc)
{
    if (CrcEnabled)
        ProgramUpdateCrcOverBlock(bytes, count, crc);
}

namespace {

typedef std::vector<uint8_t> Bytes;

struct Stream {
    std::string name;
    Bytes compressed;
    size_t size;
    uint32_t crc;
};

libdeflate_decompressor *Libdeflate()
{
    static libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    return d;
}

}  // namespace

// One decode each; extern "C" so that callgrind can name them.
extern "C" {

__attribute__((noinline)) uint32_t Decode_ours(const Bytes &in, bool crc)
{
    MemoryArchive = in.data();
    MemoryArchiveSize = in.size();
    CrcEnabled = crc;
    ArchiveFile = FileOpenRead("archive");
    OutputFile = FileCreate("output");
    LocalHeader = LocalFileHeader();
    uint32_t result = InflateStream((int32_t)in.size());
    CrcEnabled = true;
    return result;
}

__attribute__((noinline)) uint32_t Decode_zlib(const Bytes &in, Bytes &out, bool crc)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t *>(in.data());
    z.avail_in = (uInt)in.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    inflate(&z, Z_FINISH);
    size_t n = z.total_out;
    inflateEnd(&z);
    return crc ? (uint32_t)crc32(0, out.data(), (uInt)n) : (uint32_t)n;
}

__attribute__((noinline)) uint32_t Decode_libdeflate(const Bytes &in, Bytes &out, bool crc)
{
    size_t n = 0;
    libdeflate_deflate_decompress(Libdeflate(), in.data(), in.size(), out.data(), out.size(), &n);
    return crc ? libdeflate_crc32(0, out.data(), n) : (uint32_t)n;
}
}

namespace {

enum Decoder { Ours, OursNoCrc, Zlib, ZlibCrc, LibdeflateAlone, LibdeflateCrc, DecoderCount };
const char *const DecoderNames[] = {"ours", "ours-nocrc", "zlib", "zlib-crc", "libdeflate", "libdeflate-crc"};

uint32_t DecodeOnce(Decoder d, const Bytes &in, Bytes &out)
{
    switch (d) {
    case Ours: return Decode_ours(in, true);
    case OursNoCrc: return Decode_ours(in, false);
    case Zlib: return Decode_zlib(in, out, false);
    case ZlibCrc: return Decode_zlib(in, out, true);
    case LibdeflateAlone: return Decode_libdeflate(in, out, false);
    default: return Decode_libdeflate(in, out, true);
    }
}

void Run(benchmark::State &state, const Stream *s, Decoder d)
{
    Bytes out(s->size + 64);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeOnce(d, s->compressed, out));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s->size);
}

// Keeps MB/s per run for the table of ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end())
                continue;
            // With repetitions, the median stands for the run.
            if (r.run_type == Run::RT_Iteration && !medians.count(r.run_name.str()))
                rates[r.run_name.str()] = it->second / 1e6;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                rates[r.run_name.str()] = it->second / 1e6;
                medians[r.run_name.str()] = true;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
    std::map<std::string, bool> medians;
};

}  // namespace

int main(int argc, char **argv)
{
    EnsureCrcTable();

    if (argc == 4 && std::string(argv[1]) == "--once") {
        Bytes in = FileBytes(argv[3]);
        for (int d = 0; d < DecoderCount; d++) {
            if (argv[2] != std::string(DecoderNames[d]))
                continue;
            // The output size comes from a first, uncounted zlib pass.
            z_stream z = {};
            inflateInit2(&z, -15);
            Bytes probe(1 << 16);
            z.next_in = in.data();
            z.avail_in = (uInt)in.size();
            size_t total = 0;
            int rc;
            do {
                z.next_out = probe.data();
                z.avail_out = (uInt)probe.size();
                rc = inflate(&z, Z_NO_FLUSH);
                total += probe.size() - z.avail_out;
            } while (rc == Z_OK);
            inflateEnd(&z);
            Bytes out(total + 64);
            DecodeOnce((Decoder)d, in, out);
            printf("%zu\n", total);
            return 0;
        }
        fprintf(stderr, "unknown decoder %s\n", argv[2]);
        return 2;
    }
    if (argc < 2) {
        fprintf(stderr, "usage: %s DATA_DIR [benchmark flags] | --once DECODER FILE\n", argv[0]);
        return 2;
    }

    std::string dir = argv[1];
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 8 && n.compare(n.size() - 8, 8, ".deflate") == 0)
                names.push_back(n.substr(0, n.size() - 8));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<Stream> streams;
    for (const std::string &n : names) {
        Stream s;
        s.name = n;
        s.compressed = FileBytes(dir + "/" + n + ".deflate");
        // zlib is the reference: the size, and our output must match its CRC.
        z_stream z = {};
        inflateInit2(&z, -15);
        Bytes probe(1 << 16);
        z.next_in = s.compressed.data();
        z.avail_in = (uInt)s.compressed.size();
        uint32_t crc = (uint32_t)crc32(0, 0, 0);
        size_t total = 0;
        int rc;
        do {
            z.next_out = probe.data();
            z.avail_out = (uInt)probe.size();
            rc = inflate(&z, Z_NO_FLUSH);
            crc = (uint32_t)crc32(crc, probe.data(), (uInt)(probe.size() - z.avail_out));
            total += probe.size() - z.avail_out;
        } while (rc == Z_OK);
        inflateEnd(&z);
        s.size = total;
        s.crc = crc;
        if (rc != Z_STREAM_END || Decode_ours(s.compressed, true) != crc) {
            fprintf(stderr, "%s: our output differs from zlib's\n", n.c_str());
            return 1;
        }
        streams.push_back(s);
    }
    if (streams.empty()) {
        fprintf(stderr, "no *.deflate streams in %s (scripts/bench.sh makes them)\n", dir.c_str());
        return 2;
    }
    for (const Stream &s : streams)
        for (int d = 0; d < DecoderCount; d++)
            benchmark::RegisterBenchmark((s.name + "/" + DecoderNames[d]).c_str(), Run, &s, (Decoder)d)
                ->Unit(benchmark::kMillisecond);

    argv[1] = argv[0];
    argc--;
    argv++;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\n%-12s %9s %10s %9s %6s | %9s %10s %9s %6s | %8s %9s\n", "MB/s of output", "inflate", "zlib",
           "ratio", "", "+CRC-32", "zlib+crc", "ratio", "", "libdefl.", "+crc32");
    for (const Stream &s : streams) {
        auto rate = [&](Decoder d) { return reporter.rates[s.name + "/" + DecoderNames[d]]; };
        double ours = rate(OursNoCrc), zlib = rate(Zlib), oursCrc = rate(Ours), zlibCrc = rate(ZlibCrc);
        printf("%-14s %9.0f %10.0f %9.2f %6s | %9.0f %10.0f %9.2f %6s | %8.0f %9.0f\n", s.name.c_str(), ours, zlib,
               zlib > 0 ? ours / zlib : 0, "", oursCrc, zlibCrc, zlibCrc > 0 ? oursCrc / zlibCrc : 0, "",
               rate(LibdeflateAlone), rate(LibdeflateCrc));
    }
    return 0;
}
