#!/usr/bin/env bash
# Runs a command of this repository under Debian 13's Wine 10, in the chroot that
# scripts/install.sh keeps outside the work tree. The repository is mounted at its own path
# there, so paths and the build tree are the same inside and out.
#
# Every mount (proc, sys, dev, dev/pts, dev/shm, the repository) is made in a private mount
# namespace of this run: they vanish with it however it ends, killed included, and none is
# ever seen outside. Xvfb in the chroot takes displays from 150 on, never one of the host's.
# Where no chroot can be had here, it says why and exits 77, which CTest reports as skipped.
# Usage: wine10.sh <command> [arguments...]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
answer=$(cat "$repo/build/wine10" 2>/dev/null) || answer="no: scripts/install.sh has not run"
case $answer in
    ready:*) ;;
    *) echo "skipped: Wine 10 cannot be had on this machine: ${answer#no: }"; exit 77 ;;
esac
root=${answer#ready: }
root=${root%% *}
exec unshare --mount --propagation private -- bash -c '
    set -e
    root=$1 repo=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount --bind /sys "$root/sys"
    mount --bind /dev "$root/dev"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mount -t tmpfs tmpfs "$root/dev/shm"
    mkdir -p "$root$repo"
    mount --bind "$repo" "$root$repo"
    exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        XVFB_FIRST_DISPLAY=150 WINE_GENERATION="Wine of Debian 13, in a chroot" \
        ${WINEDEBUG:+WINEDEBUG=$WINEDEBUG} "$@"
' wine10 "$root" "$repo" "$@"
