# Shared part of the Wine scenarios: the prefix copy, the X server, running the programs under
# our runner, the fake devices, and the checks. Sourced by each scenario script.
#
# Environment:
#   WINE_TEST_ROAD   real: the programs of dist/, install.exe 32-bit; twin: install.exe's 64-bit
#                    twin (build/win64-twin) through Wine's 64-bit loader. The real road is
#                    skipped (exit code 77) where make-prefix.sh found no 32-bit x86 code to run.
#   WINE_TEST_DIST   folder with install.exe and amd64/quorvin.exe (default: the repository's dist/)
#   WINE_TEST_TWIN   folder with the twin install.exe (default: the repository's build/win64-twin)
#   WINE_TEST_WORK   work folder with the base prefix "base" and "bits" (made by make-prefix.sh)
#   WINE_TEST_TOOLS  folder with the test tools: wrun32.exe, wrun64.exe, wwin32.exe, wwin64.exe,
#                    cfgmgr32-32.dll, cfgmgr32-64.dll, newdev32.dll, newdev64.dll, planted32.dll
#                    and planted64.dll
#   WINE_TEST_CLIB_EXE clib_tests.exe, the control library's shared tests (clib.sh only)
#   WINE_TEST_KEEP   1: keep the scenario's prefix copy for a look afterwards
#
# Exit code of a scenario: 0 passed, 1 failed (FAIL: lines about the program, or ERROR: a set-up
# that could not be made), 3 a harness error (HARNESS ERROR: Wine's tools gave no usable answer,
# nothing was judged), 77 skipped.
set -uo pipefail

WINE_TEST_SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$WINE_TEST_SOURCE/../.." && pwd)
DIST=${WINE_TEST_DIST:-$REPO/dist}
WORK=${WINE_TEST_WORK:?WINE_TEST_WORK names the work folder}
TOOLS=${WINE_TEST_TOOLS:?WINE_TEST_TOOLS names the folder of the test tools}
SCENARIO=$(basename "$0" .sh)
ROAD=${WINE_TEST_ROAD:-real}

# What the road runs: the loader, install.exe with its bitness, and its system folder in the prefix.
QUORVIN_EXE=$DIST/amd64/quorvin.exe
if [ "$ROAD" = twin ]; then
  WINE=/usr/lib/wine/wine64
  export WINELOADER=$WINE  # wineboot, reg and winepath start through it too
  INSTALL_EXE=${WINE_TEST_TWIN:-$REPO/build/win64-twin}/install.exe
  INSTALL_BITS=64
  INSTALL_SYSDIR=system32
else
  WINE=wine
  INSTALL_EXE=$DIST/install.exe
  INSTALL_BITS=32
  INSTALL_SYSDIR=syswow64
fi

# The sample driver package of the repository.
SAMPLE_INF=$REPO/tests/data/veltowinusb.inf

# Command lines and file names in UTF-8, as measured: Wine then gives the programs code page 1252.
export LC_ALL=C.UTF-8

# Wine never asks for the Mono and Gecko downloads, and adds no menu entries to the host.
export WINEDEBUG=-all
BASE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDLLOVERRIDES=$BASE_OVERRIDES

FAILURES=0
CHECKS=0
XVFB_PID=""

# Notes and errors of the harness go to the scenario's own error output (fd 4), also from a
# command whose output the caller silences.
exec 4>&2

# Every Wine command has a time limit (WINE_LIMIT seconds, 120 unless set), so that nothing can
# hang a run.
wine_cmd() { timeout "${WINE_LIMIT:-120}" "$WINE" "$@"; }
# Wine's server kills (SIGKILL) the Unix process of a program that is still there about a second
# after its last thread ended; on a busy machine that befalls a program that ended well (seen: all
# of clib_tests.exe's output, then status 137). Its Unix status is then not its exit code: where
# the status is the answer, the command goes through wine_again, which asks once more on status
# 137; three such answers are a harness error. Only for commands that may run twice; each try's
# output goes out.
wine_again() {
  local try rc
  for try in 1 2 3; do
    wine_cmd "$@"
    rc=$?
    [ $rc = 137 ] || return $rc
    printf 'note: wine %s: killed after it ended (status 137), try %s of 3\n' "$1" $try >&4
  done
  harness_error "wine $*: killed (status 137) three times, no status to judge"
}

log() { printf '%s\n' "$*"; }
ok() { CHECKS=$((CHECKS + 1)); log "ok: $*"; }
fail() { CHECKS=$((CHECKS + 1)); FAILURES=$((FAILURES + 1)); log "FAIL: $*"; }
die() { log "ERROR: $*"; exit 1; }
# A harness error: Wine's tools gave the scenario no usable answer about the machine. It is said
# as such and ends the scenario with exit code 3, with no verdict on the program; called in a
# command substitution, it ends the scenario's own shell too.
HARNESS_EXIT=3
harness_error() {
  printf 'HARNESS ERROR: %s (a fault of the test harness, not a finding about the program)\n' "$*" >&4
  [ -n "${SCENARIO_DIR:-}" ] && : >"$SCENARIO_DIR/harness-error"
  [ "$BASHPID" = "$$" ] || kill -USR1 $$
  exit $HARNESS_EXIT
}
trap 'exit $HARNESS_EXIT' USR1

cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
  if [ "${WINE_TEST_KEEP:-0}" != 1 ] && [ -n "${SCENARIO_DIR:-}" ]; then
    rm -rf "$SCENARIO_DIR"
  fi
}

# Ends a scenario of the real road as skipped (CTest: SKIP_RETURN_CODE 77) where the machine runs
# no 32-bit x86 code; a scenario that needs the 32-bit install.exe itself sets REAL_ONLY first,
# the reason it has no twin.
skip_without_32bit() {
  local bits
  bits=$(cat "$WORK/bits" 2>/dev/null) || die "no $WORK/bits (make-prefix.sh writes it)"
  [ "$ROAD" = real ] && [ "$bits" = 64 ] || return 0
  if [ -n "${REAL_ONLY:-}" ]; then
    log "skipped: $REAL_ONLY, and this machine runs no 32-bit x86 code"
  else
    log "skipped: this machine runs no 32-bit x86 code; the 64-bit twin's road (wine.twin.*) stands in"
  fi
  exit 77
}

# The scenario's own prefix: a full copy of the base prefix (wineserver rewrites the registry
# files in place, so nothing of it may be shared), and an X server of its own.
prefix_begin() {
  skip_without_32bit
  [ -f "$WORK/base/system.reg" ] || die "no base prefix in $WORK/base (make-prefix.sh makes it)"
  SCENARIO_DIR=$WORK/$ROAD.$SCENARIO  # both roads of a scenario may run side by side
  rm -rf "$SCENARIO_DIR"
  mkdir -p "$SCENARIO_DIR"
  trap cleanup EXIT
  cp -a "$WORK/base" "$SCENARIO_DIR/prefix" || die "cannot copy the base prefix"
  export WINEPREFIX=$SCENARIO_DIR/prefix
  DRIVE_C=$WINEPREFIX/drive_c
  mkdir -p "$DRIVE_C/wtest"

  # -displayfd picks a free display number, so scenarios can run side by side.
  local fdfile=$SCENARIO_DIR/display
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>"$SCENARIO_DIR/xvfb.log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  [ -s "$fdfile" ] || die "Xvfb did not start: $(cat "$SCENARIO_DIR/xvfb.log")"
  export DISPLAY=:$(head -n1 "$fdfile")
}

# A scenario of the shipped programs: the prefix, with our runner in C:\wtest.
scenario_begin() {
  prefix_begin
  for f in "$INSTALL_EXE" "$QUORVIN_EXE" "$TOOLS/wrun32.exe" "$TOOLS/wrun64.exe"; do
    [ -f "$f" ] || die "missing $f"
  done
  cp "$TOOLS/wrun32.exe" "$TOOLS/wrun64.exe" "$DRIVE_C/wtest/"
  log "scenario $SCENARIO ($ROAD road): prefix $WINEPREFIX, display $DISPLAY, $INSTALL_EXE ($INSTALL_BITS-bit), $QUORVIN_EXE"
}

scenario_end() {
  log "$SCENARIO: $((CHECKS - FAILURES)) of $CHECKS checks passed"
  [ "$CHECKS" -gt 0 ] || die "the scenario checked nothing"
  [ "$FAILURES" -eq 0 ]
  exit $?
}

# Without a window manager, Wine waits 2 s whenever a shown top-level window is hidden or
# destroyed, for a withdrawal that no one makes. Unmanaged windows (Managed=N: Wine places and
# frames them itself, as Windows does) do not wait.
unmanaged_windows() {
  wine_again reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    die "cannot make the windows unmanaged"
}

# A folder on drive C: as the user would lay it out: the shipped programs and, optionally, the INF.
#   make_demo NAME [INF-FILE]   -> Windows path C:\NAME
make_demo() {
  local dir=$DRIVE_C/$1
  rm -rf "$dir"
  mkdir -p "$dir/amd64"
  cp "$INSTALL_EXE" "$dir/"
  cp "$QUORVIN_EXE" "$dir/amd64/"
  [ $# -ge 2 ] && cp "$2" "$dir/veltowinusb.inf"
  return 0
}

# Runs a program under our debugger. RUN_OUT holds its report (lines "debug: ", "window: ",
# "exit: 0x........"), RUN_EXIT the full exit code (8 hex digits).
#   run64 OPTIONS... PROGRAM ARGS...         (wrun64: quorvin.exe)
#   run_install OPTIONS... PROGRAM ARGS...   (install.exe of the road, under wrun32 or wrun64)
# A program that Wine could not start at all (seen once under load: CreateProcess answering
# ERROR_INTERNAL_ERROR) never ran: it is started once more, and a second such answer, or a run
# without an exit code, is a harness error.
run_with() {
  local runner=$1 try
  shift
  for try in 1 2; do
    RUN_OUT=$(wine_cmd "C:\\wtest\\$runner" "$@" 2>"$SCENARIO_DIR/wine.err" | tr -d '\r')
    RUN_EXIT=$(printf '%s\n' "$RUN_OUT" | sed -n 's/^exit: 0x//p' | tail -n1)
    log "--- $runner $*"
    printf '%s\n' "$RUN_OUT" | sed 's/^/    /'
    [ -n "$RUN_EXIT" ] && return 0
    [ $try = 1 ] && printf '%s\n' "$RUN_OUT" | grep -q '^error: CreateProcess ' || break
    log "note: Wine did not start the program; once more"
    sleep 1
  done
  harness_error "$runner $* gave no exit code: $(printf '%s' "$RUN_OUT" | grep -v '^debug: ' | tail -n1)"
}
run64() { run_with wrun64.exe "$@"; }
run_install() { run_with "wrun$INSTALL_BITS.exe" "$@"; }

# ---- checks on the last run ----

expect_exit() {  # expect_exit HEX8 WHAT
  if [ "$RUN_EXIT" = "$1" ]; then ok "$2: exit code 0x$1"; else fail "$2: exit code 0x${RUN_EXIT:-none}, expected 0x$1"; fi
}
expect_line() {  # expect_line EXACT-LINE WHAT
  if printf '%s\n' "$RUN_OUT" | grep -Fxq -- "$1"; then ok "$2"; else fail "$2: no line '$1'"; fi
}
expect_no_match() {  # expect_no_match REGEX WHAT
  local hit
  hit=$(printf '%s\n' "$RUN_OUT" | grep -E -- "$1" | head -n1)
  if [ -z "$hit" ]; then ok "$2"; else fail "$2: unexpected line '$hit'"; fi
}
# Lines got (one text) must be exactly the given ones, in order; a diff shows what differs.
expect_exact_lines() {  # expect_exact_lines WHAT GOT LINE...
  local what=$1 got=$2
  shift 2
  local want
  want=$( [ $# -gt 0 ] && printf '%s\n' "$@")
  if [ "$got" = "$want" ]; then
    ok "$what ($# lines)"
  else
    fail "$what: the lines differ"
    diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | sed 's/^/    /'
  fi
}
# The debug lines of the run, in order, must be exactly the given ones.
expect_debug_lines() {  # expect_debug_lines WHAT LINE...
  local what=$1
  shift
  expect_exact_lines "$what: debug lines" "$(printf '%s\n' "$RUN_OUT" | sed -n 's/^debug: //p')" "$@"
}
expect_silent() {  # no window of any kind, no exception, no timeout
  expect_no_match '^(window|exception|timeout)' "$1: shows nothing and ends by itself"
}

# ---- Windows version ----

# A version that winecfg knows: it writes CurrentVersion and ProductType into the registry.
set_windows_version() {
  wine_again winecfg /v "$1" >/dev/null 2>&1 || die "winecfg /v $1 failed"
  check_os "$2" "version $1"
}
# A version that winecfg cannot set: the per-user Version value of Wine.
set_wine_version_value() {
  wine_again reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1 || die "cannot set Version $1"
  check_os "$2" "version value $1"
}
# Any MAJOR.MINOR through the registry values that Wine reads when no Version value is set.
set_registry_version() {  # set_registry_version MAJOR MINOR BUILD WinNT|ServerNT EXPECTED-OS
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  wine_cmd reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
  reg_begin
  reg_key "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion"
  reg_dword CurrentMajorVersionNumber "$1"
  reg_dword CurrentMinorVersionNumber "$2"
  reg_sz CurrentVersion "$1.$2"
  reg_sz CurrentBuildNumber "$3"
  reg_sz CurrentBuild "$3"
  reg_key 'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ProductOptions'
  reg_sz ProductType "$4"
  reg_import || die "cannot write the version $1.$2 into $key"
  check_os "$5" "registry version $1.$2 $4"
}
# What a program without a supportedOS manifest is told, as "MAJOR.MINOR.BUILD type=N".
check_os() {
  local got
  got=$(wine_cmd "C:\\wtest\\wrun$INSTALL_BITS.exe" -osinfo 2>/dev/null | tr -d '\r' | sed -n 's/^os: //p')
  case "$got" in
    "$1 "*) log "windows: $2 gives $got" ;;
    *) die "$2 should give $1, Wine gives '${got:-nothing}'" ;;
  esac
}

# ---- registry files: written as UTF-16LE with a byte-order mark, imported with reg import ----

# What the scenario wrote, one line a key ("KEY<TAB>") and one a value ("KEY<TAB>NAME"), in upper
# case with the root's full name: what a read of the key must show to be whole (see reg_read).
REG_WRITTEN=""
reg_norm() {  # reg_norm KEY: HKLM\x and HKEY_LOCAL_MACHINE\X alike as HKEY_LOCAL_MACHINE\X
  local k=${1^^}
  case "$k" in
    HKLM\\*) k="HKEY_LOCAL_MACHINE${k#HKLM}" ;;
    HKCU\\*) k="HKEY_CURRENT_USER${k#HKCU}" ;;
  esac
  printf '%s' "$k"
}
reg_begin() { REG_TEXT='Windows Registry Editor Version 5.00'$'\n'; REG_BATCH=""; REG_BATCH_KEYS=(); }
reg_key() {
  REG_TEXT+=$'\n'"[$1]"$'\n'
  REG_CURRENT=$(reg_norm "$1")
  REG_BATCH+="$REG_CURRENT"$'\t\n'
  REG_BATCH_KEYS+=("$1")
}
reg_wrote() { REG_BATCH+="$REG_CURRENT"$'\t'"${1^^}"$'\n'; }
reg_escape() { local s=${1//\\/\\\\}; printf '%s' "${s//\"/\\\"}"; }
reg_sz() { REG_TEXT+="\"$1\"=\"$(reg_escape "$2")\""$'\n'; reg_wrote "$1"; }
reg_dword() { REG_TEXT+="\"$1\"=dword:$(printf '%08x' "$2")"$'\n'; reg_wrote "$1"; }
reg_multi() {  # reg_multi NAME STRING...
  local name=$1 hex="" s
  shift
  for s in "$@"; do
    hex+=$(printf '%s' "$s" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',')
    hex+="00,00,"
  done
  hex+="00,00"
  hex=${hex#,}
  REG_TEXT+="\"$name\"=hex(7):${hex//,,/,}"$'\n'
  reg_wrote "$name"
}
# Imports the batch; then every key of it must read back whole, or the harness failed.
reg_import() {
  local file=$SCENARIO_DIR/import.reg
  { printf '\xff\xfe'; printf '%s' "${REG_TEXT//$'\n'/$'\r\n'}" | iconv -f UTF-8 -t UTF-16LE; } >"$file"
  cp "$file" "$DRIVE_C/wtest/import.reg"
  # Seen once in a busy run of all scenarios: reg import failing with nothing else amiss. The
  # import writes the same values again, and what it wrote is read back below.
  local try rc
  for try in 1 2; do
    rc=0
    wine_again reg import 'C:\wtest\import.reg' >"$SCENARIO_DIR/reg-import.out" 2>&1 || rc=$?
    [ $rc = 0 ] && break
    printf 'note: reg import, try %s of 2: status %s: %s\n' $try $rc \
      "$(tr -d '\r' <"$SCENARIO_DIR/reg-import.out" | grep . | tail -n3 | paste -sd' ')" >&4
    [ $try = 2 ] && return 1
    sleep 1
  done
  REG_WRITTEN=$(printf '%s%s' "$REG_WRITTEN" "$REG_BATCH" | sed '/^$/d' | sort -u)$'\n'
  REG_MUST_BE_WHOLE=1 reg_read_all "${REG_BATCH_KEYS[@]}" >/dev/null
}
# Takes the keys below KEY (and KEY) out of what the scenario wrote, after it deleted them.
reg_forget() {
  local key
  key=$(reg_norm "$1")
  REG_WRITTEN=$(printf '%s' "$REG_WRITTEN" | KEY=$key awk -F'\t' '$1 != ENVIRON["KEY"] && index($1, ENVIRON["KEY"] "\\") != 1')$'\n'
}

# ---- fake devices of the USB enumerator ----

# The class of USB devices that the sample package installs into.
USB_DEVICE_CLASS='{88BAE032-5A81-49F0-BC3D-A4FF138216D6}'

# Adds a device key to the registry batch (reg_begin ... reg_import).
#   fake_device INSTANCE-ID PRESENT(0|1) CONFIGFLAGS HARDWARE-IDS(|-separated) [COMPATIBLE-IDS(|-separated)]
fake_device() {
  local IFS='|'
  local -a hwids compat
  read -r -a hwids <<<"$4"
  reg_key "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\$1"
  reg_multi HardwareID "${hwids[@]}"
  if [ -n "${5:-}" ]; then
    read -r -a compat <<<"$5"
    reg_multi CompatibleIDs "${compat[@]}"
  fi
  reg_sz Class USBDevice  # Wine's device enumeration writes it when it is missing
  reg_sz ClassGUID "$USB_DEVICE_CLASS"
  reg_sz DeviceDesc "Test device $1"
  reg_sz Mfg "Test maker"
  reg_dword ConfigFlags "$3"
  reg_dword TestPresent "$2"
}

# Devices for the reinstall marking that follows an install of the package:
# what | instance ID | present | ConfigFlags before | hardware IDs | ConfigFlags expected after
MARKING_DEVICES=(
  'absent device|USB\VID_7A3C&PID_0001\P1|0|0|USB\VID_7A3C&PID_0001|0x20'
  'present device|USB\VID_7A3C&PID_0002\P2|1|0|USB\VID_7A3C&PID_0002|0x0'
  'absent device with other flags|USB\VID_7A3C&PID_0010&MI_00\P3|0|4|USB\VID_7A3C&PID_0010&MI_00|0x24'
  'absent device, ID in lower case|USB\VID_7A3C&PID_0001\P4|0|0|usb\vid_7a3c&pid_0001|0x20'
  'absent device with a longer ID only|USB\VID_7A3C&PID_0001&REV_0200\P5|0|0|USB\VID_7A3C&PID_0001&REV_0200|0x0'
  'absent device already marked|USB\VID_7A3C&PID_0002\P6|0|0x20|USB\VID_7A3C&PID_0002|0x20'
  'absent device of another vendor|USB\VID_1234&PID_0001\B1|0|0|USB\VID_1234&PID_0001|0x0'
)
add_marking_devices() {
  local d id present flags hwid
  reg_begin
  for d in "${MARKING_DEVICES[@]}"; do
    IFS='|' read -r _ id present flags hwid _ <<<"$d"
    fake_device "$id" "$present" "$flags" "$hwid"
  done
  reg_import || die "cannot add the fake devices"
}
# The marking: absent devices whose hardware-ID list holds a marker ID (in any letter case) get
# CONFIGFLAG_REINSTALL with their other flags kept; present devices, devices with a longer ID
# only, and devices of another vendor keep their flags.
check_marking() {  # check_marking WHAT
  local d what id want got
  for d in "${MARKING_DEVICES[@]}"; do
    IFS='|' read -r what id _ _ _ want <<<"$d"
    got=$(reg_value "HKLM\\System\\CurrentControlSet\\Enum\\$id" ConfigFlags)
    if [ "$got" = "$want" ]; then
      ok "$1: $what $id: ConfigFlags $got"
    else
      fail "$1: $what $id: ConfigFlags ${got:-none}, expected $want"
    fi
  done
}

# ---- registry reads: whole answers, or a harness error ----
# A read is trusted only when reg query answered it whole: the key's own line, and all that the
# scenario wrote into the key (and below it, with /s) as far as the key is still there. A read
# that shows less is asked again; "no such key" is an answer, anything else (nothing at all, a
# time-out) is not. Wine's reg query has been seen to answer nothing once in a while.
REG_TRIES=3
# What the answer (on standard input) lacks of what the scenario wrote into KEY (with its
# subkeys when DEEP is 1), one "KEY\NAME" or "KEY\" a line; "found" first when the key's own
# line (or, with /s, one of a subkey) is there at all.
reg_lacks() {  # reg_lacks NORM-KEY DEEP
  KEY=$1 DEEP=$2 WRITTEN=$REG_WRITTEN awk -F'\t' '
    function under(k) { return k == ENVIRON["KEY"] || (ENVIRON["DEEP"] == 1 && index(k, ENVIRON["KEY"] "\\") == 1) }
    /^HKEY_/ { cur = toupper($0); have[cur "\t"] = 1; if (under(cur)) found = 1; next }
    /^    [^ ]/ { name = substr($0, 5); sub(/    .*/, "", name); have[cur "\t" toupper(name)] = 1 }
    END {
      if (!found) exit
      print "found"
      n = split(ENVIRON["WRITTEN"], w, "\n")
      for (i = 1; i <= n; i++) {
        if (w[i] == "") continue
        split(w[i], f, "\t")
        if (under(f[1]) && !have[w[i]]) print f[1] "\\" f[2]
      }
    }'
}
# One key as reg query shows it (its values indented by four spaces; with /s also its subkeys).
# Returns 1, printing nothing, when there is no such key. With REG_MUST_BE_WHOLE=1 (a snapshot
# taken before the program ran, when only the scenario has written) an answer that stays short of
# what the scenario wrote is a harness error; otherwise it is given as it is, for the check to
# judge: the program may have taken the values away.
#   reg_read KEY [/s]
reg_read() {
  local key=$1 deep=0 norm out rc lacks try
  [ "${2:-}" = /s ] && deep=1
  # After a harness error, whatever still runs before the scenario ends asks nothing more.
  [ -e "$SCENARIO_DIR/harness-error" ] && exit $HARNESS_EXIT
  norm=$(reg_norm "$key")
  for ((try = 1; ; try++)); do
    out=$(wine_cmd reg query "$@" 2>"$SCENARIO_DIR/reg.err" | tr -d '\r')
    rc=$?
    lacks=$(printf '%s\n' "$out" | reg_lacks "$norm" $deep)
    if [ $rc = 0 ] && [ -n "$lacks" ]; then
      [ "$lacks" = found ] && { printf '%s\n' "$out"; return 0; }
      if [ $try -ge $REG_TRIES ]; then
        lacks=$(printf '%s\n' "$lacks" | sed 1d | paste -sd' ')
        [ "${REG_MUST_BE_WHOLE:-0}" = 1 ] &&
          harness_error "reg query $* lacks what the scenario wrote before the run, $try times: $lacks"
        printf 'note: reg query %s lacks what the scenario wrote, %s times: %s\n' "$*" $try "$lacks" >&4
        printf '%s\n' "$out"
        return 0
      fi
    elif [ $rc = 1 ] && grep -qi 'unable to find the specified registry key' <<<"$out$(cat "$SCENARIO_DIR/reg.err")"; then
      return 1
    elif [ $try -ge $REG_TRIES ]; then
      harness_error "reg query $* answered nothing usable, $try times (last: exit code $rc, $(printf '%s' "$out" | grep -c .) lines)"
    else
      printf 'note: reg query %s answered nothing usable (exit code %s); asking again\n' "$*" $rc >&4
    fi
    sleep 1
  done
}
# Reads each key; a key that is not there is a harness error (for keys that only the scenario
# has touched yet).
reg_read_all() {
  local key
  for key in "$@"; do reg_read "$key" || harness_error "the key $key, which the scenario made, is not there"; done
}
# Prints the key's values as lines "NAME<TAB>TYPE<TAB>DATA" (nothing when the key is missing).
reg_values() {
  reg_read "$1" | sed -n 's/^    \([^ ].*\)$/\1/p' | sed 's/    /\t/g'
}
reg_key_exists() { reg_read "$1" >/dev/null; }
# One value's data, or nothing.
reg_value() {  # reg_value KEY NAME
  reg_values "$1" | awk -F'\t' -v n="$2" '$1 == n { print $3 }'
}
# Every key below KEY and KEY itself, one full path a line, sorted. KEY must hold a value or a
# subkey: of an empty key, reg query /s shows nothing at all.
reg_subkeys() {
  reg_read "$1" /s | grep '^HKEY_' | sort
}

# ---- the test newdev.dll (tools/newdev.c) ----

NEWDEV_KEY='HKCU\Software\VeltoTest'
# The owner that the install calls record: none (silent runs), or install.exe's main window.
OWNER_NONE=0
OWNER_MAIN_WINDOW='CLibApiWnd "VELTO drivers installation program"'

# Forgets what the test newdev.dll recorded and sets its answers: NAME=VALUE for Answer32,
# Answer64, UpdateAnswer32, UpdateAnswer64 (the others 0: Windows' answer for the file).
newdev_begin() {
  local a
  wine_cmd reg delete "$NEWDEV_KEY" /f >/dev/null 2>&1
  reg_forget "$NEWDEV_KEY"
  reg_begin
  reg_key 'HKEY_CURRENT_USER\Software\VeltoTest'
  declare -A answers=([Answer32]=0 [Answer64]=0 [UpdateAnswer32]=0 [UpdateAnswer64]=0)
  for a in "$@"; do answers[${a%%=*}]=${a#*=}; done
  for a in Answer32 Answer64 UpdateAnswer32 UpdateAnswer64; do reg_dword $a "${answers[$a]}"; done
  reg_import || die "cannot set the answers of the test newdev.dll"
  [ -z "$(reg_values "$NEWDEV_KEY" | grep -E '^(Calls|Updates|Callers)')" ] ||
    harness_error "the record of the test newdev.dll was not cleared"
}
# What the test newdev.dll recorded since newdev_begin, one call a line:
#   newdev_record Calls BITS     "OWNER|PATH|FLAGS"       (DiInstallDriverA)
#   newdev_record Updates BITS   "OWNER|ID|PATH|FLAGS"    (UpdateDriverForPlugAndPlayDevicesA)
#   newdev_record Callers BITS   "PROGRAM"                (either)
newdev_record() {
  reg_value "$NEWDEV_KEY" "$1$2" | tr ';' '\n' | sed '/^$/d'
}
# What the program asked of Windows must be exactly these calls, in order (none: no line).
#   expect_asked WHAT Calls|Updates BITS LINE...
expect_asked() {
  local what=$1 kind=$2 bits=$3 name
  shift 3
  case "$kind" in
    Calls) name=DiInstallDriverA ;;
    Updates) name=UpdateDriverForPlugAndPlayDevicesA ;;
    *) name=$kind ;;
  esac
  expect_exact_lines "$what: $name of the $bits-bit newdev asked" "$(newdev_record "$kind" "$bits")" "$@"
}

# Uses our cfgmgr32.dll, whose CM_Get_DevNode_Status answers from the device's TestPresent value,
# in place of Wine's own (which calls every device present) for install.exe's bitness in this
# prefix: it lies in that system folder, and the override loads it before Wine's.
use_test_cfgmgr32() {
  local dll=$TOOLS/cfgmgr32-$INSTALL_BITS.dll
  [ -f "$dll" ] || die "missing $dll"
  cp "$dll" "$DRIVE_C/windows/$INSTALL_SYSDIR/cfgmgr32.dll"
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cfgmgr32=n,b"
  # The device search asks the configuration manager through cfgmgr32.dll only when the
  # program imports it from there.
  local from
  from=$(imports_of "$INSTALL_EXE" | awk '$2 == "CM_Get_DevNode_Status" { print $1 }')
  if [ -n "$from" ] && [ "$(echo "$from" | tr 'A-Z' 'a-z')" != cfgmgr32.dll ]; then
    fail "install.exe imports CM_Get_DevNode_Status from $from, not from cfgmgr32.dll"
  fi
}

# Uses our newdev.dll (32- and 64-bit), whose install calls record how they were called and answer
# from HKCU\Software\VeltoTest (see newdev_begin), in place of Wine's own, for both bitnesses of
# this prefix. Wine's own answers success for any file, so a scenario learns only from ours what a
# program asked.
use_test_newdev() {
  [ -f "$TOOLS/newdev32.dll" ] && [ -f "$TOOLS/newdev64.dll" ] || die "missing $TOOLS/newdev32.dll or newdev64.dll"
  if [ -d "$DRIVE_C/windows/syswow64" ]; then
    cp "$TOOLS/newdev32.dll" "$DRIVE_C/windows/syswow64/newdev.dll" || die "cannot lay the 32-bit test newdev.dll"
  fi
  cp "$TOOLS/newdev64.dll" "$DRIVE_C/windows/system32/newdev.dll" || die "cannot lay the 64-bit test newdev.dll"
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;newdev=n,b"
}

# The import table as lines "DLL FUNCTION".
imports_of() {
  x86_64-w64-mingw32-objdump -p "$1" | awk '
    /DLL Name:/ { dll = $3; next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $NF }
  '
}
