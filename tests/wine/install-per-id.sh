#!/usr/bin/env bash
# "/install" on Windows Server 2008 R2 (6.1, not a workstation) and Server 2003 (5.2): the driver
# is installed once per hardware ID of the INF's marker lines, each on its devices (their Driver
# value is set), with the debug lines "Install_Device_Driver: " + the INF path and "success." per
# ID, exit code 0; after each success the absent devices of that ID are marked for reinstallation,
# the present ones not.
source "$(dirname "$0")/lib.sh"
scenario_begin
make_demo perid "$SAMPLE_INF"
use_test_cfgmgr32

# The hardware IDs of the sample package's marker lines, in file order.
mapfile -t MARKER_IDS < <(tr -d '\r' <"$SAMPLE_INF" | sed -n 's/^;@\(USB\\VID_7A3C&.*\)$/\1/p')
[ "${#MARKER_IDS[@]}" -ge 2 ] || die "the sample INF names fewer than two hardware IDs"
ENUM='HKLM\System\CurrentControlSet\Enum'

# One pass per Windows version that takes this method, each with devices of its own (TAG in
# their instance IDs): one per marker ID, every other one plugged in, and an absent device of
# another vendor. Wine's driver install compares hardware IDs with their letter case, so the IDs
# stay as the INF writes them.
install_pass() {  # install_pass WINECFG-VERSION EXPECTED-OS TAG
  local version=$1 tag=$3 i id present driver flags
  set_windows_version "$version" "$2"
  local vendor_devices=() presence=() other="USB\\VID_1234&PID_0001\\${tag}9"
  reg_begin
  for i in "${!MARKER_IDS[@]}"; do
    id="${MARKER_IDS[$i]}\\$tag$i"
    present=$((i % 2))
    vendor_devices+=("$id")
    presence+=("$present")
    fake_device "$id" "$present" 0 "${MARKER_IDS[$i]}"
  done
  fake_device "$other" 0 0 'USB\VID_1234&PID_0001'
  reg_import || die "cannot add the fake devices"
  local other_before other_after
  other_before=$(reg_subkeys "$ENUM\\$other"; reg_values "$ENUM\\$other")

  run_install -dir 'C:\perid' 'C:\perid\install.exe' /install
  expect_exit 00000000 "$version: /install"
  local want=()
  for _ in "${MARKER_IDS[@]}"; do want+=('Install_Device_Driver: C:\perid\veltowinusb.inf' 'success.'); done
  expect_debug_lines "$version: /install" "${want[@]}"
  expect_silent "$version: /install"

  for i in "${!vendor_devices[@]}"; do
    id=${vendor_devices[$i]}
    driver=$(reg_value "$ENUM\\$id" Driver)
    if [ -n "$driver" ]; then ok "$version: $id: driver installed ($driver)"; else fail "$version: $id: no Driver value"; fi
    flags=$(reg_value "$ENUM\\$id" ConfigFlags)
    if [ "${presence[$i]}" = 0 ]; then
      if [ -n "$flags" ] && [ $((flags & 0x20)) -ne 0 ]; then ok "$version: $id (absent): marked, ConfigFlags $flags"
      else fail "$version: $id (absent): not marked for reinstallation, ConfigFlags ${flags:-none}"; fi
    else
      if [ -n "$flags" ] && [ $((flags & 0x20)) -eq 0 ]; then ok "$version: $id (present): not marked, ConfigFlags $flags"
      else fail "$version: $id (present): ConfigFlags ${flags:-none}, CONFIGFLAG_REINSTALL must stay clear"; fi
    fi
  done

  other_after=$(reg_subkeys "$ENUM\\$other"; reg_values "$ENUM\\$other")
  if [ "$other_after" = "$other_before" ]; then ok "$version: device of another vendor untouched"
  else fail "$version: device of another vendor changed:"; diff <(echo "$other_before") <(echo "$other_after") | sed 's/^/    /'; fi
}

install_pass win2008r2 "6.1.7601 type=3" R  # 6.1, not a workstation
install_pass win2003 "5.2.3790 type=3" S    # 5.2

scenario_end
