#!/usr/bin/env bash
# The release tools against a throwaway CA and code-signing certificate that openssl makes
# here, and a software PKCS#11 token (SoftHSM2) that holds the key: scripts/sign.sh signs
# launcher.exe as built from HEAD in every way it offers, scripts/verify-release.sh proves the
# result to be that build, and every refusal leaves nothing behind. No network.
# Usage: check_signing.sh <state folder>; leaves <state folder>/signed/launcher.exe (signed,
# for the Wine test).
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
state=$(realpath -m "$1")
rm -rf "$state"
mkdir -p "$state/signed"
cd "$state"
failed=0
ok() { echo "ok: $1"; }
fail() { echo "FAIL: $1"; [ -f log ] && sed 's/^/    /' log; failed=1; }
verifies() { osslsigncode verify -CAfile ca.pem -in "$1" > log 2>&1; }
flip() {  # flip <file> <offset> <copy>: a copy with one bit of one byte flipped
    python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read())
d[int(sys.argv[2], 0)] ^= 1; open(sys.argv[3], "wb").write(d)' "$@"
}

# ---- a CA, a signer, its key in four forms ---------------------------------------------------
export PASSWORD="release secret"  # with a blank: it must reach osslsigncode whole
printf '%s\n' "$PASSWORD" > password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Throwaway Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/O=Orvalent/CN=Orvalent test signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
    -passout env:PASSWORD
openssl pkey -in signer.key -aes256 -passout env:PASSWORD -out signer-encrypted.key
export SOFTHSM2_CONF=$state/softhsm2.conf
mkdir tokens
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$state/tokens" > "$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --pin 4321 --so-pin 8765 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.pk8
softhsm2-util --import signer.pk8 --token release --label signer --id 01 --pin 4321 >/dev/null
echo 4321 > pin

# launcher.exe as HEAD builds it; osslsigncode is seen through a wrapper that keeps its argv.
"$scripts/build_commit.sh" HEAD tree
unsigned=$state/tree/build/win32/launcher.exe
before=$(sha256sum < "$unsigned")
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv\nexec osslsigncode "$@"\n' "$state" > osslsigncode
chmod +x osslsigncode
export OSSLSIGNCODE=$state/osslsigncode
sign() { "$scripts/sign.sh" --in "$unsigned" --url https://www.example.com/drivers "$@" > log 2>&1; }

# ---- every way of signing gives a file that verifies ---------------------------------------
token=(--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so
       --pkcs11-key "pkcs11:token=release;object=signer;type=private" --password-file pin)
for way in p12 pem token nested; do
    case $way in
        p12) sign --pkcs12 signer.p12 --password-file password --out $way.exe ;;
        pem) sign --cert signer.pem --key signer-encrypted.key --password-env PASSWORD --out $way.exe ;;
        token) sign "${token[@]}" --out $way.exe ;;
        nested) sign --pkcs12 signer.p12 --password-env PASSWORD --nested-sha1 --out $way.exe ;;
    esac || { fail "signing with $way"; continue; }
    if verifies $way.exe && grep -q "Message digest algorithm *: SHA256" log; then
        ok "signed with $way: SHA-256, verifies against the throwaway CA"
    else
        fail "signed with $way: verification"
    fi
done
if verifies nested.exe && grep -q "Number of verified signatures: 2" log &&
   grep -q "Message digest algorithm *: SHA1" log; then
    ok "the nested SHA-1 signature verifies as a second signature"
else
    fail "the nested SHA-1 signature"
fi
[ "$(sha256sum < "$unsigned")" = "$before" ] && ok "the unsigned launcher.exe is untouched" ||
    fail "signing changed the unsigned launcher.exe"
grep -qF "$PASSWORD" argv && fail "a password reached osslsigncode's command line" ||
    ok "no password on osslsigncode's command line"

# ---- what a signature proves ---------------------------------------------------------------
flip p12.exe 0x500 flipped.exe
verifies flipped.exe && fail "a flipped byte still verifies" || ok "a flipped byte fails verification"
osslsigncode remove-signature -in nested.exe -out removed.exe > log 2>&1
cmp -s removed.exe "$unsigned" && ok "the signatures removed give back the unsigned launcher.exe" ||
    fail "the signatures removed differ from the unsigned launcher.exe"
if "$scripts/verify-release.sh" nested.exe --ca-file ca.pem > log 2>&1 &&
   grep -q "is the build of commit $(git -C "$scripts" rev-parse HEAD)" log; then
    ok "verify-release.sh: $(tail -n 1 log)"
else
    fail "verify-release.sh on the build of HEAD"
fi
flip "$unsigned" 0x600 other.exe
sign --in other.exe --pkcs12 signer.p12 --password-file password --out other-signed.exe
if ! "$scripts/verify-release.sh" other-signed.exe --ca-file ca.pem > log 2>&1 &&
   grep -q "is not the build of commit" log; then
    ok "verify-release.sh on another build: $(grep -o 'they differ.*' log)"
else
    fail "verify-release.sh took another build for HEAD's"
fi

# ---- refusals: a clear reason, and nothing half-signed left behind --------------------------
echo wrong > wrong-password
while IFS='|' read -r name words arguments; do
    eval "set -- $arguments"
    rm -f refused.exe
    if sign "$@" --out refused.exe; then
        fail "$name: signed all the same"
    elif ! grep -qi -- "$words" log; then
        fail "$name: the message does not say \"$words\""
    elif ls refused.exe* >/dev/null 2>&1; then
        fail "$name: left $(ls refused.exe*)"
    else
        ok "$name: refused, saying \"$(grep -m1 -i -- "$words" log | cut -c1-90)...\""
    fi
done <<'EOF'
wrong password|password does not open|--pkcs12 signer.p12 --password-file wrong-password
wrong PIN|PIN is wrong|--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so --pkcs11-key "pkcs11:token=release;object=signer;type=private" --password-file wrong-password
missing certificate|no PKCS#12 file|--pkcs12 missing.p12 --password-file password
unreachable time-stamp server|time-stamp server http://127.0.0.1:9/|--pkcs12 signer.p12 --password-file password --timestamp http://127.0.0.1:9/
EOF
if sign --pkcs12 signer.p12 --password-file password --out "$unsigned"; then
    fail "signed over the unsigned launcher.exe"
else
    [ "$(sha256sum < "$unsigned")" = "$before" ] && ok "refuses to sign over the unsigned file" ||
        fail "the unsigned launcher.exe changed"
fi

cp nested.exe signed/launcher.exe
exit $failed
