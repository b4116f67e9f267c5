#!/usr/bin/env python3
"""Writes crafted update files, each a class of file the updater must refuse before anything
is sent (or, for the few controls, accept), and a manifest.json describing them.

usage: make_bad_files.py OUT_DIR RESOURCE_DIR

RESOURCE_DIR holds the built-in images (qexImage.bin, dspImage.syx) that some files are cut
from. Each manifest entry: file (a name in OUT_DIR, or an absolute path for system files),
kind (qex or dsp), expect (refused or accepted), what (a description).
"""
import json
import os
import sys

out_dir, resources = sys.argv[1], sys.argv[2]
os.makedirs(out_dir, exist_ok=True)
qex_image = open(os.path.join(resources, "qexImage.bin"), "rb").read()
dsp_image = open(os.path.join(resources, "dspImage.syx"), "rb").read()
REGION = 0x10000
SIZE_LIMIT = 16 * 1024 * 1024
manifest = []


def block(address, data, declared=None):
    length = len(data) if declared is None else declared
    return address.to_bytes(4, "big") + length.to_bytes(4, "big") + data


def qex(*blocks, header=b"\x00\x1B\x00\x02"):
    return header + b"".join(blocks)


def dsp_message(payload=b"\x01", family=b"\x00\x00\x10"):
    return b"\xF0" + family + b"\x00\x3F\x00\x59\x00\x57" + payload + b"\xF7"


def add(name, kind, expect, what, data=None):
    if data is not None:
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
    manifest.append({"file": name, "kind": kind, "expect": expect, "what": what})


fill = bytes(range(256)) * (REGION // 256)

# QEX files: whole blocks exactly to the end, none empty, none over the same bytes, and every
# block on the unit's map (a region's start, at least the region's length, no hole, at most 16).
add("qex-one-byte-short.bin", "qex", "refused", "the built-in image one byte short", qex_image[:-1])
for extra in (1, 3, 7, 8):
    add(f"qex-{extra}-bytes-left-over.bin", "qex", "refused", f"the built-in image and {extra} bytes more", qex_image + b"\xEE" * extra)
add("qex-block-cut-short.bin", "qex", "refused", "a last block declaring more than it holds",
    qex(block(0, fill), block(REGION, fill[:100], declared=REGION)))
add("qex-huge-length.bin", "qex", "refused", "a block length of FFFFFFFF", qex(block(0x30000, fill[:64], declared=0xFFFFFFFF)))
add("qex-repeated-block.bin", "qex", "refused", "the same block twice", qex(block(REGION, fill), block(REGION, fill)))
add("qex-overlapping-blocks.bin", "qex", "refused", "two blocks over the same range",
    qex(block(0, fill + fill), block(REGION, bytes(REGION))))
add("qex-empty-block.bin", "qex", "refused", "a block of length 0", qex(block(0, fill), block(REGION, b"")))
add("qex-header-only.bin", "qex", "refused", "no blocks", qex())
add("qex-empty-file.bin", "qex", "refused", "an empty file", b"")
add("qex-short-header.bin", "qex", "refused", "three bytes", b"\x00\x1B\x00")
add("qex-wrong-model.bin", "qex", "refused", "a wrong model byte", qex(block(0, fill), header=b"\x00\x1C\x00\x02"))
add("qex-in-a-hole.bin", "qex", "refused", "a block in a hole of the map", qex(block(0x40000, fill)))
add("qex-outside-flash.bin", "qex", "refused", "a block beyond the flash", qex(block(0x100000, fill)))
add("qex-off-region-start.bin", "qex", "refused", "a block off a region's start", qex(block(0x10100, fill)))
add("qex-shorter-than-region.bin", "qex", "refused", "a block shorter than its region", qex(block(REGION, fill[:0x8000])))
add("qex-past-last-region.bin", "qex", "refused", "a block running past the last region", qex(block(0xE0000, fill + b"\x01")))
add("qex-absurd-length.bin", "qex", "refused", "a 2 MiB block", qex(block(0, fill * 32)))
add("qex-seventeen-blocks.bin", "qex", "refused", "seventeen blocks", qex(*(block(0x60000 + i * 0x100, fill[:0x100]) for i in range(17))))
add("qex-text.bin", "qex", "refused", "a text file", b"QEX firmware 1.20\n")

# DSP files: at least one whole message of the DSP family, every message whole and within 256
# bytes, no status byte inside a message but real-time ones.
add("dspflash-empty.syx", "dsp", "refused", "an empty file", b"")
add("dspflash-line-breaks.syx", "dsp", "refused", "line breaks only", b"\r\n\r\n")
add("dspflash-unterminated.syx", "dsp", "refused", "a message without its F7", dsp_message()[:-1])
add("dspflash-only-f7.syx", "dsp", "refused", "only F7 bytes", b"\xF7" * 32)
add("dspflash-text.syx", "dsp", "refused", "a text file", b"dspflash v1.70\nnot a sysex file\n")
add("dspflash-cut-mid-message.syx", "dsp", "refused", "the built-in image cut inside a message", dsp_image[:len(dsp_image) - 50])
add("dspflash-note-inside.syx", "dsp", "refused", "a note-on status byte inside a message", dsp_message(b"\x90\x3C\x64"))
add("dspflash-start-inside.syx", "dsp", "refused", "an F0 inside a message", dsp_message(b"\x01\xF0\x02"))
add("dspflash-too-long.syx", "dsp", "refused", "a message of 257 bytes", dsp_message(b"\x01" * 246))
add("dspflash-other-family.syx", "dsp", "refused", "messages of another family only", b"\xF0\x7E\x7F\x06\x01\xF7" * 3)

# Files that are not regular files, or too large to be an update file.
too_large = os.path.join(out_dir, "qex-too-large.bin")
with open(too_large, "wb") as f:
    f.write(qex_image[:4])
    f.truncate(SIZE_LIMIT + 1)  # sparse: costs no disk
add("qex-too-large.bin", "qex", "refused", "a file over 16 MiB")
fifo = os.path.join(out_dir, "dspflash-fifo.syx")
if not os.path.exists(fifo):
    os.mkfifo(fifo)
add("dspflash-fifo.syx", "dsp", "refused", "a FIFO with no writer")
os.makedirs(os.path.join(out_dir, "qex-directory.bin"), exist_ok=True)
add("qex-directory.bin", "qex", "refused", "a directory")
for device in ("/dev/zero", "/dev/urandom"):
    for kind in ("qex", "dsp"):
        add(device, kind, "refused", f"{device} as a {kind.upper()} file")

# Controls: sound files of each kind are taken and written.
add("qex-one-region.bin", "qex", "accepted", "one whole region", qex(block(0x60000, fill)))
add("dspflash-two-messages.syx", "dsp", "accepted", "two messages with line breaks between",
    dsp_message() + b"\r\n" + dsp_message(b"\x02\x03") + b"\r\n")

with open(os.path.join(out_dir, "manifest.json"), "w") as f:
    json.dump(manifest, f, indent=1)
