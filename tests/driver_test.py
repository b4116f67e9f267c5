#!/usr/bin/env python3
"""Checks the command-line contract of zelvor-virtual-run: options, exit codes, the result
line, the traffic log format and the flash / DSP outputs against the built-in images.

usage: driver_test.py DRIVER RESOURCE_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

driver, resources = sys.argv[1], sys.argv[2]
failures = []
checks = 0


def check(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args):
    return subprocess.run([driver, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300)


def qex_blocks(image):
    pos = 4
    while pos + 8 <= len(image):
        address = int.from_bytes(image[pos:pos + 4], "big")
        length = int.from_bytes(image[pos + 4:pos + 8], "big")
        yield address, image[pos + 8:pos + 8 + length]
        pos += 8 + length


qex_image = open(os.path.join(resources, "qexImage.bin"), "rb").read()
dsp_image = open(os.path.join(resources, "dspImage.syx"), "rb").read()

with tempfile.TemporaryDirectory() as tmp:
    faults = run("--list-faults")
    names = [line.split()[0] for line in faults.stdout.splitlines() if line.strip()]
    check(faults.returncode == 0 and "none" in names and "dsp-end-err" in names, "--list-faults lists the scenarios")

    check(run("--update", "everything").returncode == 2, "a bad --update value is a usage error")
    check(run("--fault", "no-such-fault").returncode == 2, "an unknown fault is a usage error")

    log, flash = os.path.join(tmp, "qex.log"), os.path.join(tmp, "flash.bin")
    qex = run("--update", "qex", "--speed", "100", "--log", log, "--flash", flash)
    check(qex.returncode == 0 and qex.stdout.strip().splitlines()[-1] == "result: success", "QEX run succeeds")
    lines = open(log).read().splitlines()
    pattern = re.compile(r"^\d+ [<>]( [0-9A-F]{2})+$")
    check(all(pattern.match(line) for line in lines), "every log line is '<ms> <dir> <hex bytes>'")
    times = [int(line.split()[0]) for line in lines]
    check(times == sorted(times) or max(a - b for a, b in zip(times, times[1:])) < 50, "log times run forward")
    check(sum(1 for line in lines if " > F0 06 00 1B 02 7A " in line) == 831, "831 data blocks in the log")
    check(times[-1] > 90000, "log times are protocol milliseconds, not scaled by --speed")
    written = open(flash, "rb").read()
    check(len(written) == 0x100000, "the flash file is 1 MiB")
    check(all(written[a:a + len(d)] == d for a, d in qex_blocks(qex_image)), "the flash holds the QEX image")

    received = os.path.join(tmp, "dsp.bin")
    dsp = run("--update", "dsp", "--speed", "100", "--dsp-received", received)
    check(dsp.returncode == 0 and "result: success" in dsp.stdout, "DSP run succeeds")
    check(open(received, "rb").read() == dsp_image, "the unit received the DSP image unchanged")

    err = run("--update", "dsp", "--speed", "200", "--fault", "dsp-end-err")
    last = err.stdout.strip().splitlines()[-1] if err.stdout.strip() else ""
    check(err.returncode == 1 and last.startswith("result: failure"), "an ERR to the end message is a failure")

    held = run("--fault", "ports-held", "--speed", "200")
    check(held.returncode == 1 and "another program" in held.stdout, "held ports are reported")

print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
