#!/usr/bin/env bash
# Inflate and CRC-32 benchmark: ours against zlib and libdeflate.
#   bench.sh BUILD_ROOT [benchmark flags]
# Makes the raw deflate streams from files on this machine (deterministic:
# sorted paths, fixed amounts, zlib level 6) in BUILD_ROOT/bench-data, runs
# BUILD_ROOT/host/bench/inflate_bench on them, then counts instructions per
# output byte of each decoder under callgrind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "$1"); shift
data="$build/bench-data"
bench="$build/host/bench/inflate_bench"
[ -x "$bench" ] || cmake --build "$build/host" -j2 --target inflate_bench
mkdir -p "$data"

python3 - "$data" <<'PY'
import glob, os, sys, zlib
out = sys.argv[1]
LIMIT = 8 << 20
corpora = {
    # plain text: C headers and the licence texts of the installed packages
    "text": sorted(glob.glob("/usr/include/**/*.h", recursive=True)) + sorted(glob.glob("/usr/share/common-licenses/*")),
    # machine code and data: shared libraries
    "binary": sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")),
    # already compressed: gzip files of the documentation (mostly stored blocks)
    "compressed": sorted(glob.glob("/usr/share/doc/**/*.gz", recursive=True)),
}
for name, paths in corpora.items():
    data = bytearray(); used = 0
    for p in paths:
        if len(data) >= LIMIT:
            break
        if os.path.isfile(p) and not os.path.islink(p):
            with open(p, "rb") as f:
                data += f.read(LIMIT - len(data))
            used += 1
    c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
    stream = c.compress(bytes(data)) + c.flush()
    with open(os.path.join(out, name + ".deflate"), "wb") as f:
        f.write(stream)
    print(f"{name}: {used} files, {len(data)} bytes, deflated to {len(stream)} ({100*len(stream)/len(data):.1f}%)")
PY

"$bench" "$data" "$@"

if command -v valgrind >/dev/null; then
  echo
  echo "instructions per output byte (callgrind)"
  printf '%-12s' corpus
  decoders="ours ours-nocrc zlib zlib-crc libdeflate libdeflate-crc"
  for d in $decoders; do printf ' %14s' "$d"; done; echo
  for f in "$data"/*.deflate; do
    printf '%-12s' "$(basename "$f" .deflate)"
    for d in $decoders; do
      log=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
            --toggle-collect='Decode_*' "$bench" --once "$d" "$f" 2>&1)
      size=$(echo "$log" | grep -E '^[0-9]+$' | tail -n 1)
      ir=$(echo "$log" | sed -nE 's/.*Collected : ([0-9]+).*/\1/p')
      awk -v ir="$ir" -v n="$size" 'BEGIN { printf " %14.2f", ir / n }'
    done
    echo
  done
fi
