#!/usr/bin/env bash
# scripts/install.sh takes the mirror for the backports suite and for the Wine 10 chroot from
# the machine's own Debian source, never from a third party's. Checked on copies of apt's
# folders: each case lays out sources and the release files apt would have fetched for them.
set -uo pipefail
source "$(dirname "$0")/../scripts/debian_archive.sh"
scratch=$(mktemp -d)
trap '[ -n "${KEEP_SCRATCH:-}" ] || rm -rf "$scratch"' EXIT
passed=0 failed=0

# release_file <root> <uri> <suite> <origin>: what apt keeps of a source's release file.
release_file() {
    local name=${2#*://}
    name=${name%/}
    mkdir -p "$1/var/lib/apt/lists"
    printf -- '-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA512\n\nOrigin: %s\nLabel: %s\nCodename: %s\n' \
        "$4" "$4" "$3" > "$1/var/lib/apt/lists/${name//\//_}_dists_${3}_InRelease"
}

# check <name> <expected URI or "none"> — the apt root is $root
check() {
    local found
    found=$(debian_archive_uri bookworm "$root") || found=none
    if [ "$found" = "$2" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $1: found $found, expected $2"
    fi
}

debian=http://mirror.invalid/debian
third=https://vendor.invalid/apt
deb822="Types: deb
URIs: $debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"

root=$scratch/deb822-only
mkdir -p "$root/etc/apt/sources.list.d"
echo "$deb822" > "$root/etc/apt/sources.list.d/debian.sources"
release_file "$root" "$debian" bookworm Debian
check "Debian's deb822 source only" "$debian"

root=$scratch/third-party-list
mkdir -p "$root/etc/apt/sources.list.d"
echo "$deb822" > "$root/etc/apt/sources.list.d/debian.sources"
echo "deb [arch=amd64] $third bookworm main" > "$root/etc/apt/sources.list.d/a-vendor.list"
release_file "$root" "$debian" bookworm Debian
release_file "$root" "$third" bookworm Vendor
check "a third party's .list beside Debian's deb822 source" "$debian"

root=$scratch/third-party-only
mkdir -p "$root/etc/apt/sources.list.d"
echo "deb $third bookworm main" > "$root/etc/apt/sources.list"
release_file "$root" "$third" bookworm Vendor
check "a third party's source alone" none

root=$scratch/disabled
mkdir -p "$root/etc/apt/sources.list.d"
printf '%s\nEnabled: no\n' "$deb822" > "$root/etc/apt/sources.list.d/debian.sources"
release_file "$root" "$debian" bookworm Debian
check "Debian's source with Enabled: no" none

root=$scratch/one-line
mkdir -p "$root/etc/apt/sources.list.d"
printf '# deb %s bookworm main\ndeb [signed-by=/k.gpg] %s/ bookworm contrib main\n' "$third" "$debian" \
    > "$root/etc/apt/sources.list"
release_file "$root" "$debian" bookworm Debian
check "Debian's one-line source, options and a trailing slash" "$debian/"

root=$scratch/no-lists
mkdir -p "$root/etc/apt/sources.list.d"
echo "$deb822" > "$root/etc/apt/sources.list.d/debian.sources"
check "before the first apt-get update" none

echo "apt sources: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
