#!/usr/bin/env python3
"""What a Windows user sees of the .exe before running it: the icon in Explorer (an icon group
with the sizes Windows picks from), the version on its Details tab, and that it starts without
MinGW's runtime DLLs beside it.

usage: exe_check.py PROGRAM.exe OBJDUMP VERSION
"""
import struct
import subprocess
import sys

exe, objdump, version = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(exe, "rb").read()
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


# PE header -> the resource table's place in the file.
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections_count = struct.unpack_from("<H", data, pe + 6)[0]
optional_size = struct.unpack_from("<H", data, pe + 20)[0]
optional = pe + 24
resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]  # PE32+: data directory 2
sections = []
for i in range(sections_count):
    at = optional + optional_size + 40 * i
    virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
    sections.append((rva, max(virtual_size, raw_size), raw_at))


def file_offset(rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise ValueError(f"RVA {rva:#x} is in no section")


base = file_offset(resource_rva) if resource_rva else None


def entries(directory):
    named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
        yield name, target


def first_leaf(target):
    while target & 0x80000000:
        target = next(entries(target & 0x7FFFFFFF))[1]
    rva, size = struct.unpack_from("<II", data, base + target)
    return data[file_offset(rva):file_offset(rva) + size]


types = dict(entries(0)) if base is not None else {}
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
check(RT_GROUP_ICON in types and RT_ICON in types, "the program carries an icon")
if RT_GROUP_ICON in types:
    group = first_leaf(types[RT_GROUP_ICON])
    count = struct.unpack_from("<H", group, 4)[0]
    sizes = sorted({(group[6 + 14 * i] or 256) for i in range(count)})
    check({16, 32, 48, 256} <= set(sizes), f"its icon has the sizes Windows shows (16, 32, 48, 256): {sizes}")
check(RT_VERSION in types and version.encode("utf-16-le") in first_leaf(types.get(RT_VERSION, 0)),
      f"its version information says {version}")

imports = subprocess.run([objdump, "-p", exe], stdout=subprocess.PIPE, text=True, check=True).stdout
dlls = sorted(line.split()[-1].lower() for line in imports.splitlines() if "DLL Name:" in line)
runtime = [d for d in dlls if d.startswith(("libstdc++", "libgcc", "libwinpthread"))]
check(not runtime and "kernel32.dll" in dlls, f"it needs only Windows' own DLLs: {' '.join(dlls)}")

sys.exit(1 if failures else 0)
