#!/usr/bin/env bash
# "/install" on Windows Server 2008 R2 (6.1, not a workstation) and Server 2003 (5.2): the driver
# is installed once per hardware ID of the INF's marker lines, each on its devices (their Driver
# value is set), with the debug lines "Install_Device_Driver: " + the INF path and "success." per
# ID, exit code 0; after each success the absent devices of that ID are marked for reinstallation,
# the present ones not. Windows is asked once per ID, in file order, through
# UpdateDriverForPlugAndPlayDevicesA with no owner window and no flags, for the full path of the
# INF; an install that Windows refuses for every ID ends with exit code 1 and marks nothing.
# Wine's own install sets the devices' Driver values (only for a real package) but answers success
# for any file; what was asked, and a refusal, come from the test newdev.dll.
source "$(dirname "$0")/lib.sh"
scenario_begin
make_demo perid "$SAMPLE_INF"
use_test_cfgmgr32
WINE_NEWDEV=$WINEDLLOVERRIDES
use_test_newdev
TEST_NEWDEV=$WINEDLLOVERRIDES

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
  other_before=$(REG_MUST_BE_WHOLE=1; reg_subkeys "$ENUM\\$other"; reg_values "$ENUM\\$other")

  WINEDLLOVERRIDES=$WINE_NEWDEV run_install -dir 'C:\perid' 'C:\perid\install.exe' /install
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

# What the test newdev.dll was asked, refusing every ID and then answering success, with absent
# devices of the marker IDs of their own (TAG).
asked_pass() {  # asked_pass VERSION TAG
  local version=$1 tag=$2 i want=() asked=() id
  reg_begin
  for i in "${!MARKER_IDS[@]}"; do
    fake_device "${MARKER_IDS[$i]}\\$tag$i" 0 0 "${MARKER_IDS[$i]}"
    asked+=("$OWNER_NONE|${MARKER_IDS[$i]}|C:\\perid\\veltowinusb.inf|0x0")
  done
  reg_import || die "cannot add the fake devices"
  marks() { for i in "${!MARKER_IDS[@]}"; do reg_value "$ENUM\\${MARKER_IDS[$i]}\\$tag$i" ConfigFlags; done; }

  newdev_begin "UpdateAnswer$INSTALL_BITS=5"
  run_install -dir 'C:\perid' 'C:\perid\install.exe' /install
  expect_exit 00000001 "$version: /install refused"
  for _ in "${MARKER_IDS[@]}"; do want+=('Install_Device_Driver: C:\perid\veltowinusb.inf' 'error: access denied'); done
  expect_debug_lines "$version: /install refused" "${want[@]}"
  expect_asked "$version: /install refused" Updates "$INSTALL_BITS" "${asked[@]}"
  expect_exact_lines "$version: /install refused: ConfigFlags of the absent devices" "$(marks)" $(for _ in "${MARKER_IDS[@]}"; do echo 0x0; done)

  newdev_begin
  run_install -dir 'C:\perid' 'C:\perid\install.exe' /install
  expect_exit 00000000 "$version: /install, asked"
  expect_asked "$version: /install" Updates "$INSTALL_BITS" "${asked[@]}"
  expect_asked "$version: /install" Calls "$INSTALL_BITS"
  expect_asked "$version: /install" Callers "$INSTALL_BITS" $(for _ in "${MARKER_IDS[@]}"; do echo 'C:\perid\install.exe'; done)
  expect_exact_lines "$version: /install: ConfigFlags of the absent devices" "$(marks)" $(for _ in "${MARKER_IDS[@]}"; do echo 0x20; done)
}

install_pass win2008r2 "6.1.7601 type=3" R  # 6.1, not a workstation
asked_pass win2008r2 RA
install_pass win2003 "5.2.3790 type=3" S    # 5.2
asked_pass win2003 SA

scenario_end
