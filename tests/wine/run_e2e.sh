#!/usr/bin/env bash
# Runs the end-to-end checks of the real launcher under Wine, in a prefix kept in the build
# tree. Usage: run_e2e.sh <launcher to run> <32-bit launcher.exe> <tools folder> <state folder>
set -euo pipefail
launcher=$(realpath "$1") launcher32=$(realpath "$2") tools=$(realpath "$3")
state=$(realpath -m "$4")
source "$(dirname "$0")/../../scripts/wine_prefix.sh"
use_wine_prefix "$state"
# T: is a fresh work tree for the install folders, R: a drive whose root is an install folder.
rm -rf "$state/work" "$state/root"
mkdir -p "$state/work" "$state/root"
map_drive t "$state/work"
map_drive r "$state/root"

status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$tools/e2e.exe" "Z:$launcher" "Z:$launcher32" \
    "Z:$tools/" 'T:\' 'R:\' "Z:$state/splash.bmp" || status=$?
"$wineserver" -k 2>/dev/null || true
if command -v convert >/dev/null && [ -f "$state/splash.bmp" ]; then
    convert "$state/splash.bmp" "$state/splash.png" && echo "splash picture: $state/splash.png"
fi
exit $status
