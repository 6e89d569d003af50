#!/usr/bin/env bash
# Both programs name only Windows system DLLs in their import tables, and start in a bare prefix
# from a folder that holds nothing but them: no run-time DLL of the compiler is needed.
source "$(dirname "$0")/lib.sh"
scenario_begin

# DLLs that every supported Windows has in its system folder.
SYSTEM_DLLS='^(kernel32|user32|gdi32|comctl32|setupapi|newdev|cfgmgr32|advapi32|msvcrt|ntdll|shell32|ole32|oleaut32|version|shlwapi)\.dll$'

# program | its system folder in the prefix
for entry in "install.exe|$INSTALL_EXE|$DRIVE_C/windows/$INSTALL_SYSDIR" \
             "amd64/quorvin.exe|$QUORVIN_EXE|$DRIVE_C/windows/system32"; do
  IFS='|' read -r prog exe sysdir <<<"$entry"
  imports=$(imports_of "$exe")
  [ -n "$imports" ] || { fail "$prog: no import table read"; continue; }
  for dll in $(echo "$imports" | cut -d' ' -f1 | sort -uf); do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    if echo "$lower" | grep -Eq "$SYSTEM_DLLS"; then ok "$prog imports $dll, a system DLL"
    else fail "$prog imports $dll, which is not a Windows system DLL"; continue; fi
    # Each function it takes from there is exported by that DLL as the prefix has it.
    file=$(find "$sysdir" -maxdepth 1 -iname "$lower" | head -n1)
    [ -n "$file" ] || { fail "$prog: $dll is not in $sysdir"; continue; }
    exports=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '{print $NF}')
    missing=$(echo "$imports" | awk -v d="$dll" '$1 == d { print $2 }' | grep -vxF -f <(echo "$exports") | tr '\n' ' ')
    if [ -z "$missing" ]; then ok "$prog: every function it takes from $dll is there"
    else fail "$prog: $dll lacks $missing"; fi
  done
done

# A folder with the two programs alone; the prefix as wineboot made it.
mkdir -p "$DRIVE_C/bare/amd64"
cp "$INSTALL_EXE" "$DRIVE_C/bare/"
cp "$QUORVIN_EXE" "$DRIVE_C/bare/amd64/"
extra=$(find "$DRIVE_C/bare" -type f ! -name install.exe ! -name quorvin.exe)
[ -z "$extra" ] || die "the bare folder holds more: $extra"

# install.exe gets through its start-up checks and answers its command line (an unknown
# argument: exit code 1); a missing DLL would end it with STATUS_DLL_NOT_FOUND (0xC0000135).
run_install -dir 'C:\bare' 'C:\bare\install.exe' /unknown
expect_exit 00000001 "install.exe starts"
expect_silent "install.exe starts"
# quorvin.exe starts and gets to its install call: Wine's own DiInstallDriverA answers success even
# for the INF that this folder lacks (Windows would answer ERROR_FILE_NOT_FOUND, the exit code 2
# of quorvin-alone.sh), so 0 says only that it started and found DiInstallDriverA (1 would be
# newdev.dll without it, 0xC0000135 a missing DLL).
run64 -dir 'C:\bare' 'C:\bare\amd64\quorvin.exe'
expect_exit 00000000 "quorvin.exe starts and reaches its install call"
expect_silent "quorvin.exe starts"
# As a user starts them, without our runner: Wine's own status (the low byte of the exit code).
(cd "$DRIVE_C/bare" && wine_again install.exe /unknown >/dev/null 2>&1)
status=$?
if [ $status = 1 ]; then ok "wine install.exe /unknown: status 1"; else fail "wine install.exe /unknown: status $status, expected 1"; fi
(cd "$DRIVE_C/bare" && wine_again amd64/quorvin.exe >/dev/null 2>&1)
status=$?
if [ $status = 0 ]; then ok "wine amd64/quorvin.exe: status 0"; else fail "wine amd64/quorvin.exe: status $status, expected 0"; fi

scenario_end
