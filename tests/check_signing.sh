#!/usr/bin/env bash
# The release tools (release/) against a throwaway CA, a release certificate and another
# code-signing certificate that openssl makes here, a time-stamping authority of the CA and
# one of nobody's, and a software PKCS#11 token (SoftHSM2) that holds the key: sign.sh signs
# launcher.exe as built from HEAD in every way it offers; docs/releasing.md's checklist runs
# as written in a fresh clone; verify-release.sh proves the genuine files to be that build
# and refuses every forgery tried here, each in one line; a few hundred damaged copies end,
# each in bounded time, with a verdict; sign.sh writes only where it checked and leaves
# nothing behind when it refuses; and the build names its commit, whatever git's settings
# hide. No network.
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
# A file verifies where osslsigncode says so and verify-release.sh's reader of signatures
# proves it the release certificate's.
verifies() {
    osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$1" > log 2>&1 &&
        "$release/release.py" signatures "$1" signer.pem ca.pem ca.pem >> log 2>&1
}
subject() { openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null; }
issue() {  # issue <name> <extensions> [issuer]: a certificate of the CA, or of another issuer
    printf '%b' "$2" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "${3:-ca}.pem" -CAkey "${3:-ca}.key" -CAcreateserial \
        -days 2 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
code_signing='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
time_stamping='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
root() {  # root <name> <subject>
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# ---- a CA, the release certificate and its key in four forms, another signer, two TSAs --------
export PASSWORD="release secret"  # with a blank: it must reach osslsigncode whole
(umask 077 && printf '%s\n' "$PASSWORD" > password)
root ca "/CN=Throwaway Test CA"
subject signer "/O=Orvalent/CN=Orvalent test signer"
issue signer "$code_signing"
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
# Another code-signing certificate of the same CA, and a forger's: self-signed, with the
# release certificate's very subject.
subject other "/O=Orvalent/CN=Another signer of the CA"
issue other "$code_signing"
openssl req -x509 -newkey rsa:2048 -nodes -keyout forged.key -out forged.pem -days 2 \
    -subj "/O=Orvalent/CN=Orvalent test signer" 2>/dev/null
# A decoy: the release certificate's subject, issued in the CA's name by a forger's own CA of
# that name, with the other signer's serial number, so that it matches the other signer's
# SignerInfo by issuer and serial.
root fake-ca "/CN=Throwaway Test CA"
subject decoy "/O=Orvalent/CN=Orvalent test signer"
printf '%b' "$code_signing" > decoy.ext
openssl x509 -req -in decoy.csr -CA fake-ca.pem -CAkey fake-ca.key -days 2 -extfile decoy.ext \
    -set_serial "0x$(openssl x509 -in other.pem -noout -serial | cut -d= -f2)" -out decoy.pem 2>/dev/null
# Time-stamping authorities that osslsigncode can play itself: the CA's, and one of nobody's.
subject tsa "/CN=Throwaway TSA"
issue tsa "$time_stamping"
cat tsa.pem ca.pem > tsa-chain.pem
root stranger "/CN=Unknown TSA root"
subject unknown-tsa "/CN=Unknown TSA"
issue unknown-tsa "$time_stamping" stranger
cat unknown-tsa.pem stranger.pem > unknown-tsa-chain.pem

# launcher.exe as HEAD builds it; osslsigncode is seen through a wrapper that keeps its argv.
"$release/build_commit.sh" HEAD tree > build.log
unsigned=$state/tree/build/win32/launcher.exe
before=$(sha256sum < "$unsigned")
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> %s/argv\nexec osslsigncode "$@"\n' "$state" > osslsigncode
chmod +x osslsigncode
export OSSLSIGNCODE=$state/osslsigncode
sign() { "$release/sign.sh" --in "$unsigned" --url https://www.example.com/drivers "$@" > log 2>&1; }
verdict() { "$release/verify-release.sh" "$1" --signer-cert signer.pem --ca-file ca.pem "${@:2}" > log 2>&1; }

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
    if verifies $way.exe && grep -q "signature: 1 signature (SHA-256) verified" log; then
        ok "signed with $way: one SHA-256 signature of the release certificate"
    elif [ $way = nested ] && grep -q "signature: 2 signatures (SHA-256, nested SHA-1) verified" log; then
        ok "signed with a nested SHA-1 signature: both the release certificate's"
    else
        fail "signed with $way: verification"
    fi
done
[ "$(sha256sum < "$unsigned")" = "$before" ] && ok "the unsigned launcher.exe is untouched" ||
    fail "signing changed the unsigned launcher.exe"
grep -qF -e "$PASSWORD" -e "$TOKEN_PIN" argv && fail "a password or PIN reached osslsigncode's command line" ||
    ok "no password or PIN on osslsigncode's command line"
# Traced with bash -x, the password and the PIN stay out of the trace.
bash -x "$release/sign.sh" --in "$unsigned" --url https://www.example.com/drivers --pkcs12 signer.p12 \
    --password-env PASSWORD --out traced.exe > trace 2>&1 &&
bash -x "$release/sign.sh" --in "$unsigned" --url https://www.example.com/drivers "${token[@]:0:6}" \
    --password-env TOKEN_PIN --out traced-token.exe >> trace 2>&1 || fail "signing under bash -x"
grep -qF -e "$PASSWORD" -e "$TOKEN_PIN" trace && fail "the password or the PIN is in the bash -x trace" ||
    ok "neither the password nor the PIN is in a bash -x trace ($(wc -l < trace) lines)"
osslsigncode remove-signature -in nested.exe -out removed.exe > log 2>&1
cmp -s removed.exe "$unsigned" && ok "the signatures removed give back the unsigned launcher.exe" ||
    fail "the signatures removed differ from the unsigned launcher.exe"

# ---- the release checklist, as docs/releasing.md has it, in a fresh clone -------------------
sed -n '/^<!-- the checklist, run by tests\/check_signing.sh -->$/,/^```$/p' \
    "$repository/docs/releasing.md" | sed '1,2d;$d' > checklist.sh
git clone -q "$repository" checklist-clone
if [ ! -s checklist.sh ]; then
    fail "docs/releasing.md has no checklist block to run"
elif (cd checklist-clone && bash -euo pipefail ../checklist.sh > ../log 2>&1) &&
     grep -q "is the build of commit $head" log; then
    ok "docs/releasing.md's checklist, $(grep -c . checklist.sh) lines as written: $(tail -n 1 log | cut -c1-70)..."
else
    fail "docs/releasing.md's checklist as written"
fi

# ---- what verify-release.sh passes ---------------------------------------------------------
sign_as() {  # sign_as <out> <certificate> <key> [osslsigncode sign options]: a signature as given
    osslsigncode sign -certs "$2" -key "$3" -h sha256 -n "Quaverline driver setup" \
        -i https://www.example.com/drivers "${@:4}" -in "${in:-$unsigned}" -out "$1" >> forging.log 2>&1
}
sign_as timestamped.exe signer.pem signer.key -TSA-certs tsa-chain.pem -TSA-key tsa.key \
    -TSA-time "$(date +%s)" || fail "signing with a time stamp"
sign_as unicode.exe signer.pem signer.key -n "Quaverline Gerätetreiber" || fail "signing with a German description"
for genuine in p12 nested timestamped unicode; do
    if verdict $genuine.exe --tsa-ca-file ca.pem && grep -q "is the build of commit $head" log; then
        ok "verify-release.sh passes $genuine.exe: $(head -n 1 log | cut -c1-90)..."
    else
        fail "verify-release.sh on $genuine.exe, the build of HEAD"
    fi
done
RELEASE_SIGNER_CERT=signer.pem "$release/verify-release.sh" p12.exe --ca-file=ca.pem > log 2>&1 &&
    ok "RELEASE_SIGNER_CERT stands for --signer-cert" || fail "RELEASE_SIGNER_CERT"

# ---- what it refuses, each made from a genuine file --------------------------------------------
# forge <command> <in> <arguments> <out>: the signature's structure changed as a forger would
# (the bytes outside the certificate table, the checksum but, as they were).
forge() {
    /usr/bin/python3 - "$release" "$@" <<'PYTHON'
import os, struct, sys
sys.path.insert(0, sys.argv[1])
import pe
from asn1crypto import cms, core, x509
from asn1crypto import pem
command, given, *rest, out = sys.argv[2:]
def pem_der(data):
    return pem.unarmor(data)[2] if pem.detect(data) else data
def der_length(n):
    return bytes([n]) if n < 128 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes((n.bit_length() + 7) // 8, "big")
data = open(given, "rb").read()
image = pe.Image(data)
if command == "version-node":  # the StringFileInfo node of the version resource, 0 bytes long
    changed = bytearray(data)
    at = data.find("StringFileInfo".encode("utf-16-le")) - 6
    changed[at:at + 2] = b"\0\0"
    struct.pack_into("<I", changed, image.checksum_at, pe.checksum(changed, image.checksum_at))
    open(out, "wb").write(changed)
    sys.exit(0)
blob, _ = image.certificate_table()
info = cms.ContentInfo.load(blob)
signer = info["content"]["signer_infos"][0]
if command == "decoy":
    # rest: the signer's certificate. A certificate with the release certificate's subject,
    # self-made, named as the signer's issuer in other letters' case (X.509 takes the two
    # names for one) and its serial number; the SignerInfo, which no signature covers, then
    # names the signer so.
    import datetime
    from cryptography import x509 as cx
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID
    real = cx.load_pem_x509_certificate(open(rest[0], "rb").read())
    issuer = cx.Name([cx.NameAttribute(NameOID.COMMON_NAME, "throwaway test ca")])
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    now = datetime.datetime.utcnow()
    decoy = (cx.CertificateBuilder().subject_name(cx.Name([
                 cx.NameAttribute(NameOID.ORGANIZATION_NAME, "Orvalent"),
                 cx.NameAttribute(NameOID.COMMON_NAME, "Orvalent test signer")]))
             .issuer_name(issuer).public_key(key.public_key()).serial_number(real.serial_number)
             .not_valid_before(now).not_valid_after(now + datetime.timedelta(days=2))
             .add_extension(cx.ExtendedKeyUsage([ExtendedKeyUsageOID.CODE_SIGNING]), False)
             # longer than the signer's, so that it comes after it in the bag's DER order and
             # OpenSSL, which takes the first certificate of that name, takes the signer's
             .add_extension(cx.SubjectAlternativeName([cx.DNSName("d" * 60 + f".example{i}")
                                                       for i in range(30)]), False)
             .sign(key, hashes.SHA256()))
    certificate = x509.Certificate.load(decoy.public_bytes(serialization.Encoding.DER))
    bag = list(info["content"]["certificates"])
    info["content"]["certificates"] = bag + [cms.CertificateChoices(name="certificate", value=certificate)]
    signer["sid"] = cms.SignerIdentifier(name="issuer_and_serial_number", value=cms.IssuerAndSerialNumber({
        "issuer": x509.Name.load(issuer.public_bytes()), "serial_number": real.serial_number}))
elif command == "add-certificate":
    certificate = x509.Certificate.load(pem_der(open(rest[0], "rb").read()))
    bag = list(info["content"]["certificates"])
    info["content"]["certificates"] = bag + [cms.CertificateChoices(name="certificate", value=certificate)]
elif command == "add-attribute":  # rest: an OID and a size: a third party's bytes under it
    value = core.OctetString(os.urandom(int(rest[1])))
    attribute = core.Sequence.load(core.Sequence(contents=core.ObjectIdentifier(rest[0]).dump() +
                                                 core.SetOf(contents=value.dump()).dump()).dump())
    signer["unsigned_attrs"] = cms.CMSAttributes.load(
        b"\x31" + der_length(len(signer["unsigned_attrs"].contents or b"") + len(attribute.dump())) +
        (signer["unsigned_attrs"].contents or b"") + attribute.dump())
der = info.dump()
der += bytes(-len(der) % 8)
table = struct.pack("<IHH", 8 + len(der), 0x0200, 0x0002) + der
open(out, "wb").write(pe.Image(data[:image.table_at]).with_table(table))
PYTHON
}
{
    osslsigncode extract-signature -in p12.exe -out genuine.sig
    sign_as forged.exe forged.pem forged.key
    osslsigncode attach-signature -nest -sigin genuine.sig -in forged.exe -out forged-first.exe
    sign_as other.exe other.pem other.key
    forge add-certificate other.exe decoy.pem decoy-same-name.exe
    forge decoy other.exe other.pem decoy.exe
    forge add-certificate p12.exe tsa.pem extra-certificate.exe
    forge add-attribute p12.exe 1.3.6.1.4.1.311.3.3.1 20000 time-stamp-oid.exe
    forge add-attribute p12.exe 1.2.840.113549.1.9.6 20000 countersignature-oid.exe
    in=p12.exe sign_as nested-other.exe other.pem other.key -nest
    in=p12.exe sign_as nested-md5.exe signer.pem signer.key -nest -h md5
    sign_as untrusted-stamp.exe signer.pem signer.key -TSA-certs unknown-tsa-chain.pem \
        -TSA-key unknown-tsa.key -TSA-time "$(date +%s)"
    osslsigncode add -addUnauthenticatedBlob -in p12.exe -out blob.exe
    forge version-node "$unsigned" zero-node-unsigned.exe
    in=zero-node-unsigned.exe sign_as zero-node.exe signer.pem signer.key
} > forging.log 2>&1 || true
/usr/bin/python3 - "$release" <<'PYTHON'
import struct, sys
sys.path.insert(0, sys.argv[1])
import pe
image = pe.Image(open("p12.exe", "rb").read())
data = bytearray(image.data)
checksummed = bytearray(data)
struct.pack_into("<I", checksummed, image.checksum_at, 0xDEADBEEF)
open("checksum.exe", "wb").write(checksummed)
start, size = image.table_at, image.table_size
# A second entry in the certificate table, a copy of the first.
open("two-entries.exe", "wb").write(pe.Image(data[:start]).with_table(data[start:] * 2))
length = struct.unpack_from("<I", data, start)[0]
padded = data[start:start + length] + bytes(1 << 20)  # 1 MiB inside the certificate entry
struct.pack_into("<I", padded, 0, len(padded))
open("padded.exe", "wb").write(pe.Image(data[:start]).with_table(bytes(padded)))
PYTHON
flip() {  # flip <file> <offset> <copy>: a copy with one bit of one byte flipped
    /usr/bin/python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read())
d[int(sys.argv[2], 0)] ^= 1; open(sys.argv[3], "wb").write(d)' "$@"
}
flip p12.exe 0x600 flipped.exe
flip "$unsigned" 0x600 other-build.exe
in=other-build.exe sign_as other-build-signed.exe signer.pem signer.key
while IFS='|' read -r name file words arguments; do
    eval "set -- $arguments"
    started=$SECONDS
    if verdict "$file" "$@"; then
        fail "verify-release.sh passed $name"
    elif ! grep -q -- "$words" log; then
        fail "verify-release.sh on $name: the message does not say \"$words\""
    elif [ "$(grep -c '^FAIL' log)" != 1 ] || [ $((SECONDS - started)) -gt 30 ]; then
        fail "verify-release.sh on $name: not one line, or more than 30 s"
    else
        ok "verify-release.sh refuses $name: $(grep -m1 -- "$words" log | cut -c1-110)"
    fi
done <<'CASES'
a decoy certificate with the release certificate's subject, named by the signer|decoy.exe|its signature is not by the release certificate|
a decoy certificate with the release certificate's subject beside the signer|decoy-same-name.exe|its signature is not by the release certificate|
a forged first signature before a genuine nested one|forged-first.exe|its signature is not by the release certificate|
another signer of the same CA|other.exe|its signature is not by the release certificate|
a nested signature by another certificate of the CA|nested-other.exe|its nested signature is not by the release certificate|
a nested MD5 signature|nested-md5.exe|its nested signature is made with md5|
an extra certificate in the bag|extra-certificate.exe|a certificate that is not of the release certificate's chain|
20 KB of a third party's bytes under the RFC 3161 time stamp's OID|time-stamp-oid.exe|not well-formed|
20 KB of a third party's bytes under the countersignature's OID|countersignature-oid.exe|unauthenticated attribute 1.2.840.113549.1.9.6|
a time stamp by an authority of no trusted root|untrusted-stamp.exe|time stamp does not verify against ca.pem|--tsa-ca-file ca.pem
a time stamp without its authority's root|timestamped.exe|(a private time-stamping authority's root is given with --tsa-ca-file)|
an unauthenticated blob in the signature|blob.exe|unauthenticated attribute 1.3.6.1.4.1.42921.1.2.1|
a version node of 0 bytes, genuinely signed|zero-node.exe|a version node of 0 bytes|
a changed checksum|checksum.exe|the headers from|
a flipped bit in the image|flipped.exe|signs another image|
1 MiB inside the certificate entry|padded.exe|data after the signature in its certificate table|
a second entry in the certificate table|two-entries.exe|not one entry|
another build, genuinely signed|other-build-signed.exe|.text from 0x600|
another release certificate than the file's|p12.exe|its signature is not by the release certificate|--signer-cert other.pem
an unsigned launcher.exe|tree/build/win32/launcher.exe|launcher.exe: no signature|
a file that is no PE image|ca.pem|ca.pem: not a PE image|
CASES
for forged in decoy.exe forged-first.exe nested-other.exe nested-md5.exe extra-certificate.exe \
              time-stamp-oid.exe untrusted-stamp.exe zero-node.exe blob.exe; do
    [ -f "$forged" ] || fail "$forged could not be made: $(tail -n 1 forging.log)"
done
"$release/verify-release.sh" p12.exe --ca-file ca.pem > log 2>&1 || grep -q "no --signer-cert" log &&
    ok "verify-release.sh without a release certificate: refused" ||
    fail "verify-release.sh without a release certificate"
if "$release/verify-release.sh" p12.exe --signer-cert signer.pem > log 2>&1 ||
   ! grep -q "(a private CA's root is given with --ca-file)" log; then
    fail "verify-release.sh on a private CA's signature without --ca-file"
else
    ok "verify-release.sh without --ca-file: $(tail -n 1 log | cut -c1-110)..."
fi
timeout 10 "$release/release.py" commit zero-node-unsigned.exe > log 2>&1 && fail "a version node of 0 bytes names a commit" ||
    { [ $? = 1 ] && ok "the commit reader on a version node of 0 bytes: $(cat log)" ||
      fail "the commit reader on a version node of 0 bytes: exit $?"; }

# ---- damaged copies: a verdict for each, in bounded time ------------------------------------
/usr/bin/python3 - "$release" > log 2>&1 <<'PYTHON' && ok "$(tail -n 1 log)" || fail "damaged copies"
import random, signal, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import authenticode, pe, release
random.seed(20261209)
genuine = {name: open(name, "rb").read() for name in ("p12.exe", "nested.exe", "timestamped.exe")}
def damaged(data):
    data = bytearray(data)
    kind = random.choice(["bits", "bytes", "cut", "length"])
    if kind == "bits":
        for _ in range(random.randint(1, 8)):
            data[random.randrange(len(data))] ^= 1 << random.randrange(8)
    elif kind == "bytes":
        at = random.randrange(len(data))
        data[at:at + random.randint(1, 64)] = bytes(random.randrange(256) for _ in range(random.randint(1, 64)))
    elif kind == "cut":
        data = data[:random.randrange(len(data))]
    else:  # a 16-bit length somewhere in the version resource or the signature, 0 or huge
        at = random.randrange(7680, len(data) - 2)
        data[at:at + 2] = random.choice([b"\0\0", b"\xff\xff", b"\x06\0"])
    return bytes(data)
def expire(*_):
    raise TimeoutError
signal.signal(signal.SIGALRM, expire)
outcomes, slowest, problems = {"passed": 0, "refused": 0}, 0.0, []
for index in range(300):
    data = damaged(random.choice(list(genuine.values())))
    for reader in ("verifier", "commit reader"):
        started = time.monotonic()
        signal.alarm(10)
        try:
            if reader == "verifier":
                authenticode.prove(pe.Image(data), "signer.pem", "ca.pem", "ca.pem")
            else:
                release.named_commit(pe.Image(data))
            outcomes["passed"] += 1
        except pe.Refused:
            outcomes["refused"] += 1
        except TimeoutError:
            problems.append(f"copy {index}: the {reader} took more than 10 s")
        except Exception as error:
            problems.append(f"copy {index}: the {reader} raised {type(error).__name__}: {error}")
        finally:
            signal.alarm(0)
        slowest = max(slowest, time.monotonic() - started)
    if index < 20:  # and the command itself: exit 0 or 1 and one line, never a traceback
        open("damaged.exe", "wb").write(data)
        for command in (["signatures", "damaged.exe", "signer.pem", "ca.pem", "ca.pem"],
                        ["commit", "damaged.exe"]):
            run = subprocess.run([sys.argv[1] + "/release.py"] + command, capture_output=True,
                                 text=True, timeout=30)
            if run.returncode not in (0, 1) or len(run.stdout.splitlines()) != 1 or run.stderr:
                problems.append(f"copy {index}: release.py {command[0]} exited {run.returncode}: "
                                f"{(run.stdout + run.stderr)[-300:]}")
print("\n".join(problems[:10]))
print(f"300 damaged copies to the verifier and the commit reader: {outcomes['passed']} passed, "
      f"{outcomes['refused']} refused, {len(problems)} otherwise; the slowest took {slowest:.2f} s")
sys.exit(1 if problems else 0)
PYTHON

# ---- sign.sh's refusals: a clear reason, and nothing half-signed left behind ------------------
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
an --in that is signed already|is signed already|--in p12.exe --pkcs12 signer.p12 --password-file password
a description beyond ASCII|beyond printable ASCII|--pkcs12 signer.p12 --password-file password --description "Quaverline Gerätetreiber"
a URL beyond ASCII|beyond printable ASCII|--pkcs12 signer.p12 --password-file password --url "https://www.example.com/Gerät"
EOF
grep -q -- '"-t" option' log && fail "sign.sh passes on osslsigncode's advice of an option it lacks" ||
    ok "sign.sh does not pass on osslsigncode's \"-t\" advice"
if sign --pkcs12 signer.p12 --password-file password --out "$unsigned"; then
    fail "signed over the unsigned launcher.exe"
else
    [ "$(sha256sum < "$unsigned")" = "$before" ] && ok "refuses to sign over the unsigned file: $(tail -n 1 log | cut -c1-80)" ||
        fail "the unsigned launcher.exe changed"
fi

# ---- sign.sh's own files: only what it made, only where it checked ----------------------------
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
# The way to --out: a folder of this user's inside one that others may write (which another
# user could swap for a link to a folder of this user's), a link on the way, and "..", which
# through a link names another folder than it seems to ("<in's folder>/link/../launcher.exe"
# is --in itself where the link leads to a folder beside it).
mkdir -p shared/mine other/inside
ln -s "$state/other/inside" tree/build/win32/link
ln -s "$state/other" way-link
while IFS='|' read -r name words out; do
    if sign --pkcs12 signer.p12 --password-file password --out "$out"; then
        fail "$name: signed"
    elif ! grep -q -- "$words" log || [ "$(sha256sum < "$unsigned")" != "$before" ] ||
         [ -n "$(find shared/mine other/inside -mindepth 1)" ]; then
        fail "$name: $(tail -n 1 log)"
    else
        ok "$name: refused, saying \"$(grep -m1 -o -- "$words.*" log | cut -c1-80)...\""
    fi
done <<EOF
a folder of one's own inside one that others may write|$state/shared can be written by others and is not sticky|shared/mine/signed.exe
a link on the way to --out|way-link is a link|way-link/inside/signed.exe
"..", through a link, to --in|tree/build/win32/link is a link|tree/build/win32/link/../launcher.exe
".." on the way to --out|goes through ".."|other/inside/../signed.exe
EOF
chmod 1777 shared
ln -s "$state/private.exe" shared/linked-out.exe
PATH=$state/shim:$PATH sign --pkcs12 signer.p12 --password-file password --out shared/linked-out.exe &&
    written=$(grep -o '[0-9]* bytes written' log) && [ ! -L shared/linked-out.exe ] &&
    verifies shared/linked-out.exe && cmp -s private.exe "$unsigned" &&
    ok "a sticky folder, --out a link to another file: the link is replaced, $written" ||
    fail "a sticky folder, --out a link: $(ls -l shared private.exe | tr '\n' ' ')"
ln "$unsigned" hard-link.exe
sign --pkcs12 signer.p12 --password-file password --out hard-link.exe ||
    { grep -q "is the unsigned file itself" log && [ "$(sha256sum < "$unsigned")" = "$before" ]; } &&
    ok "--out another name of --in (a hard link): refused" || fail "--out a hard link of --in"
sign --pkcs12=signer.p12 --password-file=password --out=equals.exe && verifies equals.exe &&
    ok "--name=value options: signed" || fail "--name=value options"
cp password open-password && chmod 644 open-password
sign --pkcs12 signer.p12 --password-file open-password --out open.exe &&
    grep -q "warning: the password file open-password can be read by others" log &&
    ok "a password file that others may read: $(grep -m1 -o 'warning.*' log | cut -c1-80)..." ||
    fail "a password file that others may read: $(head -n 2 log)"
grep -q "the build of commit $head" log &&
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
/usr/bin/python3 -c 'import socket
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
mkdir built-here && touch built-here/stale.h
"$release/build_commit.sh" HEAD built-here > log 2>&1 || grep -q "built-here is not empty" log &&
    ok "build_commit.sh refuses a folder that is not empty" || fail "build_commit.sh into a folder that is not empty"
grep -q "^built .*tree/build/win32/launcher.exe from commit $head" build.log &&
    ok "build_commit.sh says what it built: $(cut -c1-90 build.log)..." || fail "build_commit.sh says nothing"

# ---- the commit a build names ---------------------------------------------------------------
# In a clone of this repository: a build names HEAD; after a commit, a build without a new
# configure names the new commit; after a change, the commit with ".dirty", which sign.sh
# warns of and verify-release.sh refuses; and so where git's settings hide the change.
git -c advice.detachedHead=false clone -q "$repository" clone
built=clone/build/win32/launcher.exe
names() { "$release/release.py" commit "$built"; }
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
clone/release/sign.sh --in before-commit.exe --pkcs12 signer.p12 --password-file password \
    --url https://www.example.com/drivers --out before-commit-signed.exe > log 2>&1 &&
    grep -q "warning: that is not this repository's HEAD ($second)" log &&
    ok "sign.sh warns of a build of another commit than HEAD" ||
    fail "sign.sh on a build of another commit: $(head -n 3 log)"
while IFS='|' read -r name change undo; do
    (cd clone && eval "$change")
    build_clone
    [ "$(names)" = "changed $second" ] && ok "a build of a tree with $name is marked: $(names | cut -c1-20)..." ||
        fail "a build of a tree with $name names $(names)"
    (cd clone && eval "$undo")
done <<'EOF'
a change|echo "a change" >> README.md|git checkout -q README.md
an untracked file, though status.showUntrackedFiles=no|git config status.showUntrackedFiles no && touch app/extra.h|rm app/extra.h
a change marked assume-unchanged|echo "a change" >> README.md && git update-index --assume-unchanged README.md|git update-index --no-assume-unchanged README.md && git checkout -q README.md
a file ignored by .git/info/exclude alone|echo extra.h >> .git/info/exclude && touch app/extra.h|rm app/extra.h
EOF
echo "a change" >> clone/README.md
build_clone
sign --in "$built" --pkcs12 signer.p12 --password-file password --out changed.exe &&
    grep -q "warning: .* was built from a tree with changes" log &&
    ok "sign.sh warns of a changed tree's build: $(grep -m1 -o 'warning.*' log | cut -c1-90)..." ||
    fail "sign.sh on a changed tree's build: $(head -n 3 log)"
if verdict changed.exe; then
    fail "verify-release.sh passed a changed tree's build"
elif ! grep -q "was built from a tree with changes: no commit can be proven" log; then
    fail "verify-release.sh on a changed tree's build: $(cat log)"
else
    ok "verify-release.sh refuses a changed tree's build: $(tail -n 1 log | cut -c1-100)"
fi

cp nested.exe signed/launcher.exe
exit $failed
