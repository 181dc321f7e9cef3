"""Whether a launcher.exe is signed by the release certificate, and in no other way.

The release certificate is given, never taken from the file: every signature in the file
must name it as its signer (issuer and serial number) and verify with its public key; the
certificate must chain to the trusted root by openssl's exit status. Nothing else may be
there: one certificate-table entry, one SignedData with one SignerInfo in each signature,
the release certificate and its chain in each bag and nothing more, the first signature
SHA-256 and a nested one SHA-1 or SHA-256, and no unauthenticated attribute but one nested
signature (in the first) and an RFC 3161 time stamp, each verified. Whatever no check here
proved is refused, in one line.

Libraries: asn1crypto reads the DER (it keeps each value's own bytes, so what is hashed is
what the file holds); python3-cryptography verifies each signature with the release key;
hashlib makes the digests; openssl verifies the certificate's chain and the time stamps.
"""
import hashlib
import os
import subprocess
import tempfile

from asn1crypto import algos, cms, core, tsp  # tsp: RFC 3161 tokens parse as themselves
from cryptography import x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.serialization import Encoding
from cryptography.x509.oid import ExtendedKeyUsageOID

from pe import Refused, plural

SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
RFC3161_TIME_STAMP = "1.3.6.1.4.1.311.3.3.1"
HASHES = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384,
          "sha512": hashes.SHA512}
FIRST_DIGESTS, NESTED_DIGESTS = ("sha256",), ("sha1", "sha256")
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
NAMES = {"sha1": "SHA-1", "sha256": "SHA-256", "sha384": "SHA-384", "sha512": "SHA-512"}


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    """What an Authenticode signature signs: the kind of file, and its image's digest."""
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


class SignedContent(core.Sequence):
    """A SignedData's encapsulated content, read again from its own bytes as Authenticode's."""
    _fields = [("content_type", core.ObjectIdentifier),
               ("content", SpcIndirectDataContent, {"explicit": 0})]


class Release:
    """The release certificate: its own bytes, parsed once."""

    def __init__(self, path):
        with open(path, "rb") as file:
            data = file.read()
        pem = data.count(b"-----BEGIN CERTIFICATE-----")
        if pem > 1:
            raise Refused(f"{path} holds {plural(pem, 'certificate')}: give the release "
                          "certificate alone")
        try:
            self.certificate = (x509.load_pem_x509_certificate(data) if pem
                                else x509.load_der_x509_certificate(data))
        except ValueError as error:
            raise Refused(f"the release certificate {path} cannot be read ({error})") from None
        self.path = path
        self.der = self.certificate.public_bytes(Encoding.DER)
        try:
            usages = self.certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage)
        except x509.ExtensionNotFound:
            usages = None
        if usages is None or ExtendedKeyUsageOID.CODE_SIGNING not in usages.value:
            raise Refused(f"the release certificate {path} is not for code signing")

    def fingerprint(self):
        return hashlib.sha256(self.der).hexdigest()


def verifies(key, signature, data, digest):
    """Whether `signature` over `data` verifies with `key`, by the library."""
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(signature, data, padding.PKCS1v15(), digest())
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signature, data, ec.ECDSA(digest()))
        else:
            return False
    except InvalidSignature:
        return False
    return True


def issued(parent, child):
    """Whether `parent` issued `child`: its name, and its key verifies the child's signature."""
    digest = type(child.signature_hash_algorithm) if child.signature_hash_algorithm else None
    return (digest is not None and parent.subject == child.issuer and
            verifies(parent.public_key(), child.signature, child.tbs_certificate_bytes, digest))


def chain_in_bag(signed, release, which):
    """The certificates of the bag, which must be the release certificate and certificates of
    its chain, each once: returns the chain's, the release certificate left out."""
    bag = []
    for choice in signed["certificates"] or []:
        if choice.name != "certificate":
            raise Refused(f"{which} carries a {choice.name}, not a certificate")
        bag.append(choice.chosen.dump())
    if len(set(bag)) != len(bag):
        raise Refused(f"{which} carries a certificate twice")
    if release.der not in bag:
        raise Refused(f"{which} does not carry the release certificate")
    others = [x509.load_der_x509_certificate(der) for der in bag if der != release.der]
    chain, current = [], release.certificate
    while current.subject != current.issuer:
        parents = [c for c in others if c not in chain and issued(c, current)]
        if not parents:
            break
        current = parents[0]
        chain.append(current)
    if len(chain) != len(others):
        stray = [c for c in others if c not in chain][0]
        fingerprint = stray.fingerprint(hashes.SHA256()).hex()[:16]
        raise Refused(f"{which} carries a certificate that is not of the release certificate's "
                      f"chain (SHA-256 {fingerprint}...)")
    return chain


def attribute(attributes, name, which):
    """The one value of the one attribute of that name."""
    found = [a for a in attributes if a["type"].native == name]
    if len(found) != 1 or len(found[0]["values"]) != 1:
        raise Refused(f"{which} has {plural(len(found), name + ' attribute')}, not one of one value")
    return found[0]["values"][0]


def check_signature(image, info, release, which, digests):
    """One signature: its SignedData, its signer and what it signs, its bag. Returns its
    SignerInfo, and the certificates of the release certificate's chain that it carries."""
    if info["content_type"].dotted != cms.ContentType.unmap("signed_data"):
        raise Refused(f"{which} is not a PKCS #7 SignedData ({info['content_type'].dotted})")
    signed = info["content"]
    if signed["crls"]:
        raise Refused(f"{which} carries certificate revocation lists")
    if len(signed["signer_infos"]) != 1:
        raise Refused(f"{which} has {plural(len(signed['signer_infos']), 'signer')}, not one")
    signer = signed["signer_infos"][0]
    sid = signer["sid"]
    if (sid.name != "issuer_and_serial_number" or
            sid.chosen["issuer"].dump() != release.certificate.issuer.public_bytes() or
            sid.chosen["serial_number"].native != release.certificate.serial_number):
        raise Refused(f"{which} is not by the release certificate (its signer is named as "
                      "another)")
    digest = signer["digest_algorithm"]["algorithm"].native
    if digest not in digests:
        raise Refused(f"{which} is made with {NAMES.get(digest, digest)}, not "
                      f"{' or '.join(NAMES[d] for d in digests)}")
    if [a["algorithm"].native for a in signed["digest_algorithms"]] != [digest]:
        raise Refused(f"{which} names digest algorithms besides its signer's")

    content = signed["encap_content_info"]
    if content["content_type"].dotted != SPC_INDIRECT_DATA:
        raise Refused(f"{which} does not sign a program (content type "
                      f"{content['content_type'].dotted})")
    signs = SignedContent.load(content.dump(), strict=True)["content"]
    if (signs["data"]["type"].dotted != SPC_PE_IMAGE_DATA or
            signs["message_digest"]["digest_algorithm"]["algorithm"].native != digest):
        raise Refused(f"{which} does not sign a PE image's {NAMES[digest]} digest")
    if signs["message_digest"]["digest"].native != image.digest(digest):
        raise Refused(f"{which} signs another image (its digest is not this file's)")

    attributes = signer["signed_attrs"]
    if attribute(attributes, "content_type", which).dotted != SPC_INDIRECT_DATA:
        raise Refused(f"{which} has a signed content type that is not a program's")
    if attribute(attributes, "message_digest", which).native != hashlib.new(
            digest, signs.contents).digest():
        raise Refused(f"{which} has a signed message digest that is not of what it signs")
    signed_bytes = attributes.dump()
    if signed_bytes[:1] != b"\xa0":
        raise Refused(f"{which} has no signed attributes")
    if not verifies(release.certificate.public_key(), signer["signature"].native,
                    b"\x31" + signed_bytes[1:], HASHES[digest]):
        raise Refused(f"{which} does not verify with the release certificate's key")
    return signer, chain_in_bag(signed, release, which)


def unsigned_attributes(signer, which, nested_allowed):
    """The unauthenticated attributes: (the nested signature or None, the time stamp token or
    None). At most one of each, and nothing else."""
    found = {}
    for attribute_ in signer["unsigned_attrs"] or []:
        oid = attribute_["type"].dotted
        if oid not in (RFC3161_TIME_STAMP,) + ((NESTED_SIGNATURE,) if nested_allowed else ()):
            raise Refused(f"{which} carries an unauthenticated attribute {oid}: only "
                          f"{'a nested signature and ' if nested_allowed else ''}an RFC 3161 "
                          "time stamp may be there")
        if oid in found or len(attribute_["values"]) != 1:
            raise Refused(f"{which} carries more than one {oid}")
        found[oid] = attribute_["values"][0]
    return found.get(NESTED_SIGNATURE), found.get(RFC3161_TIME_STAMP)


def write_pem(folder, name, certificates):
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        for certificate in certificates:
            file.write(certificate.public_bytes(Encoding.PEM))
    return path


def openssl(*arguments):
    """Whether openssl says yes, by its exit status alone, within a minute."""
    try:
        return subprocess.run(["openssl", *arguments], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def check_time_stamp(token, signer, which, tsa_ca_file, folder):
    """An RFC 3161 time stamp of the signer's signature, verified by openssl against the
    time-stamping authority's root: returns when it was made."""
    if token["content_type"].native != "signed_data" or \
            token["content"]["encap_content_info"]["content_type"].native != "tst_info":
        raise Refused(f"{which}'s time stamp is not an RFC 3161 token")
    info = token["content"]["encap_content_info"]["content"].parsed
    imprint = info["message_imprint"]
    algorithm = imprint["hash_algorithm"]["algorithm"].native
    if algorithm not in HASHES:
        raise Refused(f"{which}'s time stamp is made with {algorithm}")
    expected = hashlib.new(algorithm, signer["signature"].native).digest()
    if imprint["hashed_message"].native != expected:
        raise Refused(f"{which}'s time stamp is of another signature")
    path = os.path.join(folder, "token.der")
    with open(path, "wb") as file:
        file.write(token.dump())
    certificates = [x509.load_der_x509_certificate(c.chosen.dump())
                    for c in token["content"]["certificates"] or [] if c.name == "certificate"]
    untrusted = ["-untrusted", write_pem(folder, "tsa-chain.pem", certificates)] if certificates else []
    roots = tsa_ca_file or SYSTEM_BUNDLE
    if not openssl("ts", "-verify", "-token_in", "-in", path, "-digest", expected.hex(),
                   "-CAfile", roots, *untrusted):
        raise Refused(f"{which}'s time stamp does not verify against {roots}" +
                      ("" if tsa_ca_file else " (a private time-stamping authority's root is "
                       "given with --tsa-ca-file)"))
    return info["gen_time"].native


def load_signature(blob):
    """The one ContentInfo of the certificate table's entry, with nothing after it but
    padding to 8 bytes."""
    info = cms.ContentInfo.load(blob)
    der = info.dump()
    if blob[:len(der)] != der or blob[len(der):].strip(b"\0") or len(blob) - len(der) >= 8:
        raise Refused("data after the signature in its certificate table")
    return info


def prove(image, release_path, ca_file, tsa_ca_file):
    """Proves every signature of the image to be the release certificate's; returns a line
    that says what was proven."""
    release = Release(release_path)
    blob, padding_ = image.certificate_table()
    if padding_.strip(b"\0"):
        raise Refused("data after the signature in its certificate table")
    with tempfile.TemporaryDirectory() as folder:
        try:
            info = load_signature(blob)
            signer, chain = check_signature(image, info, release, "its signature", FIRST_DIGESTS)
            nested, token = unsigned_attributes(signer, "its signature", True)
            signatures = [(signer, token, "its signature")]
            if nested is not None:
                which = "its nested signature"
                nested_signer, _ = check_signature(image, nested, release, which, NESTED_DIGESTS)
                _, nested_token = unsigned_attributes(nested_signer, which, False)
                signatures.append((nested_signer, nested_token, which))
            times = [check_time_stamp(t, s, w, tsa_ca_file, folder)
                     for s, t, w in signatures if t is not None]
        except Refused:
            raise
        except Exception as error:  # asn1crypto's or the library's own, on malformed DER
            raise Refused(f"a signature that is not well-formed ({type(error).__name__})") from None
        roots = ca_file or SYSTEM_BUNDLE
        at = signatures[0][1] is not None and times[0]
        when = ["-attime", str(int(at.timestamp()))] if at else []
        untrusted = ["-untrusted", write_pem(folder, "chain.pem", chain)] if chain else []
        leaf = write_pem(folder, "release.pem", [release.certificate])
        if not openssl("verify", "-purpose", "any", "-CAfile", roots, *untrusted, *when, leaf):
            raise Refused(f"the release certificate {release.path} does not lead to the root of "
                          f"{roots}" + ("" if ca_file else " (a private CA's root is given with "
                                        "--ca-file)"))
    kinds = ", nested ".join(NAMES[s["digest_algorithm"]["algorithm"].native]
                             for s, _, _ in signatures)
    stamped = f", time-stamped {min(times):%Y-%m-%d %H:%M:%S} UTC" if times else ""
    return (f"signature: {plural(len(signatures), 'signature')} ({kinds}) verified with the "
            f"release certificate (SHA-256 {release.fingerprint()[:16]}...){stamped}")
