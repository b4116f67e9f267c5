#!/usr/bin/env python3
"""The simulator's programs (the headless driver, the demo, the USB unit) read their options
with one reader: each refuses the same bad values with the same message and exit code 2,
before it makes any file or shows anything, and each prints its help and the fault list.

usage: options_test.py PROGRAM...
"""
import os
import subprocess
import sys
import tempfile

programs = sys.argv[1:]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(program, *args):
    # No display: a refusal comes before any window; a program that took the options and went
    # on is stopped.
    try:
        return subprocess.run([program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              timeout=20, env={k: v for k, v in os.environ.items() if k != "DISPLAY"})
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(args, None, "", "(still running after 20 s)")


with tempfile.TemporaryDirectory() as tmp:
    def path(name):
        return os.path.join(tmp, name)

    bad_usage = [
        ["--speed", "5abc"], ["--speed", "inf"], ["--speed", "nan"], ["--speed", "0"], ["--speed", "0.001"],
        ["--speed", "1e6"], ["--speed", ""], ["--speed", "1", "--speed", "2"], ["--fault", "unplug-after:5x"],
        ["--fault", ""], ["--flash", tmp], ["--flash", "/dev/null"], ["--flash", path("same.bin"),
        "--dsp-received", path("same.bin")], ["--flash", ""], ["--bogus"], ["stray"],
    ]
    faults = {}
    for program in programs:
        name = os.path.basename(program)
        for args in bad_usage:
            r = run(program, *args, "--log", path("never.log"))
            said = r.stderr.splitlines()[0] if r.stderr else ""
            check(r.returncode == 2 and r.stdout == "" and said.startswith(name + ": "),
                  f"{name} {' '.join(args)}: exit {r.returncode}, said {said!r}")
            check(not os.listdir(tmp), f"{name} {' '.join(args)}: made {os.listdir(tmp)}")
            # The same words from every program, but for its name.
            key = " ".join(args)
            faults.setdefault(key, set()).add(said[len(name):])
        # Good values pass, to the one bad option after them.
        r = run(program, "--speed", "0.05", "--fault", "unplug-after:5", "--flash", path("f.bin"), "--bogus")
        check(r.returncode == 2 and "--bogus" in r.stderr and not os.listdir(tmp), f"{name} takes good values: {r.stderr}")
        helped = run(program, "-h")
        check(helped.returncode == 0 and helped.stdout.startswith(f"usage: {name} ") and "--speed N" in helped.stdout,
              f"{name} -h: exit {helped.returncode}, {helped.stdout[:40]!r}")
        listed = run(program, "--list-faults")
        faults.setdefault("--list-faults", set()).add(listed.stdout)
        check(listed.returncode == 0 and listed.stdout.startswith("none  ") and "\ndsp-end-err  " in listed.stdout, f"{name} --list-faults")
    for key, messages in faults.items():
        check(len(messages) == 1, f"{key}: the programs disagree: {messages}")
    check(os.path.isdir(tmp), "the folder given as an output is still there")

print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
