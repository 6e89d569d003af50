# Shared part of run.sh, screenshot.sh and bench-startup.sh: the build, the Wine prefix, an X
# server of our own, and install.exe's window on it. Sourced from the repository root.
set -euo pipefail
ROOT=$PWD
CAPTION="VELTO drivers installation program"
RUN_DIR=$ROOT/build/run
DEMO=$ROOT/build/demo
CLEANUPS=()
source "$ROOT/tests/wine/fields.sh"

on_exit() {
  local i
  for ((i = ${#CLEANUPS[@]} - 1; i >= 0; --i)); do eval "${CLEANUPS[i]}" || true; done
}
trap on_exit EXIT

# Installs what is missing and builds dist/, and our two Windows tools: wrun.exe (runs a program
# as its debugger: debug lines and the full exit code; wine's own status keeps only the low byte)
# and wwin.exe (reads a window back: rectangles, list lines). On a machine that runs no 32-bit x86
# code (tests/wine/bits.sh) Wine's 64-bit loader runs install.exe's 64-bit twin, a test build, and
# the tools are 64-bit too.
build_all() {
  bash tools/setup.sh wine
  BITS=$(bash tests/wine/bits.sh)
  local preset presets=(win32 win64)
  CC=i686-w64-mingw32-gcc
  WINE=wine
  INSTALL_EXE=dist/install.exe
  if [ "$BITS" = 64 ]; then
    presets+=(win64-twin)
    CC=x86_64-w64-mingw32-gcc
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
    INSTALL_EXE=build/win64-twin/install.exe
  fi
  for preset in "${presets[@]}"; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset
  done
  mkdir -p "$RUN_DIR"
  $CC -O2 -static-libgcc -s -o "$RUN_DIR/wrun.exe" tests/wine/tools/wrun.c
  $CC -O2 -static-libgcc -s -o "$RUN_DIR/wwin.exe" tests/wine/tools/wwin.c
  if [ "$BITS" = 64 ]; then
    echo "Using $INSTALL_EXE, the 64-bit test build of install.exe, because this machine runs no 32-bit programs"
  fi
}

# The Wine prefix build/wineprefix (or $WINEPREFIX), made on the first use.
use_prefix() {
  export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX..."
    WINEARCH=win64 "$WINE" wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Debian's Wine does not find its own fonts (package fonts-wine) by itself: without Marlett the
  # caption buttons show letters. It finds them in the prefix's font folder.
  local f fonts=$WINEPREFIX/drive_c/windows/Fonts
  for f in marlett.ttf tahoma.ttf tahomabd.ttf; do
    [ -f "$fonts/$f" ] || [ ! -f "/usr/share/wine/fonts/$f" ] || cp "/usr/share/wine/fonts/$f" "$fonts/"
  done
}

# A folder with the shipped programs (install.exe's twin in its place where it stands in) and the
# sample driver package: build/demo.
make_demo() {
  rm -rf "$DEMO"
  mkdir -p "$DEMO/amd64"
  cp "$INSTALL_EXE" "$DEMO/install.exe"
  cp dist/amd64/quorvin.exe "$DEMO/amd64/"
  cp tests/data/veltowinusb.inf "$DEMO/"
  WIN_DEMO=$(win_path "$DEMO")
}

win_path() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# An X server of our own (1024x768x24) for this run: DISPLAY names it.
virtual_display() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
  local pid=$!
  CLEANUPS+=("kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f '$fdfile'")
  for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
  [ -s "$fdfile" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -n1 "$fdfile")
}

# Without a window manager Wine should draw the caption and frame itself (Managed=N), as the
# tests do. The prefix's own setting comes back afterwards, for runs on a desktop.
unmanaged_windows() {
  local key='HKCU\Software\Wine\X11 Driver' before
  before=$( ("$WINE" reg query "$key" /v Managed 2>/dev/null || true) | tr -d '\r' | awk '$1 == "Managed" { print $3 }')
  "$WINE" reg add "$key" /v Managed /d N /f >/dev/null 2>&1
  if [ -n "$before" ]; then
    CLEANUPS+=("'$WINE' reg add '$key' /v Managed /d '$before' /f >/dev/null 2>&1")
  else
    CLEANUPS+=("'$WINE' reg delete '$key' /v Managed /f >/dev/null 2>&1")
  fi
}

wwin() { "$WINE" "$(win_path "$RUN_DIR/wwin.exe")" "$@" 2>/dev/null | tr -d '\r'; }

# A field of the window's line of "wwin show", up to the next NAME= (rect -> "50 50 650 370").
window_field() { wwin show "$CAPTION" | grep '^window: ' | head -n1 | field_of "$1"; }
# The screen centre of the button with this text.
button_centre() {
  wwin show "$CAPTION" | grep -F "child: class=\"Button\" text=\"$1\" " | head -n1 |
    sed -n 's/.* screen=\([-0-9]*\) \([-0-9]*\) \([-0-9]*\) \([-0-9]*\) .*/\1 \2 \3 \4/p' |
    awk '{ print int(($1 + $3) / 2), int(($2 + $4) / 2) }'
}

# Saves the window, as the X server shows it, as a PNG.
save_window_png() {
  local r
  read -r -a r <<<"$(window_field rect)"
  [ ${#r[@]} -eq 4 ] || { echo "no window to save" >&2; return 1; }
  mkdir -p "$(dirname "$1")"
  xwd -root -silent | xwdtopnm 2>/dev/null |
    pnmcut -left "${r[0]}" -top "${r[1]}" -width $((r[2] - r[0])) -height $((r[3] - r[1])) |
    pnmtopng -compression 9 >"$1"
}

# Alt+F4 with the pointer over the window, as a person closes it.
close_window() {
  local r
  read -r -a r <<<"$(window_field rect)"
  [ ${#r[@]} -eq 4 ] && xdotool mousemove $(((r[0] + r[2]) / 2)) $(((r[1] + r[3]) / 2))
  sleep 0.2
  xdotool key alt+F4
}
