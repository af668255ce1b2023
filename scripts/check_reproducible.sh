#!/usr/bin/env bash
# Builds the stub a second time, from the same source in a folder of another
# name, and compares it byte for byte with the stub of the tree under test:
# whoever holds a release's commit must be able to make its very bytes.
# $1 = the source, $2 = the stub built by the tree under test.
set -euo pipefail
src=$1 stub=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sfx-again.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake -S "$src" -B "$scratch/tree" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DSFX_TESTS=OFF >/dev/null
cmake --build "$scratch/tree" --target sfx -j"$(nproc)" >/dev/null
if cmp -l "$stub" "$scratch/tree/sfx.exe" >"$scratch/diff"; then
  echo "reproducible: the second build is byte for byte the same ($(sha256sum <"$stub" | cut -c1-16)...)"
else
  echo "reproducible: the second build differs in $(wc -l <"$scratch/diff") bytes, first at offset $(awk 'NR==1{print $1-1}' "$scratch/diff")" >&2
  exit 1
fi
