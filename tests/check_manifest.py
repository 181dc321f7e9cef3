#!/usr/bin/python3
"""Checks the application manifest that the built launcher.exe carries (resource type 24,
id 1): well-formed XML, an asm.v1 assembly of manifestVersion 1.0 that asks, inside an
asm.v2 trustInfo (the namespace Windows XP SP2 reads without fault), for the highest rights
the user has, and no supportedOS entries (they would change what GetVersionExA reports).
Usage: check_manifest.py <launcher.exe>"""
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "release"))
import pe  # noqa: E402  the release tools' reader of PE images

V1, V2 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2"


def main(exe):
    found = [data for kind, name, _, data in pe.Image(open(exe, "rb").read()).resources()
             if (kind, name) == (pe.RT_MANIFEST, 1)]
    failures = []
    if len(found) != 1:
        print(f"FAIL: {len(found)} manifests (resource type 24, id 1)")
        return 1
    try:
        root = ET.fromstring(found[0])
    except ET.ParseError as error:
        print(f"FAIL: the manifest is not well-formed XML: {error}")
        return 1
    if root.tag != f"{{{V1}}}assembly" or root.get("manifestVersion") != "1.0":
        failures.append(f"the root is {root.tag} of version {root.get('manifestVersion')}")
    path = "/".join(f"{{{V2}}}{step}" for step in
                    ("trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel"))
    levels = root.findall(path)
    if [(e.get("level"), e.get("uiAccess")) for e in levels] != [("highestAvailable", "false")]:
        failures.append(f"execution levels asked in an asm.v2 trustInfo: "
                        f"{[e.attrib for e in levels]}")
    if any(e.tag.endswith("}supportedOS") for e in root.iter()):
        failures.append("it names supportedOS entries")
    for failure in failures:
        print(f"FAIL: manifest: {failure}")
    if not failures:
        print(f"manifest: {len(found[0])} bytes, asks for highestAvailable in an asm.v2 trustInfo")
    return 1 if failures else 0


sys.exit(main(sys.argv[1]))
