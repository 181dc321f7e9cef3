#!/usr/bin/env bash
# Signs launcher.exe (Authenticode, SHA-256) into a separate file: the unsigned build is
# never touched, and nothing half-signed is left behind when anything fails.
#
#   release/sign.sh --out <signed.exe> --url <URL> <key and certificate> [options]
#
# Key and certificate, one of:
#   --pkcs12 <file>                        a PKCS#12 file with the certificate chain and key
#   --cert <chain.pem> --key <key.pem>     PEM (or DER) files
#   --cert <chain.pem> --pkcs11-module <module.so> --pkcs11-key <pkcs11: URI>
#                                          a key held in a PKCS#11 token (a hardware token,
#                                          or a cloud HSM's PKCS#11 module)
# The password of the PKCS#12 file or the key, or the token's PIN, never on a command line
# (where other users of the machine can read it), never in a file of this script's, and never
# in its trace under "bash -x":
#   --password-file <file>                 the first line of a file
#   --password-env <NAME>                  the environment variable NAME, handed to
#                                          osslsigncode through a pipe
# Options:
#   --in <launcher.exe>      what to sign (build/win32/launcher.exe); an unsigned build: a
#                            signed one is refused, so that no signature is replaced unseen
#   --description <text>     shown by Windows as the program's name ("Quaverline driver setup")
#   --url <URL>              the vendor's page, shown with the signature (required)
#                            Both in printable ASCII: the signature carries them as ASCII
#                            text, and another character would show as something else
#   --timestamp <URL>        an RFC 3161 time-stamp server, so the signature outlives the
#                            certificate; a server that has not answered within
#                            SIGN_TIMEOUT seconds (60) is given up
#   --nested-sha1            add a nested SHA-1 signature after the SHA-256 one, for Windows
#                            Vista and 7 machines without SHA-2 support
# Every option may be given as --name=value too. Every path may begin with "-": it is a file
# name all the same. The way to the output's folder is checked from the root down (no link,
# no "..", no folder that another user may write unless it is sticky), and the signed file is
# written through a file that this script creates there and renames into place, all relative
# to that folder, opened once (release/release.py write); nothing else there is ever written
# or removed, and --out may not be --in under any name. It says which commit the build names,
# and warns when that is a tree with changes or not HEAD. OSSLSIGNCODE names another
# osslsigncode (2.5, Debian 12's own, and later).
set -euo pipefail
release=$(cd "$(dirname "$0")" && pwd)
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
timeout_seconds=${SIGN_TIMEOUT:-60}
die() { echo "sign.sh: $*" >&2; exit 1; }
# A path that begins with "-" is made to begin with "./", so that no program takes it for an
# option.
as_path() { case $1 in -*) printf './%s' "$1" ;; *) printf '%s' "$1" ;; esac; }

in=$(realpath -m -- "$release/../build/win32/launcher.exe") out="" url="" timestamp="" nested=0
description="Quaverline driver setup"
pkcs12="" cert="" key="" module="" token_key="" password_file="" password_env=""
while [ $# -gt 0 ]; do
    case $1 in
        --*=*) set -- "${1%%=*}" "${1#*=}" "${@:2}" ;;  # --name=value: the same as two words
    esac
    [ $# -ge 2 ] || [ "$1" = --nested-sha1 ] || die "$1 needs a value"
    case $1 in
        --in) in=$(as_path "$2") ;;
        --out) out=$(as_path "$2") ;;
        --pkcs12) pkcs12=$(as_path "$2") ;;
        --cert) cert=$(as_path "$2") ;;
        --key) key=$(as_path "$2") ;;
        --pkcs11-module) module=$(as_path "$2") ;;
        --pkcs11-key) token_key=$2 ;;
        --password-file) password_file=$(as_path "$2") ;;
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
for text in "$description" "$url"; do
    [ -z "$(printf '%s' "$text" | LC_ALL=C tr -d ' -~')" ] ||
        die "\"$(printf '%q' "$text")\" holds a character beyond printable ASCII, which the signature would carry as something else: write it in ASCII"
done
command -v "$osslsigncode" >/dev/null || die "$osslsigncode is not installed (scripts/install.sh)"
inspect() { "$release/release.py" "$@"; }
unsigned=$(inspect unsigned "$in") || die "$unsigned"
way=$(inspect output "$out" "$in") || die "nothing was written: $way"
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

[ -z "$password_file" ] || [ -z "$password_env" ] ||
    die "give the password once: --password-file or --password-env"
[ -z "$password_file" ] || readable "password file" "$password_file"
if [ -n "$password_file" ] && [ $((0$(stat -L -c %a -- "$password_file") & 044)) -ne 0 ]; then
    echo "sign.sh: warning: the password file $password_file can be read by others" \
         "($(stat -L -c %A -- "$password_file")): make it yours alone (chmod 600)" >&2
fi
[ -z "$password_env" ] || [ -n "${!password_env+set}" ] ||
    die "the environment variable $password_env is not set"

# Which commit the build names, before anything is signed.
named=$(inspect commit "$in") || named="unreadable ($named)"
head=$(git -C "$release" rev-parse --verify --quiet HEAD 2>/dev/null) || head=""
case $named in
    commit\ *)
        echo "signing $in, the build of commit ${named#commit }"
        [ -z "$head" ] || [ "${named#commit }" = "$head" ] ||
            echo "sign.sh: warning: that is not this repository's HEAD ($head)" >&2 ;;
    changed\ *)
        echo "sign.sh: warning: $in was built from a tree with changes to commit" \
             "${named#changed }: verify-release.sh will prove no commit of it" >&2 ;;
    unknown)
        echo "sign.sh: warning: $in names no commit (it was built outside a git checkout):" \
             "verify-release.sh will prove no commit of it" >&2 ;;
    *)
        echo "sign.sh: warning: the commit $in names is $named: verify-release.sh will" \
             "prove no commit of it" >&2 ;;
esac

scratch=$(mktemp -d)  # private to this user: the signature until it is whole
trap 'rm -rf -- "$scratch"' EXIT
trap 'exit 1' HUP INT QUIT TERM

# ---- signing -------------------------------------------------------------------------------

# Runs osslsigncode, within the time limit; on failure says why in words, with its own last
# lines below. A password in a variable reaches it on its standard input, through a pipe
# (printenv's argument is the variable's name, not its value), so it lies in no file and on
# no command line.
readpass=$password_file
[ -z "$password_env" ] || readpass=/dev/stdin
sign() {  # sign <what> <osslsigncode arguments>
    local what=$1 status=0
    shift
    { [ -z "$password_env" ] || printenv -- "$password_env"; } |
        timeout -k 5 "$timeout_seconds" "$osslsigncode" sign "${signer[@]}" \
            ${readpass:+-readpass "$readpass"} -n "$description" -i "$url" \
            ${timestamp:+-ts "$timestamp"} "$@" > "$scratch/log" 2>&1 || status=$?
    [ $status -ne 0 ] || return 0
    local why="osslsigncode failed"
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        why="no answer within $timeout_seconds s${timestamp:+ (the time-stamp server $timestamp did not answer)}"
    elif grep -qiE "wrong password|mac verify failure|bad decrypt|bad password|pin incorrect|CKR_PIN" "$scratch/log"; then
        why="the password does not open the key (or the PIN is wrong)"
        [ -n "$password_file$password_env" ] ||
            why="no password given, and the key needs one (--password-file or --password-env)"
    elif [ -n "$timestamp" ] && grep -qiE "timestamp|Failed to get data|connect" "$scratch/log"; then
        why="the time-stamp server $timestamp could not be reached or refused the request"
    elif grep -qiE "Failed to read key or certificates|unable to load|no such file" "$scratch/log"; then
        why="the key or the certificate could not be read"
    fi
    echo "sign.sh: $what: $why; nothing was written to $out. osslsigncode said:" >&2
    # (less its advice on an option of its own, "-t", that sign.sh does not offer)
    grep -v -- '"-t" option' "$scratch/log" | tail -n 6 | sed 's/^/    /' >&2
    exit 1
}

sign "SHA-256 signature" -h sha256 -in "$in" -out "$scratch/signed.exe"
signed=$scratch/signed.exe
if [ $nested -eq 1 ]; then
    sign "nested SHA-1 signature" -nest -h sha1 -in "$signed" -out "$scratch/nested.exe"
    signed=$scratch/nested.exe
fi
# Whole or not at all: the signed file appears only now, in one rename in its own folder, of
# a file created there exclusively, written and made readable through its own descriptor (a
# link planted anywhere is never followed; a link at $out itself is replaced, not written
# through), in a folder reached by a way that no other user can change.
written=$(inspect write "$signed" "$out" "$in") || die "nothing was written to $out: $written"
echo "signed $in into $out ($written bytes written; SHA-256$([ $nested -eq 1 ] && echo ", nested SHA-1")$([ -n "$timestamp" ] && echo ", time-stamped by $timestamp"))"
