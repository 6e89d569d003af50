#!/usr/bin/env bash
# "/install" on a Windows 7 workstation: the whole package is installed once (debug lines
# "Install_Driver: " + the INF path and "success", exit code 0), and afterwards every device that
# carries one of the package's hardware IDs and is not plugged in is marked for reinstallation.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo pkg "$SAMPLE_INF"
use_test_cfgmgr32

add_marking_devices

run_install -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install, package method"
expect_debug_lines "/install, package method" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install, package method"

check_marking "/install"

# Windows 8 and later report 6.2 to a program without a supportedOS manifest: a workstation
# there takes the package method too.
set_windows_version win10 "6.2.9200 type=1"
run_install -dir 'C:\pkg' 'C:\pkg\install.exe' /install
expect_exit 00000000 "/install on Windows 10"
expect_debug_lines "/install on Windows 10" 'Install_Driver: C:\pkg\veltowinusb.inf' 'success'
expect_silent "/install on Windows 10"

scenario_end
