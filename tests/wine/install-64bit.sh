#!/usr/bin/env bash
# The 64-bit hand-over of "/install": when the package install is refused in the 32-bit process
# with ERROR_IN_WOW64, install.exe starts amd64\quorvin.exe in its own folder, waits for it and
# takes its exit code as the result, reported as if its own call had answered it. Wine never
# refuses, so both bitnesses get our test newdev.dll (see tools/newdev.c), which answers what
# each pass asks for and records the calls.
source "$(dirname "$0")/lib.sh"
REAL_ONLY="the hand-over needs the 32-bit install.exe, whose package install Windows refuses in a 32-bit process"
scenario_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo h "$SAMPLE_INF"
# The catalog that the INF names: the copy into the driver store takes it along.
: >"$DRIVE_C/h/veltowinusb.cat"
use_test_cfgmgr32
use_test_newdev

ENUM='HKLM\System\CurrentControlSet\Enum'
ABSENT='USB\VID_7A3C&PID_0001\H1'
INF_DIR=$DRIVE_C/windows/inf
reg_begin
fake_device "$ABSENT" 0 0 'USB\VID_7A3C&PID_0001'
reg_import || die "cannot prepare the registry"
PATH_LINE='Install_Driver: C:\h\veltowinusb.inf'

# quorvin's answer | its debug line ("-" for none) | exit code | ConfigFlags of the absent device after
PASSES=(
  '5|error: access denied|00000001|0x0'
  '0x103|current driver is up-to-date|00000001|0x0'
  '0xE000023F|error: not authenticated|00000001|0x0'
  '0xE0000235|-|00000001|0x0'
  '0xE000020B|success, mark to reinstall|00000000|0x20'
  '0|success|00000000|0x20'
)
for pass in "${PASSES[@]}"; do
  IFS='|' read -r answer line code flags <<<"$pass"
  what="quorvin answers $answer"
  newdev_begin Answer32=0xE0000235 Answer64="$answer"
  infs_before=$(ls "$INF_DIR")

  run_install -dir 'C:\h' 'C:\h\install.exe' /install
  expect_exit "$code" "$what"
  want=("$PATH_LINE" 'Running 64-bit installer...' 'Process finished')
  [ "$line" != - ] && want+=("$line")
  expect_debug_lines "$what" "${want[@]}"
  expect_silent "$what"
  # install.exe asks once without force and owner; quorvin, started in the folder of the INF,
  # asks once with DIIRFLAG_FORCE_INF for the same file.
  expect_asked "$what: install.exe" Calls 32 "$OWNER_NONE|C:\\h\\veltowinusb.inf|0x0"
  expect_asked "$what: quorvin.exe" Calls 64 "$OWNER_NONE|C:\\h\\veltowinusb.inf|0x2"
  expect_asked "$what" Callers 64 'C:\h\amd64\quorvin.exe'
  got=$(reg_value "$ENUM\\$ABSENT" ConfigFlags)
  if [ "$got" = "$flags" ]; then ok "$what: absent device's ConfigFlags $got"
  else fail "$what: absent device's ConfigFlags ${got:-none}, expected $flags"; fi

  # After ERROR_NO_SUCH_DEVINST quorvin copies the package into the driver store itself (Wine
  # keeps the INF's own name there, Windows gives it an oemNN.inf name).
  new=$(comm -13 <(echo "$infs_before") <(ls "$INF_DIR") | grep -i '\.inf$')
  if [ "$answer" = 0xE000020B ]; then
    if [ -n "$new" ] && cmp -s "$INF_DIR/$(echo "$new" | head -n1)" "$SAMPLE_INF"; then ok "$what: package copied to the driver store as $new"
    else fail "$what: no copy of the package in C:\\windows\\inf"; fi
  elif [ -n "$new" ]; then
    fail "$what: unexpected new package $new in C:\\windows\\inf"
  fi
done

# Without amd64\quorvin.exe the start fails with ERROR_FILE_NOT_FOUND, reported as such.
rm "$DRIVE_C/h/amd64/quorvin.exe"
newdev_begin Answer32=0xE0000235
run_install -dir 'C:\h' 'C:\h\install.exe' /install
expect_exit 00000001 "quorvin.exe missing"
expect_debug_lines "quorvin.exe missing" "$PATH_LINE" 'Running 64-bit installer...' 'CreateProcess error 0x2'
expect_silent "quorvin.exe missing"
expect_asked "quorvin.exe missing" Calls 64

scenario_end
