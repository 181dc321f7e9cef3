#!/usr/bin/env bash
# Proves a signed launcher.exe to be the build of a commit of this repository, signed by the
# release's signer, and nothing else:
# - the file is read once, into a private copy, and everything below works on that copy;
# - every signature in it verifies, the first one (the one Windows judges) is by the expected
#   signer, and none carries an unauthenticated blob of data;
# - the commit is built from a clean copy of its tree, the signature taken from the file is
#   attached to that build, and the result must equal the file byte for byte: checksum,
#   certificate table and padding included, so nothing can be added anywhere unnoticed.
#
#   scripts/verify-release.sh <signed launcher.exe> --signer <subject> [--commit <commit>]
#                             [--ca-file <CA.pem>]
#
# --signer     the subject of the release certificate, as osslsigncode prints it
#              ("/O=Orvalent/CN=..."); without it, the first line of the file RELEASE_SIGNER
#              at the top of this repository, where there is one
# --commit     the commit that the release says it is (HEAD): a commit's name or hash; a short
#              hash that is also the name of a branch or a tag is refused as ambiguous
# --ca-file    the root certificate to trust, for a certificate of a private CA (otherwise
#              the system's certificate bundle)
# Exits 0 with "... is the build of commit <hash>"; 1 when a signature does not verify, the
# signer is another, or the bytes differ, saying where. OSSLSIGNCODE names another osslsigncode.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
repository=$(git -C "$scripts" rev-parse --show-toplevel)
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
die() { echo "verify-release.sh: $*" >&2; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }

signed="" commit=HEAD ca="" signer=""
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

# A commit, never a branch or tag that happens to look like a hash: "abc1234" that is both
# is refused rather than guessed.
if [[ $commit =~ ^[0-9a-fA-F]{4,39}$ ]] && git -C "$repository" show-ref --quiet -- "$commit"; then
    die "$commit names a branch or a tag, and may be the start of a commit's hash: give the whole hash"
fi
hash=$(git -C "$repository" rev-parse --verify --quiet "$commit^{commit}") ||
    die "$commit is not a commit of this repository"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
given=$scratch/given.exe
cp -- "$signed" "$given"  # the one read of the file

# ---- the signatures -------------------------------------------------------------------------

"$osslsigncode" verify ${ca:+-CAfile "$ca"} -in "$given" > "$scratch/verify" 2>&1 || true
signatures=$(grep -c '^Signature Index:' "$scratch/verify" || true)
verified=$(grep -c '^Signature verification: ok' "$scratch/verify" || true)
first_by=$(grep -m1 -E '^[[:space:]]+Subject:' "$scratch/verify" | sed 's/^[[:space:]]*Subject: //')
if [ "$signatures" -eq 0 ]; then
    fail "$(basename "$signed") carries no signature"
elif [ "$verified" -ne "$signatures" ] || ! grep -qx 'Succeeded' "$scratch/verify"; then
    echo "FAIL: $verified of the $signatures signatures of $(basename "$signed") verify; every one must:"
    grep -E "^Signature Index|MISMATCH|failed|Failed|error" "$scratch/verify" | head -n 8 | sed 's/^/    /'
    exit 1
elif grep -q 'Unauthenticated Data Blob' "$scratch/verify"; then
    fail "$(basename "$signed") carries unauthenticated data in a signature"
elif [ "$first_by" != "$signer" ]; then
    fail "the first signature is by $first_by, not by $signer"
fi
echo "signature: $signatures verified, the first by $first_by"

# ---- the bytes ------------------------------------------------------------------------------

"$osslsigncode" extract-signature -in "$given" -out "$scratch/signature" > /dev/null 2>&1 ||
    fail "the signature of $(basename "$signed") cannot be taken out of it"
"$scripts/build_commit.sh" "$hash" "$scratch/tree"
built=$scratch/tree/build/win32/launcher.exe
# osslsigncode checks the signature against the build as it attaches it, and writes the file
# whatever it finds: the bytes decide.
"$osslsigncode" attach-signature -sigin "$scratch/signature" ${ca:+-CAfile "$ca"} -in "$built" \
    -out "$scratch/rebuilt.exe" > /dev/null 2>&1 || true
[ -f "$scratch/rebuilt.exe" ] ||
    fail "the signature of $(basename "$signed") does not attach to the build of commit $hash"
if cmp -s "$given" "$scratch/rebuilt.exe"; then
    echo "$(basename "$signed") is the build of commit $hash ($(git -C "$repository" log -1 --format=%s "$hash"))"
    exit 0
fi

# Where they differ: how many bytes, and each region that holds some of them, by its place in
# the file (raw offset and size): a section, the headers, the certificate table, or past them.
regions=$(python3 - "$given" "$scratch/rebuilt.exe" <<'EOF'
import struct, sys
given, rebuilt = (open(path, "rb").read() for path in sys.argv[1:3])
pe = struct.unpack_from("<I", rebuilt, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H12xH", rebuilt, pe + 6)
optional = pe + 24
directories = optional + (96 if struct.unpack_from("<H", rebuilt, optional)[0] == 0x10B else 112)
places = [("the headers", 0, struct.unpack_from("<I", rebuilt, optional + 60)[0])]
for i in range(sections):
    name, size, start = struct.unpack_from("<8s8xII", rebuilt, optional + optional_size + 40 * i)
    places.append((name.rstrip(b"\0").decode(), start, size))
places.append(("the certificate table", *struct.unpack_from("<II", rebuilt, directories + 4 * 8)))
def place(at):
    for name, start, size in places:
        if start <= at < start + size:
            return name
    return "past the image"
first, count = {}, 0
for at in range(max(len(given), len(rebuilt))):
    if at >= len(given) or at >= len(rebuilt) or given[at] != rebuilt[at]:
        count += 1
        first.setdefault(place(at), at)
text = ", ".join(f"{name} from 0x{at:x}" for name, at in first.items())
print(f"{text}; {count} bytes in all" + ("; the sizes differ" if len(given) != len(rebuilt) else ""))
EOF
)
echo "FAIL: $(basename "$signed") is not the build of commit $hash signed as it is" \
     "($(stat -c %s "$given") bytes given, $(stat -c %s "$scratch/rebuilt.exe") rebuilt and" \
     "signed alike): they differ in $regions"
exit 1
