#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian, and nothing when it is
# all there already: CMake, g++, GoogleTest, clang with libFuzzer, both MinGW-w64 cross
# compilers, 64-bit Wine, Xvfb, ImageMagick (for the splash picture as PNG) and the locale
# sources (for a Japanese code page under Wine).
#
# It also finds out, once, whether this machine executes 32-bit code: some kernels of this
# kind of machine do, some refuse every 32-bit program. Where it does, the i386 Wine comes
# too, so that the shipped 32-bit launcher.exe runs. The answer ("yes", or "no: <why>") is
# kept in build/32-bit-code for the test, demo and benchmark scripts (runs_32bit_code in
# scripts/wine_prefix.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

if why=$( { /lib/ld-linux.so.2 --help >/dev/null; } 2>&1 ); then
    runs32=yes
else
    runs32="no: the kernel will not execute the i386 loader (/lib/ld-linux.so.2 --help: ${why##*: })"
fi

need=()
for package in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
               g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 xvfb xauth imagemagick \
               clang libclang-rt-14-dev locales python3; do
    have "$package" || need+=("$package")
done
if [ "$runs32" = yes ] && ! have wine32:i386; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    need+=(wine32:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${need[@]}" >/dev/null
fi

if [ "$runs32" = yes ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    runs32="no: the 32-bit Wine (/usr/lib/wine/wine from wine32:i386) does not start here"
fi
mkdir -p build
if [ "$(cat build/32-bit-code 2>/dev/null)" != "$runs32" ]; then
    echo "$runs32" > build/32-bit-code
    echo "this machine executes 32-bit code: $runs32"
fi
