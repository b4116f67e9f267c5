#!/usr/bin/env python3
"""Times a full update (DSP then QEX) of the built-in images against the virtual unit.

For each speed it reports the wall time, the protocol floor (the fixed pauses and the single
poll steps the procedures cannot avoid for these images, divided by the speed), their ratio,
the CPU seconds used and the peak resident memory of the driver.

usage: bench/bench.py BUILD_DIR [SPEED ...]      (default speeds: 1 10)
       bench/bench.py --dsp-phase RUNS BUILD_DIR [BUILD_DIR ...]
       bench/bench.py --time-left BUILD_DIR

--dsp-phase times the DSP phase alone at the unit's real pace, from the traffic log's own
timestamps (the start message to the end message, against the phase's pauses: 2000 ms after the
start, 20 ms a piece and 20 ms a message, 3000 ms before the end), taking the builds in turn
RUNS times, so that two pacings are compared side by side on the same machine at the same time.
The CPU figures are the driver's whole run (the link, the virtual unit and its traffic log).

--time-left runs a full update at the unit's real pace and sets the time left the driver tells
(as the progress window tells it) against the time that was then really left. The driver's
"time left:" lines give the seconds since the phase's first progress report; a phase ends, here,
at its last report (the link's result; the phase's closing pauses follow it). Per phase: when the
estimate was first told, every told value with its time, the largest rise between two told values
and the largest over- and under-estimate, both when a value was told and when it was replaced (the
text stays on the screen while the real time left runs down). "about N minutes" counts as N * 60 s,
"about a minute" as 60 s, "less than a minute" as anything up to 60 s (30 s for a rise). The exit
status is 1 when the update fails, a phase tells nothing, an estimate comes before 10 s of the
phase or rises, or the driver's seconds are not real seconds (set against this script's own clock).
"""
import os
import platform
import re
import resource
import subprocess
import sys
import time

CHUNK = 256


def qex_chunks(image):
    """(sent, skipped) chunks of a QEX block file under the erased-chunk rule."""
    sent = skipped = 0
    pos = 4
    while pos + 8 <= len(image):
        length = int.from_bytes(image[pos + 4:pos + 8], "big")
        data = image[pos + 8:pos + 8 + length]
        pos += 8 + length
        for index, start in enumerate(range(0, len(data), CHUNK)):
            chunk = data[start:start + CHUNK]
            if index > 0 and chunk == b"\xff" * len(chunk):
                skipped += 1
            else:
                sent += 1
    return sent, skipped


def dsp_pieces(image):
    """Number of raw output pieces (at most 180 bytes each) the DSP replay sends."""
    pieces = messages = 0
    pos = 0
    while True:
        start = image.find(b"\xf0", pos)
        end = image.find(b"\xf7", start + 1) if start >= 0 else -1
        if end < 0:
            return messages, pieces
        size = end - start + 1
        messages += 1
        pieces += (size + 179) // 180
        pos = end + 1


def protocol_floor_ms(resources):
    qex = open(os.path.join(resources, "qexImage.bin"), "rb").read()
    dsp = open(os.path.join(resources, "dspImage.syx"), "rb").read()
    sent, skipped = qex_chunks(qex)
    messages, pieces = dsp_pieces(dsp)

    # The pauses are written out here on purpose rather than read from link/Protocol.h: the
    # floor is an independent reckoning of what the program should take.
    power_on_wait = 2000                         # the reopen before a run
    dsp_phase = (1000                            # settle before the start
                 + 2000                          # after the DSP start message
                 + 20 * pieces + 20 * messages   # piece gaps and progress steps
                 + 3000                          # before the end message
                 + 1000                          # one acknowledgement poll step
                 + 3000 + 1000)                  # the run's closing pauses
    between = 4000 + power_on_wait + 500         # power cycle, reopen, settle
    qex_phase = (1000                            # settle before the start
                 + 5 * 100 + 5500                # five handshake poll steps, loader restart
                 + sent * (40 + 40)              # one acknowledgement poll step and the pause
                 + skipped * 40                  # erased chunks still take their pause
                 + 5000 + 1000                   # end steps around closing the ports
                 + 500 + 1000)                   # the run's closing pauses
    return power_on_wait + dsp_phase + between + qex_phase, sent, messages


def run(driver, speed):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run([driver, "--speed", str(speed)], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, after.ru_maxrss / 1024.0, result.stdout.strip().splitlines()[-1]


def dsp_phase(driver, log):
    """(seconds from the DSP start message to its end message, CPU s, result) of one DSP update."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    result = subprocess.run([driver, "--update", "dsp", "--speed", "1", "--log", log],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    start = end = None
    for line in open(log):
        at, direction, *message = line.split()
        if direction == ">" and message[:7] == ["F0", "00", "00", "10", "00", "3F", "00"]:
            if message[7] == "42" and start is None:
                start = int(at)
            elif message[7] == "43":
                end = int(at)
    return (end - start) / 1000.0, cpu, wall, result.stdout.strip().splitlines()[-1]


def compare_dsp_phase(runs, builds):
    dsp = open(os.path.join(builds[0], "generated-resources", "dspImage.syx"), "rb").read()
    messages, pieces = dsp_pieces(dsp)
    floor = (2000 + 20 * pieces + 20 * messages + 3000) / 1000.0
    print(f"machine: {platform.node()} {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    print(f"DSP image: {messages} messages in {pieces} pieces; phase floor {floor:.1f} s")
    print("| build | run | phase s | phase / floor | CPU s | CPU % of one core | result |")
    print("|---|---|---|---|---|---|---|")
    failed = False
    log = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"zelvor-bench-{os.getpid()}.log")
    for run_index in range(runs):
        for build in builds:
            phase, cpu, wall, outcome = dsp_phase(os.path.join(build, "driver", "zelvor-virtual-run"), log)
            failed = failed or outcome != "result: success"
            print(f"| {build} | {run_index + 1} | {phase:.2f} | {phase / floor:.4f} | {cpu:.2f} | "
                  f"{100.0 * cpu / wall:.2f} | {outcome} |", flush=True)
    os.remove(log)
    return 1 if failed else 0


TIME_LEFT_LINE = re.compile(r"^time left: (DSP|QEX) ([0-9.]+) s ([0-9.]+)% (.+)$")
PROGRESS_LINE = re.compile(r"^(DSP|QEX) \d+%$")
# What a phase does after its last progress report, as the update run is written (written out
# here on purpose): after DSP 3000 ms and 1000 ms, after QEX 500 ms and 1000 ms.
CLOSING_S = {"DSP": 4.0, "QEX": 1.5}


def told_seconds(text):
    """(lowest, highest) seconds a told text means, or None for a text this script does not know."""
    if text == "less than a minute left":
        return 0.0, 60.0
    if text == "about a minute left":
        return 60.0, 60.0
    match = re.fullmatch(r"about (\d+) minutes left", text)
    if match:
        return float(match.group(1)) * 60.0, float(match.group(1)) * 60.0
    return None


def read_time_left(driver):
    """The driver's stderr lines of one full update at speed 1, each with this script's own
    seconds since the start; its stdout; the wall time."""
    started = time.monotonic()
    proc = subprocess.Popen([driver, "--speed", "1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, bufsize=1)
    lines = [(time.monotonic() - started, line.rstrip("\n")) for line in proc.stderr]
    stdout = proc.stdout.read()
    proc.wait()
    return lines, stdout, time.monotonic() - started


def time_left(build):
    driver = os.path.join(build, "driver", "zelvor-virtual-run")
    print(f"machine: {platform.node()} {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    lines, stdout, wall = read_time_left(driver)
    outcome = stdout.strip().splitlines()[-1] if stdout.strip() else "(no result line)"
    print(f"full update at speed 1: {wall:.1f} s, {outcome}")
    faults = [] if outcome == "result: success" else [outcome]

    phases = {}  # name -> {"first": bench s of its first report, "told": [...], "last": (s, %)}
    order = []
    for stamp, line in lines:
        if PROGRESS_LINE.match(line):
            name = line.split()[0]
            if name not in phases or phases[name].get("last") is not None:
                phases[name] = {"first": stamp, "told": [], "last": None}
                order.append(name)
            continue
        match = TIME_LEFT_LINE.match(line)
        if not match:
            continue
        name, seconds, progress, text = match.group(1), float(match.group(2)), float(match.group(3)), match.group(4)
        phase = phases.setdefault(name, {"first": stamp, "told": [], "last": None})
        if text == "(last report)":
            phase["last"] = (seconds, progress)
        else:
            phase["told"].append((seconds, progress, text, stamp))

    for name in order:
        phase = phases[name]
        print()
        if phase["last"] is None:
            faults.append(f"{name}: no last report")
            print(f"{name}: no last report")
            continue
        end, end_progress = phase["last"]
        told = phase["told"]
        print(f"{name} phase: {end:.1f} s from its first progress report to its last "
              f"(then {CLOSING_S[name]:g} s of closing pauses), progress 0 % to {end_progress:.1f} %")
        if not told:
            faults.append(f"{name}: the time left was never told")
            print("the time left was never told")
            continue

        first_at, first_progress, first_text, _ = told[0]
        print(f"first told at {first_at:.1f} s into the phase ({100.0 * first_at / end:.1f} % of its time, "
              f"at {first_progress:.1f} % progress): {first_text}")
        if first_at < 10.0:
            faults.append(f"{name}: told after only {first_at:.1f} s")

        # A text stays on the screen until the next one (the last until the phase ends), while
        # the real time left runs down: it is set against the time left when it was told and
        # when it was replaced, the two ends of its error.
        print("| told at s | % of phase time | progress % | told | shown until s | real left when told s | "
              "when replaced s | told - real when told s | when replaced s |")
        print("|---|---|---|---|---|---|---|---|---|")
        rise = 0.0
        over = (0.0, None)
        under = (0.0, None)
        beyond = 0
        previous = None
        clock = 0.0
        for index, (at, progress, text, stamp) in enumerate(told):
            meaning = told_seconds(text)
            if meaning is None:
                faults.append(f"{name}: an unknown text: {text}")
                continue
            low, high = meaning
            until = told[index + 1][0] if index + 1 < len(told) else end
            errors = []
            off = False
            for moment in (at, until):
                real = end - moment
                # Off by this much: 0 while the real time left lies within what the text means.
                error = low - real if real < low else high - real if real > high else 0.0
                errors.append((real, error))
                if error > over[0]:
                    over = (error, moment)
                if error < under[0]:
                    under = (error, moment)
                # Beyond the rounding of the text itself (half a minute either way; "less than
                # a minute" has none).
                off = off or real > high + (0.0 if low == 0.0 else 30.0) or real < low - 30.0
            beyond += off
            value = (low + high) / 2.0
            if previous is not None:
                rise = max(rise, value - previous)
            previous = value
            # The driver's seconds against this script's: both from the phase's first report.
            clock = max(clock, abs((stamp - phase["first"]) - at))
            (real_told, error_told), (real_until, error_until) = errors
            print(f"| {at:.1f} | {100.0 * at / end:.1f} | {progress:.1f} | {text} | {until:.1f} | {real_told:.1f} | "
                  f"{real_until:.1f} | {error_told:+.1f} | {error_until:+.1f}{' (beyond its rounding)' if off else ''} |")

        print(f"largest rise between two told values: {rise:g} s")
        print(f"largest over-estimate: {over[0]:.1f} s" + (f" (at {over[1]:.1f} s)" if over[1] is not None else ""))
        print(f"largest under-estimate: {abs(under[0]):.1f} s" + (f" (at {under[1]:.1f} s)" if under[1] is not None else ""))
        print(f"told values beyond their own rounding (half a minute) when told or replaced: {beyond} of {len(told)}")
        print(f"the driver's seconds against this script's clock: at most {clock:.2f} s apart")
        if rise > 0.0:
            faults.append(f"{name}: the time left rose by {rise:g} s")
        if clock > 0.5:
            faults.append(f"{name}: the driver's seconds are {clock:.2f} s off real time")

    if set(order) != {"DSP", "QEX"}:
        faults.append(f"phases seen: {order}")
    print()
    print("faults: " + ("; ".join(faults) if faults else "none"))
    return 1 if faults else 0


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--dsp-phase":
        return compare_dsp_phase(int(sys.argv[2]), sys.argv[3:])
    if len(sys.argv) == 3 and sys.argv[1] == "--time-left":
        return time_left(sys.argv[2])
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    build = sys.argv[1]
    speeds = [float(s) for s in sys.argv[2:]] or [1.0, 10.0]
    driver = os.path.join(build, "driver", "zelvor-virtual-run")
    floor_ms, sent, messages = protocol_floor_ms(os.path.join(build, "generated-resources"))

    print(f"machine: {platform.node()} {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    print(f"images: {sent} QEX chunks sent, {messages} DSP messages; protocol floor {floor_ms / 1000:.1f} s")
    print("| speed | wall s | floor s | wall/floor | CPU s | CPU % of wall | peak RSS MiB | result |")
    print("|---|---|---|---|---|---|---|---|")
    failed = False
    for speed in speeds:
        wall, cpu, rss, outcome = run(driver, speed)
        floor = floor_ms / 1000.0 / speed
        failed = failed or outcome != "result: success"
        print(f"| {speed:g} | {wall:.2f} | {floor:.2f} | {wall / floor:.4f} | {cpu:.2f} | "
              f"{100.0 * cpu / wall:.2f} | {rss:.1f} | {outcome} |", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
