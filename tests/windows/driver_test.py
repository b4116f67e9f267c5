#!/usr/bin/env python3
"""The Windows driver under Wine: a full update of the virtual unit leaves the built-in images in
its flash and DSP outputs, written byte for byte; files it must not use are refused before
anything is sent; Ctrl+C cancels a run.

usage: driver_test.py DRIVER.exe RESOURCE_DIR   (ZELVOR_WINE names Wine's launcher)
"""
import os
import signal
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from qex_image import qex_blocks  # noqa: E402

driver, resources = sys.argv[1], sys.argv[2]
wine = os.environ["ZELVOR_WINE"]
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


def windows_path(path):
    # Wine shows the Linux root as drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(*args):
    done = subprocess.run([wine, driver, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return done.returncode, done.stdout.decode(errors="replace").replace("\r\n", "\n")


def last_line(output):
    lines = output.strip().splitlines()
    return lines[-1] if lines else ""


qex_image = open(os.path.join(resources, "qexImage.bin"), "rb").read()
dsp_image = open(os.path.join(resources, "dspImage.syx"), "rb").read()

with tempfile.TemporaryDirectory() as tmp:
    def path(name):
        return os.path.join(tmp, name)

    code, out = run("--update", "all", "--speed", "200", "--log", windows_path(path("all.log")),
                    "--flash", windows_path(path("flash.bin")), "--dsp-received", windows_path(path("dsp.syx")))
    check(code == 0 and last_line(out) == "result: success", f"full update succeeds (exit {code}: {last_line(out)})")
    flash = open(path("flash.bin"), "rb").read() if os.path.exists(path("flash.bin")) else b""
    # Written in text mode, every 0x0A would have gained a 0x0D and the flash would be longer.
    check(len(flash) == 0x100000, f"the flash file is exactly 1 MiB ({len(flash)} bytes)")
    check(all(flash[a:a + len(d)] == d for a, d in qex_blocks(qex_image)), "the flash holds every built-in QEX block")
    received = open(path("dsp.syx"), "rb").read() if os.path.exists(path("dsp.syx")) else b""
    check(received == dsp_image, f"the DSP bytes received equal the built-in image ({len(received)} of {len(dsp_image)})")
    log = open(path("all.log"), "rb").read() if os.path.exists(path("all.log")) else b""
    check(log.count(b" > F0 06 00 1B 02 7A ") == 831 and b"\r" not in log, "the log holds 831 data blocks, one per line")

    truncated = path("truncated.bin")
    open(truncated, "wb").write(qex_image[:len(qex_image) // 2 + 3])
    refused = {
        "a truncated QEX file": ["--update", "qex", "--qex", windows_path(truncated)],
        "a folder as the QEX file": ["--update", "qex", "--qex", windows_path(tmp)],
        "a missing DSP file": ["--update", "dsp", "--dsp", windows_path(path("missing.syx"))],
        "an empty DSP file": ["--update", "dsp", "--dsp", windows_path(truncated + ".empty")],
    }
    open(truncated + ".empty", "wb").close()
    for what, args in refused.items():
        log_file = path("refused.log")
        code, out = run(*args, "--speed", "200", "--log", windows_path(log_file))
        sent = open(log_file, "rb").read() if os.path.exists(log_file) else b""
        check(code == 1 and last_line(out).startswith("result: failure") and b" > " not in sent,
              f"{what} is refused before anything is sent (exit {code}: {last_line(out)})")

    # Ctrl+C, as Wine passes it on: the run is cancelled, nothing claims success, and what the
    # unit received so far is written.
    partial = path("partial.syx")
    proc = subprocess.Popen([wine, driver, "--update", "dsp", "--speed", "5", "--dsp-received", windows_path(partial)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    watchdog = threading.Timer(120, proc.kill)
    watchdog.start()
    started = proc.stderr.readline().decode(errors="replace").strip()  # the first progress line
    proc.send_signal(signal.SIGINT)
    out = proc.communicate(timeout=120)[0].decode(errors="replace").replace("\r\n", "\n")
    watchdog.cancel()
    got = open(partial, "rb").read() if os.path.exists(partial) else b""
    check(started.startswith("DSP") and proc.returncode == 128 + signal.SIGINT
          and last_line(out) == "result: failure: cancelled",
          f"Ctrl+C cancels the run (exit {proc.returncode}: {last_line(out)})")
    check(0 < len(got) < len(dsp_image) and dsp_image.startswith(got),
          f"a cancelled run writes what the unit received, a part of the image ({len(got)} bytes)")

    code, out = run("--speed", "0")
    check(code == 2, f"a bad option value is a usage error (exit {code})")

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
