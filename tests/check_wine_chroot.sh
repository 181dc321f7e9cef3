#!/usr/bin/env bash
# scripts/install.sh's chroot step (make_wine_chroot, scripts/wine_chroot.sh) against an
# archive that fails: stand-ins for debootstrap, apt-get and the commands around them come
# first on PATH, and each case says how apt-get answers. A step that keeps failing is one
# line that names what failed and says what to do, the step fails, and no complete chroot is
# left, nor a partial one; a step that fails once is tried again and the chroot is made.
set -uo pipefail
source "$(dirname "$0")/../scripts/wine_chroot.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0
bin=$scratch/bin
mkdir -p "$bin"
# unshare and mount: nothing to isolate here; chroot runs the command of its environment
# ("/usr/bin/env -i NAME=value... command") from PATH, so that it reaches the stand-ins.
printf '#!/bin/sh\nwhile [ "$1" != -- ]; do shift; done\nshift\nexec "$@"\n' > "$bin/unshare"
printf '#!/bin/sh\nexit 0\n' > "$bin/mount"
cp "$bin/mount" "$bin/dpkg"
cat > "$bin/chroot" <<'EOF'
#!/bin/sh
shift
[ "$1" = /usr/bin/env ] && shift && [ "$1" = -i ] && shift
while case $1 in *=*) true ;; *) false ;; esac; do shift; done
exec "$@"
EOF
# debootstrap <options> <release> <folder> <mirror>: a folder with what a root holds.
cat > "$bin/debootstrap" <<'EOF'
#!/bin/sh
for last; do :; done
echo debootstrap >> "$STANDIN_CALLS"
[ "$DEBOOTSTRAP_FAILS" = 0 ] || { echo "E: Couldn't download release file"; exit 1; }
eval "folder=\${$(($# - 1))}"
mkdir -p "$folder/proc" "$folder/etc"
EOF
# apt-get: "update" fails its first $UPDATE_FAILS times, "install" always where
# $INSTALL_FAILS is 1, with what apt says then.
cat > "$bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $1" >> "$STANDIN_CALLS"
case $1 in
    update)
        done=$(grep -c '^apt-get update' "$STANDIN_CALLS")
        [ "$done" -gt "$UPDATE_FAILS" ] && exit 0
        echo "E: Failed to fetch http://mirror.invalid/debian/dists/bookworm/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        exit 100 ;;
    install)
        [ "$INSTALL_FAILS" = 0 ] && exit 0
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100 ;;
esac
EOF
chmod +x "$bin"/*
export PATH=$bin:$PATH
apt_pause=0 chroot_space_kb=1 sudo=""

# check <name> <debootstrap fails> <update fails> <install fails> <expected status>
#       <words the reason holds, or "" where it succeeds> <update calls>
check() {
    local name=$1 root=$scratch/roots/wine8-bookworm status=0 why problems=""
    export DEBOOTSTRAP_FAILS=$2 UPDATE_FAILS=$3 INSTALL_FAILS=$4 STANDIN_CALLS=$scratch/calls
    rm -rf "$scratch/roots" "$STANDIN_CALLS"
    chroot_log=$scratch/log
    make_wine_chroot "$root" bookworm http://mirror.invalid/debian || status=$?
    why=$chroot_why
    [ "$status" = "$5" ] || problems+=" status $status, not $5;"
    [ -z "$6" ] || [[ $why == *"$6"* ]] || problems+=" the reason does not say \"$6\";"
    [ -n "$6" ] || [ -z "$why" ] || problems+=" a reason where it succeeded;"
    [ -z "$6" ] || [[ $why == *"try again later"* ]] || problems+=" the reason says not what to do;"
    [ "$(wc -l <<<"$why")" = 1 ] || problems+=" the reason is not one line;"
    [ ! -e "$root.partial" ] || problems+=" a partial chroot is left;"
    if [ "$5" = 0 ]; then
        [ -f "$root/.complete" ] || problems+=" no complete chroot;"
    else
        [ ! -e "$root" ] || problems+=" a chroot is left at $root;"
    fi
    local updates
    updates=$(grep -c '^apt-get update' "$STANDIN_CALLS" 2>/dev/null)
    [ "${updates:-0}" = "$7" ] || problems+=" $updates updates, not $7;"
    if [ -n "$problems" ]; then
        failed=$((failed + 1))
        echo "FAIL $name:$problems reason: $why"
    else
        passed=$((passed + 1))
        echo "ok: $name${why:+: $why}"
    fi
}

check "an index that cannot be read" 0 99 0 1 "the archive's index of bookworm" 3
check "a package that cannot be installed" 0 0 1 1 \
    "could not be installed in the bookworm chroot, 3 times (E: Unable to correct problems" 1
check "a debootstrap that fails" 1 0 0 1 "debootstrap of bookworm from http://mirror.invalid/debian failed 3 times" 0
check "an index read at the second try" 0 1 0 0 "" 2
echo "Wine chroots: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
