#!/usr/bin/env bash
# Extraction benchmark under Wine: the listing and extraction runs over
# 10,000 small entries with the sorted and the unsorted list, and a ZIP of
# about 100 MB extracted by the driver under Wine and by Info-ZIP unzip
# natively; and the real stub, driven through its main dialog, against
# native unzip on 10,000 entries of about 5 KB.  Needs a built Windows tree
# (./run build) and starts its own Wine environment.
#   SFX_BUILD=build-x scripts/bench_extract.sh [many|big|stub|tree|all] [RUNS]
# tree: 10,000 files of /usr/share in their folders, four levels deep or more.
# SFX_BENCH_PIN=1: the whole run, Wine's server and unzip included, on one
# CPU (taskset -c 0), where a round trip to the server needs no other CPU
# woken: what the same programs take where waking a CPU is cheap.
set -euo pipefail
if [ "${SFX_BENCH_PIN:-0}" = 1 ] && [ -z "${SFX_BENCH_PINNED:-}" ]; then
  SFX_BENCH_PINNED=1 exec taskset -c 0 "$0" "$@"
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ROOT=$(realpath -m "${SFX_BUILD:-$ROOT/build}")
W=$BUILD_ROOT/win
what=${1:-all}
runs=${2:-3}

zlib=$(sed -n 's/^SFX_WIN_ZLIB:FILEPATH=//p' "$W/CMakeCache.txt")
i686-w64-mingw32-g++-win32 -O2 -fexec-charset=CP949 -std=gnu++17 -I"$ROOT/src" -I"$ROOT/tests/win" \
  "$ROOT/bench/extract_bench.cpp" "$W/tests/win/libwindriver.a" "$W/libsfxwin.a" "$zlib" \
  -static -static-libgcc -static-libstdc++ -lkernel32 -luser32 -lgdi32 -lshell32 -lcomctl32 -lmpr \
  -o "$W/extract_bench.exe"
# The archive maker in windriver encrypts with the stub's own routine, so
# both programs link sfxwin after it.
i686-w64-mingw32-g++-win32 -O2 -fexec-charset=CP949 -std=gnu++17 -I"$ROOT/src" -I"$ROOT/tests/win" \
  "$ROOT/bench/stub_extract_bench.cpp" "$W/tests/win/libwindriver.a" "$W/libsfxwin.a" "$zlib" \
  -static -static-libgcc -static-libstdc++ -lkernel32 -luser32 -lgdi32 -o "$W/stub_extract_bench.exe"

source "$ROOT/scripts/wine-env.sh"
started=0
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  wine_env_start private
  started=1
  trap wine_env_stop EXIT
fi
cd "$W"

# The real stub against native unzip -qo on one ZIP, RUNS rounds side by
# side; the stub's files must be unzip's.  $1 = the ZIP; $2, when given, its
# files' sizes and paths (stub_extract_bench --floor), written in each round
# as the floor of that archive: one file after another, and by 4 threads.
# SFX_BENCH_TMPFS=1: every side writes into /dev/shm (the stub through
# Wine's drive T:), so that the disk flushes of a shared machine leave the
# rounds alone and what remains is the work of each program.
compare() {
  local zip=$1 list=${2:-} out=$BUILD_ROOT/bench-unzip-out
  zipw=$(winepath -w "$zip")
  target=$WINEPREFIX/drive_c/bench_out
  local wtarget='C:\bench_out' shm=""
  if [ "${SFX_BENCH_TMPFS:-0}" = 1 ]; then
    shm=/dev/shm/sfx-bench-$$
    mkdir -p "$shm/t"
    ln -sfn "$shm/t" "$WINEPREFIX/dosdevices/t:"
    out=$shm/unzip-out
    target=$shm/t/bench_out
    wtarget='T:\bench_out'
  fi
  stubrun() {   # $1 = stub file; prints "ms | end of the run"
    rm -rf "$target"
    sync
    local line
    line=$(wine ./stub_extract_bench.exe "$zipw" "$wtarget" "$(winepath -w "$1")" | tr -d '\r')
    echo "${line%% ms*}|${line#* ms | }"
  }
  before=${SFX_BENCH_BEFORE:-}
  local floorw=""
  [ -n "$list" ] && floorw=$(winepath -w "$list")
  echo "| round | unzip -qo (native) ms | 10,000 bare file writes under Wine ms |${list:+ its files under Wine ms | the same, 4 threads ms |} stub ms | stub / unzip |${list:+ stub / its files |}${before:+ earlier stub ms | earlier / unzip |} the stub's end |"
  echo "|---|---|---|${list:+---|---|}---|---|${list:+---|}${before:+---|---|}---|"
  for i in $(seq "$runs"); do
    rm -rf "$out"
    sync
    start=$(date +%s%N)
    unzip -q -o "$zip" -d "$out"
    end=$(date +%s%N)
    u=$(( (end - start) / 1000000 ))
    rm -rf "$target"
    sync
    f=$(wine ./stub_extract_bench.exe --files "$wtarget" | tr -d '\r')
    local floor="" f1="" f4=""
    if [ -n "$list" ]; then
      rm -rf "$target"
      f1=$(wine ./stub_extract_bench.exe --floor "$floorw" "$wtarget" | tr -d '\r')
      f1=${f1%% ms*}
      rm -rf "$target"
      f4=$(wine ./stub_extract_bench.exe --floor "$floorw" "$wtarget" 4 | tr -d '\r')
      floor=" $f1 | ${f4%% ms*} |"
    fi
    extra=""
    if [ -n "$before" ]; then
      b=$(stubrun "$before")
      extra=" ${b%%|*} | $(echo "scale=2; ${b%%|*} / $u" | bc) |"
    fi
    r=$(stubrun "$W/sfx.exe")
    local ratio=""
    [ -n "$list" ] && ratio=" $(echo "scale=2; ${r%%|*} / $f1" | bc) |"
    echo "| $i | $u | ${f% ms} |$floor ${r%%|*} | $(echo "scale=2; ${r%%|*} / $u" | bc) |$ratio$extra ${r#*|} |"
  done
  # The stub's files must be unzip's files; the first differences are shown.
  if diff -r -q "$out" "$target" >/dev/null; then echo "files: identical to unzip's"
  else echo "files: DIFFERENT from unzip's:"; diff -r -q "$out" "$target" | head -n 5 || true; fi
  rm -rf "$out" "$target"
  if [ -n "$shm" ]; then
    rm -f "$WINEPREFIX/dosdevices/t:"
    rm -rf "$shm"
  fi
}

if [ "$what" = many ] || [ "$what" = all ]; then
  echo "== 10,000 entries of 100 bytes"
  wine ./extract_bench.exe many
fi

if [ "$what" = big ] || [ "$what" = all ]; then
  big=$BUILD_ROOT/bench-big
  rm -rf "$big"
  mkdir -p "$big/src"
  head -c 96M /dev/urandom > "$big/src/random.bin"
  seq -f "%.0f: a line of a log with a counter and some words" 1 1300000 > "$big/src/log.txt"
  (cd "$big/src" && zip -q -r ../big.zip .)
  echo "== big archive: $(du -m "$big/big.zip" | cut -f1) MB, content $(du -sm "$big/src" | cut -f1) MB"
  sync
  start=$(date +%s.%N)
  unzip -q -o "$big/big.zip" -d "$big/unzip-out"
  end=$(date +%s.%N)
  echo "unzip (native): $(echo "($end - $start) * 1000" | bc | cut -d. -f1) ms"
  wine ./extract_bench.exe big "$(winepath -w "$big/big.zip")"
  rm -rf "$big"
fi

if [ "$what" = stub ] || [ "$what" = all ]; then
  # 10,000 entries in 100 folders: half text, a quarter gzip files and a
  # quarter PNG-like files (both already compressed), each about 5 KB,
  # packed by Info-ZIP zip -6.  The archive is kept for the next run (the
  # same bytes every time).  SFX_BENCH_BEFORE names another stub (an
  # earlier build) to time in the same rounds.
  small=$BUILD_ROOT/bench-small
  if [ ! -f "$small/small.zip" ]; then
    rm -rf "$small"
    mkdir -p "$small/src"
    python3 - "$small/src" <<'EOF'
import gzip, os, random, struct, sys, zlib
root, rnd = sys.argv[1], random.Random(12)
words = "the of and a to in is archive file folder entry window list status byte".split()
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
for i in range(10000):
    d = os.path.join(root, "d%02d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    size = rnd.randint(3000, 7000)
    if i % 4 < 2:
        line, text, n = 0, [], 0
        while n < size:
            line += 1
            text.append("%d: %s\n" % (line, " ".join(rnd.choice(words) for _ in range(9))))
            n += len(text[-1])
        name, data = "file%05d.txt" % i, "".join(text).encode()
    elif i % 4 == 2:
        name, data = "data%05d.gz" % i, gzip.compress(rnd.randbytes(size), mtime=0)
    else:
        name = "image%05d.png" % i
        data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rnd.randbytes(size))) + chunk(b"IEND", b""))
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)
EOF
    (cd "$small/src" && zip -q -6 -r ../small.zip .)
    rm -rf "$small/src"
  fi
  echo "== 10,000 entries of about 5 KB: archive $(du -m "$small/small.zip" | cut -f1) MB"
  compare "$small/small.zip"
fi

if [ "$what" = tree ] || [ "$what" = all ]; then
  # 10,000 files of an installed tree, as packages ship them: of the files
  # under /usr/share of at most 256 KiB that lie four or more folders deep,
  # sorted by path, every n-th, so that the whole tree is sampled (on this
  # machine: 1,751 folders, 5.0 levels deep on average); packed by zip -6
  # with their folders.  Kept for the next run.
  tree=$BUILD_ROOT/bench-tree
  if [ ! -f "$tree/tree.zip" ]; then
    rm -rf "$tree"
    mkdir -p "$tree"
    (cd /usr && find share -type f -size -256k -path 'share/*/*/*/*' 2>/dev/null | LC_ALL=C sort > "$tree/all")
    awk -v n="$(wc -l < "$tree/all")" 'BEGIN { step = n / 10000 } NR - 1 >= pick { print; pick += step }' \
      "$tree/all" | head -n 10000 > "$tree/list"
    (cd /usr && zip -q -6 "$tree/tree.zip" -@ < "$tree/list")
  fi
  echo "== 10,000 files of /usr/share: archive $(du -m "$tree/tree.zip" | cut -f1) MB," \
       "$(sed 's|/[^/]*$||' "$tree/list" | sort -u | wc -l) folders," \
       "$(awk -F/ '{ n += NF - 1 } END { printf "%.1f", n / NR }' "$tree/list") levels deep on average"
  python3 - "$tree/tree.zip" > "$tree/files" <<'EOF'
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    if not i.is_dir():
        print(i.file_size, i.filename)
EOF
  compare "$tree/tree.zip" "$tree/files"
fi
