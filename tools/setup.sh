#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, when they are missing.
#   tools/setup.sh build   compilers and CMake
#   tools/setup.sh test    the above, GoogleTest (also its sources, for the Windows test build),
#                          nlohmann-json, and clang with its libFuzzer and sanitizer run-times
#   tools/setup.sh wine    the above, Wine (32- and 64-bit), Xvfb, xdotool, and xwd and netpbm for
#                          screenshots, and the locale sources (a UTF-8 locale for Wine)
set -euo pipefail
level=${1:-test}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

packages=(cmake ninja-build g++ mingw-w64 binutils-mingw-w64)
[ "$level" != build ] && packages+=(libgtest-dev libgmock-dev googletest nlohmann-json3-dev clang-14 libclang-rt-14-dev)
wine=0
[ "$level" = wine ] && wine=1 && packages+=(wine wine32 wine64 xvfb xdotool xauth x11-apps netpbm locales)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ $wine = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
# Wine is installed with what it recommends, as it was measured; the rest without.
recommends=--no-install-recommends
[ $wine = 1 ] && recommends=
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $recommends "${missing[@]}" >/dev/null
