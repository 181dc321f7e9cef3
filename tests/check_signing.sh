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
# A root restricted to TLS, and a certificate of the release key under it; one that names a CRL
# nobody answers; the CA's revocation of the release certificate; CA files too large, written
# as an old X509 CERTIFICATE block last, and with trust settings.
openssl req -x509 -newkey rsa:2048 -nodes -keyout tls-root.key -out tls-root.pem -days 2 -subj "/CN=Throwaway TLS Root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" -addext "extendedKeyUsage=serverAuth" 2>/dev/null
issue under-tls "$code_signing" tls-root signer
subject tls-holder "/CN=www.example.com"
issue tls-holder 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n'
issue signer-cdp "${code_signing}crlDistributionPoints=URI:http://127.0.0.1:9/ca.crl\n" ca signer
printf '[ca]\ndefault_ca = own\n[own]\ndatabase = index.txt\ncrlnumber = crlnumber\ndefault_md = sha256\ndefault_crl_days = 2\n' > ca.cnf
touch index.txt && echo 01 > crlnumber
openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -revoke signer.pem > /dev/null 2>&1
openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl -out revoked.crl > /dev/null 2>&1
for _ in $(seq 1200); do cat ca.pem; done > big.pem
{ cat ca.pem; sed 's/CERTIFICATE-----$/X509 CERTIFICATE-----/' tls-root.pem; } > tls-last.pem
openssl x509 -in ca.pem -addtrust codeSigning -out trusted.pem
# osslsigncode and openssl, seen through wrappers that keep their command lines.
mkdir shim
for program in osslsigncode openssl; do
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv\nexec /usr/bin/%s "$@"\n' "$state" "$program" > shim/$program
done
chmod +x shim/*
export PATH=$state/shim:$PATH
url=(--url https://www.example.com/drivers)
sign() { "$tools/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem "$@" > log 2>&1; }
verdict() { "$tools/verify-release.sh" "$1/launcher.exe" --signer-cert "$1/release.pem" --ca-file ca.pem "${@:2}" > log 2>&1; }

# ---- every way of signing gives a release that verify-release.sh proves ------------------------
"$release/build_commit.sh" HEAD tree > log 2>&1 || fail "build_commit.sh HEAD"
# HEAD is built once, above: most rows sign and prove with the tools under test in a clone whose
# build_commit.sh hands out that build for HEAD (and builds any other commit); the rows on what
# reaches a build run the tools as they are.
git clone -q "$repository" once && git -C once checkout -q --detach "$head" && cp "$release"/* once/release/
printf '#!/bin/sh\n[ "$1" = %s ] || exec %q "$@"\nmkdir -m 755 "$2" && cp -r %q "$2/"\n' \
    "$head" "$release/build_commit.sh" "$state/tree/build" > once/release/build_commit.sh && chmod +x once/release/build_commit.sh
tools=$state/once/release
osslsigncode sign -certs signer.pem -key signer.key -h sha256 -TSA-certs tsa-chain.pem -TSA-key tsa.key \
    -TSA-time "$(date +%s)" -in tree/build/win32/launcher.exe -out elsewhere.exe > /dev/null 2>&1
token=(--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so
       --pkcs11-key "pkcs11:token=release;object=signer;type=private")
osslsigncode add -addUnauthenticatedBlob -in elsewhere.exe -out blob.exe > /dev/null 2>&1
mkdir evil evil/bin
printf '#include_next <windows.h>\nstatic const char evil[] __attribute__((used)) = "in no commit";\n' > evil/windows.h
printf '#!/bin/sh\nexec /usr/bin/i686-w64-mingw32-g++ -DEVIL "$@"\n' > evil/bin/i686-w64-mingw32-g++
chmod +x evil/bin/i686-w64-mingw32-g++
# Each release made and proven; each made whole with the same modes, whatever the umask; the
# caller's environment reaches no build; an unauthenticated attribute is accepted (docs/releasing.md).
while IFS='|' read -r name setup arguments; do
    eval "set -- $arguments"
    if ! (eval "$setup" && sign "$@" --out "$name"); then
        fail "$name: sign.sh"
    elif [ "$(stat -c %a "$name" "$name"/* | sort -u | tr '\n' ' ')" != "644 755 " ]; then
        fail "$name: the release's modes are $(stat -c %a "$name" "$name"/* | tr '\n' ' ')"
    elif verdict "$name" --tsa-ca-file ca.pem && grep -q "is the build of commit $head" log; then
        ok "$name: $(cut -c1-100 log)"
    else
        fail "$name: verify-release.sh"
    fi
done <<'EOF'
p12|umask 000|--pkcs12 signer.p12 --password-file password
nested|:|--cert signer.pem --key signer-encrypted.key --password-env PASSWORD --nested-sha1
token|:|"${token[@]}" --password-file pin
elsewhere|:|"${token[@]}" --password-env TOKEN_PIN --signed elsewhere.exe --tsa-ca-file ca.pem
a certificate naming a CRL no one answers|:|--cert signer-cdp.pem --key signer.key
an unauthenticated blob|:|"${token[@]}" --password-env TOKEN_PIN --signed blob.exe --tsa-ca-file ca.pem
the caller's CPATH, MAKEFLAGS, compiler launcher and PATH, proven against a clean build|tools=$release && export CPATH=$PWD/evil MAKEFLAGS=CXX_FLAGS=-O0 CMAKE_CXX_COMPILER_LAUNCHER=$PWD/evil/bin/i686-w64-mingw32-g++ PATH=$PWD/evil/bin:$PATH|--pkcs12 signer.p12 --password-file password
EOF
bash -x "$tools/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem --pkcs12 signer.p12 \
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
for signer in other under-tls; do
    osslsigncode sign -certs $signer.pem -key $([ $signer = other ] && echo other || echo signer).key -h sha256 \
        -in tree/build/win32/launcher.exe -out $signer.exe > /dev/null 2>&1
done
/usr/bin/python3 -c 'import struct, sys  # 96 bytes of its own inside the certificate table
d = bytearray(open("p12/launcher.exe", "rb").read()); at = struct.unpack_from("<I", d, 0x3c)[0] + 24 + 96 + 32
where, size = struct.unpack_from("<II", d, at); struct.pack_into("<II", d, at, where, size + 96)
struct.pack_into("<I", d, where, struct.unpack_from("<I", d, where)[0] + 96); open("padded.exe", "wb").write(d + bytes(96))'
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
a --signer-cert whose genuine block does not start its line, by a TLS key|(printf x; cat signer.pem tls-holder.pem) > hidden.pem && resign tls-holder.key|not for code signing|--signer-cert hidden.pem
a --ca-file whose TLS root comes last as an X509 CERTIFICATE block|cp under-tls.exe r/launcher.exe && restate|not for code signing|--signer-cert under-tls.pem --ca-file tls-last.pem
a --ca-file with trust settings|:|carries trust settings|--ca-file trusted.pem
the Windows signature of another code-signing certificate of the CA|cp other.exe r/launcher.exe && restate|as the release certificate's|
96 bytes of its own inside the certificate table|cp padded.exe r/launcher.exe && restate|its own signature and nothing more|
a --ca-file of 2 MB|:|larger than|--ca-file big.pem
the release certificate revoked in --crl-file|:|osslsigncode does not verify|--crl-file revoked.crl
a tag that is not here|:|fetch the tags?|--commit v9.9.9
EOF

# ---- what sign.sh refuses, writing nothing ------------------------------------------------
cp signer.key kept.key
mkdir -m 777 shared
mkdir broken && printf '#!/bin/sh\ncase "$*" in *release.pem*) exit 1 ;; esac\nexec /bin/cp "$@"\n' > broken/cp && chmod +x broken/cp
while IFS='|' read -r name words arguments; do
    eval "set -- $arguments"
    if (case $name in "a copy that fails") PATH=$PWD/broken:$PATH ;; esac && sign "$@"); then
        fail "sign.sh: $name: released all the same"
    elif ! grep -qF -- "$words" log || [ -e refused ] || [ -e pwned ] || [ -n "$(ls -A shared)" ] ||
         ! cmp -s signer.key kept.key || ls -d .release.* > /dev/null 2>&1; then
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
a file signed elsewhere that is not the build|with its own signature and nothing more|--pkcs12 signer.p12 --password-file password --signed flipped.exe --out refused
a PIN in the token's URI|holds a PIN|--cert signer.pem --pkcs11-module /usr/lib/softhsm/libsofthsm2.so --pkcs11-key "pkcs11:token=release;object=signer;type=private;pin-value=$TOKEN_PIN" --out refused
a copy that fails|could not be written whole|--pkcs12 signer.p12 --password-file password --out refused
EOF
mkdir built-here
"$release/build_commit.sh" HEAD built-here > log 2>&1 || grep -q "built-here exists" log &&
    ok "build_commit.sh refuses a folder that exists" || fail "build_commit.sh into a folder that exists"

# ---- what reaches a release from outside its commit; a file named like an option; a signal ------
# In clones: a replace ref where sign.sh runs (it builds the commit, not what replaces it); a
# commit whose splash picture links outside the tree (refused); project() over two lines (the
# version that the build made is stated).
for clone in replaced linked two-lines; do  # each with the tools under test
    git clone -q "$repository" "$clone" && git -C "$clone" checkout -q --detach "$head" && cp "$release"/* "$clone/release/"
done
git -C replaced replace "$head" "$previous"
echo outside > outside.bmp && ln -sf "$state/outside.bmp" linked/res/splash.bmp
sed -i 's/^project(launcher VERSION /project(launcher\n        VERSION /' two-lines/CMakeLists.txt
for clone in linked two-lines; do git -C $clone -c user.name=T -c user.email=t@example.com commit -qm $clone -- res CMakeLists.txt; done
sign_in() { "$1/release/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem --pkcs12 signer.p12 --password-file password --out "$2" > log 2>&1; }
proven_in() { "$1/release/verify-release.sh" --signer-cert "$2/release.pem" --ca-file ca.pem -- "$2/launcher.exe" > log 2>&1 &&
              grep -q "is the build of commit $(git -C "$1" rev-parse HEAD)" log; }
sign_in replaced replaced-release && proven_in "$state/once" replaced-release &&
    ok "a replace ref where sign.sh runs: its release is the commit's own build" || fail "a replace ref where sign.sh runs"
! sign_in linked linked-release && grep -q "symbolic link" log && [ ! -e linked-release ] &&
    ok "sign.sh refuses a commit that links out of its tree: $(cut -c1-90 log)" || fail "a commit that links out of its tree"
project_version=$(sed -n 's/^project(launcher VERSION \([0-9.]*\) .*/\1/p' "$repository/CMakeLists.txt")
sign_in two-lines two-lines-release && grep -qx "version: $project_version" two-lines-release/statement.txt &&
    ok "project() over two lines: version $project_version stated, and checked as the verifier will" ||
    fail "project() over two lines"
cp -r p12 ./-dash && proven_in "$state/once" -dash && ok "a file named like an option, after --" ||
    fail "a file named like an option, after --"
# A TERM ends sign.sh at once, whatever it waits for (a time-stamp server that never answers),
# and leaves nothing; SIGN_TIMEOUT=0, once a wait without end, changes nothing.
/usr/bin/python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1); print(s.getsockname()[1], flush=True)
c, _ = s.accept(); print("asked", flush=True); time.sleep(600)' > tsa.log & silent=$!
until [ -s tsa.log ]; do sleep 0.1; done
SIGN_TIMEOUT=0 setsid "$tools/sign.sh" --commit HEAD "${url[@]}" --ca-file ca.pem --pkcs12 signer.p12 \
    --password-file password --timestamp "http://127.0.0.1:$(head -n 1 tsa.log)/" --out waited > log 2>&1 & signing=$!
for _ in $(seq 600); do grep -q asked tsa.log && break; sleep 0.1; done
kill -TERM $signing && sleep 0.5
for _ in $(seq 50); do kill -0 $signing 2>/dev/null || break; sleep 0.1; done
if kill -0 $signing 2>/dev/null; then
    fail "sign.sh still waits 5 s after a TERM"
else
    [ ! -e waited ] && ok "a TERM ends sign.sh at once, waiting for a time stamp, leaving nothing" || fail "a TERM left a release"
fi
{ kill -KILL -- -$signing $silent; wait $silent; } 2>/dev/null || true

# ---- the release checklist, as docs/releasing.md has it, in a fresh clone -------------------
sed -n '/^<!-- the checklist, run by tests\/check_signing.sh -->$/,/^```$/p' \
    "$repository/docs/releasing.md" | sed '1,2d;$d' > checklist.sh
git clone -q "$repository" checklist-clone && cp once/release/* checklist-clone/release/
mkdir checklist-tmp
# Twice in the same clone: each try removes what it made (its tag, its keys).
checklist() {
    (cd checklist-clone && TMPDIR=$state/checklist-tmp bash ../checklist.sh > ../log 2>&1) &&
        grep -q "is the build of commit $head" log
}
if [ ! -s checklist.sh ]; then
    fail "docs/releasing.md has no checklist block to run"
elif checklist && checklist && [ -z "$(ls -A checklist-tmp)" ] && [ -z "$(git -C checklist-clone tag -l 'try-*')" ]; then
    ok "docs/releasing.md's checklist, $(grep -c . checklist.sh) lines as written, twice in one clone, leaving nothing"
else
    fail "docs/releasing.md's checklist as written, twice in one clone, leaving nothing"
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
