#!/usr/bin/python3
"""Reads launcher.exe's version resource (type 16, id 1) back from the built file and checks
it against the project's version and the names that the consent prompt and Explorer show:
the numeric and text FileVersion and ProductVersion, the company, the description, the
original file name; US English in code page 1252. ProductVersion names the commit too:
"<version>+<40-hex hash>", with ".dirty" after it for a tree with changes, or
"<version>+unknown" outside a git checkout.
Usage: check_version.py <launcher.exe> <version, as CMake's project VERSION: 1.2.3>"""
import re
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "release"))
import pe  # noqa: E402  the release tools' reader of PE images and of the version tree

NAMES = {
    "CompanyName": "Orvalent",
    "FileDescription": "Quaverline driver setup",
    "InternalName": "launcher",
    "LegalCopyright": "(C) 2026 Orvalent",
    "OriginalFilename": "launcher.exe",
    "ProductName": "Quaverline",
}
FIXED_SIGNATURE, VFT_APP, VOS__WINDOWS32 = 0xFEEF04BD, 1, 4


def main(exe, version):
    found = [data for kind, name, _, data in pe.Image(open(exe, "rb").read()).resources()
             if (kind, name) == (pe.RT_VERSION, 1)]
    if len(found) != 1:
        print(f"FAIL: {len(found)} version resources (type 16, id 1)")
        return 1
    key, fixed, children, _ = pe.version_node(found[0])
    failures = []
    numbers = [int(part) for part in version.split(".")] + [0] * (4 - len(version.split(".")))
    packed = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    file_os, file_type = struct.unpack_from("<2I", fixed, 32)
    if key != "VS_VERSION_INFO" or signature != FIXED_SIGNATURE:
        failures.append(f"the root is {key!r} with signature {signature:#x}")
    if (file_ms, file_ls) != packed or (product_ms, product_ls) != packed:
        failures.append(f"numeric versions {file_ms:#x} {file_ls:#x}, product {product_ms:#x} "
                        f"{product_ls:#x}, for {version}")
    if (file_os, file_type) != (VOS__WINDOWS32, VFT_APP):
        failures.append(f"file OS {file_os:#x}, type {file_type}")
    blocks = {k: c for k, _, c in children}
    tables = {k: c for k, _, c in blocks.get("StringFileInfo", [])}
    strings = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in tables.get("040904E4", [])}
    expected = dict(NAMES, FileVersion=version)
    for name, text in expected.items():
        if strings.get(name) != text:
            failures.append(f"{name} is {strings.get(name)!r}, not {text!r}")
    product = strings.get("ProductVersion", "")
    if not re.fullmatch(re.escape(version) + r"\+([0-9a-f]{40}(\.dirty)?|unknown)", product):
        failures.append(f"ProductVersion is {product!r}, not {version}+<commit>")
    translations = [v for k, v, _ in blocks.get("VarFileInfo", []) if k == "Translation"]
    if translations != [struct.pack("<HH", 0x409, 1252)]:
        failures.append(f"translations {translations}, not US English in code page 1252")
    for failure in failures:
        print(f"FAIL: version resource: {failure}")
    if not failures:
        print(f"version resource: {product}, \"{strings['FileDescription']}\" by "
              f"{strings['CompanyName']}")
    return 1 if failures else 0


sys.exit(main(sys.argv[1], sys.argv[2]))
