#!/usr/bin/env bash
# "/uninstall": every device whose instance ID begins "USB\VID_7A3C&" (in any letter case),
# present or not, is removed with its registry keys; the driver packages that Windows lists as
# compatible with them whose driver's own hardware ID is the vendor's, and the packages
# "veltowinusb.inf" and "usbvelto.inf", are removed from C:\windows\inf; devices, keys and
# packages of others are left alone, also another maker's class driver that the vendor's devices
# match through a compatible ID; exit code 0.
source "$(dirname "$0")/lib.sh"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo un "$SAMPLE_INF"

INF_DIR=$DRIVE_C/windows/inf
ENUM='HKLM\System\CurrentControlSet\Enum'
CLASS="HKLM\\System\\CurrentControlSet\\Control\\Class\\$USB_DEVICE_CLASS"

# Driver packages as Windows keeps them: an older VELTO package under an OEM name, the two names
# that the uninstall removes by name, another maker's package, and another maker's class driver.
cp "$WINE_TEST_SOURCE/data/velto-installed.inf" "$INF_DIR/oem12.inf"
cp "$WINE_TEST_SOURCE/data/other-installed.inf" "$INF_DIR/oem13.inf"
cp "$WINE_TEST_SOURCE/data/other-class.inf" "$INF_DIR/oem14.inf"
cp "$SAMPLE_INF" "$INF_DIR/veltowinusb.inf"
cp "$SAMPLE_INF" "$INF_DIR/usbvelto.inf"
OWN_INFS=(-e oem12.inf -e oem13.inf -e oem14.inf -e veltowinusb.inf -e usbvelto.inf -e '.*\.pnf')
WINE_INFS=$(cd "$INF_DIR" && ls | grep -vix "${OWN_INFS[@]}")

VENDOR_DEVICES=(
  'USB\VID_7A3C&PID_0001\U1'   # plugged in, with its driver key
  'USB\VID_7A3C&PID_0001\U2'   # a second one of the same product, not plugged in
  'USB\VID_7A3C&PID_0002\U3'   # another product, not plugged in
  'USB\vid_7a3c&pid_0003\U4'   # a key in lower case (Wine reports its instance ID in upper case)
)
OTHER_DEVICES=(
  'USB\VID_1234&PID_0001\B1'   # another vendor, with its driver key
  'USB\VID_7A3D&PID_0001\N1'   # a neighbouring vendor ID
  'USB\VID_7A3C\C1'            # the vendor ID without the "&" that the prefix ends with
)
reg_begin
fake_device "${VENDOR_DEVICES[0]}" 1 0 'USB\VID_7A3C&PID_0001' 'USB\Class_FF&SubClass_00|USB\Class_FF'
reg_sz Driver "$USB_DEVICE_CLASS\\0000"
reg_key "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\${VENDOR_DEVICES[0]}\\Device Parameters"
reg_multi DeviceInterfaceGUIDs '{5C1A7E20-3D4B-4F63-9A2E-7A3C00000001}'
fake_device "${VENDOR_DEVICES[1]}" 0 0x20 'USB\VID_7A3C&PID_0001'
fake_device "${VENDOR_DEVICES[2]}" 0 0 'USB\VID_7A3C&PID_0002'
fake_device "${VENDOR_DEVICES[3]}" 0 0 'USB\vid_7a3c&pid_0003'
fake_device "${OTHER_DEVICES[0]}" 1 0 'USB\VID_1234&PID_0001' 'USB\Class_FF'
reg_sz Driver "$USB_DEVICE_CLASS\\0001"
fake_device "${OTHER_DEVICES[1]}" 0 0 'USB\VID_7A3D&PID_0001'
fake_device "${OTHER_DEVICES[2]}" 0 0 'USB\VID_7A3C'
reg_key "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\$USB_DEVICE_CLASS"
reg_sz Class USBDevice
reg_key "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\$USB_DEVICE_CLASS\\0000"
reg_sz DriverDesc "VELTO Data Logger (1.2)"
reg_sz InfPath oem12.inf
reg_key "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\$USB_DEVICE_CLASS\\0001"
reg_sz DriverDesc "Other maker probe"
reg_sz InfPath oem13.inf
reg_import || die "cannot add the fake devices"

# Before the run only the scenario has written: a snapshot short of what it wrote is a harness
# error. After the run one that stays short is the program's doing.
snapshot_others() {
  local id
  for id in "${OTHER_DEVICES[@]}"; do reg_subkeys "$ENUM\\$id"; reg_values "$ENUM\\$id"; done
  reg_values "$CLASS\\0001"
}
OTHERS_BEFORE=$(REG_MUST_BE_WHOLE=1; snapshot_others)
for id in "${VENDOR_DEVICES[@]}"; do
  reg_key_exists "$ENUM\\$id" || die "the fake device $id is not there"
done

run_install -dir 'C:\un' 'C:\un\install.exe' /uninstall
expect_exit 00000000 "/uninstall"
expect_debug_lines "/uninstall"
expect_silent "/uninstall"

for id in "${VENDOR_DEVICES[@]}"; do
  if reg_key_exists "$ENUM\\$id"; then fail "vendor device $id is still there"; else ok "vendor device $id removed"; fi
done
if reg_key_exists "$CLASS\\0000"; then fail "the driver key of ${VENDOR_DEVICES[0]} is still there"
else ok "driver key of ${VENDOR_DEVICES[0]} removed"; fi

OTHERS_AFTER=$(snapshot_others)
if [ -n "$OTHERS_AFTER" ] && [ "$OTHERS_AFTER" = "$OTHERS_BEFORE" ]; then ok "devices and driver key of others untouched"
else fail "devices or driver key of others changed:"; diff <(echo "$OTHERS_BEFORE") <(echo "$OTHERS_AFTER") | sed 's/^/    /'; fi

for inf in oem12.inf veltowinusb.inf usbvelto.inf; do
  if [ -e "$INF_DIR/$inf" ]; then fail "C:\\windows\\inf\\$inf is still there"; else ok "C:\\windows\\inf\\$inf removed"; fi
done
if [ -e "$INF_DIR/oem13.inf" ]; then ok "the other maker's package stays"; else fail "the other maker's package oem13.inf was removed"; fi
if [ -e "$INF_DIR/oem14.inf" ]; then ok "the other maker's class driver stays"
else fail "the other maker's class driver oem14.inf, matched through a compatible ID, was removed"; fi
WINE_INFS_AFTER=$(cd "$INF_DIR" && ls | grep -vix "${OWN_INFS[@]}")
if [ "$WINE_INFS_AFTER" = "$WINE_INFS" ]; then ok "the system's own packages stay"
else fail "the system's own packages changed:"; diff <(echo "$WINE_INFS") <(echo "$WINE_INFS_AFTER") | sed 's/^/    /'; fi

# A second run finds nothing more to do and still succeeds.
run_install -dir 'C:\un' 'C:\un\install.exe' /uninstall
expect_exit 00000000 "/uninstall again"
expect_silent "/uninstall again"
OTHERS_AFTER=$(snapshot_others)
if [ "$OTHERS_AFTER" = "$OTHERS_BEFORE" ]; then ok "second run: others untouched"; else fail "second run changed the others"; fi

scenario_end
