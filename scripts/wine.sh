#!/usr/bin/env bash
# Runs a command of this repository under one of the two Wines the tests use, in the chroot
# that scripts/install.sh keeps for it outside the work tree: 8 (Debian 12's) or 10 (Debian
# 13's). The repository is mounted at its own path there, so paths and the build tree are
# the same inside and out; the command runs as root in a clean environment, in the folder
# it was given in where that lies in the repository.
#
#   scripts/wine.sh 8|10 <command> [arguments...]
#   e.g. scripts/wine.sh 8 wine --version
#        WINEPREFIX=$PWD/build/host/wine/32-bit-windows/prefix scripts/wine.sh 8 wine reg query 'HKCU\SOFTWARE\Orvalent'
#
# Every mount (proc, sys, dev, dev/pts, dev/shm, the repository) is made in a private mount
# namespace of this run: they vanish with it however it ends, killed included, and none is
# ever seen outside; the folders made in the chroot for the repository's path are removed
# again when the last of the runs side by side in that chroot ends (a removal would take the
# repository away from the others). HOME is build/wine-home, so that nothing of Wine's lands in the
# chroot's /root; without a WINEPREFIX, Wine's prefix is build/wine<8|10>-prefix. Xvfb in a
# chroot takes displays from 150 (Wine 8) or 200 (Wine 10) on, never one of the host's.
# WINEPREFIX, WINEARCH and WINEDEBUG are handed in where they are set. Where the chroot cannot
# be had here, it says why and exits 77, which CTest reports as skipped.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
generation=${1:-}
case $generation in
    8) display=150 name="Wine 8 of Debian 12" ;;
    10) display=200 name="Wine 10 of Debian 13" ;;
    *) echo "usage: wine.sh 8|10 <command> [arguments...]" >&2; exit 2 ;;
esac
shift
answer=$(cat "$repo/build/wine$generation" 2>/dev/null) || answer="no: scripts/install.sh has not run"
case $answer in
    ready:*) ;;
    *) echo "skipped: $name cannot be had on this machine: ${answer#no: }"; exit 77 ;;
esac
root=${answer#ready: }
root=${root%% *}
# What goes in from this environment: the chroot's own, and Wine's where they are set.
mkdir -p "$repo/build/wine-home"
environment=(XVFB_FIRST_DISPLAY=$display "WINE_GENERATION=$name, in a chroot" HOME="$repo/build/wine-home"
             WINEPREFIX="$repo/build/wine$generation-prefix")
# "; no 32-bit Wine: <why>": the shipped program cannot run there (runs_32bit_code).
case $answer in *"; no 32-bit Wine: "*) environment+=("WINE_NO_32BIT=${answer#*; no 32-bit Wine: }") ;; esac
for variable in WINEPREFIX WINEARCH WINEDEBUG; do
    [ -z "${!variable:-}" ] || environment+=("$variable=${!variable}")
done
# A shared lock for each run of this chroot; the one that can turn it exclusive is the last,
# and removes the folders that the first made (build/wine<8|10>.made names the topmost).
exec 8>> "$repo/build/wine$generation.lock"
flock -s 8
exec unshare --mount --propagation private -- bash -c '
    root=$1 repo=$2 record=$2/build/wine$3.made
    shift 3
    set -e
    mount -t proc proc "$root/proc"
    mount --bind /sys "$root/sys"
    mount --bind /dev "$root/dev"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mount -t tmpfs tmpfs "$root/dev/shm"
    made=$repo  # the topmost folder of the path that the chroot lacks
    while [ ! -e "$root$(dirname "$made")" ]; do made=$(dirname "$made"); done
    [ -e "$root$made" ] || echo "$made" > "$record"
    mkdir -p "$root$repo"
    mount --bind "$repo" "$root$repo"
    set +e
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
    status=$?
    umount -l "$root$repo"
    if [ -f "$record" ] && flock -xn 8; then
        made=$(cat "$record") path=$repo
        while rmdir "$root$path" 2>/dev/null && [ "$path" != "$made" ]; do path=$(dirname "$path"); done
        rm -f "$record"
    fi
    exit $status
' wine "$root" "$repo" "$generation" "${environment[@]}" sh -c 'cd "$0" 2> /dev/null || cd /; exec "$@"' "$PWD" "$@"
