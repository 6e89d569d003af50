#!/usr/bin/env bash
# The test command: installs what is missing, builds the host build (plain and under the
# sanitizers), fuzzes the readers of outside input, builds the two Windows programs, the Windows
# build of the control library's tests and the 64-bit twins, and runs every test, the last ones
# under Wine. TEST_WINE_BITS=64 runs the Wine tests on the twins only; TEST_WINE_BITS=32 insists
# on the real 32-bit programs (tests/wine/bits.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh test
# Which programs Wine can run here, decided once: the real 32-bit ones, or only 64-bit twins.
bits=$(bash tests/wine/bits.sh)

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset host-san >/dev/null
cmake --build --preset host-san
ctest --preset host-san

# The two readers of outside input (the INF's marker lines, the command line) under libFuzzer with
# the sanitizers, a minute each, side by side.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash tests/fuzz/run.sh 60

for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
done
bash tools/check-imports.sh dist/install.exe dist/amd64/quorvin.exe
bash tools/sizes.sh

# The control library's shared tests as a Windows program, for Wine, and the 64-bit twins of it
# and of install.exe (test builds, never shipped).
for preset in win32-tests win64-twin win64-twin-tests; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
done

# The real programs of dist/, the twins and the library's shared tests under Wine.
bash tools/setup.sh wine
status=0
TEST_WINE_BITS=$bits ctest --preset wine || status=$?
# Why the skipped ones were skipped, one line a reason.
awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
     /^skipped: / { sub(/^skipped: /, ""); names[$0] = names[$0] " " test }
     END { for (r in names) print "skipped:" names[r] ": " r }' build/host/Testing/Temporary/LastTest.log
if [ "$bits" = 64 ]; then
  if [ "${TEST_WINE_BITS:-}" = 64 ]; then
    echo "TEST_WINE_BITS=64: the Wine tests ran on the 64-bit twins of install.exe and clib_tests.exe only"
  else
    echo "This machine runs no 32-bit x86 code: the Wine tests ran on the 64-bit twins of install.exe and clib_tests.exe"
  fi
fi
exit $status
