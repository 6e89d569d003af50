#!/usr/bin/env bash
# Makes the base prefix of one test run, once; every scenario works on a full copy of it. Decides
# once, through bits.sh, whether the real 32-bit programs can run here, and writes the answer (32
# or 64) to WORK/bits for the scenarios. Without 32-bit code the prefix is made by Wine's 64-bit
# loader and has no 32-bit part.
# Runs without network: Wine is told not to look for its Mono and Gecko add-ons.
set -euo pipefail
WORK=${WINE_TEST_WORK:?WINE_TEST_WORK names the work folder}
command -v wine >/dev/null || { echo "ERROR: wine is not installed (bash tools/setup.sh wine)"; exit 1; }
mkdir -p "$WORK"
rm -rf "$WORK/base" "$WORK/bits"
bits=$(bash "$(dirname "$0")/bits.sh")
WINE=wine
if [ "$bits" = 64 ]; then
  WINE=/usr/lib/wine/wine64
  export WINELOADER=$WINE
  echo "this machine runs no 32-bit x86 code, or TEST_WINE_BITS=64: the Wine tests run on the 64-bit twins"
fi
export WINEPREFIX=$WORK/base WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
# Status 137: Wine's server killed wineboot's Unix process after it ended (see wine_again in
# lib.sh); the checks below tell whether the prefix was made.
rc=0
"$WINE" wineboot -i >"$WORK/wineboot.log" 2>&1 || rc=$?
[ $rc = 0 ] || [ $rc = 137 ] || { cat "$WORK/wineboot.log"; exit 1; }
# A program that crashes ends at once instead of waiting for a debugger that nobody watches.
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
  "$WINE" reg delete "$key" /v Debugger /f >/dev/null 2>&1 || true
done
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || { echo "ERROR: wineboot made no prefix"; cat "$WORK/wineboot.log"; exit 1; }
if [ "$bits" = 32 ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  echo "ERROR: wineboot made no 64-bit prefix with its 32-bit part"
  cat "$WORK/wineboot.log"
  exit 1
fi
echo "$bits" >"$WORK/bits"
echo "base prefix: $WINEPREFIX ($(du -sh "$WINEPREFIX" | cut -f1)), $("$WINE" --version), programs: $bits-bit"
