#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian, and nothing when it is
# all there already: CMake, g++, GoogleTest, clang with libFuzzer, both MinGW-w64 cross
# compilers, 64-bit Wine, Xvfb, ImageMagick (for the splash picture as PNG), the locale
# sources (for a Japanese code page under Wine), LLVM 14's clang-cl, lld-link and tools (for
# the MSVC branch's build), and for signing a release osslsigncode and openssl, with SoftHSM2
# and OpenSSL's PKCS#11 engine for the tests' token.
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
set -euo pipefail
cd "$(dirname "$0")/.."
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
               openssl osslsigncode softhsm2 libengine-pkcs11-openssl; do
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

# Prints the machine's own apt source for the release's main component, with the backports
# suite in place of the release's: the same mirror, options and key, whatever they are.
backports_source() {
    local files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
    cat "${files[@]}" 2>/dev/null | awk -v release="$release" '
        BEGIN { RS = ""; FS = "\n" }
        {
            for (i = 1; i <= NF; i++) {  # one-line form: deb [options] URI suite components
                n = split($i, w, /[ \t]+/)
                if (w[1] != "deb") continue
                s = 2
                if (w[2] ~ /^\[/) while (s < n && w[s] !~ /\]$/) s++
                if (w[2] ~ /^\[/) s++
                if (w[s + 1] != release || $i !~ /[ \t]main([ \t]|$)/) continue
                line = w[1]
                for (j = 2; j <= s; j++) line = line " " w[j]
                print line " " release "-backports main"
                exit
            }
            # deb822 form: a stanza with Types, URIs, Suites, Components and perhaps Signed-By
            block = $0 "\n"
            if (block !~ /\nTypes:[^\n]*[ \t]deb[ \t\n]/ && block !~ /^Types:[^\n]*[ \t]deb[ \t\n]/) next
            if (block !~ ("Suites:[^\n]*[ \t]" release "[ \t\n]")) next
            if (block !~ /Components:[^\n]*[ \t]main[ \t\n]/) next
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^#/) continue
                if ($i ~ /^Suites:/) $i = "Suites: " release "-backports"
                if ($i ~ /^Components:/) $i = "Components: main"
                print $i
            }
            exit
        }'
}

# Installs a qemu-user-static newer than 7.2, or sets $how to why there is none.
install_emulator() {
    local suite=""
    $sudo apt-get update -qq
    if ! newer_than_7_2 "$(candidate qemu-user-static)"; then
        suite=$release-backports
        if ! newer_than_7_2 "$(candidate qemu-user-static "$suite")"; then
            local source list=/etc/apt/sources.list.d/$suite.list
            source=$(backports_source)
            [[ "$source" == Types:* ]] && list=/etc/apt/sources.list.d/$suite.sources
            if [ -z "$release" ] || [ -z "$source" ]; then
                how="no: no qemu newer than 7.2 in the release, and its backports suite could not be added (no Debian source for \"$release\" main in the machine's apt sources)"
                return 1
            fi
            echo "adding $suite to apt's sources ($list)"
            echo "$source" | $sudo tee "$list" >/dev/null
            $sudo apt-get update -qq
        fi
        if ! newer_than_7_2 "$(candidate qemu-user-static "$suite")"; then
            how="no: no qemu-user-static newer than 7.2 in $release or $suite (found \"$(candidate qemu-user-static "$suite")\")"
            return 1
        fi
    fi
    apt_install ${suite:+-t "$suite"} qemu-user-static
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
