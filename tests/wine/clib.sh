#!/usr/bin/env bash
# The control library's shared tests (tests/clib), built as clib_tests.exe by the win32-tests
# preset, on Wine: passes when the program ends with exit code 0 having run at least one test and
# failed none. Arguments go to the program, e.g. --gtest_filter=ClibHarness.*
source "$(dirname "$0")/lib.sh"
EXE=${WINE_TEST_CLIB_EXE:?WINE_TEST_CLIB_EXE names clib_tests.exe}
prefix_begin
[ -f "$EXE" ] || die "missing $EXE (the presets win32-tests and win64-twin-tests build it)"
cp "$EXE" "$DRIVE_C/wtest/clib_tests.exe"
# Without a window manager, Wine waits 2 s whenever a shown top-level window is hidden or
# destroyed, for a withdrawal that no one makes. Unmanaged windows (Managed=N: Wine places and
# frames them itself, as Windows does) do not wait.
wine_cmd reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
  die "cannot make the windows unmanaged"
log "scenario $SCENARIO: prefix $WINEPREFIX, display $DISPLAY, $EXE"

timeout 600 "$WINE" 'C:\wtest\clib_tests.exe' --gtest_brief=0 "$@" >"$SCENARIO_DIR/out.txt" 2>"$SCENARIO_DIR/wine.err"
code=$?
OUT=$(tr -d '\r' <"$SCENARIO_DIR/out.txt")
printf '%s\n' "$OUT" | sed 's/^/    /'

if [ $code -eq 0 ]; then ok "clib_tests.exe: exit code 0"; else fail "clib_tests.exe: exit code $code"; fi
ran=$(printf '%s\n' "$OUT" | sed -n 's/^\[==========\] \([0-9][0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' | tail -n1)
if [ "${ran:-0}" -gt 0 ]; then ok "$ran tests ran"; else fail "no test ran"; fi
failed=$(printf '%s\n' "$OUT" | grep '^\[  FAILED  \] [A-Za-z_]' | sed 's/ (.*//' | sort -u | wc -l)
if [ "$failed" -eq 0 ]; then ok "no test failed"; else fail "$failed tests failed"; fi
skipped=$(printf '%s\n' "$OUT" | sed -n 's/^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\},.*/\1/p' | tail -n1)
[ -n "$skipped" ] && log "skipped on Wine: $skipped (reasons above)"
if [ $code -ne 0 ] && [ -s "$SCENARIO_DIR/wine.err" ]; then
  log "--- Wine's error output"
  tail -n 40 "$SCENARIO_DIR/wine.err" | sed 's/^/    /'
fi

scenario_end
