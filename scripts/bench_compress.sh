#!/usr/bin/env bash
# Size and time of the builder's deflate against zip -9 and 7-Zip's deflate
# (7z a -tzip -mx=9) on the same payloads, side by side in one run, and of
# repacking a ZIP (copied, and deflated again).
#   bench_compress.sh BUILD_ROOT [MIB]   (default 40 MiB of each payload)
# Payloads, made once in BUILD_ROOT/bench-data/compress: the first MIB MiB
# (sorted by path, skipping files that no longer fit) of the regular files of /usr/share/doc, /usr/include and
# /usr/lib/x86_64-linux-gnu/*.so*, leaving out names Windows cannot tell
# apart (xt_CONNMARK.h beside xt_connmark.h), which the builder refuses.
set -euo pipefail
build=$(realpath -m "$1")
mib=${2:-40}
mksfx="${MKSFX:-$build/host/tools/mksfx}"
data="$build/bench-data/compress"
mkdir -p "$data"
make_payload() {   # name, find arguments...
  local name=$1; shift
  [ -d "$data/$name" ] && return
  python3 - "$data/$name" "$mib" "$@" <<'PY'
import os, shutil, sys
target, budget, roots = sys.argv[1], int(sys.argv[2]) << 20, sys.argv[3:]
files = []
for root in roots:
    if os.path.isfile(root):
        files.append((root, os.path.basename(root)))
        continue
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            files.append((p, os.path.relpath(p, os.path.dirname(root))))
seen, total = set(), 0
for path, rel in sorted(files):
    if os.path.islink(path) or not os.path.isfile(path) or rel.lower() in seen:
        continue
    if any(c in rel for c in ':*?"<>|\\') or any(part.endswith(('.', ' ')) for part in rel.split('/')):
        continue
    size = os.path.getsize(path)
    if total + size > budget:
        continue
    seen.add(rel.lower())
    total += size
    os.makedirs(os.path.join(target, os.path.dirname(rel)), exist_ok=True)
    shutil.copyfile(path, os.path.join(target, rel))
PY
}
make_payload doc /usr/share/doc
make_payload include /usr/include
make_payload binaries $(ls /usr/lib/x86_64-linux-gnu/*.so* | sort)

# The archive's own bytes: the file less the stub and its settings block.
payload_size() {
  python3 -c 'import sys; b=open(sys.argv[1],"rb").read()
print(len(b) - (0x9800 + (b[0x9803] | b[0x9804] << 8)) if b[:2] == b"MZ" else len(b))' "$1"
}
run() {   # label, output, command...
  local label=$1 out=$2; shift 2
  rm -f "$out"
  /usr/bin/time -f "%e %U" -o "$data/time" "$@" >/dev/null 2>&1
  read -r wall user <"$data/time"
  printf '| %-8s | %-34s | %12s | %6s | %6s |\n' "$payload" "$label" "$(payload_size "$out")" "$wall" "$user"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "| payload  | tool                               |        bytes | wall s | user s |"
echo "|----------|------------------------------------|-------------:|-------:|-------:|"
export SOURCE_DATE_EPOCH=1700000000
for payload in doc include binaries; do
  in="$data/$payload"
  printf '| %-8s | %-34s | %12s |        |        |\n' "$payload" "(plain bytes, $(find "$in" -type f | wc -l) files)" \
    "$(find "$in" -type f -printf '%s\n' | awk '{s += $1} END {print s}')"
  run "mksfx -9 -j1 (zlib)" "$data/o.exe" "$mksfx" -q -9 -j1 -o "$data/o.exe" "$in"
  run "mksfx -9 -j$(nproc) (zlib)" "$data/o.exe" "$mksfx" -q -9 -o "$data/o.exe" "$in"
  for level in 10 11 12; do
    run "mksfx --level $level -j$(nproc) (libdeflate)" "$data/o.exe" "$mksfx" -q --level $level -o "$data/o.exe" "$in"
  done
  run "zip -9" "$data/o.zip" bash -c "cd '$in' && zip -q -X -9 -r '$data/o.zip' ."
  run "7z a -tzip -mx=9" "$data/o.zip" bash -c "cd '$in' && 7z a -bd -tzip -mx=9 '$data/o.zip' . >/dev/null"
  cp "$data/o.zip" "$data/7z.zip"
  run "mksfx --zip 7z.zip -j1 (copied)" "$data/o.exe" "$mksfx" -q -j1 -o "$data/o.exe" --zip "$data/7z.zip"
  run "mksfx --zip 7z.zip -9 -j1 (again)" "$data/o.exe" "$mksfx" -q -j1 -9 -o "$data/o.exe" --zip "$data/7z.zip"
  run "mksfx --zip 7z.zip -j$(nproc) (copied)" "$data/o.exe" "$mksfx" -q -o "$data/o.exe" --zip "$data/7z.zip"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$data/o.exe" "$data/o.zip" "$data/7z.zip" "$data/time"
