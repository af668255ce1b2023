#!/usr/bin/env bash
# Inflate and CRC-32 benchmark: ours against zlib and libdeflate.
#   bench.sh BUILD_ROOT [benchmark flags]
# Makes the raw deflate streams from files on this machine (deterministic:
# sorted paths, fixed amounts, zlib level 6) in BUILD_ROOT/bench-data, runs
# BUILD_ROOT/host/bench/inflate_bench on them, then counts instructions per
# output byte of each decoder under callgrind.  Then the stub's own build:
# BUILD_ROOT/win/tests/win/stub_inflate_bench.exe (the stub's decoder
# objects against zlib for Windows) under Wine on the same streams and
# 10,000 small ones, best of SFX_BENCH_RUNS rounds (default 7), and the
# instruction counts of an i686 build with the stub's flags (gcc -m32).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "$1"); shift
data="$build/bench-data"
bench="$build/host/bench/inflate_bench"
[ -x "$bench" ] || cmake --build "$build/host" -j2 --target inflate_bench
mkdir -p "$data"

python3 - "$data" <<'PY'
import glob, os, random, struct, sys, zlib
out = sys.argv[1]
raw = {}
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
    raw[name] = bytes(data)
    print(f"{name}: {used} files, {len(data)} bytes, deflated to {len(stream)} ({100*len(stream)/len(data):.1f}%)")
# many small entries: 10,000 pieces of 1 to 9 KiB (mean 5 KiB) cut from the
# corpora above, half text, a quarter each binary and compressed, each its
# own stream (a 4-byte little-endian length before it)
rng = random.Random(12)
size = packed = 0
with open(os.path.join(out, "small.streams"), "wb") as f:
    for i in range(10000):
        src = raw[("text", "binary", "text", "compressed")[i % 4]]
        n = rng.randint(1024, 9216)
        p = rng.randrange(len(src) - n)
        c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
        stream = c.compress(src[p:p + n]) + c.flush()
        f.write(struct.pack("<I", len(stream)) + stream)
        size += n; packed += len(stream)
print(f"small: 10000 streams, {size} bytes, deflated to {packed} ({100*packed/size:.1f}%)")
# files as they are shipped already compressed, each its own stream as a ZIP
# entry would be: jars, wheels, gzip'd documentation and manual pages, PNG
# and JPEG images from the installed packages, up to 3 MiB of each sort in
# path order (4 of jars).  Their deflate streams are mostly dynamic blocks
# of nearly all literals (the gzip files come out as stored blocks).
shipped = [
    ("jar", sorted(glob.glob("/usr/share/java/*.jar")), 4 << 20),
    ("whl", sorted(glob.glob("/usr/share/python-wheels/*.whl")), 3 << 20),
    ("doc", sorted(glob.glob("/usr/share/doc/**/*.gz", recursive=True)), 3 << 20),
    ("man", sorted(glob.glob("/usr/share/man/**/*.gz", recursive=True)), 3 << 20),
    ("png", sorted(glob.glob("/usr/share/icons/**/*.png", recursive=True)), 3 << 20),
    ("jpg", sorted(glob.glob("/usr/share/**/*.jpg", recursive=True) + glob.glob("/usr/share/**/*.jpeg", recursive=True)), 3 << 20),
]
size = packed = count = 0
summary = []
with open(os.path.join(out, "shipped.streams"), "wb") as f:
    for sort, paths, cap in shipped:
        taken = files = 0
        for p in paths:
            if taken >= cap:
                break
            if not os.path.isfile(p) or os.path.islink(p):
                continue
            with open(p, "rb") as g:
                d = g.read()
            if not d:
                continue
            c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
            stream = c.compress(d) + c.flush()
            f.write(struct.pack("<I", len(stream)) + stream)
            taken += len(d); files += 1; packed += len(stream)
        size += taken; count += files
        summary.append(f"{files} {sort} ({taken} bytes)")
print(f"shipped: {count} streams, {size} bytes, deflated to {packed} ({100*packed/size:.1f}%): " + ", ".join(summary))
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

# A Wine environment for the stub's programs: the caller's when it has one,
# else a private one that wine_down stops again.
wine_up() {
  source "$root/scripts/wine-env.sh"
  BUILD_ROOT=$build
  started=0
  if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
    wine_env_start private
    started=1
    trap wine_env_stop EXIT
  fi
}
wine_down() { if [ "$started" = 1 ]; then wine_env_stop; trap - EXIT; fi; }

# The stub's own build: its decoder objects (libsfxwin.a, i686, -Os) against
# zlib for Windows, under Wine, on the same streams plus the small ones.
win_bench="$build/win/tests/win/stub_inflate_bench.exe"
if [ -x "$win_bench" ] && command -v wine >/dev/null; then
  echo
  echo "the stub's build under Wine: inflate + CRC-32 against zlib + crc32"
  wine_up
  wine "$win_bench" "$(winepath -w "$data")" "${SFX_BENCH_RUNS:-7}"
  wine_down
fi

# Instructions per output byte of an i686 build with the stub's flags
# (gcc -m32 on Linux, the same sources; zlib is Debian's i386 build).
if command -v valgrind >/dev/null && [ -f /usr/lib/i386-linux-gnu/libz.a ]; then
  m32="$build/bench-m32"
  mkdir -p "$m32"
  flags=$(sed -n '/^set(SFX_WIN_FLAGS/,/)/p' "$root/cmake/Windows.cmake" | tr '\n' ' ' |
          sed -E 's/^set\(SFX_WIN_FLAGS//; s/\).*$//')
  decode_flags=$(sed -n '/^set(SFX_DECODE_FLAGS/,/)/p' "$root/cmake/Windows.cmake" | tr '\n' ' ' |
                 sed -E 's/^set\(SFX_DECODE_FLAGS//; s/\).*$//')
  # The other units' size options (link-time optimisation among them), and
  # the CRC's own unit's exception, as cmake/Windows.cmake gives them.
  size_flags=$(sed -n '/^set(SFX_SIZE_FLAGS/,/)/p' "$root/cmake/Windows.cmake" | tr '\n' ' ' |
               sed -E 's/^set\(SFX_SIZE_FLAGS//; s/\).*$//')
  misc_flags=$(sed -n '/SFXmisc.cpp PROPERTIES/,/)/p' "$root/cmake/Windows.cmake" | tr '\n' ' ' |
               sed -nE 's/.*SFX_SIZE_FLAGS\};([^"]*)".*/\1/p' | tr ';' ' ')
  objs=()
  for src in decode/SFXinflt decode/CrcCrypt common/SFXgbls common/Memory common/SFXmisc; do
    extra=$size_flags
    case $src in decode/*) extra=$decode_flags ;; common/SFXmisc) extra="$size_flags $misc_flags" ;; esac
    # shellcheck disable=SC2086
    g++ -m32 -fno-pie $flags $extra -c "$root/src/$src.cpp" -o "$m32/${src#*/}.o"
    objs+=("$m32/${src#*/}.o")
  done
  # The harness at -O2 on its own; the link compiles the units built for
  # link-time optimisation, with the stub's options as the stub's link does.
  g++ -m32 -fno-pie -O2 -I"$root/src" -I"$root/bench" -c "$root/bench/stub_inflate_bench.cpp" \
      -o "$m32/stub_inflate_bench.o"
  g++ -m32 -fno-pie -O2 -I"$root/src" -I"$root/bench" -c "$root/bench/MemoryFile.cpp" -o "$m32/MemoryFile.o"
  # shellcheck disable=SC2086
  g++ -m32 -fno-pie -no-pie $flags $size_flags "$m32/stub_inflate_bench.o" "$m32/MemoryFile.o" \
      "${objs[@]}" /usr/lib/i386-linux-gnu/libz.a -o "$m32/stub_inflate_bench"
  echo
  echo "instructions per output byte, i686 build with the stub's flags (callgrind)"
  echo "(valgrind's x86 processor has no PCLMULQDQ: ours runs the CRC's table path here)"
  printf '%-12s %10s %10s %10s\n' kind ours zlib zlib/ours
  for f in "$data"/*.deflate "$data"/*.streams; do
    name=$(basename "$f"); name=${name%.*}
    printf '%-12s' "$name"
    per=()
    for d in ours zlib; do
      log=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
            --toggle-collect='Decode_*' "$m32/stub_inflate_bench" --once "$d" "$f" 2>&1)
      size=$(echo "$log" | grep -E '^[0-9]+$' | tail -n 1)
      ir=$(echo "$log" | sed -nE 's/.*Collected : ([0-9]+).*/\1/p')
      per+=("$(awk -v ir="$ir" -v n="$size" 'BEGIN { printf "%.2f", ir / n }')")
    done
    awk -v a="${per[0]}" -v b="${per[1]}" 'BEGIN { printf " %10.2f %10.2f %10.2f\n", a, b, b / a }'
  done
fi

# One entry of 1 GiB of mixed data (text, machine code, already-compressed
# files and random bytes in turn, 1 MiB at a time), packed by Info-ZIP zip
# -6: the real stub under Wine, driven through its dialog from pressing
# extract to the final box (bench/stub_extract_bench.cpp), against
# native `unzip -qo` and `7z x` in the same rounds.  It takes several
# minutes (making the archive alone about two), so it runs only with
# SFX_BENCH_LARGE=1; SFX_BENCH_LARGE_RUNS rounds (default 3).  The archive
# is kept in BUILD_ROOT/bench-large for later runs.
if [ "${SFX_BENCH_LARGE:-0}" = 1 ]; then
  large=$build/bench-large
  if [ ! -f "$large/large.zip" ]; then
    rm -rf "$large"
    mkdir -p "$large/src"
    python3 - "$large/src/mixed.bin" <<'PY'
import glob, os, random, sys
def source(paths, limit=16 << 20):
    data = bytearray()
    for p in paths:
        if len(data) >= limit:
            break
        if os.path.isfile(p) and not os.path.islink(p):
            with open(p, "rb") as f:
                data += f.read(limit - len(data))
    return bytes(data)
text = source(sorted(glob.glob("/usr/include/**/*.h", recursive=True)))
binary = source(sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")))
shipped = source(sorted(glob.glob("/usr/share/java/*.jar")) + sorted(glob.glob("/usr/share/icons/**/*.png", recursive=True)))
rng, piece = random.Random(25), 1 << 20
with open(sys.argv[1], "wb") as f:
    for i in range(1024):
        kind = i % 4
        if kind == 3:
            f.write(rng.randbytes(piece))
        else:
            src = (text, binary, shipped)[kind]
            p = rng.randrange(len(src) - piece)
            f.write(src[p:p + piece])
PY
    (cd "$large/src" && zip -q -6 ../large.zip mixed.bin)
    rm -rf "$large/src"
  fi
  # The stub's drivers, built as the extraction benchmark builds them.
  SFX_BUILD=$build "$root/scripts/bench_extract.sh" none 1 >/dev/null
  echo
  echo "1 GiB entry of mixed data: archive $(du -m "$large/large.zip" | cut -f1) MB, load $(cut -d' ' -f1-3 /proc/loadavg)"
  wine_up
  # The stub and the archive as one file, as the builder would write them.
  cat "$build/win/sfx.exe" "$large/large.zip" > "$large/large.exe"
  exew=$(winepath -w "$large/large.exe")
  target=$WINEPREFIX/drive_c/bench_large
  ms() { echo $(( ($2 - $1) / 1000000 )); }
  echo "| round | load | unzip -qo ms | 7z x ms | stub ms | stub / unzip | stub / 7z | the stub's end |"
  echo "|---|---|---|---|---|---|---|---|"
  for i in $(seq "${SFX_BENCH_LARGE_RUNS:-3}"); do
    rm -rf "$large/unzip-out" "$large/7z-out" "$target"
    sync
    a=$(date +%s%N); unzip -qo "$large/large.zip" -d "$large/unzip-out"; b=$(date +%s%N)
    u=$(ms "$a" "$b")
    rm -rf "$large/7z-out"; sync
    a=$(date +%s%N); 7z x -y -bd -o"$large/7z-out" "$large/large.zip" >/dev/null; b=$(date +%s%N)
    z=$(ms "$a" "$b")
    rm -rf "$large/7z-out"; sync
    line=$(cd "$build/win" && wine ./stub_extract_bench.exe --ready "$exew" 'C:\bench_large' | tr -d '\r')
    s=${line%% ms*}
    echo "| $i | $(cut -d' ' -f1 /proc/loadavg) | $u | $z | $s | $(awk -v a="$s" -v b="$u" 'BEGIN { printf "%.2f", a / b }') | $(awk -v a="$s" -v b="$z" 'BEGIN { printf "%.2f", a / b }') | ${line#* ms | } |"
  done
  if cmp -s "$large/unzip-out/mixed.bin" "$target/mixed.bin"; then echo "file: identical to unzip's"
  else echo "file: DIFFERENT from unzip's"; fi
  rm -rf "$large/unzip-out" "$large/7z-out" "$target" "$large/large.exe"
  wine_down
fi
