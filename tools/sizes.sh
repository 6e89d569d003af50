#!/usr/bin/env bash
# Prints the size of the shipping programs against their targets (a measure, not a test):
# install.exe with its window at most 48 KiB, quorvin.exe at most 32 KiB.
cd "$(dirname "$0")/.."
for entry in "dist/install.exe 49152" "dist/amd64/quorvin.exe 32768"; do
  set -- $entry
  [ -f "$1" ] || continue
  size=$(stat -c %s "$1")
  verdict="within"
  [ "$size" -gt "$2" ] && verdict="OVER"
  printf 'size: %-24s %7d bytes (target %d: %s)\n' "$1" "$size" "$2" "$verdict"
done
