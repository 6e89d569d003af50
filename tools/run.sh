#!/usr/bin/env bash
# The build-and-run command: installs what is missing, builds dist/ (install.exe and
# amd64/quorvin.exe), lays out a demo folder build/demo with them and the sample driver package,
# and runs install.exe there under Wine, printing its debug lines and full exit code.
#   bash tools/run.sh              opens the window: on your display when DISPLAY is set (the run
#                                  ends when you close the window); without one on an X server of
#                                  its own, where it saves a screenshot (build/run/window.png),
#                                  prints where, and closes the window with Alt+F4
#   bash tools/run.sh ARGUMENT...  runs silently, e.g. /install or /uninstall
# Wine works in the prefix build/wineprefix (or $WINEPREFIX), made on the first run.
cd "$(dirname "$0")/.."
source tools/wine-window.sh
build_all
use_prefix
make_demo
WRUN=$(win_path "$RUN_DIR/wrun.exe")

# Prints the runner's report and the exit code it gives.
report() {
  printf '%s\n' "$1" | grep -v '^exit: ' || true
  local code
  code=$(printf '%s\n' "$1" | sed -n 's/^exit: 0x//p')
  if [ -z "$code" ]; then
    echo "install.exe ${2:-}: no exit code (the runner failed)"
    exit 1
  fi
  echo "install.exe${2:+ $2}: exit code $((16#$code)) (0x$code)"
}

if [ $# -gt 0 ]; then
  # A silent run: a window that nobody can answer on a display of our own is reported and closed
  # after a minute.
  timeout_ms=4294967295
  if [ -z "${DISPLAY:-}" ]; then
    virtual_display
    timeout_ms=60000
  fi
  echo "Running install.exe $* in $WIN_DEMO"
  out=$("$WINE" "$WRUN" -dir "$WIN_DEMO" -timeout $timeout_ms "$WIN_DEMO\\install.exe" "$@" 2>/dev/null | tr -d '\r')
  report "$out" "$*"
  exit 0
fi

if [ -n "${DISPLAY:-}" ]; then
  echo "Opening install.exe in $WIN_DEMO on display $DISPLAY; close its window to end the run"
  out=$("$WINE" "$WRUN" -dir "$WIN_DEMO" -timeout 4294967295 "$WIN_DEMO\\install.exe" 2>/dev/null | tr -d '\r')
  report "$out"
  exit 0
fi

virtual_display
unmanaged_windows
echo "Opening install.exe in $WIN_DEMO on a virtual display ($DISPLAY)"
outfile=$RUN_DIR/window-run.txt
"$WINE" "$WRUN" -dir "$WIN_DEMO" -timeout 120000 "$WIN_DEMO\\install.exe" >"$outfile" 2>/dev/null &
run_pid=$!
if wwin wait "$CAPTION" 30000 >/dev/null; then
  sleep 1
  shot=$RUN_DIR/window.png
  save_window_png "$shot" && echo "Screenshot of the window: $shot"
  close_window
else
  echo "No window \"$CAPTION\" appeared"
fi
wait $run_pid || true
report "$(tr -d '\r' <"$outfile")"
