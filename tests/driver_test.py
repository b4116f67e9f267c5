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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qex_image import qex_blocks  # noqa: E402

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


qex_image = open(os.path.join(resources, "qexImage.bin"), "rb").read()
dsp_image = open(os.path.join(resources, "dspImage.syx"), "rb").read()

with tempfile.TemporaryDirectory() as tmp:
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
    check(err.returncode == 1 and last == 'result: failure: DSP update failed: the Zelvor answered the DSP firmware '
          'with "ERR"', f"an ERR to the end message is a failure, and said: {last}")

    # A power cut late in the QEX blocks leaves the unit in its loader; run again, the update
    # recovers it: a result line for each run, the exit code and outputs of the second.
    for lenient in ([], ["--lenient-loader"]):
        again = run("--fault", "power-cut-after:4300", "--again", "--speed", "200", *lenient,
                    "--flash", flash, "--dsp-received", received)
        results = [line for line in again.stdout.splitlines() if line.startswith("result:")]
        check(len(results) == 2 and results[0].startswith("result: failure") and results[1] == "result: success"
              and again.returncode == 0, f"--again after a power cut recovers the unit {lenient}: {results}")
        check(all(open(flash, "rb").read()[a:a + len(d)] == d for a, d in qex_blocks(qex_image))
              and open(received, "rb").read() == dsp_image, f"the recovered unit holds both images {lenient}")

    # --again clicks again on the same link: a loader that never says who it is, left by the first
    # run's failed handshake, gets the QEX handshake, not the DSP image (with its start and end
    # messages) a second time.
    silent_loader = run("--fault", "no-loader-identity-reply", "--again", "--speed", "200", "--log", log)
    results = [line for line in silent_loader.stdout.splitlines() if line.startswith("result:")]
    dsp_sent = sum(1 for line in open(log).read().splitlines() if " > F0 00 00 10 " in line)
    failed = "result: failure: QEX update failed: the Zelvor stopped answering "
    check(results == [failed + "after restarting into its loader", failed + "when asked who it is"]
          and dsp_sent == len(re.findall(b"\xf0", dsp_image)) + 2,
          f"a silent loader is not sent the DSP image again: {results}, {dsp_sent} DSP messages")

    held = run("--fault", "ports-held", "--speed", "200")
    check(held.returncode == 1 and "another program" in held.stdout, "held ports are reported")

    # A second unit is refused before a byte reaches either; a look-alike port that never
    # answers is passed over, and its outputs say it got nothing.
    second_flash, second_dsp = os.path.join(tmp, "second-flash.bin"), os.path.join(tmp, "second-dsp.bin")
    for kind in ("running", "loader"):
        two = run("--second-unit", kind, "--speed", "200", "--log", log, "--flash", flash,
                  "--second-flash", second_flash, "--second-dsp-received", second_dsp)
        check(two.returncode == 1 and two.stdout.strip().splitlines()[-1] == "result: failure: more than one Zelvor is connected",
              f"a second unit ({kind}) is refused: {two.stdout.strip()[-200:]}")
        sent = [line for line in open(log).read().splitlines() if " > " in line]
        check(all(line.split(" > ")[1] == "F0 06 7F 1B 7F 01 00 7F 7F 7F 63 F7" for line in sent),
              f"only identity requests are sent beside a second unit ({kind})")
        check(set(open(flash, "rb").read()) == {0xFF} and set(open(second_flash, "rb").read()) == {0xFF}
              and open(second_dsp, "rb").read() == b"", f"neither unit is written ({kind})")
    silent = run("--second-unit", "silent", "--speed", "200", "--dsp-received", received, "--second-dsp-received", second_dsp)
    check(silent.returncode == 0 and open(received, "rb").read() == dsp_image and open(second_dsp, "rb").read() == b"",
          "ports named like the unit's that never answer are passed over")

    # --- the driver as a command-line tool ---

    def path(name):
        return os.path.join(tmp, name)

    image = path("input.bin")
    open(image, "wb").write(qex_image)
    # What only the driver takes (options_test.py checks what all the programs share).
    bad_usage = [
        ["--update", "qex", "--dsp", image], ["--update", "dsp", "--qex", image],
        ["--update", "qex", "--dsp-received", path("never.bin")], ["--update", "dsp", "--flash", path("never.bin")],
        ["--qex", image, "--flash", image], ["--midi", "system", "--fault", "dsp-end-err"],
        ["--power-cycle", "true"], ["--update", "everything"],
    ]
    for args in bad_usage:
        r = run(*args, "--log", path("never.log"))
        check(r.returncode == 2 and r.stdout == "", f"usage error: {' '.join(args)}")
        check(not os.path.exists(path("never.log")) and not os.path.exists(path("never.bin")), f"no file made: {' '.join(args)}")
    check(os.path.isdir(tmp) and open(image, "rb").read() == qex_image, "neither a directory nor an input is replaced")

    unwritable = run("--update", "dsp", "--speed", "200", "--dsp-received", path("no-such-dir/dsp.bin"))
    last = unwritable.stdout.strip().splitlines()[-1]
    check(unwritable.returncode == 1 and last.startswith("result: failure: cannot write"), "a write error is the result line's failure")

    # The link's trace stays off the progress stream; --verbose puts it on stdout, before the result.
    quiet = run("--update", "dsp", "--speed", "200")
    verbose = run("--update", "dsp", "--speed", "200", "--verbose")
    check("DBG" not in quiet.stderr and "DBG" not in quiet.stdout, "no trace without --verbose")
    lines = verbose.stdout.splitlines()
    check("DBG" not in verbose.stderr and lines.count("DBG") >= 3 and lines[-1] == "result: success", "--verbose traces on stdout")

    # On a terminal shared by both streams every trace line stands on its own, the bar intact.
    import pty
    master, slave = pty.openpty()
    proc = subprocess.Popen([driver, "--update", "dsp", "--speed", "200", "--verbose"], stdout=slave, stderr=slave)
    os.close(slave)
    screen = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        screen += chunk
    proc.wait(timeout=300)
    os.close(master)
    shown = [re.sub(r"\x1b\[K", "", line.rstrip("\r").split("\r")[-1]) for line in screen.decode().split("\n")]
    check(shown.count("DBG") >= 3 and not any("DBG" in line and line != "DBG" for line in shown), "trace lines stand alone on a terminal")
    check(any(re.fullmatch(r"DSP \[#{30}\] 100%", line) or re.fullmatch(r"DSP \[#+\.*\] \d+%", line) for line in shown), "the bar is drawn whole")

    # A reader that went away does not end the run: the output files are still written.
    read_end, write_end = os.pipe()
    os.close(read_end)
    closed = subprocess.run([driver, "--update", "dsp", "--speed", "200", "--verbose", "--dsp-received", path("piped.bin")],
                            stdout=write_end, stderr=subprocess.DEVNULL, timeout=300)
    os.close(write_end)
    check(closed.returncode == 0 and open(path("piped.bin"), "rb").read() == dsp_image, "a closed stdout does not kill the run")

    # Signals cancel as the progress window's Cancel does: nothing more is sent, the outputs are
    # written, the result says so, and the status is the signal's.
    import signal
    import time

    def cancelled_run(sig, update, marker, count):
        log_path, out = path(f"sig-{sig}.log"), path(f"sig-{sig}.bin")
        args = ["--update", update, "--speed", "20", "--log", log_path]
        args += ["--dsp-received", out] if update == "dsp" else ["--flash", out]
        proc = subprocess.Popen([driver, *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if os.path.exists(log_path) and open(log_path).read().count(marker) >= count:
                break
            time.sleep(0.005)
        proc.send_signal(sig)
        stdout, _ = proc.communicate(timeout=60)
        return proc.returncode, stdout.strip().splitlines(), open(log_path).read(), out

    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        code, out_lines, traffic, out = cancelled_run(sig, "dsp", " > F0 00 00 10 00 3F 00 59", 20)
        check(code == 128 + sig and out_lines[-1:] == ["result: failure: cancelled"], f"signal {sig} cancels the DSP run")
        check(" > F0 00 00 10 00 3F 00 43" not in traffic, f"signal {sig}: no DSP end message after the cancel")
        check(0 < len(open(out, "rb").read()) < len(dsp_image), f"signal {sig}: the received DSP bytes are written")

    code, out_lines, traffic, out = cancelled_run(signal.SIGTERM, "qex", " > F0 06 00 1B 02 71", 1)
    check(code == 128 + signal.SIGTERM and out_lines[-1:] == ["result: failure: cancelled"], "a signal cancels the QEX handshake")
    check(" > F0 06 00 1B 02 7B" not in traffic and " > F0 06 00 1B 02 7A" not in traffic, "no begin-write after the cancel")
    check(len(open(out, "rb").read()) == 0x100000, "the flash is written after a cancelled QEX run")

print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
