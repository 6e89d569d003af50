#!/usr/bin/env bash
# The test command: installs what is missing, builds the host build (plain and under the
# sanitizers) and the two Windows programs, and runs every test, the last ones under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh test

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset host-san >/dev/null
cmake --build --preset host-san
ctest --preset host-san

for preset in win32 win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
done
bash tools/check-imports.sh dist/install.exe dist/amd64/quorvin.exe
bash tools/sizes.sh

# The real programs of dist/ under Wine.
bash tools/setup.sh wine
ctest --preset wine
