#!/usr/bin/env python3
"""Derives the platform icons from the program's 256 x 256 icon.

make_icon.py ico SOURCE.png OUT.ico       Windows icon (16 to 256 px) for the installer
make_icon.py hicolor SOURCE.png OUT_DIR   OUT_DIR/<n>x<n>/apps/zelvor-updater.png for the
                                          sizes desktops ask the hicolor theme for
"""
import sys
from pathlib import Path

from PIL import Image

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("ico", "hicolor"):
        sys.stderr.write(__doc__)
        return 2
    source = Image.open(argv[2]).convert("RGBA")
    if source.size != (256, 256):
        sys.stderr.write(f"{argv[2]}: expected 256 x 256, found {source.size}\n")
        return 1
    if argv[1] == "ico":
        source.save(argv[3], format="ICO", sizes=[(s, s) for s in SIZES])
        return 0
    for size in SIZES:
        folder = Path(argv[3]) / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        image = source if size == 256 else source.resize((size, size), Image.LANCZOS)
        image.save(folder / "zelvor-updater.png", format="PNG", optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
