#!/usr/bin/env bash
# Start-up on a Windows version that install.exe does not support: a message box with caption
# "Error" and text "This OS is not supported!" stops it before it looks at its command line, so
# silent runs too wait for the box; closing it ends the program with exit code 1.
source "$(dirname "$0")/lib.sh"
scenario_begin
make_demo os "$SAMPLE_INF"

BOX='window: class="#32770" caption="Error" text="This OS is not supported!"'

# Runs install.exe, answers its message box, and checks that the box came before the end.
refused_run() {  # refused_run WHAT ARGUMENT...
  local what=$1
  shift
  run_install -dir 'C:\os' -close -timeout 30000 'C:\os\install.exe' "$@"
  expect_line "$BOX" "$what: the box"
  if [ "$(printf '%s\n' "$RUN_OUT" | grep -c '^window: ')" = 1 ]; then ok "$what: no other window"; else fail "$what: $(printf '%s\n' "$RUN_OUT" | grep -c '^window: ') windows, not the one box"; fi
  expect_exit 00000001 "$what: after the box"
  expect_debug_lines "$what"
  # The box blocks: the program ends only after it was answered.
  if printf '%s\n' "$RUN_OUT" | grep -v '^debug: ' | tr '\n' '~' | grep -q 'window: [^~]*~closed: [^~]*~exit: '; then
    ok "$what: ends only after the box is closed"
  else
    fail "$what: the box, its closing and the end are not in that order"
  fi
}

# Windows 2000 (5.0), for every kind of run.
set_wine_version_value win2k "5.0.2195 type=1"
refused_run "5.0, no argument"
refused_run "5.0, /install" /install
refused_run "5.0, /uninstall" /uninstall
refused_run "5.0, unknown argument" /x

# A major version below 5: Windows NT 4.0 and Windows 98.
set_wine_version_value nt40 "4.0.1381 type=1"
refused_run "4.0, /install" /install
set_wine_version_value win98 "4.10.67766446 type=0"
refused_run "4.10 (Windows 98), /install" /install

# 5.x with x of 3 or more, which no Windows had, through the version in the registry.
set_registry_version 5 3 3790 WinNT "5.3.3790 type=1"
refused_run "5.3, /install" /install
set_registry_version 5 5 3790 ServerNT "5.5.3790 type=3"
refused_run "5.5 server, /uninstall" /uninstall

# The same program on a supported version shows nothing: the box comes from the version.
set_windows_version winxp64 "5.2.3790 type=1"
run_install -dir 'C:\os' -timeout 30000 'C:\os\install.exe' /x
expect_exit 00000001 "5.2, unknown argument"
expect_silent "5.2, unknown argument"

scenario_end
