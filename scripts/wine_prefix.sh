# Sourced by the scripts that run programs under Wine, inside a Wine's chroot
# (scripts/wine.sh).
#   runs_32bit_code             true where this machine executes 32-bit code, natively or
#                               emulated, as scripts/install.sh found out, and this Wine's
#                               i386 Wine starts; $how_32bit says which ("natively", "on an
#                               emulated CPU (...)"), otherwise $why_not_32bit says why not
#   use_launcher_build          sets $build to the folder of the launcher and helpers to run:
#                               the shipped build/win32 where 32-bit code runs, else
#                               build/win64; $build_note says which and how, in a line
#   use_wine_prefix <state folder> <win32|win64>
#                               points Wine at the prefix kept there, a 32-bit or a 64-bit
#                               Windows, creating it on first use (docs/testing.md has the
#                               times) or when it lacks what this run needs;
#                               sets $wine and $wineserver for it; Wine's debug
#                               channels are off unless WINEDEBUG names some
#   map_drive <letter> <folder> makes a folder a drive's root
wine_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

runs_32bit_code() {
    local answer
    answer=$(cat "$wine_repo/build/32-bit-code" 2>/dev/null) ||
        answer="no: scripts/install.sh has not run on this machine"
    why_not_32bit=${answer#no: }
    if [ -n "${WINE_NO_32BIT:-}" ]; then
        why_not_32bit=$WINE_NO_32BIT how_32bit=""
        return 1
    fi
    case $answer in
        native) how_32bit=natively ;;
        emulated:*) how_32bit="on an emulated CPU (${answer#emulated: })" ;;
        *) how_32bit=""; return 1 ;;
    esac
}

use_launcher_build() {
    if runs_32bit_code; then
        build=$wine_repo/build/win32
        build_note="the shipped 32-bit build/win32/launcher.exe, run $how_32bit"
    else
        build=$wine_repo/build/win64
        build_note="build/win64/launcher.exe, the 64-bit build of the same sources: this machine runs no 32-bit code, so the shipped build/win32/launcher.exe cannot run here ($why_not_32bit)"
    fi
}

use_wine_prefix() {
    if [ "$2" = win32 ]; then
        wine=/usr/lib/wine/wine wineserver=/usr/lib/wine/wineserver32
    else
        wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
    fi
    export WINEPREFIX="$1/prefix" WINEDEBUG=${WINEDEBUG:--all} WINEARCH=$2 WINESERVER=$wineserver
    mkdir -p "$1"
    # A prefix kept from an earlier run is made again when it is of the other kind, or when
    # it was made before the 32-bit Wine was there and so has no 32-bit system folder.
    local system=system32
    [ "$2" = win64 ] && runs_32bit_code && system=syswow64
    if [ -f "$WINEPREFIX/system.reg" ] &&
        { ! grep -qx "#arch=$2" "$WINEPREFIX/system.reg" ||
          [ ! -f "$WINEPREFIX/drive_c/windows/$system/kernel32.dll" ]; }; then
        echo "making the Wine prefix $WINEPREFIX again: it lacks what this run needs"
        "$wineserver" -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1 || true
        "$wineserver" -w
    fi
}

map_drive() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:"
}
