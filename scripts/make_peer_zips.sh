#!/usr/bin/env bash
# Makes ZIP archives with other programs (Info-ZIP zip, 7-Zip) from one
# small tree, so the extractor is tested against archives it did not write.
# Usage: make_peer_zips.sh OUTDIR.  The tree is left in OUTDIR/src for the
# tests to compare with; a missing program is skipped, not an error.
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/src/data/sub"
cd "$out/src"
printf 'hello from a peer archive\r\n' > hello.txt
: > empty.txt
# Compressible text and bytes that do not compress, both over 32 KiB so
# the decoders cross their buffer boundaries.
for i in $(seq 1 3000); do echo "line $i of a text that repeats itself"; done > data/sub/repeat.txt
python3 -c 'import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(100000)))' > data/random.bin
files="hello.txt empty.txt data"
if command -v zip >/dev/null; then
  zip -q -r -X ../infozip.zip $files
  zip -q -r -X -0 ../infozip_stored.zip $files
  zip -q -r -X -P secret ../infozip_crypt.zip $files
fi
if command -v 7z >/dev/null; then
  7z a -bd -tzip ../7z.zip $files >/dev/null
  7z a -bd -tzip -mx=0 ../7z_stored.zip $files >/dev/null
  7z a -bd -tzip -psecret -mem=ZipCrypto ../7z_crypt.zip $files >/dev/null
fi
# WinZip AES-256, as 7-Zip writes it (ASCII passwords only) and as libarchive
# does, with a Korean password in code page 949.  libarchive puts sizes and
# CRC in data descriptors only, which the stub never reads: they are moved
# into the local headers (the directory is left as it was; the walk reads
# only its first signature).
if command -v 7zz >/dev/null; then
  7zz a -bd -tzip -mem=AES256 -psecret ../7z_aes.zip $files >/dev/null
  7zz a -bd -tzip -mx=0 -mem=AES256 -psecret ../7z_aes_stored.zip $files >/dev/null
fi
if command -v bsdtar >/dev/null; then
  bsdtar --format zip --options zip:encryption=aes256 \
         --passphrase "$(printf %s '비밀번호' | iconv -t CP949)" -cf ../bsdtar_aes_streamed.zip $files
  python3 - ../bsdtar_aes_streamed.zip ../bsdtar_aes.zip <<'PY'
import struct, sys, zipfile
raw = open(sys.argv[1], 'rb').read()
out = bytearray()
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    n, x = struct.unpack_from('<HH', raw, i.header_offset + 26)
    header = bytearray(raw[i.header_offset:i.header_offset + 30 + n + x])
    struct.pack_into('<H', header, 6, struct.unpack_from('<H', header, 6)[0] & ~8)
    struct.pack_into('<III', header, 14, i.CRC, i.compress_size, i.file_size)
    start = i.header_offset + 30 + n + x
    out += header + raw[start:start + i.compress_size]
end = raw.rfind(b'PK\x05\x06')
out += raw[struct.unpack_from('<I', raw, end + 16)[0]:]
open(sys.argv[2], 'wb').write(out)
PY
fi
touch ../stamp
