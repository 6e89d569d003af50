#!/usr/bin/env bash
# "/install" on a Windows 7 workstation: the whole package is installed once (debug lines
# "Install_Driver: " + the INF path and "success", exit code 0): Windows is asked once, through
# DiInstallDriverA with no owner window and no flags, for the full path of veltowinusb.inf in the
# current directory; afterwards every device that carries one of the package's hardware IDs and
# is not plugged in is marked for reinstallation. An install that Windows refuses ends with exit
# code 1 and marks nothing. Wine's own DiInstallDriverA answers success for any file, so the test
# newdev.dll answers and records here.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo pkg "$SAMPLE_INF"
use_test_cfgmgr32
use_test_newdev
ASKED="$OWNER_NONE|C:\\pkg\\veltowinusb.inf|0x0"

add_marking_devices
flags_before() {
  local d id
  for d in "${MARKING_DEVICES[@]}"; do
    IFS='|' read -r _ id _ _ _ _ <<<"$d"
    printf '%s %s\n' "$id" "$(reg_value "HKLM\\System\\CurrentControlSet\\Enum\\$id" ConfigFlags)"
  done
}
FLAGS_BEFORE=$(REG_MUST_BE_WHOLE=1 flags_before)

# Refused: the answer is the result, and nothing is marked.
newdev_begin "Answer$INSTALL_BITS=5"
run_install -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000001 "/install refused"
expect_debug_lines "/install refused" 'Install_Driver: C:\pkg\veltowinusb.inf' 'error: access denied'
expect_asked "/install refused" Calls "$INSTALL_BITS" "$ASKED"
if [ "$(flags_before)" = "$FLAGS_BEFORE" ]; then ok "/install refused: no device marked"
else fail "/install refused: devices marked:"; diff <(echo "$FLAGS_BEFORE") <(flags_before) | sed 's/^/    /'; fi

newdev_begin
run_install -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install, package method"
expect_debug_lines "/install, package method" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install, package method"
expect_asked "/install, package method" Calls "$INSTALL_BITS" "$ASKED"
expect_asked "/install, package method" Updates "$INSTALL_BITS"
expect_asked "/install, package method" Callers "$INSTALL_BITS" 'C:\pkg\install.exe'
[ "$INSTALL_BITS" = 32 ] && expect_asked "/install, package method: no hand-over" Calls 64

check_marking "/install"

# The INF of the current directory, not of install.exe's folder: started from C:\other (which
# holds the package too) the path is C:\other's.
mkdir -p "$DRIVE_C/other"
cp "$SAMPLE_INF" "$DRIVE_C/other/veltowinusb.inf"
newdev_begin
run_install -dir 'C:\other' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install from C:\\other"
expect_debug_lines "/install from C:\\other" 'Install_Driver: C:\other\veltowinusb.inf' 'success'
expect_asked "/install from C:\\other" Calls "$INSTALL_BITS" "$OWNER_NONE|C:\\other\\veltowinusb.inf|0x0"

# Windows 8 and later report 6.2 to a program without a supportedOS manifest: a workstation
# there takes the package method too.
set_windows_version win10 "6.2.9200 type=1"
newdev_begin
run_install -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install on Windows 10"
expect_debug_lines "/install on Windows 10" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install on Windows 10"
expect_asked "/install on Windows 10" Calls "$INSTALL_BITS" "$ASKED"

scenario_end
