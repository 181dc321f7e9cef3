#!/usr/bin/env bash
# Proves a signed launcher.exe to be the build of a commit of this repository, signed by the
# release's signer, and nothing else. Every verdict comes from an exit status or from the
# file's parsed structure (scripts/release_file.py, with asn1crypto), never from a tool's
# printed report, which prints what a signer wrote:
# - the file is read once, into a private copy, and everything below works on that copy;
# - its certificate table is one PKCS #7 entry; each signature in it (the first, and each
#   one nested in it) has one signer, named by issuer and serial number, a description and
#   URL without control characters, and no unauthenticated attribute but a nested signature
#   (in the first), an RFC 3161 time stamp or a countersignature;
# - the first signature's signer (the one Windows judges) has exactly the expected subject;
# - each signature verifies on its own (osslsigncode verify -index N, by its exit status);
# - the commit that the file names (its ProductVersion, "1.0.0+<hash>") or --commit is built
#   from a clean copy of its tree, the signature taken from the file is attached to that
#   build, and the result must equal the file byte for byte: checksum, certificate table and
#   padding included, so nothing can be added anywhere unnoticed.
#
#   scripts/verify-release.sh <signed launcher.exe> --signer <subject> [--commit <commit>]
#                             [--ca-file <CA.pem>]
#
# --signer     the subject of the release certificate in openssl's one-line form
#              ("/O=Orvalent/CN=..."), compared as a parsed name; without it, the first line
#              of the file RELEASE_SIGNER at the top of this repository, where there is one
# --commit     the commit that the release says it is; without it, the commit the file
#              names. A commit's name or hash; a short hash that is also the name of a branch
#              or a tag is refused as ambiguous
# --ca-file    the root certificate to trust, for a certificate of a private CA (otherwise
#              the system's certificate bundle)
# Exits 0 with "... is the build of commit <hash>"; 1 with one line that says why when it is
# not. OSSLSIGNCODE names another osslsigncode; it must be 2.8 or later (-index).
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
repository=$(git -C "$scripts" rev-parse --show-toplevel)
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
die() { echo "verify-release.sh: $*" >&2; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }

signed="" commit="" ca="" signer=""
while [ $# -gt 0 ]; do
    case $1 in
        --commit|--ca-file|--signer) [ $# -ge 2 ] || die "$1 needs a value" ;;&
        --commit) commit=$2; shift 2 ;;
        --ca-file) ca=$2; shift 2 ;;
        --signer) signer=$2; shift 2 ;;
        -*) die "unknown option $1" ;;
        *) [ -z "$signed" ] || die "one signed file at a time"; signed=$1; shift ;;
    esac
done
[ -n "$signed" ] || die "usage: verify-release.sh <signed launcher.exe> --signer <subject> [--commit <commit>] [--ca-file <CA.pem>]"
[ -f "$signed" ] || die "$signed does not exist"
[ -z "$ca" ] || [ -f "$ca" ] || die "the CA file $ca does not exist"
if [ -z "$signer" ] && [ -f "$repository/RELEASE_SIGNER" ]; then
    signer=$(head -n 1 "$repository/RELEASE_SIGNER")
fi
[ -n "$signer" ] || die "no --signer: name the release certificate's subject (or put it in RELEASE_SIGNER)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
given=$scratch/given.exe
cp -- "$signed" "$given"  # the one read of the file
name=$(basename -- "$signed")
inspect() { "$scripts/release_file.py" "$@"; }

# ---- the signatures -------------------------------------------------------------------------

"$osslsigncode" --help 2>&1 | grep -c -- '-index' > /dev/null ||
    die "$osslsigncode cannot verify one signature at a time (-index, osslsigncode 2.8 and later)"
structure=$(inspect signatures "$given" "$signer" "$scratch") || fail "$name: $structure"
{ read -r signatures; read -r first_by; } <<<"$structure"
for ((index = 0; index < signatures; index++)); do
    "$osslsigncode" verify -index "$index" ${ca:+-CAfile "$ca"} -in "$given" \
        > "$scratch/verify-$index" 2>&1 && continue
    which="signature $((index + 1)) of the $signatures in $name"
    if ! openssl verify -no_check_time ${ca:+-CAfile "$ca"} -untrusted "$scratch/certificates-$index.pem" \
            "$scratch/signer-$index.pem" > /dev/null 2>&1; then
        if [ -n "$ca" ]; then
            fail "$which does not verify: its certificate does not lead to the CA of $ca"
        fi
        fail "$which does not verify: its certificate leads to no CA of the system's bundle" \
             "(a private CA's root is given with --ca-file)"
    fi
    fail "$which does not verify (osslsigncode verify -index $index fails)"
done
echo "signature: $signatures verified, the first by $first_by"

# ---- the commit -----------------------------------------------------------------------------

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

# ---- the bytes ------------------------------------------------------------------------------

"$osslsigncode" extract-signature -in "$given" -out "$scratch/signature" > /dev/null 2>&1 ||
    fail "the signature of $name cannot be taken out of it"
"$scripts/build_commit.sh" "$hash" "$scratch/tree"
built=$scratch/tree/build/win32/launcher.exe
# osslsigncode checks the signature against the build as it attaches it, and writes the file
# whatever it finds: the bytes decide.
"$osslsigncode" attach-signature -sigin "$scratch/signature" ${ca:+-CAfile "$ca"} -in "$built" \
    -out "$scratch/rebuilt.exe" > /dev/null 2>&1 || true
[ -f "$scratch/rebuilt.exe" ] ||
    fail "the signature of $name does not attach to the build of commit $hash"
if cmp -s "$given" "$scratch/rebuilt.exe"; then
    echo "$name is the build of commit $hash ($(git -C "$repository" log -1 --format=%s "$hash"))"
    exit 0
fi
# Where they differ: how many bytes, and each region that holds some of them.
echo "FAIL: $name is not the build of commit $hash signed as it is" \
     "($(stat -c %s "$given") bytes given, $(stat -c %s "$scratch/rebuilt.exe") rebuilt and" \
     "signed alike): they differ in $(inspect differences "$given" "$scratch/rebuilt.exe")"
exit 1
