#!/usr/bin/env bash
# install.exe without an argument, driven by clicks: Install writes its lines into the list and
# installs as "/install" does (the package installed, absent devices marked for reinstallation);
# Uninstall appends its lines after them and removes the vendor's devices; a second Install
# clears the list first; Exit ends the program with exit code 0.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gui.sh"
gui_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo win "$SAMPLE_INF"
use_test_cfgmgr32
add_marking_devices
ENUM='HKLM\System\CurrentControlSet\Enum'

INSTALL_LINES=('Installing VELTO WinUsb driver...' 'Success.')
debug_lines_now() { tr -d '\r' <"$GUI_OUT" | sed -n 's/^debug: //p'; }

gui_start win
read_window
expect_list "before any click" # empty

# Install: the package method's lines, and the same work as the silent run.
click_button Install
wait_last_line "${INSTALL_LINES[-1]}" || fail "Install: the list never ended with '${INSTALL_LINES[-1]}'"
expect_list "Install" "${INSTALL_LINES[@]}"
got=$(debug_lines_now)
want=$(printf '%s\n' 'Install_Driver: C:\win\veltowinusb.inf' 'success')
if [ "$got" = "$want" ]; then ok "Install: debug lines as with /install"; else fail "Install: debug lines '$got'"; fi
check_marking "Install"

# Uninstall: its progress lines appended after the install's; the vendor's six devices go, the
# other vendor's device stays.
click_button Uninstall
wait_last_line "Ok" || fail "Uninstall: the list never ended with 'Ok'"
mapfile -t lines < <(list_lines)
if [ "${#lines[@]}" -gt 2 ] && [ "${lines[0]}" = "${INSTALL_LINES[0]}" ] && [ "${lines[1]}" = "${INSTALL_LINES[1]}" ]; then
  ok "Uninstall: the install's lines kept at the top"
else
  fail "Uninstall: the install's lines are not kept at the top"
fi
uninstall_lines=("${lines[@]:2}")
printf '%s\n' "${uninstall_lines[@]}" | sed 's/^/    uninstall: /'
# Each device: (one "Removing DRIVER" per compatible driver that Wine finds,) its keys, itself.
expect_exact_lines "Uninstall: ${#uninstall_lines[@]} lines appended, six devices removed one after the other" \
  "$(uninstall_core_lines "${uninstall_lines[@]}")" "${UNINSTALL_CORE_LINES[@]}"
for d in "${MARKING_DEVICES[@]}"; do
  IFS='|' read -r what id _ _ hwid _ <<<"$d"
  case "$id" in
    'USB\VID_7A3C&'*)
      if reg_key_exists "$ENUM\\$id"; then fail "Uninstall: $what $id is still there"; else ok "Uninstall: $what $id removed"; fi ;;
    *)
      if reg_key_exists "$ENUM\\$id"; then ok "Uninstall: $what $id stays"; else fail "Uninstall: $what $id was removed"; fi ;;
  esac
done
n=$(debug_lines_now | wc -l)
if [ "$n" = 2 ]; then ok "Uninstall: no debug line"; else fail "Uninstall: $((n - 2)) debug lines"; fi

# A second Install: the list cleared first, then the install's lines alone.
click_button Install
wait_last_line "${INSTALL_LINES[-1]}" || fail "second Install: the list never ended with '${INSTALL_LINES[-1]}'"
expect_list "second Install" "${INSTALL_LINES[@]}"
n=$(debug_lines_now | grep -c '^Install_Driver: C:\\win\\veltowinusb.inf$')
if [ "$n" = 2 ]; then ok "second Install: installed again"; else fail "second Install: $n installs in all, expected 2"; fi

click_button Exit
wait_window_gone "Exit"
gui_end
expect_exit 00000000 "Exit"
expect_only_main_window "Install, Uninstall, Install, Exit"

scenario_end
