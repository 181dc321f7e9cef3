#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian, and nothing when it is
# all there already: CMake, g++, GoogleTest, clang with libFuzzer, both MinGW-w64 cross
# compilers, 64-bit Wine, Xvfb, ImageMagick (for the splash picture as PNG), the locale
# sources (for a Japanese code page under Wine), LLVM 14's clang-cl, lld-link and tools (for
# the MSVC branch's build), and for signing a release osslsigncode and openssl, with SoftHSM2
# and OpenSSL's PKCS#11 engine for the tests' token, and asn1crypto for Debian's python3 (the
# release scripts read a signature's structure with it).
#
# It also finds out how this machine runs 32-bit code, so that the shipped 32-bit
# launcher.exe runs under the i386 Wine:
# - natively, where the kernel executes i386 programs: the machine is left as it is;
# - emulated, where it refuses them: qemu's user-mode emulator, registered with binfmt_misc
#   for i386 programs. It must be newer than 7.2, under which every Wine process takes about
#   75 s to start; where the release has none, it comes from the release's backports suite,
#   on the mirror that the machine's own apt sources name;
# - not at all, with the reason, where neither works.
# The answer ("native", "emulated: <how>" or "no: <why>") is kept in build/32-bit-code for
# the test, demo and benchmark scripts (runs_32bit_code in scripts/wine_prefix.sh).
#
# And it keeps Debian 13's Wine 10 beside the release's own Wine: a chroot made with
# debootstrap outside the work tree ($wine10_root below), made again when incomplete. The
# answer ("ready: <root> (<Wine version>)" or "no: <why>") is kept in build/wine10 for
# scripts/wine10.sh, which runs the Wine tests there.
#
# What it changes on a machine, and leaves so: the packages above; the i386 architecture in
# dpkg and the i386 Wine, wherever 32-bit code runs; where the kernel refuses 32-bit code,
# qemu's emulator and its binfmt_misc entry (until the next boot); the Wine 10 chroot. A backports source it has to add to apt for the
# emulator is removed again after the install.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/debian_archive.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
apt_install() {
    echo "installing: $*"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "$@" >/dev/null
}

need=()
for package in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
               g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 xvfb xauth imagemagick \
               clang libclang-rt-14-dev clang-tools-14 lld-14 llvm-14 locales python3 libc6-i386 \
               openssl osslsigncode softhsm2 libengine-pkcs11-openssl python3-asn1crypto debootstrap; do
    have "$package" || need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then
    $sudo apt-get update -qq
    apt_install "${need[@]}"
fi

# ---- how 32-bit code runs here -------------------------------------------------------------

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
qemu=/usr/bin/qemu-i386-static
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
runs_i386() { /lib/ld-linux.so.2 --help >/dev/null 2>&1; }
newer_than_7_2() { [ -n "$1" ] && dpkg --compare-versions "${1#*:}" ge 8; }
version_of() { "$1" --version 2>/dev/null | sed -n '1s/.* version \([0-9.]*\).*/\1/p'; }
emulated_by() { how="emulated: qemu-i386 $(version_of "$1") through binfmt_misc"; }
registered_emulator() {  # the emulator of an enabled i386 entry, if there is one
    grep -qs '^enabled' "$entry" && sed -n 's/^interpreter //p' "$entry"
}
candidate() {  # candidate <package> [suite]
    apt-cache policy ${2:+-t "$2"} "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'
}

# Installs a qemu-user-static newer than 7.2, or sets $how to why there is none. Where the
# release has none and its backports suite is not among apt's sources, the suite is added for
# this install alone, on the machine's own Debian mirror, and removed again afterwards,
# whether the install worked or not.
install_emulator() {
    local suite="" added=""
    $sudo apt-get update -qq
    if ! newer_than_7_2 "$(candidate qemu-user-static)"; then
        suite=$release-backports
        if ! newer_than_7_2 "$(candidate qemu-user-static "$suite")"; then
            local mirror keyring=/usr/share/keyrings/debian-archive-keyring.gpg
            if [ -z "$release" ] || ! mirror=$(debian_archive_uri "$release"); then
                how="no: no qemu newer than 7.2 in the release, and its backports suite could not be added (no enabled Debian source for \"$release\" main among apt's sources)"
                return 1
            fi
            added=/etc/apt/sources.list.d/launcher-$suite.sources
            echo "adding $suite to apt's sources for this install ($added)"
            {
                printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\n' "$mirror" "$suite"
                if [ -f "$keyring" ]; then printf 'Signed-By: %s\n' "$keyring"; fi
            } | $sudo tee "$added" >/dev/null
            if ! $sudo apt-get update -qq; then
                remove_source "$added"
                how="no: apt-get update failed with $suite added from $mirror (removed again)"
                return 1
            fi
        fi
        if ! newer_than_7_2 "$(candidate qemu-user-static "$suite")"; then
            [ -z "$added" ] || remove_source "$added"
            how="no: no qemu-user-static newer than 7.2 in $release or $suite (found \"$(candidate qemu-user-static "$suite")\")"
            return 1
        fi
    fi
    local status=0
    apt_install ${suite:+-t "$suite"} qemu-user-static || status=$?
    [ -z "$added" ] || remove_source "$added"
    [ $status -eq 0 ] || how="no: qemu-user-static${suite:+ from $suite} could not be installed"
    return $status
}

# Takes a source this script added out of apt's sources again, and apt's lists with it.
remove_source() {
    echo "removing $1 from apt's sources again"
    $sudo rm -f -- "$1"
    $sudo apt-get update -qq || true
}

# Runs i386 programs through qemu, or sets $how to why it cannot.
set_up_emulator() {
    if ! mountpoint -q "$binfmt" && ! $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
        how="no: the kernel refuses i386 programs, and binfmt_misc cannot be mounted at $binfmt for an emulator"
        return
    fi
    newer_than_7_2 "$(version_of "$qemu")" || install_emulator || return 0
    # "F" opens the emulator now, so the entry keeps working in other mount namespaces.
    [ -e "$entry" ] && echo -1 | $sudo tee "$entry" >/dev/null
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if ! printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" | $sudo tee "$binfmt/register" >/dev/null 2>&1; then
        how="no: the kernel refuses i386 programs, and refused to register $qemu for them with binfmt_misc"
        return
    fi
    if ! runs_i386; then
        how="no: the kernel refuses i386 programs, even with $qemu registered for them"
        return
    fi
    emulated_by "$qemu"
}

emulator=$(registered_emulator || true)
if [ -z "$emulator" ] && runs_i386; then
    how=native
elif [ -n "$emulator" ] && newer_than_7_2 "$(version_of "$emulator")" && runs_i386; then
    emulated_by "$emulator"
else
    set_up_emulator
fi

if [ "${how%%:*}" != no ]; then
    if ! have wine32:i386; then
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            $sudo dpkg --add-architecture i386
        fi
        $sudo apt-get update -qq
        apt_install wine32:i386
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
        how="no: the 32-bit Wine (/usr/lib/wine/wine from wine32:i386) does not start here ($how)"
fi
mkdir -p build
if [ "$(cat build/32-bit-code 2>/dev/null)" != "$how" ]; then
    echo "$how" > build/32-bit-code
    echo "32-bit code on this machine: $how"
fi

# ---- Wine 10 beside the release's Wine ------------------------------------------------------

# Debian 13's Wine in a chroot kept outside the work tree, so that no clone's "rm -rf build"
# reaches it. Every mount it needs (here and in scripts/wine10.sh) is made in a private mount
# namespace that ends with the command, however it ends: none can be left behind for a later
# "rm -rf" to walk into, /dev least of all.
wine10_root=/var/lib/launcher-tests/wine10-trixie
wine10_release=trixie
wine10_packages="wine wine64 wine32:i386 xvfb xauth locales"
wine10_space_kb=$((4 * 1024 * 1024))  # the chroot (2.2 GB) and the tests' prefixes (2 GB)

in_chroot() {  # in_chroot <root> <command...>: with /proc, as apt's scripts and Wine need
    local root=$1
    shift
    $sudo unshare --mount --propagation private -- sh -c \
        'mount -t proc proc "$0/proc" && exec chroot "$0" /usr/bin/env -i HOME=/root \
             PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"' "$root" "$@"
}

mounts_under() { findmnt -rn -o TARGET | grep -q "^$1\(/\|$\)"; }

make_wine10() {
    local partial=$wine10_root.partial mirror free
    [ -f "$wine10_root/.complete" ] && return 0
    for folder in "$wine10_root" "$partial"; do
        if mounts_under "$folder"; then
            wine10="no: something is mounted under $folder; it is left as it is"
            return 1
        fi
    done
    $sudo mkdir -p "$(dirname "$wine10_root")"
    free=$(df -Pk "$(dirname "$wine10_root")" | awk 'NR == 2 { print $4 }')
    if [ "${free:-0}" -lt "$wine10_space_kb" ]; then
        wine10="no: $((free / 1024)) MB free in $(dirname "$wine10_root"), the chroot and its prefixes need $((wine10_space_kb / 1024))"
        return 1
    fi
    if ! mirror=$(debian_archive_uri "$release"); then
        wine10="no: no enabled Debian source among apt's sources to take $wine10_release from"
        return 1
    fi
    echo "making the Wine 10 chroot ($wine10_release from $mirror) in $wine10_root: about two minutes"
    $sudo rm -rf -- "$wine10_root" "$partial"
    if ! $sudo unshare --mount --propagation private -- debootstrap --arch=amd64 \
            --variant=minbase "$wine10_release" "$partial" "$mirror" >/dev/null 2>&1 ||
       ! in_chroot "$partial" dpkg --add-architecture i386 ||
       ! in_chroot "$partial" apt-get update -qq >/dev/null ||
       ! in_chroot "$partial" apt-get install -y -qq --no-install-recommends $wine10_packages \
            >/dev/null 2>&1; then
        wine10="no: $wine10_release and its Wine could not be installed from $mirror"
        return 1
    fi
    in_chroot "$partial" apt-get clean
    echo "$wine10_packages" | $sudo tee "$partial/.complete" >/dev/null
    $sudo mv -- "$partial" "$wine10_root"
}

wine10=""
if make_wine10; then
    version=$(in_chroot "$wine10_root" wine --version 2>/dev/null) || version=""
    if [ -z "$version" ]; then
        wine10="no: Wine does not start in $wine10_root"
    else
        wine10="ready: $wine10_root ($version)"
        # Where 32-bit code is emulated, the emulator that binfmt_misc opened at registration
        # must run the chroot's i386 programs too.
        if [ "${how%%:*}" != no ] &&
           ! in_chroot "$wine10_root" /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
            wine10="ready: $wine10_root ($version); its i386 programs do not run"
        fi
    fi
fi
if [ "$(cat build/wine10 2>/dev/null)" != "$wine10" ]; then
    echo "$wine10" > build/wine10
    echo "Wine 10 on this machine: $wine10"
fi
