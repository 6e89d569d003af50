#!/usr/bin/env bash
# quorvin.exe on its own, in a folder with the INF as its current directory: it installs the
# package without showing anything (no window, no debug line) and ends with exit code 0, whatever
# its command line holds.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"

mkdir -p "$DRIVE_C/alone"
cp "$DIST/amd64/quorvin.exe" "$SAMPLE_INF" "$DRIVE_C/alone/"

run64 -dir 'C:\alone' 'C:\alone\quorvin.exe'
expect_exit 00000000 "quorvin.exe"
expect_debug_lines "quorvin.exe"
expect_silent "quorvin.exe"

run64 -dir 'C:\alone' 'C:\alone\quorvin.exe' /uninstall '"any thing"'
expect_exit 00000000 "quorvin.exe with arguments"
expect_debug_lines "quorvin.exe with arguments"
expect_silent "quorvin.exe with arguments"

scenario_end
