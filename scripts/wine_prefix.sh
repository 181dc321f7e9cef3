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
#                               points Wine at a fresh prefix in <state folder>/prefix, a
#                               32-bit or a 64-bit Windows: a copy of the one prefix of
#                               that kind kept for this Wine in build/wine-prefixes, which
#                               the suites, the demo and the benchmark share, made on first
#                               use; sets $wine and $wineserver for it; Wine's debug
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
    export WINEDEBUG=${WINEDEBUG:--all} WINEARCH=$2 WINESERVER=$wineserver
    # A 64-bit prefix made while no 32-bit Wine runs has no 32-bit system folder: another kind.
    local kind=$2 kept=$wine_repo/build/wine-prefixes
    [ "$2" = win64 ] && runs_32bit_code && kind=win64-wow64
    local template=$kept/$("$wine" --version | tr -c 'A-Za-z0-9.\n' '-')$kind
    mkdir -p "$kept" "$1"
    (
        flock 9  # one maker at a time; the others wait and then copy
        [ -f "$template/.complete" ] && exit
        echo "making the Wine prefix $template, once for every suite of this Wine"
        rm -rf "$template"
        WINEPREFIX=$template "$wine" wineboot -i > /dev/null 2>&1 || true
        WINEPREFIX=$template "$wineserver" -w
        link_wine_files "$template"
        touch "$template/.complete"
    ) 9> "$kept/.lock"
    export WINEPREFIX=$1/prefix
    "$wineserver" -k 2> /dev/null || true  # an earlier run's, in the prefix about to go
    rm -rf "$WINEPREFIX"
    cp -a "$template" "$WINEPREFIX"
}

# link_wine_files <prefix>: each file of the prefix that is byte for byte one of Wine's own
# modules (its system folders' DLLs and programs, 1.2 GB of a 64-bit prefix's 1.3) becomes a
# link to that module, so that a prefix takes some 20 MB and a copy of it a moment.
link_wine_files() {
    local file own
    find "$1/drive_c" -type f -size +16k -print0 | while IFS= read -r -d '' file; do
        for own in /usr/lib/*/wine/*-windows/"${file##*/}"; do
            if [ -f "$own" ] && cmp -s -- "$file" "$own"; then
                ln -sf -- "$own" "$file"
                break
            fi
        done
    done
}

map_drive() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:"
}
