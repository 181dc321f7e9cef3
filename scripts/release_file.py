#!/usr/bin/python3
"""What the release scripts read from a launcher.exe, by its structure alone: never from a
tool's printed report, and never from text that a signer chooses.

  release_file.py commit <launcher.exe>
      The commit that its version resource names (ProductVersion "1.0.0+<hash>"):
      "commit <hash>", "changed <hash>" (built from a tree with changes) or "unknown".
  release_file.py signatures <launcher.exe> <signer subject> <folder>
      Checks the Authenticode signatures' structure and the first one's signer; prints their
      number and, on a second line, the first signer's subject. Leaves in <folder>, for each
      signature N from 0, signer-N.pem and certificates-N.pem (its signer's certificate, and
      every certificate it carries).
  release_file.py folder <signed.exe>
      Refuses the folder of <signed.exe> where another user could swap a file there.
  release_file.py write <file> <signed.exe>
      Writes a copy of <file> as <signed.exe>, through a file that it creates itself in that
      folder (which must pass "folder") and renames into place; prints the bytes written.
  release_file.py differences <given.exe> <rebuilt.exe>
      Where two images differ, by region: a section, the headers, the certificate table.

Exits 1 with one line that says why when the file is refused, 2 when it cannot be read or
asn1crypto is missing. The signatures are parsed with asn1crypto (Debian's
python3-asn1crypto), which is why it runs Debian's python3 (another may come first on PATH).
"""
import os
import re
import secrets
import signal
import stat
import struct
import sys
import unicodedata


class Refused(Exception):
    """Why the file is refused, in one line."""


# ---- the PE image -------------------------------------------------------------------------

class Image:
    """The headers of a PE image: its sections and data directories."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise Refused("not a PE image (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            raise Refused("not a PE image (no PE header)")
        count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B) or optional + optional_size > len(data):
            raise Refused("not a PE image (no optional header)")
        self.headers_size = struct.unpack_from("<I", data, optional + 60)[0]
        self.directories = optional + (96 if magic == 0x10B else 112)
        self.directory_count = struct.unpack_from("<I", data, self.directories - 4)[0]
        table = optional + optional_size
        self.sections = []  # (name, virtual address, virtual size, raw offset, raw size)
        for i in range(count):
            name, vsize, address, size, offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), address, vsize, offset, size))

    def directory(self, index):
        """(address, size) of a data directory, or (0, 0) where the image has none."""
        if index >= self.directory_count:
            return 0, 0
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def at(self, address):
        """The file offset of a virtual address."""
        for _, start, vsize, offset, size in self.sections:
            if start <= address < start + max(vsize, size):
                return offset + address - start
        raise Refused(f"an address, 0x{address:x}, in no section")


RT_VERSION = 16


def version_resource(image):
    """The data of resource type 16, name 1, in its first language."""
    address, _ = image.directory(2)
    if address == 0:
        raise Refused("no resources")
    root = image.at(address)

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<12xHH", image.data, directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image.data, directory + 16 + 8 * i)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        raise Refused("no version resource")

    level = root + (entry(root, RT_VERSION) & 0x7FFFFFFF)
    level = root + (entry(level, 1) & 0x7FFFFFFF)
    data_entry = root + entry(level, None)
    address, size = struct.unpack_from("<II", image.data, data_entry)
    start = image.at(address)
    return image.data[start:start + size]


def version_node(data, at):
    """One node of a version tree: (key, value bytes, children, end)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    end = at + 6
    while data[end:end + 2] != b"\0\0":
        end += 2
    key = data[at + 6:end].decode("utf-16-le")
    value_at = (end + 2 + 3) & ~3
    value = data[value_at:value_at + (value_length * 2 if is_text else value_length)]
    children, child = [], (value_at + len(value) + 3) & ~3
    while child < at + length:
        children.append(version_node(data, child))
        child = (children[-1][3] + 3) & ~3
    return key, value, children, at + length


def product_version(image):
    _, _, blocks, _ = version_node(version_resource(image), 0)
    for key, _, tables, _ in blocks:
        if key == "StringFileInfo":
            for _, _, strings, _ in tables:
                for name, value, _, _ in strings:
                    if name == "ProductVersion":
                        return value.decode("utf-16-le").rstrip("\0")
    raise Refused("no ProductVersion in its version resource")


def named_commit(image):
    text = product_version(image)
    found = re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+\+(?:([0-9a-f]{40})(\.dirty)?|unknown)", text)
    if not found:
        raise Refused(f"no commit named: its ProductVersion is {printable(text)}")
    if found.group(1) is None:
        return "unknown"
    return ("changed " if found.group(2) else "commit ") + found.group(1)


# ---- the signatures -----------------------------------------------------------------------

SIGNED_DATA = "1.2.840.113549.1.7.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_SP_OPUS_INFO = "1.3.6.1.4.1.311.2.1.12"  # the description and URL
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
TIME_STAMPS = {"1.3.6.1.4.1.311.3.3.1", "1.2.840.113549.1.9.6"}  # RFC 3161, PKCS #9
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002

# The names of openssl's one-line form ("/O=Orvalent/CN=..."), as --signer gives them.
SHORT_NAMES = {
    "C": "2.5.4.6", "ST": "2.5.4.8", "L": "2.5.4.7", "O": "2.5.4.10", "OU": "2.5.4.11",
    "CN": "2.5.4.3", "street": "2.5.4.9", "postalCode": "2.5.4.17", "serialNumber": "2.5.4.5",
    "title": "2.5.4.12", "SN": "2.5.4.4", "GN": "2.5.4.42", "businessCategory": "2.5.4.15",
    "organizationIdentifier": "2.5.4.97", "emailAddress": "1.2.840.113549.1.9.1",
    "DC": "0.9.2342.19200300.100.1.25", "UID": "0.9.2342.19200300.100.1.1",
    "jurisdictionL": "1.3.6.1.4.1.311.60.2.1.1", "jurisdictionST": "1.3.6.1.4.1.311.60.2.1.2",
    "jurisdictionC": "1.3.6.1.4.1.311.60.2.1.3",
}
OIDS = {oid: name for name, oid in SHORT_NAMES.items()}


def printable(text):
    """Text as it may be shown: every control or format character as an escape."""
    return "".join(f"\\u{ord(c):04x}" if unicodedata.category(c) in ("Cc", "Cf") else c
                   for c in str(text))


def parse_signer(text):
    """--signer as a name: its relative names in order, each a list of (OID, value)."""
    if not text.startswith("/"):
        raise Refused(f"not judged: --signer {printable(text)} is not of the form "
                      "/O=.../CN=...")
    parts, part, escaped = [[[""]]], None, False
    for c in text[1:]:
        part = parts[-1][-1]
        if escaped:
            part[-1] += c
            escaped = False
        elif c == "\\":
            escaped = True
        elif c == "/":
            parts.append([[""]])
        elif c == "+":
            parts[-1].append([""])
        elif c == "=" and len(part) == 1:
            part.append("")
        else:
            part[-1] += c
    name = []
    for rdn in parts:
        attributes = []
        for attribute in rdn:
            if len(attribute) != 2 or not attribute[0]:
                raise Refused(f"not judged: --signer {printable(text)} has "
                              f"{printable(attribute[0])}, not name=value")
            oid = SHORT_NAMES.get(attribute[0], attribute[0])
            if not re.fullmatch(r"[0-9]+(\.[0-9]+)+", oid):
                raise Refused(f"not judged: --signer names {printable(attribute[0])}, which "
                              "is not known here: give its OID (1.2.3=...)")
            attributes.append((oid, attribute[1]))
        name.append(attributes)
    return name


def name_of(x509_name):
    return [[(a["type"].dotted, a["value"].native) for a in rdn] for rdn in x509_name.chosen]


def show_name(name):
    def escape(value):
        return printable(re.sub(r"([/+\\])", r"\\\1", str(value)))
    return "".join("/" + "+".join(f"{OIDS.get(oid, oid)}={escape(value)}" for oid, value in rdn)
                   for rdn in name)


def spc_types():
    """The Authenticode structures of the description and URL (SpcSpOpusInfo)."""
    from asn1crypto import core

    class SpcString(core.Choice):
        _alternatives = [("unicode", core.BMPString, {"implicit": 0}),
                         ("ascii", core.IA5String, {"implicit": 1})]

    class SpcSerializedObject(core.Sequence):
        _fields = [("class_id", core.OctetString), ("serialized_data", core.OctetString)]

    class SpcLink(core.Choice):
        _alternatives = [("url", core.IA5String, {"implicit": 0}),
                         ("moniker", SpcSerializedObject, {"implicit": 1}),
                         ("file", SpcString, {"explicit": 2})]

    class SpcSpOpusInfo(core.Sequence):
        _fields = [("program_name", SpcString, {"explicit": 0, "optional": True}),
                   ("more_info", SpcLink, {"explicit": 1, "optional": True})]

    return SpcSpOpusInfo


def certificate_table(image):
    """The PKCS #7 signature in the image's certificate table, which must be its one entry."""
    offset, size = image.directory(4)
    if size == 0:
        raise Refused("no signature (its certificate table is empty)")
    data = image.data
    if offset < image.headers_size or offset + size > len(data) or size < 8:
        raise Refused(f"a certificate table (0x{offset:x}, {size} bytes) outside the file")
    length, revision, kind = struct.unpack_from("<IHH", data, offset)
    if length < 8 or length > size or (length + 7) & ~7 != size:
        entries = 0
        at = offset
        while at + 8 <= offset + size and struct.unpack_from("<I", data, at)[0] >= 8:
            entries += 1
            at += (struct.unpack_from("<I", data, at)[0] + 7) & ~7
        raise Refused(f"a certificate table of {size} bytes that is not one entry "
                      f"(its first is {length} bytes; {entries} found)")
    if (revision, kind) != (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA):
        raise Refused(f"a certificate table entry of revision 0x{revision:x}, type {kind}: "
                      "not a PKCS #7 signature")
    return data[offset + 8:offset + length], data[offset + length:offset + size]


def one_signer(info, which):
    """The SignedData of a ContentInfo and its one SignerInfo."""
    if info["content_type"].dotted != SIGNED_DATA:
        raise Refused(f"{which} is not a PKCS #7 SignedData ({info['content_type'].dotted})")
    signed = info["content"]
    content = signed["encap_content_info"]["content_type"].dotted
    if content != SPC_INDIRECT_DATA:
        raise Refused(f"{which} does not sign a program's digest (content type {content})")
    if len(signed["signer_infos"]) != 1:
        raise Refused(f"{which} has {len(signed['signer_infos'])} signers, not one")
    return signed, signed["signer_infos"][0]


def signer_certificate(signed, signer, which):
    """The certificate that the SignerInfo names by issuer and serial number."""
    sid = signer["sid"]
    if sid.name != "issuer_and_serial_number":
        raise Refused(f"{which} names its signer by {sid.name}, not by issuer and serial number")
    issuer, serial = sid.chosen["issuer"].dump(), sid.chosen["serial_number"].native
    found = [c.chosen for c in (signed["certificates"] or []) if c.name == "certificate"
             and c.chosen.issuer.dump() == issuer and c.chosen.serial_number == serial]
    if len(found) != 1:
        raise Refused(f"{which} carries its signer's certificate {len(found)} times, not once")
    return found[0]


def check_texts(signer, which):
    """The description and URL: no control or format character, which could make them show
    as another text."""
    opus_info = spc_types()
    for attribute in signer["signed_attrs"] or []:
        if attribute["type"].dotted != SPC_SP_OPUS_INFO:
            continue
        for value in attribute["values"]:
            info = opus_info.load(value.dump(), strict=True)
            for what, field in (("description", "program_name"), ("URL", "more_info")):
                text = info[field].native  # a moniker's is not text, and holds none
                if isinstance(text, str) and any(unicodedata.category(c) in ("Cc", "Cf")
                                                 for c in text):
                    raise Refused(f"{which} has a {what} with a control character: {printable(text)}")


def check_unsigned(signer, which, nested_allowed):
    """The unauthenticated attributes: only nested signatures (in the first signature) and
    time stamps. Returns the nested signatures' ContentInfos."""
    nested = []
    for attribute in signer["unsigned_attrs"] or []:
        oid = attribute["type"].dotted
        if oid == NESTED_SIGNATURE and nested_allowed:
            nested.extend(attribute["values"])
        elif oid not in TIME_STAMPS:
            raise Refused(f"{which} carries an unauthenticated attribute {oid}: only a nested "
                          "signature, an RFC 3161 time stamp or a countersignature may be there")
    return nested


def write_pem(path, certificates):
    import base64
    with open(path, "w") as pem:
        for certificate in certificates:
            text = base64.encodebytes(certificate.dump()).decode().replace("\n", "")
            lines = "\n".join(text[i:i + 64] for i in range(0, len(text), 64))
            pem.write(f"-----BEGIN CERTIFICATE-----\n{lines}\n-----END CERTIFICATE-----\n")


def signatures(image, expected_signer, folder):
    try:
        from asn1crypto import cms
    except ImportError:
        print(f"cannot be checked: {sys.executable} has no asn1crypto (install python3-asn1crypto:"
              " scripts/install.sh)")
        sys.exit(2)
    expected = parse_signer(expected_signer)
    blob, padding = certificate_table(image)
    try:
        outer = cms.ContentInfo.load(blob)
        der = outer.dump()
        if blob[len(der):].strip(b"\0") or padding.strip(b"\0") or len(blob) - len(der) >= 8:
            raise Refused("data after the signature in its certificate table")
        signed, signer = one_signer(outer, "its signature")
        infos = [(signed, signer)]
        for info in check_unsigned(signer, "its signature", True):
            which = f"nested signature {len(infos)}"
            nested_signed, nested_signer = one_signer(info, which)
            check_unsigned(nested_signer, which, False)
            infos.append((nested_signed, nested_signer))
        subjects = []
        for index, (signed, signer) in enumerate(infos):
            which = "its signature" if index == 0 else f"nested signature {index}"
            certificate = signer_certificate(signed, signer, which)
            check_texts(signer, which)
            subjects.append(name_of(certificate.subject))
            write_pem(os.path.join(folder, f"signer-{index}.pem"), [certificate])
            write_pem(os.path.join(folder, f"certificates-{index}.pem"),
                      [c.chosen for c in (signed["certificates"] or []) if c.name == "certificate"])
    except Refused:
        raise
    except Exception as error:  # asn1crypto's own for a malformed structure
        raise Refused(f"a signature that is not well-formed ({type(error).__name__}: "
                      f"{printable(error)})")
    if subjects[0] != expected:
        raise Refused(f"signed first by {show_name(subjects[0])}, not by {show_name(expected)}")
    print(len(infos))
    print(show_name(subjects[0]))


# ---- writing the signed file --------------------------------------------------------------

def safe_folder(folder):
    """Opens the folder, refusing one where another user could swap the file for a link
    before the rename. Everything after works through the descriptor it returns, so that no
    change to the path above it matters."""
    directory = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    info = os.fstat(directory)
    if info.st_uid not in (0, os.geteuid()):
        raise Refused(f"the folder {folder} belongs to another user (uid {info.st_uid}), who "
                      "could swap the file there before it is in place: choose a folder of "
                      "your own")
    if info.st_mode & (stat.S_IWGRP | stat.S_IWOTH) and not info.st_mode & stat.S_ISVTX:
        raise Refused(f"the folder {folder} can be written by others and is not sticky, so "
                      "the file could be swapped there before it is in place: choose a folder "
                      "of your own")
    try:
        access_list = "system.posix_acl_access" in os.listxattr(directory)
    except OSError:
        access_list = False
    if access_list:
        raise Refused(f"the folder {folder} has an access list, so it cannot be told who may "
                      "write there: choose a folder of your own")
    return directory


def write(source, out):
    folder, name = os.path.split(os.path.abspath(out))
    directory = safe_folder(folder)
    with open(source, "rb") as given:
        data = given.read()
    # Created there, exclusively and never through a link; written and made readable through
    # its descriptor alone; renamed over the output (a link there is replaced, not followed).
    for _ in range(100):
        partial = f".{name}.{secrets.token_hex(8)}"
        try:
            descriptor = os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW,
                                 0o600, dir_fd=directory)
            break
        except FileExistsError:
            continue
    else:
        raise Refused(f"no file of its own could be made in {folder}")
    renamed = False
    try:
        os.fchmod(descriptor, 0o644)
        view = memoryview(data)
        while view:
            view = view[os.write(descriptor, view):]
        os.fsync(descriptor)
        written = os.fstat(descriptor)
        os.rename(partial, name, src_dir_fd=directory, dst_dir_fd=directory)
        renamed = True
    finally:
        os.close(descriptor)
        if not renamed:
            os.unlink(partial, dir_fd=directory)
    placed = os.stat(name, dir_fd=directory, follow_symlinks=False)
    if (placed.st_dev, placed.st_ino) != (written.st_dev, written.st_ino):
        raise Refused(f"{out} is not the file written: it was swapped before it was in place")
    print(len(data))


# ---- where two images differ --------------------------------------------------------------

def differences(given, rebuilt):
    image = Image(rebuilt)
    places = [("the headers", 0, image.headers_size)]
    places += [(name, offset, size) for name, _, _, offset, size in image.sections]
    places.append(("the certificate table", *image.directory(4)))

    def place(at):
        for name, start, size in places:
            if start <= at < start + size:
                return name
        return "past the image"
    first, count = {}, 0
    for at in range(max(len(given), len(rebuilt))):
        if at >= len(given) or at >= len(rebuilt) or given[at] != rebuilt[at]:
            count += 1
            first.setdefault(place(at), at)
    text = ", ".join(f"{name} from 0x{at:x}" for name, at in first.items())
    print(f"{text}; {count} bytes in all" + ("; the sizes differ" if len(given) != len(rebuilt) else ""))


def main(arguments):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # the partial file goes with it
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(1))
    commands = {"commit": 1, "signatures": 3, "folder": 1, "write": 2, "differences": 2}
    if not arguments or commands.get(arguments[0]) != len(arguments) - 1:
        print(__doc__, file=sys.stderr)
        return 2
    command, paths = arguments[0], arguments[1:]
    try:
        if command == "folder":
            os.close(safe_folder(os.path.dirname(os.path.abspath(paths[0]))))
            return 0
        if command == "write":
            write(*paths)
            return 0
        with open(paths[0], "rb") as file:
            data = file.read()
        if command == "differences":
            with open(paths[1], "rb") as file:
                differences(data, file.read())
        elif command == "commit":
            print(named_commit(Image(data)))
        else:
            signatures(Image(data), paths[1], paths[2])
    except Refused as refused:
        print(refused)
        return 1
    except (struct.error, IndexError, UnicodeDecodeError) as error:
        print(f"not a PE image that can be read ({type(error).__name__}: {error})")
        return 1
    except OSError as error:
        print(f"cannot read or write: {error}")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
