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
touch ../stamp
