#!/usr/bin/env python3
"""Checks the hardening that launcher.exe's PE headers declare: DYNAMIC_BASE (loaded at any
address), NX_COMPAT (data never runs) and, in a 32-bit image, NO_SEH (the image installs no
structured exception handler, so none named on an overwritten stack is honoured),
TERMINAL_SERVER_AWARE (on a Remote Desktop Session Host the Windows folder is the system's,
not a per-user copy that its user may write to); and no section that is both writable and
executable. Read from the file's own headers.
Usage: check_pe.py <launcher.exe>"""
import struct
import sys

DLL_FLAGS = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100, "NO_SEH": 0x0400,
             "TERMINAL_SERVER_AWARE": 0x8000}
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
PE32, PE32_PLUS = 0x10B, 0x20B


def main(path):
    image = open(path, "rb").read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        print(f"FAIL: {path} is not a PE image")
        return 1
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    flags = struct.unpack_from("<H", image, optional + 70)[0]
    failed = 0
    for name, bit in DLL_FLAGS.items():
        if name == "NO_SEH" and magic == PE32_PLUS:
            continue  # 64-bit code unwinds from tables, never from handlers on the stack
        if not flags & bit:
            print(f"FAIL: DllCharacteristics {flags:#06x} lacks {name}")
            failed = 1
    table = optional + optional_size
    for i in range(sections):
        name, characteristics = struct.unpack_from("<8s28xI", image, table + 40 * i)
        if characteristics & SCN_MEM_EXECUTE and characteristics & SCN_MEM_WRITE:
            print(f"FAIL: section {name.rstrip(bytes(1)).decode()} is writable and executable")
            failed = 1
    if not failed:
        print(f"DllCharacteristics {flags:#06x}; {sections} sections, none writable and executable")
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
