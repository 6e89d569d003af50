#!/usr/bin/env bash
# quorvin.exe on its own: it asks Windows once, through DiInstallDriverA with no owner window and
# DIIRFLAG_FORCE_INF, to install veltowinusb.inf of its current directory (never of its own
# folder), shows nothing (no window, no debug line), and ends with Windows' answer as its exit
# code, whatever its command line holds. It does not look for the INF itself: in a folder without
# one it still asks, and Windows' ERROR_FILE_NOT_FOUND becomes the exit code. Wine's own
# DiInstallDriverA answers success for any file, so the test newdev.dll answers and records here.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
use_test_newdev

mkdir -p "$DRIVE_C/alone" "$DRIVE_C/noinf/amd64"
cp "$QUORVIN_EXE" "$SAMPLE_INF" "$DRIVE_C/alone/"
# The INF beside quorvin.exe in C:\noinf\amd64, none in its current directory C:\noinf.
cp "$QUORVIN_EXE" "$SAMPLE_INF" "$DRIVE_C/noinf/amd64/"
[ ! -e "$DRIVE_C/veltowinusb.inf" ] || die "C:\\veltowinusb.inf is there"

# what | current directory | program | arguments (| -separated) | newdev's answer | INF path asked | exit code
RUNS=(
  'in the folder of the INF|C:\alone|C:\alone\quorvin.exe||0|C:\alone\veltowinusb.inf|00000000'
  'with arguments|C:\alone|C:\alone\quorvin.exe|/uninstall|"any thing"|0|C:\alone\veltowinusb.inf|00000000'
  'Windows refuses the package|C:\alone|C:\alone\quorvin.exe||0xE000023F|C:\alone\veltowinusb.inf|E000023F'
  'the driver is up to date|C:\alone|C:\alone\quorvin.exe||0x103|C:\alone\veltowinusb.inf|00000103'
  'no INF in the current directory|C:\noinf|C:\noinf\amd64\quorvin.exe||0|C:\noinf\veltowinusb.inf|00000002'
  'a drive root without an INF|C:\|C:\alone\quorvin.exe||0|C:\veltowinusb.inf|00000002'
)
for row in "${RUNS[@]}"; do
  IFS='|' read -r -a f <<<"$row"
  what="quorvin.exe ${f[0]}"
  n=${#f[@]}
  args=("${f[@]:3:n-6}")  # the fields between the program and the answer
  [ -n "${args[0]:-}" ] || args=()
  newdev_begin Answer64="${f[n - 3]}"
  run64 -dir "${f[1]}" "${f[2]}" "${args[@]}"
  expect_exit "${f[n - 1]}" "$what"
  expect_debug_lines "$what"
  expect_silent "$what"
  expect_asked "$what" Calls 64 "$OWNER_NONE|${f[n - 2]}|0x2"
  expect_asked "$what" Updates 64
  expect_asked "$what" Callers 64 "${f[2]}"
done

scenario_end
