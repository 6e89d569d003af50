#!/usr/bin/env bash
# Which Windows programs the Wine tests and the run scripts drive, printed as 32 or 64:
#   32  the real programs of dist/ (install.exe is 32-bit); the machine runs 32-bit x86 code
#   64  the 64-bit twins (the same sources built for x86_64, never shipped), through Wine's 64-bit
#       loader: for machines whose kernel runs no 32-bit x86 program, where Wine's 32-bit loader
#       cannot start
# TEST_WINE_BITS=64 takes the twin road anywhere; TEST_WINE_BITS=32 insists on the real programs
# and fails where the machine cannot run them; unset, the machine decides.
set -euo pipefail

# Runs a 32-bit x86 Linux program of four instructions (exit(0) through int 0x80), made with the
# binutils that the builds need anyway.
runs_32bit() {
  local dir rc=0
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/p.s"
  if as --32 -o "$dir/p.o" "$dir/p.s" 2>/dev/null && ld -m elf_i386 -o "$dir/p" "$dir/p.o" 2>/dev/null; then
    "$dir/p" 2>/dev/null || rc=1
  else
    echo "tests/wine/bits.sh: cannot assemble the 32-bit probe (binutils missing?)" >&2
    rc=1
  fi
  rm -rf "$dir"
  return $rc
}

case "${TEST_WINE_BITS:-}" in
  64) echo 64 ;;
  32)
    if runs_32bit; then
      echo 32
    else
      echo "TEST_WINE_BITS=32: this machine runs no 32-bit x86 programs (Exec format error), so Wine cannot run the 32-bit install.exe here; unset TEST_WINE_BITS to test the 64-bit twins" >&2
      exit 1
    fi ;;
  "") if runs_32bit; then echo 32; else echo 64; fi ;;
  *) echo "TEST_WINE_BITS must be 32 or 64, not '$TEST_WINE_BITS'" >&2; exit 1 ;;
esac
