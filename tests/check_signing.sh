#!/usr/bin/env bash
# The release tools (release/) with a throwaway CA that openssl makes here, a time-stamping
# authority that osslsigncode plays, and a software PKCS#11 token (SoftHSM2): every way of
# signing gives a release that verify-release.sh proves; each kind of change to a release is
# refused in one line; sign.sh refuses what it must without writing anything; the password and
# PIN stay off every command line; docs/releasing.md's checklist runs as written in a fresh
# clone; and a build names its commit, whatever git's settings hide. No network.
# Usage: check_signing.sh <state folder>; leaves <state folder>/signed/launcher.exe (signed,
# for the Wine test).
set -euo pipefail
release=$(cd "$(dirname "$0")/../release" && pwd)
repository=$(git -C "$release" rev-parse --show-toplevel)
head=$(git -C "$repository" rev-parse HEAD)
state=$(realpath -m "$1")
rm -rf "$state"
mkdir -p "$state/signed"
cd "$state"
version=$(osslsigncode --version 2>&1 | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
dpkg --compare-versions "${version:-0}" ge 2.9 || {
    echo "FAIL: osslsigncode ${version:-(none)} cannot play the tests' time-stamping authority (-TSA-certs): 2.9 or later (scripts/install.sh)"
    exit 1
}
failed=0
ok() { echo "ok: $1"; }
fail() { echo "FAIL: $1"; [ -f log ] && sed 's/^/    /' log; failed=1; }
subject() { openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null; }
issue() {  # issue <name> <extensions> [issuer] [request]: a certificate of the CA or another
    printf '%b' "$2" > "$1.ext"
    openssl x509 -req -in "${4:-$1}.csr" -CA "${3:-ca}.pem" -CAkey "${3:-ca}.key" -CAcreateserial \
        -days 2 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
root() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
code_signing='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'

# ---- a CA; the release key in four forms; certificates of that key that are not for code
# signing; another signer; a stranger's CA; a time-stamping authority ---------------------------
export PASSWORD="release secret"  # with a blank: it must reach the tools whole
(umask 077 && printf '%s\n' "$PASSWORD" > password)
root ca "/CN=Throwaway Test CA"
subject signer "/O=Orvalent/CN=Orvalent test signer"
issue signer "$code_signing"
issue server 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n' ca signer
issue no-key-usage 'basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n' ca signer
issue is-a-ca 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,digitalSignature,keyCertSign\nextendedKeyUsage=codeSigning\n' ca signer
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 -passout env:PASSWORD
openssl pkey -in signer.key -aes256 -passout env:PASSWORD -out signer-encrypted.key
export SOFTHSM2_CONF=$state/softhsm2.conf TOKEN_PIN=735917
mkdir tokens
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$state/tokens" > "$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --pin "$TOKEN_PIN" --so-pin 8765 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.pk8
softhsm2-util --import signer.pk8 --token release --label signer --id 01 --pin "$TOKEN_PIN" >/dev/null
echo "$TOKEN_PIN" > pin
subject other "/O=Orvalent/CN=Another signer of the CA"
issue other "$code_signing"
root stranger "/CN=Throwaway Test CA"  # the CA's very name, another key
root another-root "/CN=Another Test CA"
subject outsider "/O=Orvalent/CN=Orvalent test signer"
issue outsider "$code_signing" stranger
subject tsa "/CN=Throwaway TSA"
issue tsa 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
cat tsa.pem ca.pem > tsa-chain.pem
# osslsigncode and openssl, seen through wrappers that keep their command lines.
mkdir shim
for program in osslsigncode openssl; do
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv\nexec /usr/bin/%s "$@"\n' "$state" "$program" > shim/$program
done
chmod +x shim/*
export PATH=$state/shim:$PATH
url=(--url https://www.example.com/drivers)
sign() { "$release/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem "$@" > log 2>&1; }
verdict() { "$release/verify-release.sh" "$1/launcher.exe" --signer-cert "$1/release.pem" --ca-file ca.pem "${@:2}" > log 2>&1; }

# ---- every way of signing gives a release that verify-release.sh proves ------------------------
"$release/build_commit.sh" HEAD tree > log 2>&1 || fail "build_commit.sh HEAD"
osslsigncode sign -certs signer.pem -key signer.key -h sha256 -TSA-certs tsa-chain.pem -TSA-key tsa.key \
    -TSA-time "$(date +%s)" -in tree/build/win32/launcher.exe -out elsewhere.exe > /dev/null 2>&1
token=(--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so
       --pkcs11-key "pkcs11:token=release;object=signer;type=private")
while IFS='|' read -r name arguments; do
    eval "set -- $arguments"
    if ! sign "$@" --out "$name"; then
        fail "$name: sign.sh"
    elif verdict "$name" --tsa-ca-file ca.pem && grep -q "is the build of commit $head" log; then
        ok "$name: $(cut -c1-100 log)"
    else
        fail "$name: verify-release.sh"
    fi
done <<'EOF'
p12|--pkcs12 signer.p12 --password-file password
nested|--cert signer.pem --key signer-encrypted.key --password-env PASSWORD --nested-sha1
token|"${token[@]}" --password-file pin
elsewhere|"${token[@]}" --password-env TOKEN_PIN --signed elsewhere.exe --tsa-ca-file ca.pem
EOF
bash -x "$release/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem --pkcs12 signer.p12 \
    --password-env PASSWORD --out traced > trace 2>&1 || fail "sign.sh under bash -x"
grep -qF -e "$PASSWORD" -e "$TOKEN_PIN" argv trace &&
    fail "a password or PIN on a command line or in a bash -x trace" ||
    ok "no password or PIN on $(wc -l < argv) command lines of osslsigncode and openssl, nor in a bash -x trace"

# ---- what verify-release.sh refuses: the p12 release, changed one way each -----------------------
restate() {  # the statement of r/launcher.exe as it now is, signed by the release key
    sed -i "s/^sha256: .*/sha256: $(sha256sum < r/launcher.exe | cut -c1-64)/" r/statement.txt
    resign signer.key
}
resign() { /usr/bin/openssl dgst -sha256 -sign "$1" -out r/statement.txt.sig r/statement.txt; }
flip() {  # flip <file> <offset from its end>: one bit of one byte
    /usr/bin/python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read())
d[-int(sys.argv[2])] ^= 1; open(sys.argv[1], "wb").write(d)' "$@"
}
previous=$(git -C "$repository" rev-parse HEAD~1)
osslsigncode sign -certs outsider.pem -key outsider.key -h sha256 -in tree/build/win32/launcher.exe \
    -out outsider.exe > /dev/null 2>&1
cp p12/launcher.exe flipped.exe && flip flipped.exe 8000
mkdir roots && cp ca.pem roots/ && openssl rehash roots  # the CA as if among the system's
while IFS='|' read -r name change words arguments; do
    rm -rf r && cp -r p12 r
    folder=r
    unset SSL_CERT_DIR
    eval "$change"
    eval "set -- $arguments"
    if verdict "$folder" "$@"; then
        fail "verify-release.sh passed $name"
    elif ! grep -qF -- "$words" log || [ "$(wc -l < log)" != 1 ]; then
        fail "verify-release.sh on $name: not one line that says \"$words\""
    else
        ok "refused: $name: $(cut -c1-110 log)"
    fi
done <<'EOF'
a byte of the image|flip r/launcher.exe 8000|its SHA-256 differs|
a byte of the signature|flip r/launcher.exe 100|its SHA-256 differs|
64 KiB appended|head -c 65536 /dev/zero >> r/launcher.exe|its SHA-256 differs|
the statement changed|sed -i 's/^version: .*/version: 1.0.9/' r/statement.txt|signature is not the release certificate's key's|
the statement extended, by the release key|echo "note: anything" >> r/statement.txt && resign signer.key|not in its format exactly|
a statement signed by another key|resign other.key|signature is not the release certificate's key's|
the statement of another file|cp nested/statement.txt nested/statement.txt.sig r/|its SHA-256 differs|
another commit's build, by the release key|sed -i "s/^commit: .*/commit: $previous/" r/statement.txt && resign signer.key|is not the build of commit|
another machine's compiler, by the release key|sed -i 's/^\(compiler: [^ ]*\) .*/\1 99.0/' r/statement.txt && resign signer.key|this machine's compiler is not the release's|
a signature under a stranger's root of the CA's name, by the release key|cp outsider.exe r/launcher.exe && restate|osslsigncode does not verify|
a certificate of the release key for servers|:|not for code signing|--signer-cert server.pem
a certificate of the release key without a key usage|:|not for code signing|--signer-cert no-key-usage.pem
a certificate of the release key that is a CA|:|not for code signing|--signer-cert is-a-ca.pem
a certificate of the release key that does not chain to the CA|:|does not chain|--ca-file stranger.pem
the system's roots beside --ca-file|export SSL_CERT_DIR=$PWD/roots|does not chain|--ca-file another-root.pem
another commit than the one said|:|the release is commit|--commit "$previous"
an empty --commit|:|needs a value that is not empty|--commit ""
a file past the bound, 17 MiB|truncate -s 17M r/launcher.exe|larger than|
a name with a line break|folder=$'odd\nis the build of commit' && rm -rf "$folder" && cp -r r "$folder" && flip "$folder/launcher.exe" 8000|its SHA-256 differs|
EOF

# ---- what sign.sh refuses, writing nothing ------------------------------------------------
cp signer.key kept.key
mkdir -m 777 shared
while IFS='|' read -r name words arguments; do
    eval "set -- $arguments"
    if sign "$@"; then
        fail "sign.sh: $name: released all the same"
    elif ! grep -qF -- "$words" log || [ -e refused ] || [ -e pwned ] || [ -n "$(ls -A shared)" ] ||
         ! cmp -s signer.key kept.key; then
        fail "sign.sh: $name: not refused with \"$words\", or something written"
    else
        ok "sign.sh refuses $name: $(tail -n 1 log | cut -c1-100)"
    fi
    rm -rf refused pwned shared/* && cp kept.key signer.key  # each row on its own
done <<'EOF'
a wrong password|does not open|--pkcs12 signer.p12 --password-file pin --out refused
a wrong PIN|the password does not open the key (or the PIN is wrong)|"${token[@]}" --password-file password --out refused
an --out that exists, the key|exists: name a new folder|--pkcs12 signer.p12 --password-file password --out signer.key
an --out in a folder that others may write|can be written by others and is not sticky|--pkcs12 signer.p12 --password-file password --out shared/refused
a variable's name that is code|is no variable's name|--pkcs12 signer.p12 --password-env 'PATH[$(touch pwned)]' --out refused
an empty --commit|needs a value that is not empty|--commit "" --pkcs12 signer.p12 --password-file password --out refused
a description beyond ASCII|beyond printable ASCII|--pkcs12 signer.p12 --password-file password --description "Gerätetreiber" --out refused
a certificate that is not for code signing|not for code signing|--cert server.pem --key signer.key --out refused
a time-stamp server that refuses|could not be reached|--pkcs12 signer.p12 --password-file password --timestamp http://127.0.0.1:9/ --out refused
a file signed elsewhere that is not the build|is not the build of commit|--pkcs12 signer.p12 --password-file password --signed flipped.exe --out refused
EOF
mkdir built-here
"$release/build_commit.sh" HEAD built-here > log 2>&1 || grep -q "built-here exists" log &&
    ok "build_commit.sh refuses a folder that exists" || fail "build_commit.sh into a folder that exists"

# ---- the release checklist, as docs/releasing.md has it, in a fresh clone -------------------
sed -n '/^<!-- the checklist, run by tests\/check_signing.sh -->$/,/^```$/p' \
    "$repository/docs/releasing.md" | sed '1,2d;$d' > checklist.sh
git clone -q "$repository" checklist-clone
if [ ! -s checklist.sh ]; then
    fail "docs/releasing.md has no checklist block to run"
elif (cd checklist-clone && bash -euo pipefail ../checklist.sh > ../log 2>&1) &&
     grep -q "is the build of commit $head" log; then
    ok "docs/releasing.md's checklist, $(grep -c . checklist.sh) lines as written"
else
    fail "docs/releasing.md's checklist as written"
fi

# ---- the commit a build names -----------------------------------------------------------------
# In a clone of this repository: a build names HEAD; after a commit, a build without a new
# configure names the new commit; after a change, the commit with ".dirty", and so where git's
# settings hide the change.
git -c advice.detachedHead=false clone -q "$repository" clone
built=clone/build/win32/launcher.exe
names() { /usr/bin/python3 "$repository/tests/check_pe.py" --product-version "$built" | sed 's/^[^+]*+//'; }
build_clone() {
    (cd clone && cmake --build --preset win32 --target launcher > "$state/log" 2>&1) ||
        fail "building the clone: $(tail -n 3 log)"
}
(cd clone && cmake --preset win32 > "$state/log" 2>&1) || fail "configuring the clone"
build_clone
first=$(git -C clone rev-parse HEAD)
[ "$(names)" = "$first" ] && ok "a build of a clone names its HEAD" || fail "a build of a clone names $(names), not $first"
git -C clone -c user.name=Test -c user.email=test@example.com commit -q --allow-empty -m "A new commit"
build_clone
second=$(git -C clone rev-parse HEAD)
[ "$(names)" = "$second" ] && ok "after a commit, a build without a new configure names it" ||
    fail "after a commit, a build without a new configure names $(names), not $second"
while IFS='|' read -r name change undo; do
    (cd clone && eval "$change")
    build_clone
    [ "$(names)" = "$second.dirty" ] && ok "a build of a tree with $name names $(names | cut -c1-12)....dirty" ||
        fail "a build of a tree with $name names $(names)"
    (cd clone && eval "$undo")
done <<'EOF'
a change|echo "a change" >> README.md|git checkout -q README.md
an untracked file, though status.showUntrackedFiles=no|git config status.showUntrackedFiles no && touch app/extra.h|rm app/extra.h
a change marked assume-unchanged|echo "a change" >> README.md && git update-index --assume-unchanged README.md|git update-index --no-assume-unchanged README.md && git checkout -q README.md
a file ignored by .git/info/exclude alone|echo extra.h >> .git/info/exclude && touch app/extra.h|rm app/extra.h
EOF

cp nested/launcher.exe signed/launcher.exe
exit $failed
