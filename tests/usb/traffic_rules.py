#!/usr/bin/env python3
"""Checks a unit's traffic log (lines '<protocol ms> <> or <> <hex bytes>', '>' towards the unit)
of a full update against the protocol's rules: what the unit sees, on its own clock.

usage: traffic_rules.py LOG
"""
import sys

# The protocol's figures below restate link/Protocol.h on purpose: this check is an oracle for the
# program's traffic, not a copy of its constants.
SLACK = 25  # ms the USB path may add to or take from a pause, as the unit receives it

lines = []
for raw in open(sys.argv[1]):
    at, way, *data = raw.split()
    lines.append((int(at), way == '>', bytes.fromhex(''.join(data))))
problems = []


def rule(ok, what):
    if not ok:
        problems.append(what)


def sent(i):
    return lines[i][1]


dsp_image = bytes.fromhex('F0 00 00 10 00 3F 00 59')
dsp_start, dsp_end = bytes.fromhex('F0 00 00 10 00 3F 00 42'), bytes.fromhex('F0 00 00 10 00 3F 00 43')
identity_request = bytes.fromhex('F0 06 7F 1B 7F 01 00 7F 7F 7F 63 F7')
to_unit = [i for i in range(len(lines)) if sent(i)]
rule(lines[to_unit[0]][2] == identity_request, 'the unit is first asked who it is')
rule(len(to_unit) > 1 and lines[to_unit[1]][2].startswith(dsp_start), 'then comes the DSP start')
image = [i for i in to_unit if lines[i][2].startswith(dsp_image)]
rule(bool(image) and lines[image[0]][0] - lines[to_unit[1]][0] >= 2000 - SLACK, 'the image follows the start by 2000 ms')
rule(all(b - a == 1 for a, b in zip(image, image[1:])) or all(sent(j) for j in range(image[0], image[-1] + 1)),
     'nothing else goes to the unit during the replay')
ends = [i for i in to_unit if lines[i][2].startswith(dsp_end)]
rule(len(ends) == 1 and ends[0] > image[-1], 'one DSP end message, after the image')
if ends:
    rule(lines[ends[0]][0] - lines[image[-1]][0] >= 3000 - SLACK, 'the end message follows the image by 3000 ms')

qex = [i for i in range(len(lines)) if lines[i][2][:2] == b'\xF0\x06']
block, ack, loader_ack = 0x7A, bytes.fromhex('F0 06 00 1B 02 7E 00'), bytes.fromhex('F0 06 00 1B 02 7E 00 71')
for n, i in enumerate(qex):
    if not sent(i) and lines[i][2].startswith(loader_ack):
        following = [j for j in qex[n + 1:] if sent(j)]
        rule(bool(following) and lines[following[0]][0] - lines[i][0] >= 5500 - SLACK,
             'the unit is given 5500 ms to restart into its loader')
blocks = [i for i in qex if sent(i) and lines[i][2][5] == block]
rule(len(blocks) > 0, 'data blocks were sent')
for i in blocks:
    before = [j for j in qex if j < i]
    last = before[-1] if before else None
    rule(last is not None and not sent(last) and lines[last][2].startswith(ack),
         f'the data block at {lines[i][0]} ms waits for the acknowledgement of what went before')
    if last is not None:
        rule(lines[i][0] - lines[last][0] >= 40 - SLACK, f'the data block at {lines[i][0]} ms keeps 40 ms after the acknowledgement')
rule(not any(sent(j) for j in range(blocks[-1] + 1, len(lines))) if blocks else True, 'nothing is sent after the last block')

for p in dict.fromkeys(problems):
    print('rule broken:', p)
sys.exit(1 if problems else 0)
