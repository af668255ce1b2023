#!/usr/bin/env bash
# Makes the demo self-extracting file from samples/demo:
#   make_demo.sh BUILD_ROOT OUT
# With the builder built, the builder makes it; otherwise it is put together
# by hand: stub + settings block + a ZIP made by Info-ZIP zip, whose offsets
# `zip -A` then counts from the start of the whole file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 out=$2
if [ -x "$build/host/tools/mksfx" ]; then
  "$build/host/tools/mksfx" -o "$out" --caption "데모 자동압축해제" --folder 'C:\SfxDemo' \
    --sorted "$root/samples/demo"
  exit 0
fi
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
python3 "$root/scripts/settings_block.py" "$tmp/block" --caption "데모 자동압축해제" \
  --folder 'C:\SfxDemo' --flags2 0x04
(cd "$root/samples/demo" && zip -q -r -X -D "$tmp/payload.zip" .)
cat "$build/win/sfx.exe" "$tmp/block" "$tmp/payload.zip" > "$out"
zip -q -A "$out"
