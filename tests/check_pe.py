#!/usr/bin/python3
"""Checks the hardening that launcher.exe's PE headers declare: DYNAMIC_BASE (loaded at any
address), NX_COMPAT (data never runs) and, in a 32-bit image, NO_SEH (the image installs no
structured exception handler, so none named on an overwritten stack is honoured),
TERMINAL_SERVER_AWARE (on a Remote Desktop Session Host the Windows folder is the system's,
not a per-user copy that its user may write to); and no section that is both writable and
executable. Read from the file's own headers, by the release tools' reader (release/pe.py).
Usage: check_pe.py <launcher.exe>"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "release"))
import pe  # noqa: E402

DLL_FLAGS = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100, "NO_SEH": 0x0400,
             "TERMINAL_SERVER_AWARE": 0x8000}
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
PE32_PLUS = 0x20B


def main(path):
    image = pe.Image(open(path, "rb").read()).pe
    flags = image.OPTIONAL_HEADER.DllCharacteristics
    failed = 0
    for name, bit in DLL_FLAGS.items():
        if name == "NO_SEH" and image.OPTIONAL_HEADER.Magic == PE32_PLUS:
            continue  # 64-bit code unwinds from tables, never from handlers on the stack
        if not flags & bit:
            print(f"FAIL: DllCharacteristics {flags:#06x} lacks {name}")
            failed = 1
    for section in image.sections:
        if section.Characteristics & SCN_MEM_EXECUTE and section.Characteristics & SCN_MEM_WRITE:
            print(f"FAIL: section {section.Name.rstrip(bytes(1)).decode()} is writable and executable")
            failed = 1
    if not failed:
        print(f"DllCharacteristics {flags:#06x}; {len(image.sections)} sections, none writable and executable")
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
