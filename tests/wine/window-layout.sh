#!/usr/bin/env bash
# install.exe without an argument: the main window with its caption at (50, 50), 600x320, the
# three buttons and the list laid out for the client size with margins of 8; sized larger with
# the mouse on the sizing border the layout follows; sized smaller it stops at 600x320 (the
# window's minimum tracking size), and the layout still holds.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gui.sh"
gui_begin
set_windows_version win7 "6.1.7601 type=1"
make_demo win "$SAMPLE_INF"

gui_start win
read_window
printf '%s\n' "$WIN" | sed 's/^/    /'
if printf '%s\n' "$WIN" | grep -q '^window: visible=1 '; then ok "window \"$CAPTION\" shown"
else fail "no visible window \"$CAPTION\""; fi
expect_window_rect "50 50 650 370" "at the start"
style=$(win_field style)
# WS_CAPTION, WS_SYSMENU and WS_THICKFRAME: a caption with a close box and a sizing border.
if [ -n "$style" ] && [ $((style & 0x00CC0000)) -eq $((0x00CC0000)) ]; then ok "style $style has caption, system menu and sizing border"
else fail "style ${style:-none} lacks WS_CAPTION, WS_SYSMENU or WS_THICKFRAME"; fi
check_layout "at the start"
for text in Install Uninstall Exit; do
  n=$(printf '%s\n' "$WIN" | grep -c -F "child: class=\"Button\" text=\"$text\" ")
  if [ "$n" = 1 ]; then ok "one button \"$text\""; else fail "$n buttons \"$text\""; fi
done
n=$(printf '%s\n' "$WIN" | grep -c '^child: ')
if [ "$n" = 4 ]; then ok "four controls"; else fail "$n controls, expected 4"; fi

# Sizing: the bottom right corner of the sizing border dragged with the mouse; Wine runs the
# sizing loop of the system, which asks the window for its minimum tracking size.
corner() { set -- $(win_field rect); echo "$(($3 - 2)) $(($4 - 2))"; }
read -r cx cy <<<"$(corner)"
drag "$cx" "$cy" $((cx + 200)) $((cy + 100))
read_window
expect_window_rect "50 50 850 470" "dragged 200 right and 100 down"
check_layout "larger"

read -r cx cy <<<"$(corner)"
drag "$cx" "$cy" $((cx - 100)) $((cy - 60))
read_window
expect_window_rect "50 50 750 410" "dragged back by 100 and 60 (above the minimum)"
check_layout "smaller, above the minimum"

read -r cx cy <<<"$(corner)"
drag "$cx" "$cy" $((cx - 400)) $((cy - 240))
read_window
expect_window_rect "50 50 650 370" "dragged to 300x120 (below the minimum)"
check_layout "at the minimum"

# The window still answers the buttons after the sizing: Exit ends the program with 0.
click_button Exit
wait_window_gone "Exit after sizing"
gui_end
expect_exit 00000000 "Exit after sizing"
expect_debug_lines "opened, sized and left"
expect_only_main_window "opened, sized and left"

scenario_end
