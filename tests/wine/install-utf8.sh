#!/usr/bin/env bash
# Windows with UTF-8 as its ANSI code page (GetACP() 65001): "/install" by package and per
# hardware ID, from an ASCII folder and from "Łukasz" and "表", names that folder's INF exactly and
# exits with 0; on the real road the hand-over starts the quorvin beside install.exe, and quorvin
# alone installs from such a folder. Wine takes its ANSI code page from the Unix locale: one whose
# Windows counterpart has no ANSI code page (Georgian) gives 65001. Wine accepts the conversion
# flags that Windows refuses for UTF-8, so this shows the programs install there; the refusal
# itself is winsim's to hold (tests/test_winsim_codepage.cpp). Wine's own install calls answer
# success for any file: the test newdev.dll, which reads the paths in the ANSI code page as
# Windows does, answers a path that names no file with ERROR_FILE_NOT_FOUND and records what each
# program asked.
source "$(dirname "$0")/lib.sh"
scenario_begin

# The locale, made beside the prefix where the system has none of that name.
if ! locale -a 2>/dev/null | grep -qix 'ka_GE\.utf-\?8'; then
  mkdir -p "$SCENARIO_DIR/locale"
  if ! command -v localedef >/dev/null || ! localedef -i ka_GE -f UTF-8 "$SCENARIO_DIR/locale/ka_GE.UTF-8" \
      >"$SCENARIO_DIR/localedef.log" 2>&1; then
    log "skipped: no Georgian UTF-8 locale here, and localedef cannot make one:" \
      "$(tail -1 "$SCENARIO_DIR/localedef.log" 2>/dev/null)"
    exit 77
  fi
  export LOCPATH=$SCENARIO_DIR/locale
fi
# For Wine; the shell itself, which does not read LOCPATH, would warn that it cannot take it.
export LC_ALL=ka_GE.UTF-8 2>/dev/null
acp=$(wine_cmd "C:\\wtest\\wrun$INSTALL_BITS.exe" -osinfo 2>/dev/null | tr -d '\r' | sed -n 's/^os: .* acp=//p')
[ "$acp" = 65001 ] || die "the locale $LC_ALL gives Wine the ANSI code page '${acp:-none}', not 65001"
ok "the ANSI code page is 65001"

use_test_cfgmgr32
use_test_newdev
mapfile -t MARKER_IDS < <(tr -d '\r' <"$SAMPLE_INF" | sed -n 's/^;@\(USB\\VID_7A3C&.*\)$/\1/p')

for folder in u8 'Łukasz' '表'; do
  make_demo "$folder" "$SAMPLE_INF"
  inf="C:\\$folder\\veltowinusb.inf"
  for pass in 'win7|6.1.7601 type=1|package' 'win2008r2|6.1.7601 type=3|per hardware ID'; do
    IFS='|' read -r version os road <<<"$pass"
    set_windows_version "$version" "$os"
    newdev_begin
    run_install -dir "C:\\$folder" "C:\\$folder\\install.exe" /install
    expect_exit 00000000 "$folder, $road: /install"
    if [ "$road" = package ]; then
      expect_debug_lines "$folder, $road" "Install_Driver: $inf" 'success'
      expect_asked "$folder, $road" Calls "$INSTALL_BITS" "$OWNER_NONE|$inf|0x0"
    else
      want=()
      asked=()
      for id in "${MARKER_IDS[@]}"; do
        want+=("Install_Device_Driver: $inf" 'success.')
        asked+=("$OWNER_NONE|$id|$inf|0x0")
      done
      expect_debug_lines "$folder, $road" "${want[@]}"
      expect_asked "$folder, $road" Updates "$INSTALL_BITS" "${asked[@]}"
    fi
    expect_silent "$folder, $road"
  done

  newdev_begin
  run64 -dir "C:\\$folder" "C:\\$folder\\amd64\\quorvin.exe"
  expect_exit 00000000 "$folder: quorvin.exe alone"
  expect_silent "$folder: quorvin.exe alone"
  expect_asked "$folder: quorvin.exe alone" Calls 64 "$OWNER_NONE|$inf|0x2"
done

# The hand-over: install.exe's own package install is refused as in a 32-bit process on 64-bit
# Windows; the quorvin beside it installs the package of the current directory.
if [ "$INSTALL_BITS" = 32 ]; then
  set_windows_version win7 "6.1.7601 type=1"
  newdev_begin Answer32=0xE0000235
  run_install -dir 'C:\表' 'C:\表\install.exe' /install
  expect_exit 00000000 "表: /install through quorvin"
  expect_debug_lines "表: /install through quorvin" 'Install_Driver: C:\表\veltowinusb.inf' \
    'Running 64-bit installer...' 'Process finished' 'success'
  callers=$(newdev_record Callers 64 | grep -i quorvin)
  if [ "$callers" = 'C:\表\amd64\quorvin.exe' ]; then ok "the quorvin started is C:\\表\\amd64\\quorvin.exe"
  else fail "the quorvin that installed: '${callers:-none}', expected C:\\表\\amd64\\quorvin.exe"; fi
  expect_asked "表: the hand-over" Calls 32 "$OWNER_NONE|C:\\表\\veltowinusb.inf|0x0"
  expect_asked "表: the hand-over" Calls 64 "$OWNER_NONE|C:\\表\\veltowinusb.inf|0x2"
fi

scenario_end
