#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian, and nothing when it is
# all there already: CMake, g++, GoogleTest, clang with libFuzzer, both MinGW-w64 cross
# compilers, 64-bit Wine, Xvfb and ImageMagick (for the splash picture as PNG).
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for package in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
               g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 xvfb xauth imagemagick \
               clang libclang-rt-14-dev; do
    have "$package" || need+=("$package")
done
[ ${#need[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${need[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
