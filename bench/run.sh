#!/usr/bin/env bash
# The launcher's timing under Wine, side by side with the floor of starting a process.
# Not part of the tests' pass or fail. Usage: bash bench/run.sh [runs, default 25]
# Runs the shipped 32-bit program under WoW64 in a 64-bit Windows prefix, with floors built
# for i686 too; where this machine runs no 32-bit code, the 64-bit build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-25}
scripts/install.sh
scripts/build.sh
state=$PWD/build/bench
source scripts/wine_prefix.sh
if runs_32bit_code; then
    out=build/win32
    echo "build/win32/launcher.exe (the shipped 32-bit program) under WoW64, 64-bit Windows prefix"
else
    out=build/win64
    echo "build/win64/launcher.exe (the 64-bit build), 64-bit Windows prefix: this machine runs" \
         "no 32-bit code ($why_not_32bit)"
fi
use_wine_prefix "$state" win64
rm -rf "$state/work" && mkdir -p "$state/work"
map_drive t "$state/work"
echo "$(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB, $(uname -sr), $("$wine" --version)"
xvfb-run -a "$wine" "$out/bench/bench.exe" "Z:$PWD/$out/launcher.exe" \
    "Z:$PWD/$out/bench/" "Z:$PWD/$out/tests/wine/standin.exe" \
    "Z:$PWD/$out/tests/wine/progman.exe" 'T:\' "$runs" 2>/dev/null
"$wineserver" -k 2>/dev/null || true
