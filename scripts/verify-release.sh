#!/usr/bin/env bash
# Proves a signed launcher.exe to be the build of a commit of this repository: checks its
# signature, removes the signature (which leaves the signed bytes exactly as they were),
# builds the commit from a clean copy of its tree with this machine's toolchain, and
# compares the two byte for byte.
#
#   scripts/verify-release.sh <signed launcher.exe> [--commit <revision>] [--ca-file <CA.pem>]
#
# --commit     the commit that the release says it is (HEAD)
# --ca-file    the root certificate to trust, for a certificate of a private CA (otherwise
#              the system's certificate bundle)
# Exits 0 with "... is the build of commit <hash>"; 1 when the signature does not verify
# or the bytes differ, saying where. OSSLSIGNCODE names another osslsigncode.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
die() { echo "verify-release.sh: $*" >&2; exit 1; }

signed="" commit=HEAD ca=""
while [ $# -gt 0 ]; do
    case $1 in
        --commit) [ $# -ge 2 ] || die "--commit needs a value"; commit=$2; shift 2 ;;
        --ca-file) [ $# -ge 2 ] || die "--ca-file needs a value"; ca=$2; shift 2 ;;
        -*) die "unknown option $1" ;;
        *) [ -z "$signed" ] || die "one signed file at a time"; signed=$1; shift ;;
    esac
done
[ -n "$signed" ] || die "usage: verify-release.sh <signed launcher.exe> [--commit <revision>] [--ca-file <CA.pem>]"
[ -f "$signed" ] || die "$signed does not exist"
[ -z "$ca" ] || [ -f "$ca" ] || die "the CA file $ca does not exist"
hash=$(git -C "$scripts" rev-parse --verify --quiet "$commit^{commit}") ||
    die "$commit is not a commit of this repository"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! "$osslsigncode" verify ${ca:+-CAfile "$ca"} -in "$signed" > "$scratch/verify" 2>&1; then
    echo "FAIL: the signature of $signed does not verify:"
    grep -E "MISMATCH|failed|Failed|error|No signature" "$scratch/verify" | head -n 5 | sed 's/^/    /'
    exit 1
fi
count=$(sed -n 's/^Number of verified signatures: //p' "$scratch/verify")
signer=$(grep -m1 -E '^[[:space:]]+Subject:' "$scratch/verify" | sed 's/^[[:space:]]*Subject: //')
echo "signature: ${count:-1} verified, the first by $signer"

"$osslsigncode" remove-signature -in "$signed" -out "$scratch/unsigned.exe" > /dev/null
"$scripts/build_commit.sh" "$hash" "$scratch/tree"
built=$scratch/tree/build/win32/launcher.exe
if cmp -s "$scratch/unsigned.exe" "$built"; then
    echo "$(basename "$signed") is the build of commit $hash ($(git -C "$scripts" log -1 --format=%s "$hash"))"
    exit 0
fi

# Where they differ: how many bytes, and each region (a section or the headers) that holds
# some of them, with its first differing offset.
sections=""
while read -r index name size _ _ start _; do
    [[ $index =~ ^[0-9]+$ ]] && sections+="$name $((16#$start)) $((16#$size)) "
done < <(i686-w64-mingw32-objdump -h "$built")
unsigned_size=$(stat -c %s "$scratch/unsigned.exe") built_size=$(stat -c %s "$built")
regions=$(cmp -l "$scratch/unsigned.exe" "$built" 2>/dev/null | awk -v table="$sections" '
    BEGIN { n = split(table, t, " ") }
    { at = $1 - 1; region = "the headers"
      for (i = 1; i + 2 <= n; i += 3) if (at >= t[i + 1] && at < t[i + 1] + t[i + 2]) region = t[i]
      count++
      if (!(region in first)) { first[region] = at; order[++regions] = region } }
    END { for (i = 1; i <= regions; i++)
              printf "%s%s from 0x%x", (i > 1 ? ", " : ""), order[i], first[order[i]]
          printf "; %d bytes in all", count }' || true)
[ "$unsigned_size" -eq "$built_size" ] || regions+="; the sizes differ"
echo "FAIL: $(basename "$signed") is not the build of commit $hash ($unsigned_size bytes" \
     "unsigned, $built_size built): they differ in $regions"
exit 1
