#!/usr/bin/env bash
# Proves a release: its statement signed by the release certificate's key, the certificate
# for code signing and chained to the roots given, the file's SHA-256 the stated one, the
# stated commit built here equal to the file with its signature taken off, and the signature
# one that osslsigncode verifies. Every verdict is an exit status (openssl, sha256sum, cmp,
# osslsigncode); nothing of the signed file is read by a parser of this project's.
#
#   release/verify-release.sh <launcher.exe> --signer-cert <certificate> [--ca-file <roots.pem>]
#       [--tsa-ca-file <roots.pem>] [--statement <statement.txt>] [--commit <commit or tag>]
#
# --signer-cert  the release certificate, as the vendor publishes it (never taken from the file)
# --ca-file      the only roots it may chain to (the system's otherwise)
# --tsa-ca-file  the roots of a time stamp's authority (the system's otherwise)
# --statement    the statement (statement.txt beside the file otherwise); its signature is
#                the statement's name with ".sig" after it
# --commit       what the release is said to be: it must be the stated commit
# Exits 0 with "... is the build of commit <hash>"; 1 with one line that says why when not.
set -euo pipefail
tool=verify-release.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,17s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac

name="" certificate="" ca="" tsa="" given_statement="" commit=""
while [ $# -gt 0 ]; do
    case $1 in --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;; esac
    case $1 in
        --signer-cert|--ca-file|--tsa-ca-file|--statement|--commit)
            [ $# -ge 2 ] || die "$1 needs a value"
            value "$1" "$2" ;;&
        --signer-cert) certificate=$2 ;;
        --ca-file) ca=$2 ;;
        --tsa-ca-file) tsa=$2 ;;
        --statement) given_statement=$2 ;;
        --commit) commit=$2 ;;
        -*) die "unknown option $(shown "$1") (--help)" ;;
        *) [ -z "$name" ] || die "one file at a time"; name=$1; shift; continue ;;
    esac
    shift 2
done
[ -n "$name" ] || die "no file: verify-release.sh <launcher.exe> --signer-cert <certificate>"
[ -n "$certificate" ] || die "no --signer-cert: give the certificate the vendor publishes with the release"
given_statement=${given_statement:-$(dirname -- "$name")/statement.txt}
scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
# The one read of each file, bounded, into this private folder; everything below reads copies.
copy_bounded "$name" "$scratch/launcher.exe" "$max_file_bytes"
copy_bounded "$given_statement" "$scratch/statement.txt" "$max_small_bytes"
copy_bounded "$given_statement.sig" "$scratch/statement.txt.sig" "$max_small_bytes"
copy_bounded "$certificate" "$scratch/release.pem" "$max_small_bytes"
for roots in ca tsa; do
    [ -z "${!roots}" ] || copy_bounded "${!roots}" "$scratch/$roots.pem" "$max_file_bytes"
    [ -z "${!roots}" ] || printf -v "$roots" '%s' "$scratch/$roots.pem"
done

# ---- the statement: signed with the certificate's key, in its format exactly -----------------
openssl x509 -in "$scratch/release.pem" -noout 2>/dev/null || die "$(shown "$certificate") is not a certificate"
signed_by "$scratch/release.pem" "$scratch/statement.txt" ||
    die "the statement's signature is not the release certificate's key's"
check_certificate "$scratch/release.pem" "$ca"
field() { sed -n "s/^$1: //p" "$scratch/statement.txt" | head -n 1; }
sha=$(field sha256) hash=$(field commit) version=$(field version)
stated_toolchain=$(sed -n '/^compiler: /p;/^binutils: /p' "$scratch/statement.txt" | head -n 2)
[[ $sha =~ ^[0-9a-f]{64}$ && $hash =~ ^[0-9a-f]{40}$ && $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] &&
    statement "$sha" "$hash" "$version" "$stated_toolchain" | cmp -s - "$scratch/statement.txt" ||
    die "the statement is not in its format exactly"

# ---- the file: its hash, the commit's build, its signature -------------------------------------
[ "$(sha256sum < "$scratch/launcher.exe" | cut -c1-64)" = "$sha" ] ||
    die "$(shown "$name") is not the file the statement states (its SHA-256 differs)"
git -C "$repository" cat-file -e "$hash^{commit}" 2>/dev/null ||
    die "the stated commit $hash is not in this repository (fetch it?)"
if [ -n "$commit" ]; then
    [ "$(git -C "$repository" rev-parse --verify --quiet "$commit^{commit}")" = "$hash" ] ||
        die "the release is commit $hash, not $(shown "$commit")"
fi
[ "$(version_of "$hash")" = "$version" ] || die "the stated version $version is not commit $hash's"
[ "$stated_toolchain" = "$(toolchain)" ] ||
    die "this machine's compiler is not the release's: it was built with $(echo $stated_toolchain), this machine has $(echo $(toolchain))"
"$repository/release/build_commit.sh" "$hash" "$scratch/tree" > "$scratch/build.log" 2>&1 ||
    die "the commit $hash cannot be built here: $(tail -n 1 "$scratch/build.log")"
prove_file "$scratch/launcher.exe" "$hash" "$scratch/tree/build/win32/launcher.exe" "$ca" "$tsa"
echo "$(shown "$name") is the build of commit $hash ($(git -C "$repository" log -1 --format=%s "$hash" | LC_ALL=C tr -cd ' -~'))"
