# Shared part of the interactive scenarios, sourced after lib.sh: install.exe started without an
# argument under our runner, driven through the X server with xdotool as a person would, and
# read back with wwin.exe (window rectangles, list lines, where the close box is).
#
# The windows are unmanaged (Managed=N): without a window manager Wine then draws the caption,
# the close box and the sizing border itself and runs its own sizing loop, as Windows does, and
# it does not wait 2 s for a withdrawal whenever a window hides.

source "$(dirname "${BASH_SOURCE[0]}")/fields.sh"

CAPTION="VELTO drivers installation program"
GUI_PID=""
GUI_RUNS=0

gui_begin() {
  command -v xdotool >/dev/null || die "xdotool is not installed (bash tools/setup.sh wine)"
  scenario_begin
  # wwin of install.exe's bitness, so that the road needs no other.
  [ -f "$TOOLS/wwin$INSTALL_BITS.exe" ] || die "missing $TOOLS/wwin$INSTALL_BITS.exe"
  cp "$TOOLS/wwin$INSTALL_BITS.exe" "$DRIVE_C/wtest/wwin.exe"
  unmanaged_windows
}

# The status of wait and gone is their answer; a send or post must not be made twice.
wwin() {
  local run=wine_cmd
  case $1 in wait | gone) run=wine_again ;; esac
  $run 'C:\wtest\wwin.exe' "$@" 2>>"$SCENARIO_DIR/wine.err" | tr -d '\r'
}

# Starts C:\DIR\install.exe without an argument under our runner in the background and waits for its
# window; the scenario stops when no window comes. GUI_WRUN_OPTIONS go to the runner (-firstchance).
#   gui_start DIR
gui_start() {
  GUI_RUNS=$((GUI_RUNS + 1))
  GUI_OUT=$SCENARIO_DIR/gui$GUI_RUNS.out
  timeout 150 "$WINE" "C:\\wtest\\wrun$INSTALL_BITS.exe" -timeout 120000 ${GUI_WRUN_OPTIONS:-} -dir "C:\\$1" "C:\\$1\\install.exe" \
    >"$GUI_OUT" 2>>"$SCENARIO_DIR/wine.err" &
  GUI_PID=$!
  log "--- started C:\\$1\\install.exe without an argument (run $GUI_RUNS)"
  if ! wwin wait "$CAPTION" 30000 >/dev/null; then
    wineserver -k >/dev/null 2>&1
    gui_end
    die "no window \"$CAPTION\" within 30 s"
  fi
}

# Waits for the run to end and takes its report as run_install does: RUN_OUT, RUN_EXIT.
gui_end() {
  wait "$GUI_PID"
  GUI_PID=""
  RUN_OUT=$(tr -d '\r' <"$GUI_OUT")
  RUN_EXIT=$(printf '%s\n' "$RUN_OUT" | sed -n 's/^exit: 0x//p' | tail -n1)
  printf '%s\n' "$RUN_OUT" | sed 's/^/    /'
}

# Reads the window back into WIN (the lines of "wwin show").
read_window() {
  WIN=$(wwin show "$CAPTION")
}

# A field of the window, e.g. win_field rect -> "50 50 650 370".
win_field() { printf '%s\n' "$WIN" | grep '^window: ' | head -n1 | field_of "$1"; }
# A child's field by its class and text: child_field Button Install rect -> "L T R B".
child_field() {
  printf '%s\n' "$WIN" | grep -F "child: class=\"$1\" text=\"$2\" " | head -n1 | field_of "$3"
}
# The list box's lines, one a line.
list_lines() { printf '%s\n' "$WIN" | sed -n 's/^line: //p'; }

# The pointer to a point. (xdotool's --sync waits for a motion, long, when there is none to make.)
pointer_to() {
  local here
  here=$(xdotool getmouselocation | sed -n 's/^x:\([0-9]*\) y:\([0-9]*\) .*/\1 \2/p')
  [ "$here" = "$1 $2" ] || xdotool mousemove --sync "$1" "$2"
}
# The pointer to a point, then a click of the left button, all through the X server.
click_at() {
  pointer_to "$1" "$2" && sleep 0.1 && xdotool click 1
}
# A drag with the left button held, in steps, as a hand does.
#   drag FROM-X FROM-Y TO-X TO-Y
drag() {
  pointer_to "$1" "$2" && sleep 0.1 && xdotool mousedown 1 && sleep 0.1 &&
    pointer_to $((($1 + $3) / 2)) $((($2 + $4) / 2)) && sleep 0.1 &&
    pointer_to "$3" "$4" && sleep 0.2 && xdotool mouseup 1 && sleep 0.3
}
# A click in the middle of the button with this text, found in the last WIN.
click_button() {
  local r
  r=$(child_field Button "$1" screen)
  [ -n "$r" ] || { fail "no button \"$1\" to click"; return 1; }
  set -- $r
  click_at $((($1 + $3) / 2)) $((($2 + $4) / 2))
}
# The pointer over the middle of the window, where the X server sends the keys.
pointer_over_window() {
  set -- $(win_field rect)
  pointer_to $((($1 + $3) / 2)) $((($2 + $4) / 2))
  sleep 0.1
}

# Reads the window until its list's last line is the given one (the procedure has run to its
# end), at most 30 s; WIN holds the last reading.
#   wait_last_line LINE
wait_last_line() {
  local end=$((SECONDS + 30))
  while :; do
    read_window
    [ "$(list_lines | tail -n1)" = "$1" ] && return 0
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

# Waits for the window to go, at most 15 s; a window that stays is failed and its program ended
# (with everything else of the scenario's prefix), so that the scenario goes on at once.
#   wait_window_gone WHAT
wait_window_gone() {
  if wwin gone "$CAPTION" 15000 >/dev/null; then
    ok "$1: the window goes"
  else
    fail "$1: the window is still there"
    wineserver -k >/dev/null 2>&1
  fi
}

# The layout of the controls for the window's actual client size: margins of 8, the buttons 128
# wide in a column at the right (Install at the top, Uninstall 8 below it, Exit at the bottom),
# the list filling the rest; all in client coordinates, all visible.
#   check_layout WHAT
check_layout() {
  local what=$1 cw ch
  read -r cw ch <<<"$(win_field client)"
  local -a ins rem ex lb
  read -r -a ins <<<"$(child_field Button Install rect)"
  read -r -a rem <<<"$(child_field Button Uninstall rect)"
  read -r -a ex <<<"$(child_field Button Exit rect)"
  read -r -a lb <<<"$(child_field ListBox "" rect)"
  if [ -z "$cw" ] || [ ${#ins[@]} -ne 4 ] || [ ${#rem[@]} -ne 4 ] || [ ${#ex[@]} -ne 4 ] || [ ${#lb[@]} -ne 4 ]; then
    fail "$what: the window or one of its four controls is missing"
    printf '%s\n' "$WIN" | sed 's/^/    /'
    return
  fi
  local ih=$((ins[3] - ins[1])) rh=$((rem[3] - rem[1])) eh=$((ex[3] - ex[1]))
  local col=$((cw - 128 - 8))
  local want got
  want="Install $col 8 $((col + 128)) $((8 + ih)) | Uninstall $col $((8 + ih + 8)) $((col + 128)) $((8 + ih + 8 + rh))"
  want+=" | Exit $col $((ch - 8 - eh)) $((col + 128)) $((ch - 8)) | list 8 8 $((col - 8)) $((ch - 8))"
  got="Install ${ins[*]} | Uninstall ${rem[*]} | Exit ${ex[*]} | list ${lb[*]}"
  if [ "$want" = "$got" ] && [ "$ih" -gt 0 ] && [ "$rh" -gt 0 ] && [ "$eh" -gt 0 ]; then
    ok "$what: layout for the client area ${cw}x$ch: $got"
  else
    fail "$what: layout for the client area ${cw}x$ch"
    log "    expected $want"
    log "    got      $got"
  fi
  local hidden
  hidden=$(printf '%s\n' "$WIN" | grep '^child: ' | grep -v ' visible=1 ')
  if [ -z "$hidden" ]; then ok "$what: every control visible"; else fail "$what: hidden control: $hidden"; fi
}

# The window rectangle in screen coordinates.
#   expect_window_rect "L T R B" WHAT
expect_window_rect() {
  local got
  got=$(win_field rect)
  if [ "$got" = "$1" ]; then ok "$2: window rectangle $got"; else fail "$2: window rectangle ${got:-none}, expected $1"; fi
}

# The list's lines, exactly and in order.
#   expect_list WHAT LINE...
expect_list() {
  local what=$1
  shift
  expect_exact_lines "$what: list lines" "$(list_lines)" "$@"
}

# An uninstall's lines without those of driver packages ("Removing DRIVER", "Uninstalling
# drivers"), which depend on what Wine lists, one a line; and what they must be for the six
# vendor devices of add_marking_devices.
uninstall_core_lines() {
  local l
  for l in "$@"; do
    case "$l" in
      "Removing registry keys" | "Removing device from system") printf '%s\n' "$l" ;;
      "Removing "* | "Uninstalling drivers") ;;
      *) printf '%s\n' "$l" ;;
    esac
  done
}
UNINSTALL_CORE_LINES=("Searching for devices...")
for _ in 1 2 3 4 5 6; do UNINSTALL_CORE_LINES+=("Removing registry keys" "Removing device from system"); done
UNINSTALL_CORE_LINES+=("Successfull uninstalled 6 devices" "Ok")

# After the run: no top-level window but the main window (and the system menu's popup, class
# #32768, when the scenario opened it), no exception, no timeout.
expect_only_main_window() {
  local other
  other=$(printf '%s\n' "$RUN_OUT" | grep -E '^(window|exception|timeout)' |
    grep -v -F -x "window: class=\"CLibApiWnd\" caption=\"$CAPTION\" text=\"\"" |
    grep -v -F -x 'window: class="#32768" caption="" text=""' | head -n1)
  if [ -z "$other" ]; then ok "$1: no other window, no exception, no timeout"; else fail "$1: $other"; fi
}
