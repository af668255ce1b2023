#!/usr/bin/env python3
"""Writes the stub's icon group: 16x16 and 32x32 images, 16 colours each,
each stored as a PNG (which every Windows since Vista reads in an icon
resource of any size).  The stub's image budget is tight: as PNGs of the
colours they use, the pair costs about 320 bytes, where the bitmaps with
their masks cost 1,040.  The picture is drawn here from a few rectangles,
so it can be regenerated exactly:
    python3 scripts/make_icon.py src/resources/sfx.ico
"""
import struct, sys, zlib

# The 16-colour VGA palette (B, G, R, 0).
PALETTE = [(0,0,0),(0,0,128),(0,128,0),(0,128,128),(128,0,0),(128,0,128),(128,128,0),(192,192,192),
           (128,128,128),(0,0,255),(0,255,0),(0,255,255),(255,0,0),(255,0,255),(255,255,0),(255,255,255)]
# Indices: 0 black, 8 dark grey, 7 light grey, 15 white, 14 yellow, 6 olive, 12 red, 4 navy.

def picture(n):
    """A yellow folder with a zip (a grey stripe with teeth) and a red arrow."""
    s = n / 16.0
    px = [[None] * n for _ in range(n)]   # None = transparent
    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = c
    rect(1, 3, 7, 5, 6)        # tab
    rect(1, 4, 15, 14, 6)      # folder outline
    rect(2, 5, 14, 13, 14)     # folder body
    rect(7, 5, 9, 13, 8)       # zip stripe
    for t in range(5, 13, 2):
        rect(6, t, 7, t + 1, 0)
        rect(9, t + 1, 10, t + 2, 0)
    rect(11, 9, 14, 16, 12)    # arrow shaft
    rect(10, 13, 15, 14, 12)
    return px

def image(n):
    px = picture(n)
    rows_xor, rows_and = [], []
    for y in reversed(range(n)):          # bottom-up
        row = px[y]
        xor = bytearray()
        for x in range(0, n, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            xor.append((a << 4) | b)
        rows_xor.append(bytes(xor))
        bits = 0
        mask = bytearray()
        for x in range(n):
            bits = (bits << 1) | (1 if row[x] is None else 0)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        while len(mask) % 4:
            mask.append(0)
        rows_and.append(bytes(mask))
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + pal + b''.join(rows_xor) + b''.join(rows_and)

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

def png(n):
    """The picture as a paletted PNG: index 0 transparent, then the colours
    it uses, four bits a pixel."""
    px = picture(n)
    used = sorted({c for row in px for c in row if c is not None})
    index = {c: i + 1 for i, c in enumerate(used)}
    raw = bytearray()
    for row in px:
        raw.append(0)                     # no filter
        for x in range(0, n, 2):
            a, b = (index.get(c, 0) for c in row[x:x + 2])
            raw.append((a << 4) | b)
    plte = bytes([0, 0, 0]) + b''.join(bytes(PALETTE[c]) for c in used)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 4, 3, 0, 0, 0)) +
            chunk(b'PLTE', plte) + chunk(b'tRNS', b'\x00') +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))

def main(path):
    imgs = [(16, png(16)), (32, png(32))]
    out = struct.pack('<HHH', 0, 1, len(imgs))
    offset = 6 + 16 * len(imgs)
    for n, data in imgs:
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(d for _, d in imgs)
    open(path, 'wb').write(out)

if __name__ == '__main__':
    main(sys.argv[1])
