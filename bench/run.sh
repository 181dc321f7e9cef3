#!/usr/bin/env bash
# The launcher's timing under Wine, side by side with the floor of starting a process.
# Not part of the tests' pass or fail. Usage: bash bench/run.sh [runs, default 25]
# Runs the shipped 32-bit program under WoW64 in a 64-bit Windows prefix of Wine 8 (in its
# chroot, scripts/wine.sh), with floors built for i686 too, natively or on an emulated CPU;
# where this machine runs no 32-bit code at all, the 64-bit build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --in-chroot ]; then
    runs=${1:-25}
    scripts/install.sh
    scripts/build.sh for-wine
    exec scripts/wine.sh 8 bash bench/run.sh --in-chroot "$runs"
fi
runs=$2
state=$PWD/build/bench
source scripts/wine_prefix.sh
use_launcher_build
echo "In a 64-bit Windows prefix: $build_note"
if [ "$build" = "$wine_repo/build/win32" ] && [ "$how_32bit" != natively ]; then
    echo "These are times of an emulated CPU, several times a native one's: compare them only" \
         "with each other (the floors run the same way), never with native figures."
fi
use_wine_prefix "$state" win64
rm -rf "$state/work" && mkdir -p "$state/work"
map_drive t "$state/work"
memory=$(awk '/^MemTotal:/ { printf "%.0f", $2 / 1048576 }' /proc/meminfo)
echo "$(nproc) cores, $memory GiB, $(uname -sr), $("$wine" --version) ($WINE_GENERATION)"
xvfb-run -a -n "$XVFB_FIRST_DISPLAY" "$wine" "$build/bench/bench.exe" "Z:$build/launcher.exe" \
    "Z:$build/tests/e2e/" "Z:$build/tests/e2e/standin.exe" \
    "Z:$build/tests/e2e/progman.exe" 'T:\' "$runs" 2>/dev/null
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
