#!/usr/bin/env python3
"""What Windows reads of the .exe before running it and what a user sees of it in Explorer: the
icon (an icon group with the sizes Windows picks from), the version and copyright on its Details
tab, its manifest (run as the user who starts it, DPI-aware, the Windows versions it was made
for; Windows refuses to start a program whose manifest does not parse), and that it starts
without MinGW's runtime DLLs beside it. Read with Debian's pefile.

usage: exe_check.py PROGRAM.exe VERSION
"""
import sys
import xml.etree.ElementTree as ElementTree

import pefile

exe, version = sys.argv[1], sys.argv[2]
pe = pefile.PE(exe)
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


def resources(type_id):
    """The data of every resource of one type."""
    table = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in table.entries if table else []:
        if kind.id != type_id:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                yield pe.get_data(entry.OffsetToData, entry.Size)


RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24

groups = list(resources(RT_GROUP_ICON))
check(groups and list(resources(RT_ICON)), "the program carries an icon")
if groups:
    count = int.from_bytes(groups[0][4:6], "little")
    sizes = sorted({(groups[0][6 + 14 * i] or 256) for i in range(count)})
    check({16, 32, 48, 256} <= set(sizes), f"its icon has the sizes Windows shows (16, 32, 48, 256): {sizes}")

strings = {}
for info in getattr(pe, "FileInfo", None) or []:
    for entry in info:
        for table in getattr(entry, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
check(strings.get("FileVersion") == version and strings.get("ProductVersion") == version,
      f"its version information says {version}: {strings.get('FileVersion')}, {strings.get('ProductVersion')}")
copyright_line = strings.get("LegalCopyright", "")
check("Copyright" in copyright_line and "GNU General Public License" in copyright_line,
      f"its Details tab shows a copyright and the licence: '{copyright_line}'")

manifests = list(resources(RT_MANIFEST))
check(len(manifests) == 1, f"it carries one manifest ({len(manifests)})")
if manifests:
    try:
        root = ElementTree.fromstring(manifests[0])
    except ElementTree.ParseError as error:
        root = None
        check(False, f"its manifest parses: {error}")
    if root is not None:
        def found(local_name):
            return [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == local_name]

        levels = [e.get("level") for e in found("requestedExecutionLevel")]
        check(levels == ["asInvoker"], f"it asks to run with the rights of whoever starts it: {levels}")
        windows = {  # Microsoft's identifiers of the Windows versions a program was made for
            "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
            "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
            "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
            "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
        }
        said = {e.get("Id", "").lower() for e in found("supportedOS")}
        missing = [name for guid, name in windows.items() if guid not in said]
        check(not missing, f"it names Windows 7 to 11 as supported (missing: {missing})")
        aware = [(e.text or "").strip() for e in found("dpiAware")]
        awareness = [(e.text or "").strip() for e in found("dpiAwareness")]
        check(aware == ["true/pm"] and awareness and awareness[0].split(",")[0].strip() == "PerMonitorV2",
              f"it is DPI-aware per monitor: dpiAware {aware}, dpiAwareness {awareness}")

dlls = sorted(i.dll.decode().lower() for i in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
runtime = [d for d in dlls if d.startswith(("libstdc++", "libgcc", "libwinpthread"))]
check(not runtime and "kernel32.dll" in dlls, f"it needs only Windows' own DLLs: {' '.join(dlls)}")

sys.exit(1 if failures else 0)
