#!/usr/bin/env bash
# Makes a release, whole or not at all: builds a commit from git's archive in a private folder,
# signs that build (Authenticode, SHA-256, osslsigncode), proves it as verify-release.sh does,
# and writes a new folder: launcher.exe; statement.txt (its SHA-256, the commit, the version,
# the toolchain); statement.txt.sig, by the same key (openssl); release.pem, the certificate.
#
#   release/sign.sh --commit <commit> <key> --url <URL> [options] --out <new folder>
#   release/sign.sh --commit <commit> <key> --signed <launcher.exe> --out <new folder>
#
# --signed: a file signed elsewhere (signtool, a cloud HSM), proven to be the build first.
# The key: --pkcs12 <file>; or --cert <certificates, the release's first> --key <key.pem>; or
# --cert <certificates> --pkcs11-module <module.so> --pkcs11-key <pkcs11: URI, without a PIN>.
# Its password or PIN never on a command line: --password-file <file> (its first line) or
# --password-env <NAME>. --url <URL> and --description <text> ("Quaverline driver setup"),
# shown with the signature: printable ASCII. --timestamp <URL>: an RFC 3161 server, 60 s at
# most. --nested-sha1: a nested SHA-1 signature too, for Vista and 7 without SHA-2.
# --ca-file, --tsa-ca-file <roots.pem>: the roots of the certificate and of the time-stamping
# authority (the system's otherwise). --out must not exist, in a folder no other user may change.
tool=sign.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,18s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac

commit="" out="" signed="" url="" timestamp="" nested=0 ca_file="" tsa_ca_file=""
description="Quaverline driver setup"
pkcs12="" cert="" key="" pkcs11_module="" pkcs11_key="" password_file="" password_env=""
while [ $# -gt 0 ]; do
    case $1 in --?*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;; esac
    case $1 in
        --) [ $# -eq 1 ] || die "no file or word is taken after --"; break ;;
        --nested-sha1) nested=1; shift; continue ;;
        --commit|--out|--signed|--pkcs12|--cert|--key|--pkcs11-module|--pkcs11-key|--password-file|\
        --password-env|--description|--url|--timestamp|--ca-file|--tsa-ca-file)
            value "$@"
            option=${1#--} && printf -v "${option//-/_}" '%s' "$2" ;;
        *) die "unknown option $(shown "$1") (--help)" ;;
    esac
    shift 2
done

# ---- what was asked for, checked before anything is built or written --------------------------
[ -n "$commit" ] || die "no --commit: name the commit to release"
[ -n "$out" ] || die "no --out: name a new folder for the release"
[ -n "$signed$url" ] || die "no --url: the signature carries the vendor's page"
new_folder "$out" > /dev/null
hash=$(commit_of "$commit")
[ -z "$(printf '%s' "$description$url" | LC_ALL=C tr -d ' -~')" ] ||
    die "--description or --url holds a character beyond printable ASCII, which the signature would carry as something else"
[[ ${pkcs11_key,,} != *pin-* ]] || die "--pkcs11-key holds a PIN: give it with --password-file or --password-env"
for file in "$pkcs12" "$key" "$pkcs11_module" "$password_file"; do
    [ -z "$file" ] || { [ -f "$file" ] && [ -r "$file" ]; } || die "$(shown "$file") does not exist or cannot be read"
done
[ -z "$password_file" ] || [ -z "$password_env" ] || die "give the password once: --password-file or --password-env"
[[ -z $password_env || $password_env =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] || die "--password-env $(shown "$password_env") is no variable's name"
[ -z "$password_env" ] || [ -n "${!password_env+set}" ] || die "the environment variable $password_env is not set"
passin=(${password_file:+-passin "file:$password_file"} ${password_env:+-passin "env:$password_env"})
scratch=$(mktemp -d)  # private to this user: everything until the release is whole
trap 'rm -rf -- "$scratch"' EXIT
mkdir "$scratch/release" && release_cert=$scratch/release/release.pem
roots ca_file tsa_ca_file
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key$pkcs11_module$pkcs11_key" ] || die "--pkcs12 stands alone, without --cert, --key or a token"
    signer=(-pkcs12 "$pkcs12") statement_key=(-sign "$pkcs12")
    within $tool_seconds openssl pkcs12 -in "$pkcs12" -clcerts -nokeys "${passin[@]}" -out "$scratch/p12.pem" < /dev/null 2> "$scratch/log" ||
        die "the PKCS#12 file does not open (a wrong or missing password?): $(head -n 1 "$scratch/log")"
    cert=$scratch/p12.pem
else
    [ -n "$cert" ] || die "no key: give --pkcs12, --cert and --key, or --cert with a PKCS#11 token"
    certificates "$cert" "$max_roots_bytes" "$scratch/certs.pem"
    [ "$found" -gt 0 ] || die "$(shown "$cert") holds no certificate"
    if [ -n "$pkcs11_module$pkcs11_key" ]; then
        [ -n "$pkcs11_module" ] && [ -n "$pkcs11_key" ] && [ -z "$key" ] ||
            die "a token needs --pkcs11-module, --pkcs11-key and --cert, and no --key"
        signer=(-pkcs11module "$pkcs11_module" -certs "$scratch/certs.pem" -key "$pkcs11_key")
        printf 'openssl_conf = conf\n[conf]\nengines = engines\n[engines]\npkcs11 = pkcs11\n[pkcs11]\nengine_id = pkcs11\nMODULE_PATH = %s\n' \
            "$(realpath -- "$pkcs11_module")" > "$scratch/engine.cnf"
        statement_key=(-engine pkcs11 -keyform engine -sign "$pkcs11_key")
    else
        [ -n "$key" ] || die "PEM files need both --cert and --key"
        signer=(-certs "$scratch/certs.pem" -key "$key") statement_key=(-sign "$key")
    fi
    cert=$scratch/certs.pem
fi
within $tool_seconds openssl x509 -in "$cert" -out "$release_cert" 2> "$scratch/log" || die "the release certificate cannot be read"
check_certificate "$release_cert" "$ca_file"

# ---- the build, signed here or elsewhere, proven --------------------------------------------
echo "building commit $hash from git's archive"
"$repository/release/build_commit.sh" "$hash" "$scratch/tree" > "$scratch/build.log" 2>&1 ||
    die "the commit cannot be built here: $(tail -n 1 "$scratch/build.log")"
built=$scratch/tree/build/win32/launcher.exe
file=$scratch/release/launcher.exe name=launcher.exe
# osslsigncode sign, within its time; a password in a variable reaches it through standard input.
sign() {
    local what=$1 status=0 why="osslsigncode failed"
    shift
    within $sign_seconds osslsigncode sign "${signer[@]}" ${password_file:+-readpass "$password_file"} \
        ${password_env:+-readpass /dev/stdin} -n "$description" -i "$url" ${timestamp:+-ts "$timestamp"} \
        "$@" > "$scratch/log" 2>&1 <<< "${password_env:+${!password_env}}" || status=$?
    [ $status -ne 0 ] || return 0
    [ -z "$timestamp" ] || ! grep -qiE "timestamp|Failed to get data|connect" "$scratch/log" ||
        why="the time-stamp server $timestamp could not be reached or refused the request"
    ! grep -qiE "wrong password|mac verify failure|bad decrypt|pin incorrect|CKR_PIN" "$scratch/log" ||
        why="the password does not open the key (or the PIN is wrong)"
    [ $status -ne 124 ] && [ $status -ne 137 ] ||
        why="no answer within $sign_seconds s${timestamp:+ (the time-stamp server $timestamp did not answer)}"
    die "$what: $why; osslsigncode said: $(grep -v -- '"-t" option' "$scratch/log" | tail -n 2 | tr '\n' ' ')"
}
if [ -n "$signed" ]; then
    copy_bounded "$signed" "$file" "$max_file_bytes" && name=$signed
elif sign "SHA-256 signature" -h sha256 -in "$built" -out "$scratch/signed.exe" && [ $nested -eq 1 ]; then
    sign "nested SHA-1 signature" -nest -h sha1 -in "$scratch/signed.exe" -out "$file"
else
    mv -- "$scratch/signed.exe" "$file"
fi
prove_file "$file" "$built" "$release_cert" "$ca_file" "$tsa_ca_file"

# ---- the statement, checked as the verifier will, signed by the same key, and the release -----
statement "$(sha256sum < "$file" | cut -c1-64)" "$hash" "$(built_version "$scratch/tree")" "$(toolchain)" \
    > "$scratch/release/statement.txt"
check_statement "$scratch/release/statement.txt"
within $tool_seconds env ${pkcs11_module:+OPENSSL_CONF="$scratch/engine.cnf"} openssl dgst -sha256 "${statement_key[@]}" "${passin[@]}" \
    -out "$scratch/release/statement.txt.sig" "$scratch/release/statement.txt" < /dev/null > "$scratch/log" 2>&1 ||
    die "the statement could not be signed: $(grep -m1 -iE 'error|fail|incorrect' "$scratch/log")"
signed_by "$release_cert" "$scratch/release/statement.txt" || die "the key is not the certificate's"
publish "$scratch/release"/* "$out"
echo "released commit $hash in $(shown "$out"): launcher.exe ($(stat -c %s "$file") bytes; SHA-256$([ $nested -eq 1 ] && echo ", nested SHA-1")$([ -n "$timestamp" ] && echo ", time-stamped")), statement.txt, statement.txt.sig, release.pem"
