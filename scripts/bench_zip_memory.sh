#!/usr/bin/env bash
# Peak memory of the builder repacking a ZIP of many small entries.
#   bench_zip_memory.sh BUILD_ROOT [ENTRIES...]   (default 60000)
# The ZIP (entries of 20 bytes, 100 folders) is made once per count in
# BUILD_ROOT/bench-data; GNU time reports the builder's peak resident size.
set -euo pipefail
build=$(realpath -m "$1"); shift
counts=("${@:-60000}")
mksfx="${MKSFX:-$build/host/tools/mksfx}"
data="$build/bench-data"
mkdir -p "$data"
for n in "${counts[@]}"; do
  zip="$data/entries-$n.zip"
  [ -f "$zip" ] || python3 - "$zip" "$n" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(int(sys.argv[2])):
        z.writestr('d%02d/f%05d.txt' % (i % 100, i), 'entry %d of many\n' % i)
PY
  out="$data/entries-$n.exe"
  /usr/bin/time -f "$n entries: peak %M KiB, %e s" "$mksfx" -q -o "$out" --zip "$zip"
  rm -f "$out"
done
