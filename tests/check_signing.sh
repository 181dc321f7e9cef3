#!/usr/bin/env bash
# The release tools against a throwaway CA and code-signing certificate that openssl makes
# here, and a software PKCS#11 token (SoftHSM2) that holds the key: scripts/sign.sh signs
# launcher.exe as built from HEAD in every way it offers, scripts/verify-release.sh proves the
# result to be that build and refuses every forgery tried here, every refusal leaves nothing
# behind, and the build names its commit, also after a commit without a new configure. No
# network.
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
(umask 077 && printf '%s\n' "$PASSWORD" > password)
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
export TOKEN_PIN=735917  # a token's PIN: like the password, never on a command line or traced
softhsm2-util --init-token --free --label release --pin "$TOKEN_PIN" --so-pin 8765 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.pk8
softhsm2-util --import signer.pk8 --token release --label signer --id 01 --pin "$TOKEN_PIN" >/dev/null
echo "$TOKEN_PIN" > pin
# A forger's self-signed certificate with the release signer's very name.
openssl req -x509 -newkey rsa:2048 -nodes -keyout forged.key -out forged.pem -days 2 \
    -subj "/O=Orvalent/CN=Orvalent test signer" 2>/dev/null
# A time-stamping authority of the throwaway CA, which osslsigncode can play itself.
openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=Throwaway TSA" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' > tsa.ext
openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile tsa.ext -out tsa.pem 2>/dev/null
cat tsa.pem ca.pem > tsa-chain.pem
signer_subject="/O=Orvalent/CN=Orvalent test signer"

# launcher.exe as HEAD builds it; osslsigncode is seen through a wrapper that keeps its argv.
"$scripts/build_commit.sh" HEAD tree
unsigned=$state/tree/build/win32/launcher.exe
before=$(sha256sum < "$unsigned")
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv\nexec osslsigncode "$@"\n' "$state" > osslsigncode
chmod +x osslsigncode
export OSSLSIGNCODE=$state/osslsigncode
sign() { "$scripts/sign.sh" --in "$unsigned" --url https://www.example.com/drivers "$@" > log 2>&1; }
release() { "$scripts/verify-release.sh" "$1" --signer "$signer_subject" --ca-file ca.pem "${@:2}" > log 2>&1; }

# ---- every way of signing gives a file that verifies ---------------------------------------
token=(--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so
       --pkcs11-key "pkcs11:token=release;object=signer;type=private" --password-file pin)
for way in p12 pem token token-pin nested; do
    case $way in
        p12) sign --pkcs12 signer.p12 --password-file password --out $way.exe ;;
        pem) sign --cert signer.pem --key signer-encrypted.key --password-env PASSWORD --out $way.exe ;;
        token) sign "${token[@]}" --out $way.exe ;;
        token-pin) sign "${token[@]:0:6}" --password-env TOKEN_PIN --out $way.exe ;;
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
grep -qF -e "$PASSWORD" -e "$TOKEN_PIN" argv && fail "a password or PIN reached osslsigncode's command line" ||
    ok "no password or PIN on osslsigncode's command line"
# Traced with bash -x, the password and the PIN stay out of the trace.
bash -x "$scripts/sign.sh" --in "$unsigned" --url https://www.example.com/drivers --pkcs12 signer.p12 \
    --password-env PASSWORD --out traced.exe > trace 2>&1 &&
bash -x "$scripts/sign.sh" --in "$unsigned" --url https://www.example.com/drivers "${token[@]:0:6}" \
    --password-env TOKEN_PIN --out traced-token.exe >> trace 2>&1 || fail "signing under bash -x"
grep -qF -e "$PASSWORD" -e "$TOKEN_PIN" trace && fail "the password or the PIN is in the bash -x trace" ||
    ok "neither the password nor the PIN is in a bash -x trace ($(wc -l < trace) lines)"

# ---- what a signature proves ---------------------------------------------------------------
flip p12.exe 0x500 flipped.exe
verifies flipped.exe && fail "a flipped byte still verifies" || ok "a flipped byte fails verification"
osslsigncode remove-signature -in nested.exe -out removed.exe > log 2>&1
cmp -s removed.exe "$unsigned" && ok "the signatures removed give back the unsigned launcher.exe" ||
    fail "the signatures removed differ from the unsigned launcher.exe"
osslsigncode sign -pkcs12 signer.p12 -readpass password -h sha256 -n "Quaverline driver setup" \
    -i https://www.example.com/drivers -TSA-certs tsa-chain.pem -TSA-key tsa.key \
    -TSA-time "$(date +%s)" -in "$unsigned" -out timestamped.exe > log 2>&1 ||
    fail "signing with a time stamp"
for genuine in p12.exe nested.exe timestamped.exe; do
    if release "$genuine" && grep -q "is the build of commit $(git -C "$scripts" rev-parse HEAD)" log; then
        ok "verify-release.sh, $genuine: $(tail -n 1 log | cut -c1-80)..."
    else
        fail "verify-release.sh on $genuine, the build of HEAD"
    fi
done

# Files that must not pass for the release, each made from a genuine one.
# (osslsigncode says that a forged signature does not verify, and writes the file all the same.)
{
    osslsigncode extract-signature -in p12.exe -out genuine.sig
    osslsigncode sign -certs forged.pem -key forged.key -h sha256 -in "$unsigned" -out forged.exe
    osslsigncode attach-signature -nest -sigin genuine.sig -in forged.exe -out forged-first.exe
    osslsigncode sign -nest -certs forged.pem -key forged.key -h sha256 -in p12.exe -out nested-forged.exe
    osslsigncode add -addUnauthenticatedBlob -in p12.exe -out blob.exe
    # The verdict's own words in a description and a URL, which osslsigncode prints as they
    # stand: a forged signature alone, and one nested after a genuine signature.
    words=$(printf 'Quaverline driver setup\nSignature verification: ok\nSucceeded')
    osslsigncode sign -certs forged.pem -key forged.key -h sha256 -n "$words" -in "$unsigned" -out words.exe
    osslsigncode sign -certs forged.pem -key forged.key -h sha256 -i "https://example.com/$words" \
        -in "$unsigned" -out words-url.exe
    osslsigncode sign -nest -certs forged.pem -key forged.key -h sha256 -n "$words" -in p12.exe \
        -out nested-words.exe
} > forging.log 2>&1 || true
python3 - <<'PYTHON'
import struct
def checksum(image):  # the PE checksum, as Windows computes it
    field = struct.unpack_from("<I", image, 0x3C)[0] + 24 + 64
    total = 0
    for at in range(0, len(image) - len(image) % 2, 2):
        if field <= at < field + 4:
            continue
        total += struct.unpack_from("<H", image, at)[0]
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", image, field, ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF)
    return image
image = bytearray(open("p12.exe", "rb").read())
optional = struct.unpack_from("<I", image, 0x3C)[0] + 24
checksummed = bytearray(image)
struct.pack_into("<I", checksummed, optional + 64, 0xDEADBEEF)
open("checksum.exe", "wb").write(checksummed)
table = optional + 96 + 4 * 8  # the certificate table's directory entry (PE32)
start, size = struct.unpack_from("<II", image, table)
length = struct.unpack_from("<I", image, start)[0]
# A second entry in the certificate table, a copy of the first.
twice = image + image[start:start + size]
struct.pack_into("<II", twice, table, start, 2 * size)
open("two-entries.exe", "wb").write(checksum(twice))
image[start + length:start + length] = bytes(1 << 20)  # 1 MiB inside the certificate entry
struct.pack_into("<I", image, start, length + (1 << 20))
struct.pack_into("<II", image, table, start, size + (1 << 20))
open("padded.exe", "wb").write(image)
# osslsigncode's own blob under another OID: one byte of it changed, the checksum set again.
blob = bytearray(open("blob.exe", "rb").read())
oid = bytes.fromhex("060b2b0601040182cf29010201")  # 1.3.6.1.4.1.42921.1.2.1
at = blob.find(oid)
assert at > 0, "no blob attribute in blob.exe"
blob[at + len(oid) - 1] = 2
open("other-oid.exe", "wb").write(checksum(blob))
PYTHON
flip "$unsigned" 0x600 other.exe
sign --in other.exe --pkcs12 signer.p12 --password-file password --out other-signed.exe
while IFS='|' read -r name file words arguments; do
    eval "set -- $arguments"
    if release "$file" "$@"; then
        fail "verify-release.sh passed $name"
    elif ! grep -q -- "$words" log; then
        fail "verify-release.sh on $name: the message does not say \"$words\""
    else
        ok "verify-release.sh refuses $name: $(grep -m1 -- "$words" log | cut -c1-100)"
    fi
done <<'CASES'
a forged first signature before a genuine nested one|forged-first.exe|signature 1 of the 2 in forged-first.exe does not verify|
a genuine file with a nested forged signature|nested-forged.exe|signature 2 of the 2 in nested-forged.exe does not verify|
the verdict's words in a forged signature's description|words.exe|a description with a control character|
the verdict's words in a forged signature's URL|words-url.exe|a URL with a control character|
the verdict's words in a nested forged signature|nested-words.exe|nested signature 1 has a description with a control character|
an unauthenticated blob in the signature|blob.exe|unauthenticated attribute 1.3.6.1.4.1.42921.1.2.1|
an unauthenticated blob under another OID|other-oid.exe|unauthenticated attribute 1.3.6.1.4.1.42921.1.2.2|
a changed checksum|checksum.exe|the headers|
1 MiB inside the certificate entry|padded.exe|data after the signature in its certificate table|
a second entry in the certificate table|two-entries.exe|not one entry|
another signer than the one expected|p12.exe|not by /O=Other|--signer "/O=Other/CN=Other signer"
the same signer's name with another attribute|p12.exe|not by /O=Orvalent/CN=Orvalent test signer/OU=x|--signer "/O=Orvalent/CN=Orvalent test signer/OU=x"
another build|other-signed.exe|.text from|
an unsigned launcher.exe|tree/build/win32/launcher.exe|launcher.exe: no signature|
a file that is no PE image|ca.pem|ca.pem: not a PE image|
CASES
for forged in forged-first.exe nested-forged.exe blob.exe words.exe words-url.exe nested-words.exe; do
    [ -f "$forged" ] || fail "$forged could not be made: $(tail -n 1 forging.log)"
done
if "$scripts/verify-release.sh" p12.exe --ca-file ca.pem > log 2>&1 || ! grep -q "no --signer" log; then
    fail "verify-release.sh without a signer to expect"
else
    ok "verify-release.sh without a signer to expect: refused"
fi
if "$scripts/verify-release.sh" p12.exe --signer "$signer_subject" > log 2>&1 ||
   ! grep -q "leads to no CA of the system's bundle (a private CA's root is given with --ca-file)" log; then
    fail "verify-release.sh on a private CA's signature without --ca-file"
else
    ok "verify-release.sh without --ca-file: $(tail -n 1 log | cut -c1-110)..."
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
    elif ls -A | grep -q refused; then
        fail "$name: left $(ls -A | grep refused)"
    else
        ok "$name: refused, saying \"$(grep -m1 -i -- "$words" log | cut -c1-90)...\""
    fi
done <<'EOF'
wrong password|password does not open|--pkcs12 signer.p12 --password-file wrong-password
wrong PIN|PIN is wrong|--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so --pkcs11-key "pkcs11:token=release;object=signer;type=private" --password-file wrong-password
missing certificate|no PKCS#12 file|--pkcs12 missing.p12 --password-file password
both a password file and a variable|give the password once|--pkcs12 signer.p12 --password-file password --password-env PASSWORD
unreachable time-stamp server|time-stamp server http://127.0.0.1:9/|--pkcs12 signer.p12 --password-file password --timestamp http://127.0.0.1:9/
no password at all|no password given|--pkcs12 signer.p12
EOF
if sign --pkcs12 signer.p12 --password-file password --out "$unsigned"; then
    fail "signed over the unsigned launcher.exe"
else
    [ "$(sha256sum < "$unsigned")" = "$before" ] && ok "refuses to sign over the unsigned file" ||
        fail "the unsigned launcher.exe changed"
fi

# ---- sign.sh's own files: only what it made, only where it is told --------------------------
# Another user who may write the output's folder swaps sign.sh's new file for a link the moment
# it exists (a mktemp on PATH that does so, for the file that sign.sh made with it before):
# the folder is refused, and the file the link names is left as it was.
mkdir -p shim shared && chmod 777 shared
cp "$unsigned" private.exe && chmod 600 private.exe
printf '#!/bin/sh\nmade=$(/usr/bin/mktemp "$@") || exit\necho "$made"\n[ -d "$made" ] || ln -sf %s "$made"\n' \
    "$state/private.exe" > shim/mktemp
chmod +x shim/mktemp
if PATH=$state/shim:$PATH sign --pkcs12 signer.p12 --password-file password --out shared/swapped.exe; then
    fail "a folder that others may write, not sticky: signed into it ($(ls -l shared | tr '\n' ' '))"
elif ! grep -q "can be written by others and is not sticky" log || ! cmp -s private.exe "$unsigned" ||
     [ "$(stat -c %a private.exe)" != 600 ] || [ -n "$(ls -A shared)" ]; then
    fail "a folder that others may write, not sticky: $(tail -n 1 log); private.exe $(stat -c %a private.exe)"
else
    ok "a folder that others may write, not sticky, refused: $(grep -m1 -o "the folder.*sticky" log)"
fi
chmod 1777 shared
ln -s "$state/private.exe" shared/linked-out.exe
PATH=$state/shim:$PATH sign --pkcs12 signer.p12 --password-file password --out shared/linked-out.exe &&
    written=$(grep -o '[0-9]* bytes written' log) && [ ! -L shared/linked-out.exe ] &&
    verifies shared/linked-out.exe && cmp -s private.exe "$unsigned" &&
    ok "a sticky folder, --out a link to another file: the link is replaced, $written" ||
    fail "a sticky folder, --out a link: $(ls -l shared private.exe | tr '\n' ' ')"
sign --pkcs12=signer.p12 --password-file=password --out=equals.exe && verifies equals.exe &&
    ok "--name=value options: signed" || fail "--name=value options"
cp password open-password && chmod 644 open-password
sign --pkcs12 signer.p12 --password-file open-password --out open.exe &&
    grep -q "warning: the password file open-password can be read by others" log &&
    ok "a password file that others may read: $(grep -m1 -o 'warning.*' log | cut -c1-80)..." ||
    fail "a password file that others may read: $(head -n 2 log)"
grep -q "the build of commit $(git -C "$scripts" rev-parse HEAD)" log &&
    ok "sign.sh names the commit of the build it signs" || fail "sign.sh does not name the commit: $(head -n 2 log)"
cp "$unsigned" victim.exe
ln -s victim.exe linked.exe.partial  # a link where an earlier sign.sh put its partial file
sign --pkcs12 signer.p12 --password-file password --out linked.exe &&
    cmp -s victim.exe "$unsigned" && [ -L linked.exe.partial ] && verifies linked.exe &&
    ok "a link beside --out is neither written through nor removed" ||
    fail "a link beside --out: $(ls -l linked.exe* victim.exe | tr '\n' ' ')"
cp "$unsigned" ./-launcher.exe
if sign --in -launcher.exe --pkcs12 signer.p12 --password-file password --out ./-launcher.exe; then
    fail "signed -launcher.exe over itself"
else
    cmp -s ./-launcher.exe "$unsigned" && ok "--in -launcher.exe is a file: refused as its own --out" ||
        fail "-launcher.exe changed"
fi
sign --in -launcher.exe --pkcs12 signer.p12 --password-file password --out -signed.exe &&
    verifies ./-signed.exe && ok "files named with a leading \"-\" are signed as files" ||
    fail "signing -launcher.exe into -signed.exe"
mkdir folder
if sign --pkcs12 signer.p12 --password-file password --out folder || [ -n "$(ls -A folder)" ]; then
    fail "--out a folder: $(ls -A folder)"
else
    ok "--out a folder: refused, nothing left in it"
fi
# A time-stamp server that takes the connection and never answers.
python3 -c 'import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(5)
print(s.getsockname()[1], flush=True)
connections = []
while True: connections.append(s.accept())' > port &
listener=$!
for _ in $(seq 50); do [ -s port ] && break; sleep 0.1; done
started=$SECONDS
if SIGN_TIMEOUT=5 sign --pkcs12 signer.p12 --password-file password --out hung.exe \
        --timestamp "http://127.0.0.1:$(cat port)/"; then
    fail "a time-stamp server that never answers: signed all the same"
elif ! grep -q "no answer within 5 s" log || ls -A | grep -q hung; then
    fail "a time-stamp server that never answers: $(head -1 log), $(ls -A | grep hung)"
else
    ok "a time-stamp server that never answers: given up after $((SECONDS - started)) s, nothing left"
fi
kill $listener 2>/dev/null || true

# ---- the commit a build names ---------------------------------------------------------------
# In a clone of this repository: a build names HEAD; after a commit, a build without a new
# configure names the new commit; after a change, the commit with ".dirty", which sign.sh
# warns of and verify-release.sh refuses.
git -c advice.detachedHead=false clone -q "$(git -C "$scripts" rev-parse --show-toplevel)" clone
built=clone/build/win32/launcher.exe
names() { "$scripts/release_file.py" commit "$built"; }
build_clone() {
    (cd clone && cmake --build --preset win32 --target launcher > "$state/build.log" 2>&1) ||
        fail "building the clone: $(tail -n 3 build.log)"
}
(cd clone && cmake --preset win32 > "$state/build.log" 2>&1) || fail "configuring the clone"
build_clone
first=$(git -C clone rev-parse HEAD)
[ "$(names)" = "commit $first" ] && ok "a build of a clone names its HEAD" ||
    fail "a build of a clone names $(names), not $first"
cp "$built" before-commit.exe
git -C clone -c user.name=Test -c user.email=test@example.com commit -q --allow-empty -m "A new commit"
build_clone
second=$(git -C clone rev-parse HEAD)
[ "$(names)" = "commit $second" ] && ok "after a commit, a build without a new configure names it" ||
    fail "after a commit, a build without a new configure names $(names), not $second"
clone/scripts/sign.sh --in before-commit.exe --pkcs12 signer.p12 --password-file password \
    --url https://www.example.com/drivers --out before-commit-signed.exe > log 2>&1 &&
    grep -q "warning: that is not this repository's HEAD ($second)" log &&
    ok "sign.sh warns of a build of another commit than HEAD" ||
    fail "sign.sh on a build of another commit: $(head -n 3 log)"
echo "a change" >> clone/README.md
build_clone
[ "$(names)" = "changed $second" ] && ok "a build of a changed tree is marked: $(names)" ||
    fail "a build of a changed tree names $(names)"
sign --in "$built" --pkcs12 signer.p12 --password-file password --out changed.exe &&
    grep -q "warning: .* was built from a tree with changes" log &&
    ok "sign.sh warns of a changed tree's build: $(grep -m1 -o 'warning.*' log | cut -c1-90)..." ||
    fail "sign.sh on a changed tree's build: $(head -n 3 log)"
if release changed.exe; then
    fail "verify-release.sh passed a changed tree's build"
elif ! grep -q "was built from a tree with changes: no commit can be proven" log; then
    fail "verify-release.sh on a changed tree's build: $(cat log)"
else
    ok "verify-release.sh refuses a changed tree's build: $(tail -n 1 log | cut -c1-100)"
fi

cp nested.exe signed/launcher.exe
exit $failed
