#!/usr/bin/python3
"""Checks what launcher.exe's PE headers and resources declare, as Debian's python3-pefile
reads them:
- hardening: DYNAMIC_BASE (loaded at any address), NX_COMPAT (data never runs) and, in a
  32-bit image, NO_SEH (no structured exception handler named on an overwritten stack is
  honoured) and TERMINAL_SERVER_AWARE (on a Remote Desktop Session Host the Windows folder is
  the system's, not a per-user copy its user may write to); no section writable and executable;
- the manifest (type 24, id 1): an asm.v1 assembly of manifestVersion 1.0 that asks, inside an
  asm.v2 trustInfo (the namespace Windows XP SP2 reads without fault), for the highest rights
  the user has, and no supportedOS entries (they would change what GetVersionExA reports);
- the version resource (type 16, id 1): the project's version, numeric and text, the names
  the consent prompt and Explorer show, US English in code page 1252, and ProductVersion
  "<version>+<40-hex commit>", ".dirty" after it for a tree with changes, or "+unknown".
Usage: check_pe.py <launcher.exe> <version, as CMake's project VERSION: 1.2.3>
       check_pe.py --product-version <launcher.exe>   prints its ProductVersion"""
import re
import sys
import xml.etree.ElementTree as ET

import pefile

DLL_FLAGS = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100, "NO_SEH": 0x0400,
             "TERMINAL_SERVER_AWARE": 0x8000}
SCN_MEM_EXECUTE, SCN_MEM_WRITE, PE32_PLUS = 0x20000000, 0x80000000, 0x20B
RT_VERSION, RT_MANIFEST = 16, 24
V1, V2 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2"
NAMES = {"CompanyName": "Orvalent", "FileDescription": "Quaverline driver setup",
         "InternalName": "launcher", "LegalCopyright": "(C) 2026 Orvalent",
         "OriginalFilename": "launcher.exe", "ProductName": "Quaverline"}
FIXED_SIGNATURE, VFT_APP, VOS__WINDOWS32 = 0xFEEF04BD, 1, 4


def resources(image, kind):
    return [image.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for entry in image.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == kind
            for name in entry.directory.entries if name.id == 1
            for language in name.directory.entries]


def strings(image):
    """The strings of the US English, code page 1252 table, and the translations."""
    table, translations = {}, []
    for info in getattr(image, "FileInfo", [[]])[0]:
        for found in getattr(info, "StringTable", []):
            if found.LangID == b"040904E4":
                table = {k.decode(): v.decode() for k, v in found.entries.items()}
        translations += [v.entry.get(b"Translation") for v in getattr(info, "Var", [])]
    return table, translations


def hardening(image):
    flags = image.OPTIONAL_HEADER.DllCharacteristics
    failures = [f"DllCharacteristics {flags:#06x} lacks {name}" for name, bit in DLL_FLAGS.items()
                if not flags & bit and not (name == "NO_SEH" and image.OPTIONAL_HEADER.Magic == PE32_PLUS)]
    failures += [f"section {s.Name.rstrip(bytes(1)).decode()} is writable and executable"
                 for s in image.sections
                 if s.Characteristics & SCN_MEM_EXECUTE and s.Characteristics & SCN_MEM_WRITE]
    return failures, f"DllCharacteristics {flags:#06x}, no section writable and executable"


def manifest(image):
    found = resources(image, RT_MANIFEST)
    if len(found) != 1:
        return [f"{len(found)} manifests (resource type 24, id 1)"], ""
    try:
        root = ET.fromstring(found[0])
    except ET.ParseError as error:
        return [f"the manifest is not well-formed XML: {error}"], ""
    failures = []
    if root.tag != f"{{{V1}}}assembly" or root.get("manifestVersion") != "1.0":
        failures.append(f"the manifest's root is {root.tag} of version {root.get('manifestVersion')}")
    path = "/".join(f"{{{V2}}}{step}" for step in
                    ("trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"))
    levels = [(e.get("level"), e.get("uiAccess")) for e in root.findall(path)]
    if levels != [("highestAvailable", "false")]:
        failures.append(f"the manifest asks for {levels} in an asm.v2 trustInfo")
    if any(e.tag.endswith("}supportedOS") for e in root.iter()):
        failures.append("the manifest names supportedOS entries")
    return failures, "a manifest that asks for highestAvailable"


def version(image, wanted):
    if len(resources(image, RT_VERSION)) != 1:
        return ["not one version resource (type 16, id 1)"], ""
    fixed = image.VS_FIXEDFILEINFO[0]
    numbers = [int(part) for part in wanted.split(".")] + [0] * (4 - len(wanted.split(".")))
    packed = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    failures = []
    if image.VS_VERSIONINFO[0].Key != b"VS_VERSION_INFO" or fixed.Signature != FIXED_SIGNATURE:
        failures.append("the version resource's root is no VS_VERSION_INFO")
    for name in ("File", "Product"):
        got = (getattr(fixed, f"{name}VersionMS"), getattr(fixed, f"{name}VersionLS"))
        if got != packed:
            failures.append(f"numeric {name}Version {got[0]:#x} {got[1]:#x}, for {wanted}")
    if (fixed.FileOS, fixed.FileType) != (VOS__WINDOWS32, VFT_APP):
        failures.append(f"file OS {fixed.FileOS:#x}, type {fixed.FileType}")
    table, translations = strings(image)
    for name, text in dict(NAMES, FileVersion=wanted).items():
        if table.get(name) != text:
            failures.append(f"{name} is {table.get(name)!r}, not {text!r}")
    product = table.get("ProductVersion", "")
    if not re.fullmatch(re.escape(wanted) + r"\+([0-9a-f]{40}(\.dirty)?|unknown)", product):
        failures.append(f"ProductVersion is {product!r}, not {wanted}+<commit>")
    if translations != ["0x0409 0x04e4"]:
        failures.append(f"translations {translations}, not US English in code page 1252")
    return failures, f"version {product}"


def main(arguments):
    if arguments[0] == "--product-version":
        print(strings(pefile.PE(arguments[1]))[0].get("ProductVersion", ""))
        return 0
    image = pefile.PE(arguments[0])
    failures, said = [], []
    for check in (hardening(image), manifest(image), version(image, arguments[1])):
        failures += check[0]
        said.append(check[1])
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("; ".join(said))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
