#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that is not part of Windows itself.
set -euo pipefail
allowed='^(kernel32|user32|gdi32|comctl32|setupapi|newdev|cfgmgr32|msvcrt|advapi32|ntdll)\.dll$'
status=0
for exe in "$@"; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}'); do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "$exe imports $dll, which is not a Windows system DLL" >&2
      status=1
    fi
  done
done
[ $status = 0 ] && echo "imports: only Windows system DLLs in $*"
exit $status
