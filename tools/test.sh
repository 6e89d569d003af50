#!/usr/bin/env bash
# The test command: installs what is missing, builds the host build (plain and under the
# sanitizers), fuzzes the readers of outside input, builds the two Windows programs and the Windows
# build of the control library's tests, and runs every test, the last ones under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh test

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

# The control library's shared tests as a Windows program, for Wine.
cmake --preset win32-tests >/dev/null
cmake --build --preset win32-tests

# The real programs of dist/ and the library's shared tests under Wine.
bash tools/setup.sh wine
ctest --preset wine
