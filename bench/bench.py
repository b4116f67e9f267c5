#!/usr/bin/env python3
"""Times a full update (DSP then QEX) of the built-in images against the virtual unit.

For each speed it reports the wall time, the protocol floor (the fixed pauses and the single
poll steps the procedures cannot avoid for these images, divided by the speed), their ratio,
the CPU seconds used and the peak resident memory of the driver.

usage: bench/bench.py BUILD_DIR [SPEED ...]      (default speeds: 1 10)
       bench/bench.py --dsp-phase RUNS BUILD_DIR [BUILD_DIR ...]

--dsp-phase times the DSP phase alone at the unit's real pace, from the traffic log's own
timestamps (the start message to the end message, against the phase's pauses: 2000 ms after the
start, 20 ms a piece and 20 ms a message, 3000 ms before the end), taking the builds in turn
RUNS times, so that two pacings are compared side by side on the same machine at the same time.
The CPU figures are the driver's whole run (the link, the virtual unit and its traffic log).
"""
import os
import platform
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


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--dsp-phase":
        return compare_dsp_phase(int(sys.argv[2]), sys.argv[3:])
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
