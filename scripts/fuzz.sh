#!/usr/bin/env bash
# Runs every built fuzz target on a copy of its committed seed corpus.
#   fuzz.sh smoke BUILD_DIR          about a minute each (part of ./run test)
#   fuzz.sh long  BUILD_DIR [SECS]   SECS each (default 600)
# Exits non-zero when a target finds a crash, a leak or undefined behaviour;
# the reproducer is left in BUILD_DIR/findings/<target>/.
set -uo pipefail
mode=$1 build=$2 secs=${3:-600}
[ "$mode" = smoke ] && secs=${SFX_FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for bin in "$build"/fuzz_* "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=${bin##*/fuzz_}
  work="$build/corpus-work/$name"; findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  [ -d "$root/fuzz/$name/corpus" ] && cp -n "$root/fuzz/$name/corpus/"* "$work/" 2>/dev/null
  echo "fuzz: $name for ${secs}s"
  if ! "$bin" "$work" -max_total_time="$secs" -rss_limit_mb=2048 -max_len=262144 \
       -artifact_prefix="$findings/" -print_final_stats=1 >"$build/fuzz-$name.log" 2>&1; then
    echo "fuzz: $name FAILED (see $build/fuzz-$name.log)"; tail -n 30 "$build/fuzz-$name.log"; status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/fuzz-$name.log" | tail -n 2
  fi
done
exit $status
