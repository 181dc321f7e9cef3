#!/usr/bin/env bash
# Proves a release: its statement signed by the release certificate's key, the certificate
# for code signing and chained to the roots given, the file's SHA-256 the stated one, the
# stated commit built here and, with the file's own signature attached, the file byte for
# byte, and that signature one that osslsigncode verifies as the release certificate's.
# Every verdict is an exit status (openssl, sha256sum, cmp, osslsigncode); nothing is fetched.
#
#   release/verify-release.sh --signer-cert <certificate> [options] [--] <launcher.exe>
#
# --signer-cert: the release certificate as the vendor publishes it (exactly one). --ca-file,
# --tsa-ca-file <roots.pem>: the only roots it and a time stamp may chain to (the system's
# otherwise). --crl-file <crls.pem>: revocation lists to check against (none is checked
# otherwise). --statement <file>: the statement (statement.txt beside the file otherwise), and
# <file>.sig. --commit <name>: what the release is said to be, which must be the stated commit.
# Exits 0 with "... is the build of commit <hash>"; 1 with one line that says why when not.
tool=verify-release.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,15s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac

name="" signer_cert="" ca_file="" tsa_ca_file="" crl_file="" statement="" commit=""
while [ $# -gt 0 ]; do
    case $1 in --?*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;; esac
    case $1 in
        --) [ $# -eq 2 ] && [ -z "$name" ] || die "one file at a time"; name=$2; break ;;
        --signer-cert|--ca-file|--tsa-ca-file|--crl-file|--statement|--commit)
            value "$@"
            option=${1#--} && printf -v "${option//-/_}" '%s' "$2" && shift ;;
        -*) die "unknown option $(shown "$1") (--help)" ;;
        *) [ -z "$name" ] || die "one file at a time"; name=$1 ;;
    esac
    shift
done
[ -n "$name" ] || die "no file: verify-release.sh <launcher.exe> --signer-cert <certificate>"
[ -n "$signer_cert" ] || die "no --signer-cert: give the certificate the vendor publishes with the release"
statement=${statement:-$(dirname -- "$name")/statement.txt}
scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
# The one read of each file, bounded, into this private folder; everything below reads copies.
copy_bounded "$name" "$scratch/launcher.exe" "$max_file_bytes"
copy_bounded "$statement" "$scratch/statement.txt" "$max_small_bytes"
copy_bounded "$statement.sig" "$scratch/statement.txt.sig" "$max_small_bytes"
certificates "$signer_cert" "$max_small_bytes" "$scratch/release.pem"
[ "$found" = 1 ] || die "$(shown "$signer_cert") is not exactly one certificate"
roots ca_file tsa_ca_file
[ -z "$crl_file" ] || { copy_bounded "$crl_file" "$scratch/crl.read" "$max_roots_bytes" &&
    within $tool_seconds openssl crl -in "$scratch/crl.read" -out "$scratch/crl.pem" 2>/dev/null; } ||
    die "$(shown "$crl_file") is not a revocation list"
[ -z "$crl_file" ] || crl_file=$scratch/crl.pem
[ -z "$commit" ] || said=$commit commit=$(commit_of "$commit")

# ---- the statement: signed with the certificate's key, in its format exactly -----------------
signed_by "$scratch/release.pem" "$scratch/statement.txt" ||
    die "the statement's signature is not the release certificate's key's"
check_certificate "$scratch/release.pem" "$ca_file"
check_statement "$scratch/statement.txt"

# ---- the file: its hash, the commit's build, its signature -------------------------------------
[ "$(sha256sum < "$scratch/launcher.exe" | cut -c1-64)" = "$sha" ] ||
    die "$(shown "$name") is not the file the statement states (its SHA-256 differs)"
within $tool_seconds git -C "$repository" cat-file -e "$hash^{commit}" 2>/dev/null ||
    die "the stated commit $hash is not in this repository (fetch it?)"
[ -z "$commit" ] || [ "$commit" = "$hash" ] || die "the release is commit $hash, not $(shown "$said")"
[ "$stated_toolchain" = "$(toolchain)" ] ||
    die "this machine's compiler is not the release's: it was built with $(echo $stated_toolchain), this machine has $(echo $(toolchain))"
"$repository/release/build_commit.sh" "$hash" "$scratch/tree" > "$scratch/build.log" 2>&1 ||
    die "the commit $hash cannot be built here: $(tail -n 1 "$scratch/build.log")"
[ "$(built_version "$scratch/tree")" = "$version" ] || die "the stated version $version is not the build's"
prove_file "$scratch/launcher.exe" "$scratch/tree/build/win32/launcher.exe" "$scratch/release.pem" "$ca_file" \
    "$tsa_ca_file" "$crl_file"
echo "$(shown "$name") is the build of commit $hash ($(git -C "$repository" log -1 --format=%s "$hash" | LC_ALL=C tr -cd ' -~'))"
