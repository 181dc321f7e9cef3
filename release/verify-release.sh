#!/usr/bin/env bash
# Proves a signed launcher.exe to be the build of a commit of this repository, signed by the
# release certificate, and by nothing else. The certificate is given (the one the vendor
# publishes with each release), never taken from the file; every verdict comes from an exit
# status or from the file's parsed structure (release/release.py), never from a printed
# report:
# - the file is read once, into a private copy, and everything below works on that copy;
# - every signature in it is the release certificate's, made and carried as sign.sh makes it,
#   and nothing else is there (release/authenticode.py says what that is);
# - only then is the commit that the file names (its ProductVersion, "1.0.0+<hash>") read and
#   built from a clean copy of its tree, the file's signature attached to that build, and the
#   result must equal the file byte for byte.
#
#   release/verify-release.sh <signed launcher.exe> --signer-cert <certificate>
#                             [--ca-file <root.pem>] [--tsa-ca-file <root.pem>] [--commit <commit>]
#
# --signer-cert  the release certificate, PEM or DER; RELEASE_SIGNER_CERT may name it instead
# --ca-file      the root that the certificate must lead to (otherwise the system's bundle)
# --tsa-ca-file  the root that a time stamp's authority must lead to (otherwise the system's)
# --commit       the commit that the release says it is (it must be the one the file names);
#                a short hash that is also a branch's or tag's name is refused as ambiguous
# Exits 0 with "... is the build of commit <hash>"; 1 with one line that says why when not.
set -euo pipefail
release=$(cd "$(dirname "$0")" && pwd)
repository=$(git -C "$release" rev-parse --show-toplevel)
die() { echo "verify-release.sh: $*" >&2; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }

signed="" commit="" ca="" tsa="" certificate=${RELEASE_SIGNER_CERT:-}
while [ $# -gt 0 ]; do
    case $1 in
        --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}"; continue ;;
        --commit|--ca-file|--tsa-ca-file|--signer-cert) [ $# -ge 2 ] || die "$1 needs a value" ;;&
        --commit) commit=$2; shift 2 ;;
        --ca-file) ca=$2; shift 2 ;;
        --tsa-ca-file) tsa=$2; shift 2 ;;
        --signer-cert) certificate=$2; shift 2 ;;
        -*) die "unknown option $1 (see the head of this script)" ;;
        *) [ -z "$signed" ] || die "one signed file at a time"; signed=$1; shift ;;
    esac
done
[ -n "$signed" ] || die "usage: verify-release.sh <signed launcher.exe> --signer-cert <certificate> [--ca-file <root.pem>] [--tsa-ca-file <root.pem>] [--commit <commit>]"
[ -f "$signed" ] || die "$signed does not exist"
[ -n "$certificate" ] || die "no --signer-cert: give the release certificate that the vendor publishes with the release (or set RELEASE_SIGNER_CERT)"
for file in "$certificate" "$ca" "$tsa"; do
    [ -z "$file" ] || [ -f "$file" ] || die "$file does not exist"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
given=$scratch/given.exe
cp -- "$signed" "$given"  # the one read of the file
name=$(basename -- "$signed")
inspect() { "$release/release.py" "$@"; }

# ---- the signatures, before anything else of the file is read ----------------------------------
proof=$(inspect signatures "$given" "$certificate" "$ca" "$tsa") || fail "$name: $proof"
echo "$proof"

# ---- the commit it names -------------------------------------------------------------------
named=$(inspect commit "$given") || fail "$name: $named"
case $named in
    changed\ *) fail "$name was built from a tree with changes: no commit can be proven" ;;
    unknown) fail "$name names no commit: it was built outside a git checkout, and no build of a commit is such a file" ;;
esac
named=${named#commit }
[ -n "$commit" ] || commit=$named
# A commit, never a branch or tag that happens to look like a hash: "abc1234" that is both
# is refused rather than guessed.
if [[ $commit =~ ^[0-9a-fA-F]{4,39}$ ]] && git -C "$repository" show-ref --quiet -- "$commit"; then
    die "$commit names a branch or a tag, and may be the start of a commit's hash: give the whole hash"
fi
hash=$(git -C "$repository" rev-parse --verify --quiet "$commit^{commit}") ||
    die "$commit is not a commit of this repository$([ "$commit" = "$named" ] && echo " (the one $name names; fetch it?)")"
[ "$hash" = "$named" ] || fail "$name names commit $named, not $commit ($hash)"

# ---- the bytes -----------------------------------------------------------------------------
"$release/build_commit.sh" "$hash" "$scratch/tree" > "$scratch/build.log" 2>&1 ||
    fail "the commit $hash cannot be built here: $(tail -n 1 "$scratch/build.log")"
differ=$(inspect same-build "$given" "$scratch/tree/build/win32/launcher.exe") ||
    fail "$name is not the build of commit $hash with its signature ($differ)"
echo "$name is the build of commit $hash ($(git -C "$repository" log -1 --format=%s "$hash"))"
