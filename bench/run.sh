#!/usr/bin/env bash
# The launcher's timing under Wine, side by side with the floor of starting a process.
# Not part of the tests' pass or fail. Usage: bash bench/run.sh [runs, default 25]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-25}
scripts/install.sh
scripts/build.sh
state=$PWD/build/bench
source scripts/wine_prefix.sh
use_wine_prefix "$state"
rm -rf "$state/work" && mkdir -p "$state/work"
map_drive t "$state/work"
out=build/win64
echo "$(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB, $(uname -sr), $("$wine" --version)"
xvfb-run -a "$wine" "$out/bench/bench.exe" "Z:$PWD/$out/launcher.exe" \
    "Z:$PWD/$out/bench/" "Z:$PWD/$out/tests/wine/standin.exe" \
    "Z:$PWD/$out/tests/wine/progman.exe" 'T:\' "$runs" 2>/dev/null
"$wineserver" -k 2>/dev/null || true
