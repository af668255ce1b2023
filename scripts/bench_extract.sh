#!/usr/bin/env bash
# Extraction benchmark under Wine: the listing and extraction runs over
# 10,000 small entries with the sorted and the unsorted list, and a ZIP of
# about 100 MB extracted by the driver under Wine and by Info-ZIP unzip
# natively.  Needs a built Windows tree (./run build) and starts its own
# Wine environment.
#   SFX_BUILD=build-x scripts/bench_extract.sh [many|big|all]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ROOT=$(realpath -m "${SFX_BUILD:-$ROOT/build}")
W=$BUILD_ROOT/win
what=${1:-all}

zlib=$(sed -n 's/^SFX_WIN_ZLIB:FILEPATH=//p' "$W/CMakeCache.txt")
i686-w64-mingw32-g++-win32 -O2 -fexec-charset=CP949 -std=gnu++17 -I"$ROOT/src" -I"$ROOT/tests/win" \
  "$ROOT/tests/win/extract_bench.cpp" "$W/tests/win/libwindriver.a" "$W/libsfxwin.a" "$zlib" \
  -static -static-libgcc -static-libstdc++ -lkernel32 -luser32 -lgdi32 -lshell32 -lcomctl32 -lmpr \
  -o "$W/extract_bench.exe"

source "$ROOT/scripts/wine-env.sh"
started=0
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  wine_env_start private
  started=1
  trap wine_env_stop EXIT
fi
cd "$W"

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
