#!/usr/bin/env bash
# Makes the README's picture: install.exe without an argument on Wine, on an X server of its
# own, the Install button clicked, and the window saved as a PNG when the install has written its
# last line.
#   bash tools/screenshot.sh [FILE]     default: docs/window.png
cd "$(dirname "$0")/.."
source tools/wine-window.sh
out=${1:-docs/window.png}
build_all
use_prefix
make_demo
virtual_display
unmanaged_windows

WRUN=$(win_path "$RUN_DIR/wrun.exe")
"$WINE" "$WRUN" -dir "$WIN_DEMO" -timeout 120000 "$WIN_DEMO\\install.exe" >"$RUN_DIR/screenshot-run.txt" 2>/dev/null &
run_pid=$!
wwin wait "$CAPTION" 30000 >/dev/null || { echo "No window \"$CAPTION\" appeared"; exit 1; }

read -r x y <<<"$(button_centre Install)"
[ -n "${y:-}" ] || { echo "No Install button"; exit 1; }
xdotool mousemove --sync "$x" "$y"
sleep 0.2
xdotool click 1
for _ in $(seq 150); do
  wwin show "$CAPTION" | grep -q '^line: Success\.$' && break
  sleep 0.2
done
# The pointer away from the window, so that no button is drawn hot.
xdotool mousemove 1000 750
sleep 0.5
save_window_png "$out"
close_window
wait $run_pid || true
echo "Saved $out ($(stat -c %s "$out") bytes); the run: $(tr -d '\r' <"$RUN_DIR/screenshot-run.txt" | grep -v '^window: ' | tr '\n' ' ')"
