// The benchmark's in-memory archive (see MemoryFile.cpp).
#ifndef SFX_BENCH_MEMORYFILE_H
#define SFX_BENCH_MEMORYFILE_H

#include <stddef.h>
#include <stdint.h>

extern const uint8_t *MemoryArchive;
extern size_t MemoryArchiveSize;

#endif
