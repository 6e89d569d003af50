#!/usr/bin/env bash
# install.exe and quorvin.exe run as administrator, often from a folder that anyone may write to,
# started by whoever chooses their current directory. They trust only their own files:
# - DLLs named like those they use (newdev.dll, cfgmgr32.dll: tools/planted.c, a DLL of our own
#   that leaves a trace in C:\wtest\planted.log when it is loaded), lying in the program's folder
#   and in the current directory, are never loaded;
# - a folder whose name the ANSI code page cannot hold ("Łukasz") is never named by a look-alike
#   ("Lukasz", a folder beside it with another package): its 8.3 name serves, or the install fails
#   with "Unable to use the folder of VELTOWINUSB.INF, error 0x459" and exit code 1;
# - the quorvin started is the one beside install.exe, never an amd64\quorvin.exe of the current
#   directory (our test newdev.dll records which program calls it), and it installs the INF of
#   install.exe's current directory.
# Our test newdev.dll in the system folders records what the programs asked of Windows (the
# planted copies record apart, as "Planted..."): the install calls come from the system's DLL,
# for the INF that was meant.
source "$(dirname "$0")/lib.sh"
scenario_begin
TRACE=$DRIVE_C/wtest/planted.log
ENUM='HKLM\System\CurrentControlSet\Enum'

no_trace() {  # no_trace WHAT
  if [ -e "$TRACE" ]; then
    fail "$1: a planted DLL was loaded: $(tr -d '\r' <"$TRACE" | tr '\n' ';')"
  else
    ok "$1: no planted DLL loaded"
  fi
  rm -f "$TRACE"
}

# ---- planted DLLs ----
make_demo p "$SAMPLE_INF"
for folder in "$DRIVE_C/p" "$DRIVE_C/p/amd64"; do
  bits=$INSTALL_BITS
  [ "$folder" = "$DRIVE_C/p/amd64" ] && bits=64
  for dll in newdev.dll cfgmgr32.dll; do cp "$TOOLS/planted$bits.dll" "$folder/$dll"; done
done
reg_begin
fake_device 'USB\VID_7A3C&PID_0001\T1' 0 0 'USB\VID_7A3C&PID_0001'
reg_import || die "cannot add the fake device"
rm -f "$TRACE"
use_test_newdev
mapfile -t MARKER_IDS < <(tr -d '\r' <"$SAMPLE_INF" | sed -n 's/^;@\(USB\\VID_7A3C&.*\)$/\1/p')
# Wine prefers its own newdev.dll and cfgmgr32.dll to files of those names; native first, it looks
# for them as Windows does, the program's folder first.
export WINEDLLOVERRIDES="$BASE_OVERRIDES;newdev,cfgmgr32=n,b"
# The package road (a workstation) and the road per hardware ID (a server), then quorvin alone.
for pass in 'win7|6.1.7601 type=1|Install_Driver|Calls' 'win2008r2|6.1.7601 type=3|Install_Device_Driver|Updates'; do
  IFS='|' read -r version os step kind <<<"$pass"
  set_windows_version "$version" "$os"
  newdev_begin
  run_install -dir 'C:\p' 'C:\p\install.exe' /install
  expect_line "debug: $step: C:\\p\\veltowinusb.inf" "$version: /install reached its install call"
  expect_no_match '^(exception|timeout)' "$version: /install ends by itself"
  no_trace "$version: /install"
  want=("$OWNER_NONE|C:\\p\\veltowinusb.inf|0x0")
  if [ "$kind" = Updates ]; then
    want=()
    for id in "${MARKER_IDS[@]}"; do want+=("$OWNER_NONE|$id|C:\\p\\veltowinusb.inf|0x0"); done
  fi
  expect_asked "$version: /install, through the system's newdev.dll" "$kind" "$INSTALL_BITS" "${want[@]}"
done
newdev_begin
run64 -dir 'C:\p' 'C:\p\amd64\quorvin.exe'
expect_no_match '^(exception|timeout)' "quorvin.exe ends by itself"
no_trace "quorvin.exe"
expect_asked "quorvin.exe, through the system's newdev.dll" Calls 64 "$OWNER_NONE|C:\\p\\veltowinusb.inf|0x2"
export WINEDLLOVERRIDES="$BASE_OVERRIDES;newdev=n,b"
set_windows_version win7 "6.1.7601 type=1"

# ---- a folder name that the ANSI code page cannot hold ----
LUKASZ='Łukasz'
make_demo "$LUKASZ" "$SAMPLE_INF"
make_demo Lukasz
{ echo "; another maker's package"; cat "$SAMPLE_INF"; } >"$DRIVE_C/Lukasz/veltowinusb.inf"
# The paths that Windows was asked for, from the test newdev.dll's record: the last field but one.
for pass in 'win7|6.1.7601 type=1|Install_Driver|Calls' 'win2008r2|6.1.7601 type=3|Install_Device_Driver|Updates'; do
  IFS='|' read -r version os step kind <<<"$pass"
  set_windows_version "$version" "$os"
  newdev_begin
  run_install -dir "C:\\$LUKASZ" "C:\\$LUKASZ\\install.exe" /install
  paths=$(printf '%s\n' "$RUN_OUT" | sed -n "s/^debug: $step: //p" | sort -u)
  asked=$(newdev_record "$kind" "$INSTALL_BITS" | awk -F'|' '{ print $(NF - 1) }' | sort -u)
  if [ -z "$paths" ]; then
    expect_exit 00000001 "$version: $LUKASZ without a name the code page holds"
    expect_debug_lines "$version: $LUKASZ" 'Unable to use the folder of VELTOWINUSB.INF, error 0x459'
    expect_asked "$version: $LUKASZ without a name the code page holds" "$kind" "$INSTALL_BITS"
    continue
  fi
  if [ "$asked" = "$paths" ]; then ok "$version: Windows was asked for the path of the debug lines"
  else fail "$version: Windows was asked for '${asked//$'\n'/ }', the debug lines name '${paths//$'\n'/ }'"; fi
  while read -r path; do
    unix=$(wine_cmd winepath -u "$path" 2>/dev/null | tr -d '\r')
    if [ -n "$unix" ] && cmp -s "$unix" "$SAMPLE_INF"; then ok "$version: $path is the INF of C:\\$LUKASZ"
    else fail "$version: install named $path (${unix:-no such file}), not the INF of C:\\$LUKASZ"; fi
  done <<<"$paths"
done
set_windows_version win7 "6.1.7601 type=1"

# ---- the quorvin beside install.exe ----
# install.exe refuses its own package install as in a 32-bit process on 64-bit Windows; the
# current directory C:\w holds the package and a quorvin.exe of its own in amd64.
make_demo q
mkdir -p "$DRIVE_C/w/amd64"
cp "$SAMPLE_INF" "$DRIVE_C/w/veltowinusb.inf"
cp "$QUORVIN_EXE" "$DRIVE_C/w/amd64/quorvin.exe"
use_test_cfgmgr32
newdev_begin "Answer$INSTALL_BITS=0xE0000235"
run_install -dir 'C:\w' 'C:\q\install.exe' /install
expect_line 'debug: Running 64-bit installer...' "/install from C:\\w hands over"
callers=$(newdev_record Callers 64 | grep -i quorvin)
if [ "$callers" = 'C:\q\amd64\quorvin.exe' ]; then ok "the quorvin started is C:\\q\\amd64\\quorvin.exe"
else fail "the quorvin that installed: '${callers:-none}', expected C:\\q\\amd64\\quorvin.exe"; fi
# quorvin installs the INF of install.exe's current directory, with DIIRFLAG_FORCE_INF (the twin
# install.exe, 64-bit itself, asked the same newdev first).
want=("$OWNER_NONE|C:\\w\\veltowinusb.inf|0x2")
[ "$INSTALL_BITS" = 64 ] && want=("$OWNER_NONE|C:\\w\\veltowinusb.inf|0x0" "${want[@]}")
expect_asked "the hand-over from C:\\w" Calls 64 "${want[@]}"

scenario_end
