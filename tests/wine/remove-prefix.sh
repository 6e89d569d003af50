#!/usr/bin/env bash
# Removes the base prefix after the run (it takes more than a gigabyte).
set -euo pipefail
WORK=${WINE_TEST_WORK:?WINE_TEST_WORK names the work folder}
[ "${WINE_TEST_KEEP:-0}" = 1 ] || rm -rf "$WORK/base"
