#!/usr/bin/env bash
# install.exe's window and another program: WM_USER+1 (the window's progress message) sent and
# posted from outside, with a null, a small, an unmapped wParam and the address of install.exe's
# own image, adds no line, raises no exception and leaves the window working; an Uninstall
# clicked afterwards still writes its own lines, in order.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gui.sh"
gui_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo win "$SAMPLE_INF"
use_test_cfgmgr32
add_marking_devices

# Every exception as it is raised: Wine swallows an access violation in the handling of a message
# that another program sent, so the program living on proves nothing by itself.
GUI_WRUN_OPTIONS=-firstchance
gui_start win
read_window
expect_list "before any message" # empty

base=$(wwin imagebase "$CAPTION" | sed -n 's/^imagebase: //p')
[ -n "$base" ] || die "the window's image base cannot be read"
log "install.exe lies at $base in its process"
for how in send post; do
  for wp in 0 1 0xFFFFFFF0 "$base"; do
    answer=$(wwin "$how" "$CAPTION" 0x401 "$wp" 0)
    case "$answer" in
      "posted: handled" | "sent: 0x"*) ok "$how WM_USER+1 with wParam $wp: $answer" ;;
      *) fail "$how WM_USER+1 with wParam $wp: ${answer:-no answer: the window has gone}" ;;
    esac
  done
  read_window
  if [ -n "$(win_field rect)" ]; then ok "after the ${how}s: the window is there"; else fail "after the ${how}s: the window has gone"; fi
  expect_list "after the ${how}s" # still empty
done
faults=$(tr -d '\r' <"$GUI_OUT" | grep -E '^(first-chance|exception): ')
if [ -z "$faults" ]; then ok "no exception in install.exe"; else fail "install.exe raised: $(printf '%s' "$faults" | tr '\n' ' ')"; fi

# The uninstall's own texts still become lines, in order: six devices of the vendor.
click_button Uninstall
wait_last_line "Ok" || fail "Uninstall: the list never ended with 'Ok'"
mapfile -t lines < <(list_lines)
printf '%s\n' "${lines[@]}" | sed 's/^/    line: /'
expect_exact_lines "Uninstall after the foreign messages" "$(uninstall_core_lines "${lines[@]}")" \
  "${UNINSTALL_CORE_LINES[@]}"

click_button Exit
wait_window_gone "Exit"
gui_end
expect_exit 00000000 "Exit"
expect_only_main_window "foreign messages, Uninstall, Exit"
expect_no_match '^first-chance: ' "no exception raised in the whole run"
scenario_end
