#!/usr/bin/env bash
# Runs the fuzz targets of the `fuzz` preset side by side for a bounded time each (seconds, default
# 60), on working corpora in build/fuzz/corpus that start from the committed seeds; fails when a
# target finds a crash, a sanitizer report, a leak, a hang or a broken invariant.
#   bash tests/fuzz/run.sh [seconds]    after: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
targets=(inf_markers command_line)
out=build/fuzz/runs
mkdir -p $out
rm -f $out/*

declare -A pid
for t in "${targets[@]}"; do
  mkdir -p build/fuzz/corpus/$t
  flags=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix=$out/$t-)
  # Several of the reader's 4096-byte blocks.
  [ $t = inf_markers ] && flags+=(-max_len=12288)
  # New inputs go to the first folder only: the seeds stay as committed.
  build/fuzz/fuzz/fuzz_$t "${flags[@]}" build/fuzz/corpus/$t tests/fuzz/corpus/$t >$out/$t.log 2>&1 &
  pid[$t]=$!
done

status=0
for t in "${targets[@]}"; do
  if wait "${pid[$t]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' $out/$t.log)
    echo "fuzz_$t: ${runs:-?} executions in ${seconds} s, nothing found"
  else
    status=1
    echo "fuzz_$t: FAILED (log $out/$t.log)"
    grep -v '^#\|^INFO:\|^  "' $out/$t.log | tail -40
    for f in $out/$t-*; do
      [ -e "$f" ] && echo "reproducer: $f (run: build/fuzz/fuzz/fuzz_$t $f)"
    done
  fi
done
exit $status
