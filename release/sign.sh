#!/usr/bin/env bash
# Makes a release: builds a commit from git's archive in a private folder, signs that build
# (Authenticode, SHA-256, with osslsigncode), proves the signed file to be the build as
# verify-release.sh does, and writes a new folder of four files: launcher.exe; statement.txt,
# which states its SHA-256, the commit, the version and the toolchain; statement.txt.sig, that
# text's signature by the same key (openssl); and release.pem, the release certificate.
#
#   release/sign.sh --commit <commit> <key> --url <URL> [options] --out <new folder>
#   release/sign.sh --commit <commit> <key> --signed <launcher.exe> --out <new folder>
#
# The second form is for a file signed elsewhere (signtool on Windows, a cloud HSM): it is
# proven to be the commit's build with a signature before the statement is signed.
# Key, one of:
#   --pkcs12 <file>                        a PKCS#12 file with the certificate and key
#   --cert <certificate> --key <key.pem>   PEM files
#   --cert <certificate> --pkcs11-module <module.so> --pkcs11-key <pkcs11: URI>
#                                          a key in a PKCS#11 token (or a cloud HSM's module)
# Its password or PIN never on a command line: --password-file <file> (its first line) or
# --password-env <NAME> (an environment variable).
# Options:
#   --url <URL>              the vendor's page, shown with the signature (printable ASCII)
#   --description <text>     the program's name in the signature ("Quaverline driver setup")
#   --timestamp <URL>        an RFC 3161 time-stamp server; given up after SIGN_TIMEOUT s (60)
#   --nested-sha1            a nested SHA-1 signature too, for Windows Vista and 7 without SHA-2
#   --ca-file <roots.pem>    the roots the certificate must chain to (the system's otherwise)
#   --tsa-ca-file <roots.pem> the roots of the time-stamping authority (the system's otherwise)
# --out must not exist; the folder it is made in must be one that no other user may change.
set -euo pipefail
tool=sign.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,28s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac

commit="" out="" signed="" url="" timestamp="" nested=0 ca="" tsa=""
description="Quaverline driver setup"
pkcs12="" cert="" key="" module="" token_key="" password_file="" password_env=""
while [ $# -gt 0 ]; do
    case $1 in --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;; esac
    [ "$1" = --nested-sha1 ] && { nested=1; shift; continue; }
    [ $# -ge 2 ] || die "$1 needs a value"
    value "$1" "$2"
    case $1 in
        --commit) commit=$2 ;;
        --out) out=$2 ;;
        --signed) signed=$2 ;;
        --pkcs12) pkcs12=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --pkcs11-module) module=$2 ;;
        --pkcs11-key) token_key=$2 ;;
        --password-file) password_file=$2 ;;
        --password-env) password_env=$2 ;;
        --description) description=$2 ;;
        --url) url=$2 ;;
        --timestamp) timestamp=$2 ;;
        --ca-file) ca=$2 ;;
        --tsa-ca-file) tsa=$2 ;;
        *) die "unknown option $(shown "$1") (--help)" ;;
    esac
    shift 2
done

# ---- what was asked for, checked before anything is built or written --------------------------
[ -n "$commit" ] || die "no --commit: name the commit to release"
[ -n "$out" ] || die "no --out: name a new folder for the release"
[ -n "$signed$url" ] || die "no --url: the signature carries the vendor's page"
hash=$(git -C "$repository" rev-parse --verify --quiet "$commit^{commit}") ||
    die "$(shown "$commit") is not a commit of this repository"
for text in "$description" "$url"; do
    [ -z "$(printf '%s' "$text" | LC_ALL=C tr -d ' -~')" ] ||
        die "$(shown "$text") holds a character beyond printable ASCII, which the signature would carry as something else"
done
for file in "$pkcs12" "$cert" "$key" "$module" "$password_file" "$ca" "$tsa"; do
    [ -z "$file" ] || { [ -f "$file" ] && [ -r "$file" ]; } || die "$(shown "$file") does not exist or cannot be read"
done
[ -z "$password_file" ] || [ -z "$password_env" ] || die "give the password once: --password-file or --password-env"
if [ -n "$password_env" ]; then
    [[ $password_env =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] || die "--password-env $(shown "$password_env") is no variable's name"
    [ -n "${!password_env+set}" ] || die "the environment variable $password_env is not set"
fi
passin=()
[ -z "$password_file" ] || passin=(-passin "file:$password_file")
[ -z "$password_env" ] || passin=(-passin "env:$password_env")
scratch=$(mktemp -d)  # private to this user: everything until the release is whole
trap 'rm -rf -- "$scratch"' EXIT
trap 'exit 1' HUP INT QUIT TERM
mkdir "$scratch/release"
release_cert=$scratch/release/release.pem
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key$module$token_key" ] || die "--pkcs12 stands alone, without --cert, --key or a token"
    signer=(-pkcs12 "$pkcs12") statement_key=(-sign "$pkcs12")
    openssl pkcs12 -in "$pkcs12" -clcerts -nokeys "${passin[@]}" < /dev/null 2> "$scratch/log" |
        openssl x509 -out "$release_cert" 2>> "$scratch/log" ||
        die "the PKCS#12 file does not open (a wrong or missing password?): $(head -n 1 "$scratch/log")"
elif [ -n "$module$token_key" ]; then
    [ -n "$module" ] && [ -n "$token_key" ] && [ -n "$cert" ] && [ -z "$key" ] ||
        die "a token needs --pkcs11-module, --pkcs11-key and --cert, and no --key"
    signer=(-pkcs11module "$module" -certs "$cert" -key "$token_key")
    printf 'openssl_conf = conf\n[conf]\nengines = engines\n[engines]\npkcs11 = pkcs11\n[pkcs11]\nengine_id = pkcs11\nMODULE_PATH = %s\n' \
        "$(realpath -- "$module")" > "$scratch/engine.cnf"
    statement_key=(-engine pkcs11 -keyform engine -sign "$token_key")
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || die "PEM files need both --cert and --key"
    signer=(-certs "$cert" -key "$key") statement_key=(-sign "$key")
else
    die "no key: give --pkcs12, --cert and --key, or --cert with a PKCS#11 token"
fi
[ -n "$pkcs12" ] || openssl x509 -in "$cert" -out "$release_cert" 2> "$scratch/log" ||
    die "the certificate $(shown "$cert") cannot be read"
check_certificate "$release_cert" "$ca"

# ---- the build, signed here or elsewhere, proven --------------------------------------------
echo "building commit $hash from git's archive"
"$repository/release/build_commit.sh" "$hash" "$scratch/tree" > "$scratch/build.log" 2>&1 ||
    die "the commit cannot be built here: $(tail -n 1 "$scratch/build.log")"
built=$scratch/tree/build/win32/launcher.exe
file=$scratch/release/launcher.exe name=launcher.exe
# osslsigncode sign, within the time limit; a password in a variable reaches it through a pipe.
sign() {
    local what=$1 status=0
    shift
    { [ -z "$password_env" ] || printenv -- "$password_env"; } |
        timeout -k 5 "${SIGN_TIMEOUT:-60}" osslsigncode sign "${signer[@]}" \
            ${password_file:+-readpass "$password_file"} ${password_env:+-readpass /dev/stdin} \
            -n "$description" -i "$url" ${timestamp:+-ts "$timestamp"} "$@" > "$scratch/log" 2>&1 ||
        status=$?
    [ $status -ne 0 ] || return 0
    local why="osslsigncode failed"
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        why="no answer within ${SIGN_TIMEOUT:-60} s${timestamp:+ (the time-stamp server $timestamp did not answer)}"
    elif grep -qiE "wrong password|mac verify failure|bad decrypt|pin incorrect|CKR_PIN" "$scratch/log"; then
        why="the password does not open the key (or the PIN is wrong)"
    elif [ -n "$timestamp" ] && grep -qiE "timestamp|Failed to get data|connect" "$scratch/log"; then
        why="the time-stamp server $timestamp could not be reached or refused the request"
    fi
    die "$what: $why; osslsigncode said: $(grep -v -- '"-t" option' "$scratch/log" | tail -n 2 | tr '\n' ' ')"
}
if [ -n "$signed" ]; then
    copy_bounded "$signed" "$file" "$max_file_bytes"
    name=$signed
else
    sign "SHA-256 signature" -h sha256 -in "$built" -out "$scratch/signed.exe"
    if [ $nested -eq 1 ]; then
        sign "nested SHA-1 signature" -nest -h sha1 -in "$scratch/signed.exe" -out "$file"
    else
        mv -- "$scratch/signed.exe" "$file"
    fi
fi
prove_file "$file" "$hash" "$built" "$ca" "$tsa"

# ---- the statement, signed by the same key, and the release folder --------------------------
statement "$(sha256sum < "$file" | cut -c1-64)" "$hash" "$(version_of "$hash")" "$(toolchain)" \
    > "$scratch/release/statement.txt"
env ${module:+OPENSSL_CONF="$scratch/engine.cnf"} openssl dgst -sha256 "${statement_key[@]}" "${passin[@]}" \
    -out "$scratch/release/statement.txt.sig" "$scratch/release/statement.txt" < /dev/null > "$scratch/log" 2>&1 ||
    die "the statement could not be signed: $(grep -m1 -iE 'error|fail|incorrect' "$scratch/log")"
signed_by "$release_cert" "$scratch/release/statement.txt" || die "the key is not the certificate's"
folder=$(new_folder "$out" 755)
cp -- "$scratch/release"/* "$folder/"
echo "released commit $hash in $(shown "$folder"): launcher.exe ($(stat -c %s "$file") bytes; SHA-256$([ $nested -eq 1 ] && echo ", nested SHA-1")$([ -n "$timestamp" ] && echo ", time-stamped")), statement.txt, statement.txt.sig, release.pem"
