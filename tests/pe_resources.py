"""The resources of a built PE image, as the toolchain's windres reads them back: each
entry's type, name, language and data. Shared by the binary checks."""
import struct
import subprocess
import tempfile


def resources(res):
    """(type, name, language, data) of each entry of a .res file."""
    at = 0
    while at + 8 <= len(res):
        data_size, header_size = struct.unpack_from("<II", res, at)
        fields, ids = at + 8, []
        for _ in range(2):  # type, then name: 0xFFFF and an id, or a NUL-ended UTF-16 text
            if struct.unpack_from("<H", res, fields)[0] == 0xFFFF:
                ids.append(struct.unpack_from("<H", res, fields + 2)[0])
                fields += 4
            else:
                end = res.index(b"\0\0", fields)
                end += (end - fields) % 2
                ids.append(res[fields:end].decode("utf-16-le"))
                fields = end + 2
        fields = (fields + 3) & ~3
        language = struct.unpack_from("<H", res, fields + 6)[0]
        start = at + header_size
        yield ids[0], ids[1], language, res[start:start + data_size]
        at = (start + data_size + 3) & ~3


def read_resources(exe):
    """(type, name, language, data) of each resource of a PE image."""
    with tempfile.NamedTemporaryFile(suffix=".res") as res:
        subprocess.run(["i686-w64-mingw32-windres", "-J", "coff", "-i", exe, "-O", "res",
                        "-o", res.name], check=True)
        return list(resources(open(res.name, "rb").read()))
