#!/usr/bin/env bash
# "/install" on a Windows 7 workstation: the whole package is installed once (debug lines
# "Install_Driver: " + the INF path and "success", exit code 0), and afterwards every device that
# carries one of the package's hardware IDs and is not plugged in is marked for reinstallation.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo pkg "$SAMPLE_INF"
use_test_cfgmgr32

ENUM='HKLM\System\CurrentControlSet\Enum'
# what | instance ID | present | ConfigFlags before | hardware IDs | ConfigFlags expected after
DEVICES=(
  'absent device|USB\VID_7A3C&PID_0001\P1|0|0|USB\VID_7A3C&PID_0001|0x20'
  'present device|USB\VID_7A3C&PID_0002\P2|1|0|USB\VID_7A3C&PID_0002|0x0'
  'absent device with other flags|USB\VID_7A3C&PID_0010&MI_00\P3|0|4|USB\VID_7A3C&PID_0010&MI_00|0x24'
  'absent device, ID in lower case|USB\VID_7A3C&PID_0001\P4|0|0|usb\vid_7a3c&pid_0001|0x20'
  'absent device with a longer ID only|USB\VID_7A3C&PID_0001&REV_0200\P5|0|0|USB\VID_7A3C&PID_0001&REV_0200|0x0'
  'absent device already marked|USB\VID_7A3C&PID_0002\P6|0|0x20|USB\VID_7A3C&PID_0002|0x20'
  'absent device of another vendor|USB\VID_1234&PID_0001\B1|0|0|USB\VID_1234&PID_0001|0x0'
)
reg_begin
for d in "${DEVICES[@]}"; do
  IFS='|' read -r _ id present flags hwid _ <<<"$d"
  fake_device "$id" "$present" "$flags" "$hwid"
done
reg_import || die "cannot add the fake devices"

run32 -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install, package method"
expect_debug_lines "/install, package method" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install, package method"

# The marking: absent devices whose hardware-ID list holds a marker ID (in any letter case) get
# CONFIGFLAG_REINSTALL with their other flags kept; present devices, devices with a longer ID
# only, and devices of another vendor keep their flags.
for d in "${DEVICES[@]}"; do
  IFS='|' read -r what id _ _ _ want <<<"$d"
  got=$(reg_value "$ENUM\\$id" ConfigFlags)
  if [ "$got" = "$want" ]; then
    ok "$what $id: ConfigFlags $got"
  else
    fail "$what $id: ConfigFlags ${got:-none}, expected $want"
  fi
done

# Windows 8 and later report 6.2 to a program without a supportedOS manifest: a workstation
# there takes the package method too.
set_windows_version win10 "6.2.9200 type=1"
run32 -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install on Windows 10"
expect_debug_lines "/install on Windows 10" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install on Windows 10"

scenario_end
