#!/usr/bin/env python3
"""Runs every crafted file made by tools/make_bad_files.py through zelvor-virtual-run: a file to
be refused must end the run in a failure that names the image and gives a reason, with nothing
sent to the unit (not even in a full update, whose DSP phase would come first); a control file
must be written.

usage: bad_files_test.py DRIVER RESOURCE_DIR GENERATOR
"""
import json
import os
import subprocess
import sys
import tempfile

driver, resources, generator = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []
runs = 0


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


with tempfile.TemporaryDirectory() as tmp:
    corpus = os.path.join(tmp, "corpus")
    subprocess.run([sys.executable, generator, corpus, resources], check=True)
    manifest = json.load(open(os.path.join(corpus, "manifest.json")))
    log = os.path.join(tmp, "traffic.log")

    for entry in manifest:
        path = os.path.join(corpus, entry["file"])
        kind, what = entry["kind"], f"{entry['file']} ({entry['what']})"
        updates = ["all", kind] if entry["expect"] == "refused" else [kind]
        for update in updates:
            runs += 1
            r = subprocess.run([driver, "--update", update, f"--{kind}", path, "--speed", "200", "--log", log],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300)
            last = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
            traffic = open(log).read() if os.path.exists(log) else ""
            if entry["expect"] == "refused":
                prefix = f"result: failure: the {kind.upper()} image cannot be used: "
                check(r.returncode == 1 and last.startswith(prefix) and len(last) > len(prefix) + 5,
                      f"--update {update}: {what} is refused with a reason: {last!r}")
                check(traffic == "", f"--update {update}: nothing is sent for {what}")
            else:
                check(r.returncode == 0 and last == "result: success", f"{what} is written: {last!r}")

print(f"{runs} runs over {len(manifest)} files, {len(failures)} failed")
sys.exit(1 if failures else 0)
