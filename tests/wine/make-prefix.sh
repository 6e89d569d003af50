#!/usr/bin/env bash
# Makes the base prefix of one test run, once; every scenario works on a full copy of it.
# Runs without network: Wine is told not to look for its Mono and Gecko add-ons.
set -euo pipefail
WORK=${WINE_TEST_WORK:?WINE_TEST_WORK names the work folder}
command -v wine >/dev/null || { echo "ERROR: wine is not installed (bash tools/setup.sh wine)"; exit 1; }
mkdir -p "$WORK"
rm -rf "$WORK/base"
export WINEPREFIX=$WORK/base WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
wineboot -i >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log"; exit 1; }
# A program that crashes ends at once instead of waiting for a debugger that nobody watches.
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
  wine reg delete "$key" /v Debugger /f >/dev/null 2>&1 || true
done
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] ||
  { echo "ERROR: wineboot made no 64-bit prefix with its 32-bit part"; cat "$WORK/wineboot.log"; exit 1; }
echo "base prefix: $WINEPREFIX ($(du -sh "$WINEPREFIX" | cut -f1)), $(wine --version)"
