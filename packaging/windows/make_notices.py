#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt for the Windows program: the licence texts of everything linked
into ZelvorUpdater.exe, taken from the sources it was built from (the libpng and libjpeg-turbo
trees tools/build-windows.sh unpacked) and from the Debian packages of the rest.

usage: make_notices.py OUTPUT SOURCE_TREES VERSION JUCE_MODULE...
"""
import glob
import os
import sys

output, trees, version, modules = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
DOC = "/usr/share/doc"


def tree(pattern):
    found = sorted(glob.glob(os.path.join(trees, pattern)))
    found = [f for f in found if os.path.isdir(f)]
    if not found:
        sys.exit(f"make_notices.py: no {pattern} under {trees}")
    return found[-1]


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read().strip("\n")


def between(path, first, last):
    """The part of a file from the line that starts with FIRST to the line that ends with LAST."""
    text = read(path)
    start = text.find(first)
    end = text.find(last, start)
    if start < 0 or end < 0:
        sys.exit(f"make_notices.py: {path} no longer holds '{first}' ... '{last}'")
    return text[start:end + len(last)]


png = tree("libpng1.6-*")
jpeg = tree("libjpeg-turbo-*")
gcc_copyright = f"{DOC}/gcc-mingw-w64-base/copyright"

# (what, how it is in the program, licence texts)
parts = [
    (f"JUCE (the modules {', '.join(modules)})",
     "compiled in, each under the ISC licence or the GNU GPL version 3 as Debian's copyright file "
     "below says; their source is in the source archive beside this file",
     [read(f"{DOC}/juce-modules-source/copyright")]),
    (f"libpng ({os.path.basename(png)})", "linked in statically",
     [read(os.path.join(png, "LICENSE"))]),
    (f"libjpeg-turbo ({os.path.basename(jpeg)})",
     "linked in statically (the IJG licence, the Modified BSD licence and the zlib licence)",
     [read(os.path.join(jpeg, "LICENSE.md")), read(os.path.join(jpeg, "README.ijg"))]),
    ("zlib (Debian's libz-mingw-w64)", "linked in statically",
     [read(f"{DOC}/libz-mingw-w64-dev/copyright")]),
    ("MinGW-w64 runtime and winpthreads (Debian's mingw-w64-x86-64-dev)", "linked in statically",
     [read(f"{DOC}/mingw-w64-x86-64-dev/copyright")]),
    ("GCC runtime libraries: libstdc++ and libgcc (Debian's gcc-mingw-w64)",
     "linked in statically, under the GNU GPL version 3 with the GCC Runtime Library Exception",
     [between(gcc_copyright, "The following runtime libraries are licensed",
              " - libvtv"),
      between(gcc_copyright, "GCC RUNTIME LIBRARY EXCEPTION",
              "requirements of the license of GCC.")]),
]

rule = "=" * 78
lines = [
    f"Zelvor Updater {version}: third-party notices",
    "",
    "ZelvorUpdater.exe is free software under the GNU General Public License, version 3 or",
    "later (LICENSE.txt). It has the following parts of other authors in it; their licences",
    "follow. The complete source of the program and of the JUCE modules it compiles in is in",
    "the source archive installed beside this file.",
    "",
]
for what, how, texts in parts:
    lines += [rule, what, f"({how})", rule, ""]
    for text in texts:
        lines += [text, ""]

os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
# Windows' Notepad before Windows 10 shows only CR LF line ends as such.
with open(output, "w", encoding="utf-8", newline="\r\n") as f:
    f.write("\n".join(lines))
