#!/usr/bin/env bash
# Makes the demo self-extracting file from samples/demo with the builder:
#   make_demo.sh BUILD_ROOT OUT
# ./run demo builds the builder before it comes here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 out=$2
mksfx="$build/host/tools/mksfx"
if [ ! -x "$mksfx" ]; then
  echo "make_demo: no builder at $mksfx (./run build makes it)" >&2
  exit 1
fi
"$mksfx" -o "$out" --caption "데모 자동압축해제" --folder 'C:\SfxDemo' --sorted "$root/samples/demo"
