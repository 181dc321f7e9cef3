#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian, and nothing when it is
# all there already: CMake, g++, GoogleTest, clang with libFuzzer, both MinGW-w64 cross
# compilers, ImageMagick (for the splash picture as PNG), LLVM 14's clang-cl, lld-link and
# tools (for the MSVC branch's build), and for signing a release osslsigncode and openssl,
# with OpenSSL's PKCS#11 engine for a token's key and SoftHSM2 for the tests' token; Debian's
# python3-cryptography (the release tools read a certificate's key usages with it) and
# python3-pefile (the tests read the built file's headers and resources with it); debootstrap;
# zip for the kit (scripts/kit.sh), and unzip and xmllint (libxml2-utils) for its test.
# osslsigncode must be 2.9 or later for the signing test, which plays its own time-stamping
# authority; where the release has an older one (Debian 12 has
# 2.5, which sign.sh itself is content with), 2.9 comes from the backports suite as qemu does.
#
# Wine is not installed on this machine: each Wine the tests run, Debian 12's Wine 8 and
# Debian 13's Wine 10, lives in a chroot of its release's main suite that debootstrap makes
# outside the work tree (scripts/wine_chroot.sh), and made again when incomplete. So the
# host's own packages, whatever their versions, never have to match an archive's i386
# index, and the host gets no i386 architecture. The answer for each ("ready: <root> (<Wine
# version>)" or "no: <why>") is kept in build/wine8 and build/wine10 for scripts/wine.sh,
# which runs a command in one of them.
#
# It also finds out how this machine runs 32-bit code, so that the shipped 32-bit
# launcher.exe runs under the chroots' i386 Wine:
# - natively, where the kernel executes i386 programs: the machine is left as it is;
# - emulated, where it refuses them: qemu's user-mode emulator, registered with binfmt_misc
#   for i386 programs. It must be newer than 7.2, under which every Wine process takes about
#   75 s to start; where the release has none, it comes from the release's backports suite,
#   on the mirror that the machine's own apt sources name;
# - not at all, with the reason, where neither works.
# The answer ("native", "emulated: <how>" or "no: <why>") is kept in build/32-bit-code for
# the test, demo and benchmark scripts (runs_32bit_code in scripts/wine_prefix.sh).
#
# Debian's archive can be mid-sync for a day: apt-get update and debootstrap are tried again
# after a pause, an index that still cannot be read is named and passed over (what is
# needed may well be in the others), and a step that still fails says in one line what
# failed and what to do. A Wine that cannot be had leaves its tests skipped, with that line,
# while the other's run.
#
# With --build-only it installs what building, signing and verifying a release needs, and
# stops there: CMake, make, git, the i686 MinGW-w64 compiler and binutils, openssl,
# osslsigncode (the release's own), OpenSSL's PKCS#11 engine, python3-cryptography, the
# system's roots and zip (for the kit); no Wine, no chroot, no emulator, nothing for the tests.
#
# What it changes on a machine, and leaves so: the packages above (the names of those it
# installed are kept in /var/lib/launcher-tests/added-packages); where the kernel refuses
# 32-bit code, qemu's emulator and its binfmt_misc entry (until the next boot); the two
# chroots. A backports source it has to add to apt for the emulator is removed again after
# the install.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/debian_archive.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
source scripts/wine_chroot.sh
mkdir -p build
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# apt-get update, tried again after a pause (try, scripts/wine_chroot.sh); an index that
# still cannot be read is named and passed over.
apt_update() {
    local log=build/apt-update.log suites
    : > "$log"
    try "$log" $sudo apt-get update -qq && return 0
    suites=$(sed -n -e "s|.*/dists/\([^/]*\)/.*|\1|p" -e "s|.*'[^ ]* \([^ ]*\) Release'.*|\1|p" "$log" |
        sort -u | tr '\n' ' ')
    echo "install.sh: the archive's index of ${suites:-a suite }could not be read" \
         "($(grep -m1 '^E: ' "$log" | cut -c1-160)); going on without it (try again later" \
         "if a package is then missing)"
}

# Installs packages, and notes their names in $added_packages for the README's removal section.
added_packages=/var/lib/launcher-tests/added-packages
apt_install() {
    local log=build/apt-install.log names=("$@")
    echo "installing: $*"
    : > "$log"
    [ "$1" != -t ] || names=("${@:3}")
    try "$log" $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "$@" &&
        $sudo mkdir -p "${added_packages%/*}" &&
        printf '%s\n' "${names[@]}" | $sudo tee -a "$added_packages" > /dev/null && return 0
    echo "install.sh: $* could not be installed from Debian's archive" \
         "($(grep -m1 '^E: ' "$log" | cut -c1-200)); try again later, or install them by hand"
    return 1
}

build_only=(cmake make git g++-mingw-w64-i686 binutils-mingw-w64-i686 openssl osslsigncode
            libengine-pkcs11-openssl python3 python3-cryptography ca-certificates zip)
need=()
if [ "${1:-}" = --build-only ]; then
    for package in "${build_only[@]}"; do
        have "$package" || need+=("$package")
    done
    [ ${#need[@]} -eq 0 ] || { apt_update; apt_install "${need[@]}"; }
    echo "install.sh --build-only: done: what building, signing and verifying a release need is installed"
    exit
fi
for package in cmake g++ make libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
               g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 imagemagick \
               clang libclang-rt-14-dev clang-tools-14 lld-14 llvm-14 python3 libc6-i386 \
               openssl osslsigncode softhsm2 libengine-pkcs11-openssl \
               python3-cryptography python3-pefile debootstrap zip unzip libxml2-utils; do
    have "$package" || need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then
    apt_update
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

# install_at_least <package> <version>: installs the package at that version or later, or
# sets $why to why there is none. Where the release has none so new and its backports suite
# is not among apt's sources, the suite is added for this install alone, on the machine's own
# Debian mirror, and removed again afterwards, whether the install worked or not.
install_at_least() {
    local package=$1 least=$2 suite="" added=""
    at_least() { [ -n "$1" ] && dpkg --compare-versions "${1#*:}" ge "$least"; }
    apt_update
    if ! at_least "$(candidate "$package")"; then
        suite=$release-backports
        if ! at_least "$(candidate "$package" "$suite")"; then
            local mirror keyring=/usr/share/keyrings/debian-archive-keyring.gpg
            if [ -z "$release" ] || ! mirror=$(debian_archive_uri "$release"); then
                why="no $package $least or later in the release, and its backports suite could not be added (no enabled Debian source for \"$release\" main among apt's sources)"
                return 1
            fi
            added=/etc/apt/sources.list.d/launcher-$suite.sources
            echo "adding $suite to apt's sources for this install ($added)"
            {
                printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\n' "$mirror" "$suite"
                if [ -f "$keyring" ]; then printf 'Signed-By: %s\n' "$keyring"; fi
            } | $sudo tee "$added" >/dev/null
            apt_update
        fi
        if ! at_least "$(candidate "$package" "$suite")"; then
            [ -z "$added" ] || remove_source "$added"
            why="no $package $least or later in $release or $suite (found \"$(candidate "$package" "$suite")\")"
            return 1
        fi
    fi
    local status=0
    apt_install ${suite:+-t "$suite"} "$package" || status=$?
    [ -z "$added" ] || remove_source "$added"
    [ $status -eq 0 ] || why="$package${suite:+ from $suite} could not be installed"
    return $status
}

# qemu-user-static newer than 7.2 (8 or later), or $how says why there is none.
install_emulator() {
    install_at_least qemu-user-static 8 || { how="no: $why"; return 1; }
}

# Takes a source this script added out of apt's sources again, and apt's lists with it.
remove_source() {
    echo "removing $1 from apt's sources again"
    $sudo rm -f -- "$1"
    apt_update > /dev/null
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

if [ "$(cat build/32-bit-code 2>/dev/null)" != "$how" ]; then
    echo "$how" > build/32-bit-code
    echo "32-bit code on this machine: $how"
fi

# ---- osslsigncode for the signing test ----------------------------------------------------

signer_version=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || true)
if ! dpkg --compare-versions "${signer_version#*:}" ge 2.9; then
    install_at_least osslsigncode 2.9 ||
        echo "install.sh: $why: tests/check_signing.sh will say what it lacks"
fi

# ---- the Wines, each in a chroot of its release's main suite -------------------------------

# Makes the chroot of one Wine where it is missing or incomplete, and keeps the answer in
# build/wine<generation>: "ready: <root> (<version>)", with "; no 32-bit Wine: <why>" after
# it where the shipped program cannot run there, or "no: <why>".
wine_answer() {
    local generation=$1 release=$2 root=/var/lib/launcher-tests/wine$1-$2 answer="" mirror version
    chroot_log=build/install-wine$generation.log
    if [ ! -f "$root/.complete" ]; then
        if ! mirror=$(debian_archive_uri "$host_release"); then
            answer="no: no enabled Debian source among apt's sources to take $release from"
        else
            echo "making the Wine $generation chroot ($release's main suite from $mirror) in" \
                 "$root: about two minutes; its log is $chroot_log"
            make_wine_chroot "$root" "$release" "$mirror" || answer="no: $chroot_why"
        fi
    fi
    if [ -z "$answer" ]; then
        version=$(in_chroot "$root" wine --version 2>/dev/null) || version=""
        answer="ready: $root ($version)"
        if [ -z "$version" ]; then
            answer="no: Wine does not start in $root"
        elif [ "${how%%:*}" != no ] &&
             ! in_chroot "$root" /usr/lib/wine/wine --version > /dev/null 2>&1; then
            # Where 32-bit code is emulated, the emulator that binfmt_misc opened at
            # registration must run the chroot's i386 programs too.
            answer="$answer; no 32-bit Wine: its i386 Wine does not start ($how)"
        fi
    fi
    if [ "$(cat "build/wine$generation" 2>/dev/null)" != "$answer" ]; then
        echo "$answer" > "build/wine$generation"
        echo "Wine $generation on this machine: $answer"
    fi
}

host_release=$release
wine_answer 8 bookworm
wine_answer 10 trixie
