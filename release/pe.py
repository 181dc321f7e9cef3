"""The one reader of PE images that the release tools and the tests' checks share.

pefile (Debian's python3-pefile) reads the headers, the sections, the data directories and
the resource directory. The certificate table and the version tree are read here, strictly:
pefile takes what it can of a malformed version tree (a node whose length is 0 ends its table
there), where a release tool must refuse, not guess. Every length is checked against what
holds it, and every walk moves on, so that a hostile file is refused, never read for ever.
"""
import hashlib
import struct

import pefile

MAX_FILE_SIZE = 16 * 1024 * 1024  # a launcher.exe is 26 KB; a signed one some 30 KB
SECURITY_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
RESOURCE_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]
RT_VERSION, RT_MANIFEST = 16, 24
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
MAX_VERSION_DEPTH = 4  # VS_VERSIONINFO, StringFileInfo, a string table, a string


class Refused(Exception):
    """Why a file is refused, in one line."""


def plural(count, noun):
    return f"{count} {noun}" + ("" if count == 1 else "s")


class Image:
    """A PE image's bytes and its headers as pefile reads them."""

    def __init__(self, data):
        if len(data) > MAX_FILE_SIZE:
            raise Refused(f"a file of {len(data)} bytes, more than any launcher.exe")
        try:
            self.pe = pefile.PE(data=bytes(data), fast_load=True)
        except pefile.PEFormatError as error:
            raise Refused(f"not a PE image ({error.value})") from None
        self.data = bytes(data)
        optional = self.pe.OPTIONAL_HEADER
        if optional.NumberOfRvaAndSizes <= SECURITY_DIRECTORY:
            raise Refused("not a PE image with a certificate table's directory entry")
        self.checksum_at = optional.get_file_offset() + 64
        self.table_entry_at = optional.DATA_DIRECTORY[SECURITY_DIRECTORY].get_file_offset()
        self.table_at = optional.DATA_DIRECTORY[SECURITY_DIRECTORY].VirtualAddress
        self.table_size = optional.DATA_DIRECTORY[SECURITY_DIRECTORY].Size

    def sections(self):
        """(name, file offset, size in the file) of each section, in the headers' order."""
        return [(s.Name.rstrip(b"\0").decode("latin-1"), s.PointerToRawData, s.SizeOfRawData)
                for s in self.pe.sections]

    def certificate_table(self):
        """The one WIN_CERTIFICATE entry of the certificate table: its PKCS #7 bytes, and the
        bytes after them in the entry. The table must be the file's end, after the sections,
        and hold exactly one entry of revision 2.0 and PKCS #7 type."""
        offset, size, data = self.table_at, self.table_size, self.data
        if size == 0 and offset == 0:
            raise Refused("no signature (its certificate table is empty)")
        sections_end = max((start + length for _, start, length in self.sections()), default=0)
        if offset < sections_end or offset + size != len(data) or size < 8 or offset % 8:
            raise Refused(f"a certificate table (0x{offset:x}, {plural(size, 'byte')}) that is "
                          f"not the end of the file after its sections ({len(data)} bytes)")
        if data[sections_end:offset].strip(b"\0") or offset - sections_end >= 8:
            raise Refused("data between the sections and the certificate table")
        length, revision, kind = struct.unpack_from("<IHH", data, offset)
        if length < 8 or (length + 7) & ~7 != size:
            raise Refused(f"a certificate table of {plural(size, 'byte')} that is not one entry "
                          f"(its first is {plural(length, 'byte')})")
        if (revision, kind) != (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA):
            raise Refused(f"a certificate table entry of revision 0x{revision:x}, type {kind}: "
                          "not a PKCS #7 signature")
        return data[offset + 8:offset + length], data[offset + length:offset + size]

    def is_signed(self):
        return self.table_size != 0 or self.table_at != 0

    def digest(self, algorithm):
        """The image's Authenticode digest: every byte before the certificate table but the
        checksum and the table's directory entry."""
        end = self.table_at if self.is_signed() else len(self.data)
        if not (self.checksum_at + 4 <= self.table_entry_at and self.table_entry_at + 8 <= end):
            raise Refused("headers that overlap the certificate table")
        digest = hashlib.new(algorithm)
        digest.update(self.data[:self.checksum_at])
        digest.update(self.data[self.checksum_at + 4:self.table_entry_at])
        digest.update(self.data[self.table_entry_at + 8:end])
        return digest.digest()

    def with_table(self, table):
        """The image with `table` as its certificate table, after zero padding to 8 bytes, and
        the checksum made anew: the file that a signature of those bytes makes of it."""
        image = bytearray(self.data) + bytes(-len(self.data) % 8)
        struct.pack_into("<II", image, self.table_entry_at, len(image), len(table))
        image += table
        struct.pack_into("<I", image, self.checksum_at, 0)
        struct.pack_into("<I", image, self.checksum_at, checksum(image, self.checksum_at))
        return bytes(image)

    def resources(self):
        """(type, name, language, data) of every resource; a type or name is a number, or
        the text that names it."""
        self.pe.parse_data_directories(directories=[RESOURCE_DIRECTORY])
        found = []
        for kind in entries(self.pe, "DIRECTORY_ENTRY_RESOURCE"):
            for name in entries(kind, "directory"):
                for language in entries(name, "directory"):
                    entry = language.data.struct
                    data = self.pe.get_data(entry.OffsetToData, entry.Size)
                    if len(data) != entry.Size:
                        raise Refused(f"a resource of {plural(entry.Size, 'byte')} that the file "
                                      "does not hold")
                    found.append((label(kind), label(name), language.id, data))
        return found

    def version_resource(self):
        found = [data for kind, name, _, data in self.resources() if (kind, name) == (RT_VERSION, 1)]
        if len(found) != 1:
            raise Refused(f"{plural(len(found), 'version resource')} (type 16, id 1), not one")
        return found[0]


def entries(holder, directory):
    """The entries of a resource directory that pefile read, or none where it read none."""
    found = getattr(holder, directory, None)
    return getattr(found, "entries", None) or []


def label(entry):
    return entry.id if entry.id is not None else str(entry.name)


def checksum(image, checksum_at):
    """The PE checksum, as Windows computes it: 16-bit words added with their carries, the
    checksum field itself left out, plus the file's length."""
    total = 0
    words = struct.unpack_from(f"<{len(image) // 2}H", image)
    for index, word in enumerate(words):
        if index * 2 in (checksum_at, checksum_at + 2):
            continue
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    if len(image) % 2:
        total += image[-1]
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


def version_node(data, at=0, end=None, depth=0):
    """One node of a version tree (VS_VERSIONINFO and what it holds): (key, value, children,
    end). A node holds its header and its key, lies within what holds it, and every child
    lies within it, so that each step moves on."""
    end = len(data) if end is None else end
    if depth > MAX_VERSION_DEPTH:
        raise Refused("a version tree deeper than any version resource")
    if at + 6 > end:
        raise Refused("a version node past the end of what holds it")
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    node_end = at + length
    if length < 6 or node_end > end:
        raise Refused(f"a version node of {plural(length, 'byte')} where {end - at} remain")
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end + 2 > node_end:
            raise Refused("a version node's key without its end")
    try:
        key = data[at + 6:key_end].decode("utf-16-le")
    except UnicodeDecodeError:
        raise Refused("a version node's key that is no UTF-16 text") from None
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if is_text else value_length
    if value_length and value_at + value_size > node_end:
        raise Refused(f"a version node's value of {plural(value_size, 'byte')} past its end")
    value = data[value_at:value_at + value_size]
    children, child = [], (value_at + value_size + 3) & ~3
    while child < node_end:
        key_of, value_of, children_of, child_end = version_node(data, child, node_end, depth + 1)
        children.append((key_of, value_of, children_of))
        child = (child_end + 3) & ~3
    return key, value, children, node_end


def version_strings(resource):
    """The strings of the first table of a version resource's StringFileInfo, with the
    fixed-size part and the translations: (strings, fixed, translations)."""
    _, fixed, blocks, _ = version_node(resource)
    strings, translations = {}, []
    for key, _, children in blocks:
        if key == "StringFileInfo" and children and not strings:
            for name, value, _ in children[0][2]:
                try:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
                except UnicodeDecodeError:
                    raise Refused(f"a version string {name} that is no UTF-16 text") from None
        elif key == "VarFileInfo":
            translations += [value for name, value, _ in children if name == "Translation"]
    return strings, fixed, translations
