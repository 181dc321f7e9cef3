# Sourced by the scripts that run programs under Wine: `use_wine_prefix <state folder>`
# points Wine at the prefix kept there, creating it on first use (about ten seconds), and
# `map_drive <letter> <folder>` makes a folder a drive's root.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

use_wine_prefix() {
    export WINEPREFIX="$1/prefix" WINEDEBUG=-all WINEARCH=win64
    mkdir -p "$1"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1 || true
        "$wineserver" -w
    fi
}

map_drive() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:"
}
