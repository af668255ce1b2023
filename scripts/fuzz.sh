#!/usr/bin/env bash
# Runs every built fuzz target on its committed seed corpus.
#   fuzz.sh smoke BUILD_DIR          a fixed number of runs from a fixed seed
#                                    on the corpus alone (part of ./run test)
#   fuzz.sh long  BUILD_DIR [SECS]   SECS each (default 600), growing a corpus
#                                    that is kept in BUILD_DIR between runs
# The smoke run decides the same way for the same commit on every machine:
# what it finds, the commit's code found, not the luck of the clock.  Open-
# ended search belongs to the long run.
# Exits non-zero when a target finds a crash, a leak or undefined behaviour;
# the reproducer is left in BUILD_DIR/findings/<target>/.
set -uo pipefail
mode=$1 build=$(cd "$2" && pwd) secs=${3:-600}
runs=${SFX_FUZZ_RUNS:-40000}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
norandom=()
for bin in "$build"/fuzz_* "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=${bin##*/fuzz_}
  findings="$build/findings/$name"
  mkdir -p "$findings"
  if [ "$mode" = smoke ]; then
    work="$build/corpus-smoke/$name"
    rm -rf "$work"
    budget=(-seed=1 -runs="$runs" -reload=0)
    # Without address randomisation and with the targets' files under fixed
    # names in a folder of their own, the same commit makes the same runs.
    norandom=(env SFX_FUZZ_SCRATCH=1 setarch "$(uname -m)" -R)
    scratch="$build/fuzz-scratch/$name"
    rm -rf "$scratch"; mkdir -p "$scratch"
    echo "fuzz: $name, $runs runs from seed 1"
  else
    work="$build/corpus-work/$name"
    budget=(-max_total_time="$secs")
    echo "fuzz: $name for ${secs}s"
  fi
  mkdir -p "$work"
  [ -d "$root/fuzz/$name/corpus" ] && cp -n "$root/fuzz/$name/corpus/"* "$work/" 2>/dev/null
  if ! (cd "${scratch:-.}" && ${norandom[@]+"${norandom[@]}"} "$bin" "$work" "${budget[@]}" -rss_limit_mb=2048 -max_len=262144 \
       -artifact_prefix="$findings/" -print_final_stats=1) >"$build/fuzz-$name.log" 2>&1; then
    echo "fuzz: $name FAILED (see $build/fuzz-$name.log)"; tail -n 30 "$build/fuzz-$name.log"; status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/fuzz-$name.log" | tail -n 2
  fi
done
exit $status
