#!/usr/bin/env bash
# The build-and-run command: installs what is missing, builds dist/ (install.exe and
# amd64/quorvin.exe), lays out a demo folder with them and the sample driver package, and runs
# install.exe there under Wine with the given arguments, printing its debug lines and exit code.
#   bash tools/run.sh [ARGUMENT...]     default: /install
# Wine works in the prefix build/wineprefix (or $WINEPREFIX), made on the first run. Without a
# display the run gets an X server of its own; a window that nobody can answer there is reported
# and closed after a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash tools/setup.sh wine

for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
done

# Our runner shows the full 32-bit exit code and every debug line (wine's own status keeps only
# the low byte of the exit code, and debug lines go nowhere).
mkdir -p build/run
i686-w64-mingw32-gcc -O2 -static-libgcc -s -o build/run/wrun32.exe tests/wine/tools/wrun.c

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/amd64"
cp dist/install.exe "$demo/"
cp dist/amd64/quorvin.exe "$demo/amd64/"
cp tests/data/veltowinusb.inf "$demo/"

export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX..."
  WINEARCH=win64 wineboot -i >/dev/null 2>&1
  wineserver -w
fi

xvfb_pid=""
timeout_ms=4294967295
if [ -z "${DISPLAY:-}" ]; then
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true; rm -f "$fdfile"' EXIT
  for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
  export DISPLAY=:$(head -n1 "$fdfile")
  timeout_ms=60000
fi

[ $# -eq 0 ] && set -- /install
windemo=$(winepath -w "$demo" 2>/dev/null | tr -d '\r')
echo "Running install.exe $* in $windemo"
report=$(wine "$(winepath -w "$root/build/run/wrun32.exe" | tr -d '\r')" -dir "$windemo" -timeout $timeout_ms \
  "$windemo\\install.exe" "$@" 2>/dev/null | tr -d '\r')
printf '%s\n' "$report" | grep -v '^exit: ' || true
code=$(printf '%s\n' "$report" | sed -n 's/^exit: 0x//p')
if [ -n "$code" ]; then
  echo "install.exe $*: exit code $((16#$code)) (0x$code)"
else
  echo "install.exe $*: no exit code (the runner failed)"
  exit 1
fi
