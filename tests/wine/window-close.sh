#!/usr/bin/env bash
# install.exe without an argument ends with exit code 0 however its window is closed: the Exit
# button, the close box of the caption, Alt+F4 with the pointer over the window (the X server
# sends the keys to the window under the pointer when no window manager sets the focus), and
# Close in the system menu (Alt+Space, C). Each road starts the program afresh.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gui.sh"
gui_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo win "$SAMPLE_INF"

# close_by WHAT: starts the program, closes its window the way WHAT names, and checks the end.
close_by() {
  gui_start win
  read_window
  case "$1" in
    "the Exit button") click_button Exit ;;
    "the close box")
      local box
      box=$(wwin closebox "$CAPTION" | sed -n 's/^closebox: \([0-9]* [0-9]*\)$/\1/p')
      if [ -n "$box" ]; then
        log "close box at $box"
        click_at $box
      else
        fail "the window has no close box"
      fi ;;
    "Alt+F4") pointer_over_window; xdotool key alt+F4 ;;
    "the system menu") pointer_over_window; xdotool key alt+space; sleep 0.5; xdotool key c ;;
  esac
  wait_window_gone "$1"
  gui_end
  expect_exit 00000000 "$1"
  expect_debug_lines "$1"
  expect_only_main_window "$1"
}

close_by "the Exit button"
close_by "the close box"
close_by "Alt+F4"
close_by "the system menu"

scenario_end
