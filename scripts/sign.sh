#!/usr/bin/env bash
# Signs launcher.exe (Authenticode, SHA-256) into a separate file: the unsigned build is
# never touched, and nothing half-signed is left behind when anything fails.
#
#   scripts/sign.sh --out <signed.exe> --url <URL> <key and certificate> [options]
#
# Key and certificate, one of:
#   --pkcs12 <file>                        a PKCS#12 file with the certificate chain and key
#   --cert <chain.pem> --key <key.pem>     PEM (or DER) files
#   --cert <chain.pem> --pkcs11-module <module.so> --pkcs11-key <pkcs11: URI>
#                                          a key held in a PKCS#11 token (a hardware token,
#                                          or a cloud HSM's PKCS#11 module)
# The password of the PKCS#12 file or the key, or the token's PIN, never on the command line
# (where other users of the machine can read it):
#   --password-file <file>                 the first line of a file
#   --password-env <NAME>                  the environment variable NAME
# Options:
#   --in <launcher.exe>      what to sign (build/win32/launcher.exe)
#   --description <text>     shown by Windows as the program's name ("Quaverline driver setup")
#   --url <URL>              the vendor's page, shown with the signature (required)
#   --timestamp <URL>        an RFC 3161 time-stamp server, so the signature outlives the
#                            certificate
#   --nested-sha1            add a nested SHA-1 signature after the SHA-256 one, for Windows
#                            Vista and 7 machines without SHA-2 support
# OSSLSIGNCODE names another osslsigncode.
set -euo pipefail
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
die() { echo "sign.sh: $*" >&2; exit 1; }

in=$(realpath -m "$(dirname "$0")/../build/win32/launcher.exe") out="" url="" timestamp="" nested=0
description="Quaverline driver setup"
pkcs12="" cert="" key="" module="" token_key="" password_file="" password_env=""
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || [ "$1" = --nested-sha1 ] || die "$1 needs a value"
    case $1 in
        --in) in=$2 ;;
        --out) out=$2 ;;
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
        --nested-sha1) nested=1; shift; continue ;;
        *) die "unknown option $1 (see the head of this script)" ;;
    esac
    shift 2
done

# ---- what was asked for, checked before anything is written -------------------------------

[ -n "$out" ] || die "no --out: the signed file goes to a file of its own"
[ -n "$url" ] || die "no --url: the signature carries the vendor's page"
[ -f "$in" ] || die "nothing to sign: $in does not exist (build it: cmake --build --preset win32)"
[ "$(realpath -m "$in")" != "$(realpath -m "$out")" ] ||
    die "--out is the unsigned file itself; the signed file goes to a file of its own"
[ -d "$(dirname "$out")" ] || die "the folder of $out does not exist"
command -v "$osslsigncode" >/dev/null || die "$osslsigncode is not installed (scripts/install.sh)"
readable() { [ -f "$2" ] && [ -r "$2" ] || die "no $1: $2 does not exist or cannot be read"; }
signer=()
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key$module$token_key" ] || die "--pkcs12 stands alone, without --cert, --key or a token"
    readable "PKCS#12 file" "$pkcs12"
    signer=(-pkcs12 "$pkcs12")
elif [ -n "$module" ] || [ -n "$token_key" ]; then
    [ -n "$module" ] && [ -n "$token_key" ] && [ -n "$cert" ] ||
        die "a token needs --pkcs11-module, --pkcs11-key and --cert"
    [ -z "$key" ] || die "--key is a file; a token's key is named with --pkcs11-key"
    readable "PKCS#11 module" "$module"
    readable certificate "$cert"
    signer=(-pkcs11module "$module" -certs "$cert" -key "$token_key")
elif [ -n "$cert" ] || [ -n "$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || die "PEM files need both --cert and --key"
    readable certificate "$cert"
    readable key "$key"
    signer=(-certs "$cert" -key "$key")
else
    die "no certificate: give --pkcs12, --cert and --key, or --cert with a PKCS#11 token"
fi

scratch=$(mktemp -d)  # private to this user: the password, and the signature until it is whole
trap 'rm -rf "$scratch" "$out.partial"' EXIT
password=()
if [ -n "$password_file" ]; then
    [ -z "$password_env" ] || die "give the password once: --password-file or --password-env"
    readable "password file" "$password_file"
    password=(-readpass "$password_file")
elif [ -n "$password_env" ]; then
    [ -n "${!password_env+set}" ] || die "the environment variable $password_env is not set"
    (umask 077 && printf '%s\n' "${!password_env}" > "$scratch/password")
    password=(-readpass "$scratch/password")
fi

# ---- signing -------------------------------------------------------------------------------

# Runs osslsigncode; on failure says why in words, with its own last lines below.
sign() {  # sign <what> <osslsigncode arguments>
    local what=$1
    shift
    if "$osslsigncode" sign "${signer[@]}" "${password[@]}" -n "$description" -i "$url" \
        ${timestamp:+-ts "$timestamp"} "$@" > "$scratch/log" 2>&1; then
        return
    fi
    local why="osslsigncode failed"
    if grep -qiE "wrong password|mac verify failure|bad decrypt|bad password|pin incorrect|CKR_PIN" "$scratch/log"; then
        why="the password does not open the key (or the PIN is wrong)"
    elif [ -n "$timestamp" ] && grep -qiE "timestamp|Failed to get data|connect" "$scratch/log"; then
        why="the time-stamp server $timestamp could not be reached or refused the request"
    elif grep -qiE "Failed to read key or certificates|unable to load|no such file" "$scratch/log"; then
        why="the key or the certificate could not be read"
    fi
    echo "sign.sh: $what: $why; nothing was written to $out. osslsigncode said:" >&2
    tail -n 6 "$scratch/log" | sed 's/^/    /' >&2
    exit 1
}

sign "SHA-256 signature" -h sha256 -in "$in" -out "$scratch/signed.exe"
signed=$scratch/signed.exe
if [ $nested -eq 1 ]; then
    sign "nested SHA-1 signature" -nest -h sha1 -in "$signed" -out "$scratch/nested.exe"
    signed=$scratch/nested.exe
fi
# Whole or not at all: the signed file appears only now, in one rename on its own folder.
cp "$signed" "$out.partial"
mv "$out.partial" "$out"
echo "signed $in into $out ($(stat -c %s "$out") bytes; SHA-256$([ $nested -eq 1 ] && echo ", nested SHA-1")$([ -n "$timestamp" ] && echo ", time-stamped by $timestamp"))"
