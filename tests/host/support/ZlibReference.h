// zlib's inflate of a raw deflate stream: the reference the tests and the
// fuzzers hold the stub's decoder to, as other ZIP readers decode.
// Header-only, for the fuzz targets' own builds too.
#ifndef SFX_TEST_ZLIBREFERENCE_H
#define SFX_TEST_ZLIBREFERENCE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <zlib.h>

// What zlib made of a stream.
struct ZlibInflated {
    bool Complete = false;      // the stream ended (its final block, its end code)
    size_t Used = 0;            // input bytes up to its end (or all that were read)
    size_t Total = 0;           // bytes it decoded, all of them
    uint32_t Crc = 0;           // their CRC-32
    std::vector<uint8_t> Out;   // the first `limit` of them
};

inline ZlibInflated ZlibInflate(const uint8_t *data, size_t size, size_t limit = SIZE_MAX)
{
    ZlibInflated r;
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return r;
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = (uInt)size;
    static uint8_t chunk[1 << 16];
    r.Crc = (uint32_t)crc32(0, 0, 0);
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        size_t got = sizeof chunk - z.avail_out;
        r.Crc = (uint32_t)crc32(r.Crc, chunk, (uInt)got);
        if (r.Total < limit)
            r.Out.insert(r.Out.end(), chunk, chunk + (got < limit - r.Total ? got : limit - r.Total));
        r.Total += got;
    } while (rc == Z_OK);
    r.Complete = rc == Z_STREAM_END;
    r.Used = size - z.avail_in;
    inflateEnd(&z);
    return r;
}

#endif
