#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that the loader could take from the program's own
# folder. Both programs run as administrator, often from a folder that anyone may write to, and
# the loader looks for an imported DLL there first unless it is one of Windows' KnownDLLs (always
# mapped from the system directory; the list is that of Windows 7 and later: Windows XP and Server
# 2003 have fewer, setupapi.dll is not among them) or comes side by side, as the common controls 6
# that the manifest names do. Everything else is loaded at run time by full path from the system
# directory, with its own imports from there too.
set -euo pipefail
known='advapi32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt'
known+='|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32'
allowed="^($known|comctl32)\\.dll\$"
status=0
for exe in "$@"; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}'); do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "$exe imports $dll, which is neither a KnownDLL of Windows nor the side-by-side common controls" >&2
      status=1
    fi
  done
done
[ $status = 0 ] && echo "imports: only Windows' KnownDLLs and the common controls in $*"
exit $status
