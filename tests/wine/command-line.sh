#!/usr/bin/env bash
# The command line of install.exe: only "/install" and "/uninstall", in any letter case and also
# in quotes, start an action; anything else ends with exit code 1 and does nothing. Without the
# INF "/install" ends with exit code 1, shows nothing and asks Windows for nothing. The test
# newdev.dll records what each run asked (Wine's own answers success for any file).
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"  # workstation: the package method
use_test_newdev
ASKED="$OWNER_NONE|C:\\cmd\\veltowinusb.inf|0x0"

make_demo cmd "$SAMPLE_INF"
make_demo noinf

# A device of the vendor, which only an uninstall removes.
DEVICE='HKLM\System\CurrentControlSet\Enum\USB\VID_7A3C&PID_0001\CMD1'
reg_begin
fake_device 'USB\VID_7A3C&PID_0001\CMD1' 1 0 'USB\VID_7A3C&PID_0001'
reg_import || die "cannot add the fake device"

# The reference: what "/install" does here, the package install with its two debug lines.
INSTALL_DEBUG=("Install_Driver: C:\\cmd\\veltowinusb.inf" "success")
newdev_begin
run_install -dir 'C:\cmd' 'C:\cmd\install.exe' /install
expect_exit 00000000 "/install"
expect_debug_lines "/install" "${INSTALL_DEBUG[@]}"
expect_silent "/install"
expect_asked "/install" Calls "$INSTALL_BITS" "$ASKED"

# Arguments that are no keyword: exit code 1, no window, no debug line, no install.
newdev_begin
for arg in /x install /install:x -install /installx /uninstal '/ install' '""'; do
  run_install -dir 'C:\cmd' 'C:\cmd\install.exe' "$arg"
  expect_exit 00000001 "argument $arg"
  expect_debug_lines "argument $arg"
  expect_silent "argument $arg"
done
expect_asked "the arguments that are no keyword" Calls "$INSTALL_BITS"
expect_asked "the arguments that are no keyword" Updates "$INSTALL_BITS"

# Keywords in other letter case, in quotes, or followed by more arguments act as "/install"
# ($arg unquoted: '/install /uninstall' goes on the command line as two arguments).
for arg in /INSTALL /Install '"/install"' '"/INSTALL"' '/install /uninstall' '/install junk'; do
  newdev_begin
  run_install -dir 'C:\cmd' 'C:\cmd\install.exe' $arg
  expect_exit 00000000 "argument $arg"
  expect_debug_lines "argument $arg" "${INSTALL_DEBUG[@]}"
  expect_silent "argument $arg"
  expect_asked "argument $arg" Calls "$INSTALL_BITS" "$ASKED"
done

if reg_key_exists "$DEVICE"; then ok "no argument above uninstalled"; else fail "a device was removed by an argument above"; fi

# "/uninstall" in other letter case acts as "/uninstall".
run_install -dir 'C:\cmd' 'C:\cmd\install.exe' /UNINSTALL
expect_exit 00000000 "argument /UNINSTALL"
expect_silent "argument /UNINSTALL"
if reg_key_exists "$DEVICE"; then fail "/UNINSTALL left the vendor device"; else ok "/UNINSTALL removed the vendor device"; fi

# Without the INF: exit code 1 and nothing at all, not even a debug line or a call to Windows.
newdev_begin
run_install -dir 'C:\noinf' 'C:\noinf\install.exe' /install
expect_exit 00000001 "/install without the INF"
expect_debug_lines "/install without the INF"
expect_silent "/install without the INF"
expect_asked "/install without the INF" Calls "$INSTALL_BITS"
expect_asked "/install without the INF" Updates "$INSTALL_BITS"

scenario_end
