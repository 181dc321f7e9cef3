#!/usr/bin/env bash
# Runs the end-to-end checks of the real launcher under Wine 8 or Wine 10, each in its
# chroot (scripts/wine.sh), in a fresh prefix in the state folder (scripts/wine_prefix.sh),
# kept there only when a check fails, as one of the systems it stands for:
#   32-bit-windows  the shipped build/win32/launcher.exe in a 32-bit prefix
#   64-bit-windows  the shipped program under WoW64 in a 64-bit prefix; also checks from the
#                   64-bit side which registry view each value lands in
#   64-bit-build    build/win64/launcher.exe, where this machine runs no 32-bit code
#   code-page-932   a first run from a folder whose name ends in a double-byte character
#   msvc-32-bit-windows
#                   build/msvc/launcher.exe, the MSVC branch built with clang-cl and
#                   lld-link, in a 32-bit prefix; its own resources are read too
#   signed          the signed launcher.exe that tests/check_signing.sh left (the fourth
#                   argument) under WoW64: first runs that start a child and exit 1, and its
#                   signature as WinVerifyTrust judges it
# The helpers (driver, stand-ins, shell module) are built for the launcher's own
# architecture, so that they see the registry view it sees. A case this machine cannot run
# exits 77, which CTest reports as skipped, with the reason. The state folder and the
# launcher lie in this repository, which the chroot sees at the same path; the splash that
# a case drew is turned into PNG here, outside, with ImageMagick.
# Usage: run_e2e.sh 8|10 <case> <state folder> [signed launcher.exe]
set -euo pipefail
source "$(dirname "$0")/../../scripts/wine_prefix.sh"
if [ "${1:-}" != --in-chroot ]; then
    [ $# -ge 3 ] || { echo "usage: run_e2e.sh 8|10 <case> <state folder> [signed launcher.exe]"; exit 2; }
    generation=$1 picture=$(realpath -m "$3")/splash.bmp
    [ "$2" != signed ] || picture=${picture%/*}/signed-splash.bmp
    rm -f "$picture" "${picture%.bmp}.png"
    shift
    status=0
    "$wine_repo/scripts/wine.sh" "$generation" bash "$0" --in-chroot "$@" || status=$?
    if command -v convert > /dev/null && [ -f "$picture" ]; then
        convert "$picture" "${picture%.bmp}.png" && echo "splash picture: ${picture%.bmp}.png"
    fi
    exit $status
fi
shift
case=$1 state=$(realpath -m "$2")
# What the driver printed, for tests/wine/planted_report.sh; none where this run is skipped.
log=$state/e2e-$case.log
rm -f "$log"
skip() { echo "skipped: $*"; exit 77; }
# Wine names Unix files in the locale's character set: UTF-8, so that folders named with any
# letter can be made (the ANSI code page stays 1252 but where a case sets another).
export LANG=${LANG:-C.UTF-8}
shipped=$wine_repo/build/win32
arch=win64 options=()
use_launcher_build
case $case in
    32-bit-windows|64-bit-windows)
        runs_32bit_code || skip "the shipped 32-bit launcher.exe was not executed on this" \
            "machine: $why_not_32bit"
        [ "$case" = 32-bit-windows ] && arch=win32 ;;
    64-bit-build)
        runs_32bit_code && skip "this machine runs the shipped 32-bit launcher.exe itself" \
            "(wine_32_bit_windows, wine_64_bit_windows)" ;;
    msvc-32-bit-windows)
        runs_32bit_code || skip "the MSVC branch's 32-bit launcher.exe was not executed on" \
            "this machine: $why_not_32bit"
        shipped=$wine_repo/build/msvc
        launcher=$shipped/launcher.exe
        build_note="build/msvc/launcher.exe, the MSVC branch (clang-cl, lld-link), run $how_32bit"
        arch=win32 ;;
    signed)
        runs_32bit_code || skip "the signed 32-bit launcher.exe was not executed on this" \
            "machine: $why_not_32bit"
        launcher=$(realpath "$3")
        build_note="$launcher, signed, run $how_32bit"
        picture=$state/signed-splash.bmp  # the first runs draw no picture: none of another's
        options=(--signed) ;;
    code-page-932)
        # Wine takes the ANSI code page from the locale: a Japanese one of our own.
        mkdir -p "$state/locale"
        [ -d "$state/locale/ja_JP.UTF-8" ] ||
            localedef -i ja_JP -f UTF-8 "$state/locale/ja_JP.UTF-8" 2>/dev/null
        export LOCPATH=$state/locale LC_ALL=ja_JP.UTF-8
        options=(--code-page-932) ;;
    *) echo "unknown case $case"; exit 2 ;;
esac
launcher=${launcher:-$build/launcher.exe} picture=${picture:-$state/splash.bmp}
[ "$build" = "$shipped" ] && [ "$arch" = win64 ] && options+=(--wow64)
use_wine_prefix "$state" "$arch"
# What ran, and where: the log's first line, which scripts/test.sh reports.
echo "$case: $build_note; in a ${arch#win}-bit Windows prefix of $("$wine" --version)" \
    "($WINE_GENERATION)" | tee "$log.partial"
# T: is a fresh work tree for the install folders, R: a drive whose root is an install folder.
rm -rf "$state/work" "$state/root"
mkdir -p "$state/work" "$state/root"
map_drive t "$state/work"
map_drive r "$state/root"

status=0
# Each case's displays from a number of its own, so that suites side by side never race for one.
systems=(32-bit-windows 64-bit-windows 64-bit-build code-page-932 msvc-32-bit-windows signed)
for i in "${!systems[@]}"; do [ "${systems[$i]}" != "$case" ] || offset=$((i * 5)); done
xvfb-run -a -n "$(( ${XVFB_FIRST_DISPLAY:-99} + offset ))" -s "-screen 0 1024x768x24" "$wine" "$build/tests/e2e/e2e.exe" --wine "${options[@]}" \
    "Z:$launcher" "Z:$shipped/launcher.exe" "Z:$build/tests/e2e/" 'T:\' 'R:\' \
    "Z:$picture" | tee -a "$log.partial" || status=$?
mv -f "$log.partial" "$log"
"$wineserver" -k 2>/dev/null || true
# A passing case's prefix goes; a failing one's stays for docs/testing.md's recipes.
[ $status -ne 0 ] || rm -rf "$WINEPREFIX"
exit $status
