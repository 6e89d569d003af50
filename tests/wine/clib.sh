#!/usr/bin/env bash
# The control library's shared tests (tests/clib), built as clib_tests.exe by the win32-tests
# preset, on Wine: passes when the program ends with exit code 0 having run at least one test and
# failed none. Arguments go to the program, e.g. --gtest_filter=ClibHarness.*
# It runs under our runner, which reports the exit code that Windows gives (GetExitCodeProcess):
# Wine's own status of the program can be 137 after it ended well (see wine_again).
source "$(dirname "$0")/lib.sh"
EXE=${WINE_TEST_CLIB_EXE:?WINE_TEST_CLIB_EXE names clib_tests.exe}
prefix_begin
[ -f "$EXE" ] || die "missing $EXE (the presets win32-tests and win64-twin-tests build it)"
RUNNER=wrun$INSTALL_BITS.exe
[ -f "$TOOLS/$RUNNER" ] || die "missing $TOOLS/$RUNNER"
cp "$EXE" "$DRIVE_C/wtest/clib_tests.exe"
cp "$TOOLS/$RUNNER" "$DRIVE_C/wtest/"
unmanaged_windows
log "scenario $SCENARIO: prefix $WINEPREFIX, display $DISPLAY, $EXE"

WINE_LIMIT=630 run_with "$RUNNER" -timeout 600000 -dir 'C:\wtest' 'C:\wtest\clib_tests.exe' --gtest_brief=0 "$@"
expect_exit 00000000 "clib_tests.exe"
expect_no_match '^(exception|timeout)' "clib_tests.exe ends by itself"
ran=$(printf '%s\n' "$RUN_OUT" | sed -n 's/^\[==========\] \([0-9][0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' | tail -n1)
if [ "${ran:-0}" -gt 0 ]; then ok "$ran tests ran"; else fail "no test ran"; fi
failed=$(printf '%s\n' "$RUN_OUT" | grep '^\[  FAILED  \] [A-Za-z_]' | sed 's/ (.*//' | sort -u | wc -l)
if [ "$failed" -eq 0 ]; then ok "no test failed"; else fail "$failed tests failed"; fi
skipped=$(printf '%s\n' "$RUN_OUT" | sed -n 's/^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\},.*/\1/p' | tail -n1)
[ -n "$skipped" ] && log "skipped on Wine: $skipped (reasons above)"
if [ "$RUN_EXIT" != 00000000 ] && [ -s "$SCENARIO_DIR/wine.err" ]; then
  log "--- Wine's error output"
  tail -n 40 "$SCENARIO_DIR/wine.err" | sed 's/^/    /'
fi

scenario_end
