// A whole disk file as bytes: the benchmarks' inputs (the host benchmark
// and the i686 one built with the Windows tree) and the inflate fuzz
// target's output.
#ifndef SFX_BENCH_FILEBYTES_H
#define SFX_BENCH_FILEBYTES_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// Empty when the file cannot be opened.
inline std::vector<uint8_t> FileBytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

#endif
