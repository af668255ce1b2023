#!/usr/bin/env bash
# The Linux and the Windows builder write the same bytes from the same
# inputs and options, at every level both have, from folders and from a
# ZIP (copied, and deflated again), encrypted with a fixed seed, with one
# thread and with several.  Run in the Wine environment of ./run test.
#   builder_bytes_test.sh HOST_MKSFX WINDOWS_MKSFX_EXE
set -uo pipefail
host=$1 win=$2
if [ ! -x "$host" ]; then
  echo "no Linux builder at $host: build the host tree first (./run build does)"
  exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sfx-bytes-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir -p in/docs "in/한글"
for i in $(seq 1 4000); do echo "line $i of a text that deflates"; done >in/docs/text.txt
head -c 70000 /dev/urandom >in/noise.bin
printf '한글 문서' >"in/한글/문서.txt"
: >in/empty.dat
(cd in && zip -q -1 -r ../in.zip .)
export SOURCE_DATE_EPOCH=1700000000
failures=0
check() {   # options...
  "$host" -q -o linux.exe "$@" >linux.log 2>&1 || { cat linux.log; echo "FAILED: Linux builder: $*"; failures=$((failures + 1)); return; }
  wine "$win" -q -o windows.exe "$@" >windows.log 2>&1 ||
    { cat windows.log; echo "FAILED: Windows builder: $*"; failures=$((failures + 1)); return; }
  if cmp -s linux.exe windows.exe; then
    echo "same bytes ($(stat -c %s linux.exe)): $*"
  else
    echo "FAILED: the builders differ: $* ($(cmp linux.exe windows.exe | head -n 1))"
    failures=$((failures + 1))
  fi
}
for level in 0 1 6 9; do
  check --level $level in
done
check -j1 --password 비밀번호 --seed 7 in
check -j3 --password 비밀번호 --seed 7 -4 in
check --zip in.zip
check --zip in.zip -9 --password pw --seed 8
[ "$failures" -eq 0 ]
