#!/usr/bin/env bash
# Runs the end-to-end checks of the real launcher under Wine, in a prefix kept in the build
# tree. Usage: run_e2e.sh <launcher to run> <32-bit launcher.exe> <tools folder> <state folder>
set -euo pipefail
launcher=$(realpath "$1") launcher32=$(realpath "$2") tools=$(realpath "$3")
state=$(realpath -m "$4")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEARCH=win64

mkdir -p "$state"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$wineserver" -w
fi
# T: is a fresh work tree for the install folders, R: a drive whose root is an install folder.
rm -rf "$state/work" "$state/root"
mkdir -p "$state/work" "$state/root"
ln -sfn "$state/work" "$WINEPREFIX/dosdevices/t:"
ln -sfn "$state/root" "$WINEPREFIX/dosdevices/r:"

status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$tools/e2e.exe" "Z:$launcher" "Z:$launcher32" \
    "Z:$tools/" 'T:\' 'R:\' "Z:$state/splash.bmp" || status=$?
"$wineserver" -k 2>/dev/null || true
if command -v convert >/dev/null && [ -f "$state/splash.bmp" ]; then
    convert "$state/splash.bmp" "$state/splash.png" && echo "splash picture: $state/splash.png"
fi
exit $status
