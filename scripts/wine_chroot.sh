# Sourced by scripts/install.sh and its test (tests/check_wine_chroot.sh): a Debian release
# with its own Wine, made by debootstrap in a folder of its own, from that release's main
# suite alone. A release's main suite is consistent in itself, so what installs there never
# depends on the host's packages, and nothing of the host's changes.
#
#   make_wine_chroot <root> <release> <mirror>
#       makes <root> (outside any work tree, so that no "rm -rf build" reaches it) unless it is
#       complete already; returns 0, or 1 with $chroot_why set to one line that says what
#       failed and what to do. It is built in <root>.partial and renamed into place only when
#       whole, with its package list in <root>/.complete; what fails is removed, so no failed
#       chroot ever stands as a complete one. debootstrap and each apt-get step are tried
#       $apt_tries times, $apt_pause seconds apart: an archive can be mid-sync for a
#       while. Each step's output goes to $chroot_log.
#   try <log> <command...>
#       the command, up to $apt_tries times, its output appended to the log (install.sh's
#       apt-get steps on the host are tried so too).
#   in_chroot <root> <command...>
#       runs a command there with /proc mounted, in a clean environment; every mount is made
#       in a private mount namespace, so it vanishes with the command however it ends.
# The caller may set $sudo (a command that runs the rest as root, or empty).
chroot_packages="wine wine64 wine32:i386 xvfb xauth locales"
chroot_space_kb=$((4 * 1024 * 1024))  # the chroot (2.2 GB) and the tests' prefixes (2 GB)
apt_tries=3
apt_pause=10
chroot_log=/dev/null
sudo=${sudo-}

in_chroot() {
    local root=$1
    shift
    $sudo unshare --mount --propagation private -- sh -c \
        'mount -t proc proc "$0/proc" && exec chroot "$0" /usr/bin/env -i HOME=/root \
             PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"' "$root" "$@"
}

mounts_under() { findmnt -rn -o TARGET | grep -q "^$1\(/\|$\)"; }

try() {
    local log=$1 attempt
    shift
    for ((attempt = 1; attempt <= apt_tries; attempt++)); do
        "$@" >> "$log" 2>&1 && return 0
        [ $attempt -eq $apt_tries ] || sleep "$apt_pause"
    done
    return 1
}

# What the last failed step said: apt's and debootstrap's own error line, else its last line.
last_error() {
    local line
    line=$(grep -E '^(E|W): ' "$chroot_log" 2>/dev/null | tail -n 1 || true)
    [ -n "$line" ] || line=$(tail -n 1 "$chroot_log" 2>/dev/null || true)
    printf '%s' "${line:-no output}" | cut -c1-200
}

make_wine_chroot() {
    local root=$1 release=$2 mirror=$3 partial=$1.partial free
    chroot_why=""
    [ -f "$root/.complete" ] && return 0
    for folder in "$root" "$partial"; do
        if mounts_under "$folder"; then
            chroot_why="something is mounted under $folder; it is left as it is"
            return 1
        fi
    done
    $sudo mkdir -p "$(dirname "$root")"
    free=$(df -Pk "$(dirname "$root")" | awk 'NR == 2 { print $4 }')
    if [ "${free:-0}" -lt "$chroot_space_kb" ]; then
        chroot_why="$((free / 1024)) MB free in $(dirname "$root"), the chroot and its prefixes need $((chroot_space_kb / 1024))"
        return 1
    fi
    $sudo rm -rf -- "$root" "$partial"
    : > "$chroot_log"
    local step=""
    if ! try "$chroot_log" $sudo unshare --mount --propagation private -- debootstrap --arch=amd64 \
            --variant=minbase "$release" "$partial" "$mirror"; then
        step="debootstrap of $release from $mirror failed $apt_tries times"
    elif ! in_chroot "$partial" dpkg --add-architecture i386 >> "$chroot_log" 2>&1; then
        step="dpkg in the $release chroot refused the i386 architecture"
    elif ! try "$chroot_log" in_chroot "$partial" apt-get update; then
        step="the archive's index of $release (amd64 and i386, $mirror) could not be read, $apt_tries times"
    elif ! try "$chroot_log" in_chroot "$partial" apt-get install -y --no-install-recommends $chroot_packages; then
        step="$chroot_packages could not be installed in the $release chroot, $apt_tries times"
    fi
    if [ -n "$step" ]; then
        chroot_why="$step ($(last_error)); nothing of it is kept: try again later (bash scripts/install.sh)"
        $sudo rm -rf -- "$partial"
        return 1
    fi
    in_chroot "$partial" apt-get clean >> "$chroot_log" 2>&1 || true
    echo "$chroot_packages" | $sudo tee "$partial/.complete" > /dev/null
    $sudo mv -- "$partial" "$root"
}
