#!/usr/bin/env bash
# The launcher's timing under Wine, side by side with the floor of starting a process.
# Not part of the tests' pass or fail. Usage: bash bench/run.sh [runs, default 25]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-25}
scripts/install.sh
scripts/build.sh
state=$PWD/build/bench
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEARCH=win64
mkdir -p "$state"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver64 -w
fi
rm -rf "$state/work" && mkdir -p "$state/work"
ln -sfn "$state/work" "$WINEPREFIX/dosdevices/t:"
out=build/win64
echo "$(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB, $(uname -sr), $(/usr/lib/wine/wine64 --version)"
xvfb-run -a /usr/lib/wine/wine64 "$out/bench/bench.exe" "Z:$PWD/$out/launcher.exe" \
    "Z:$PWD/$out/bench/" "Z:$PWD/$out/tests/wine/standin.exe" \
    "Z:$PWD/$out/tests/wine/progman.exe" 'T:\' "$runs" 2>/dev/null
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
