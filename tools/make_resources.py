#!/usr/bin/env python3
"""Generates the pictures and the two built-in firmware images embedded in the updater.

Usage: make_resources.py OUTDIR

The pictures are drawn here pixel by pixel; Pillow (Debian's python3-pil) encodes them. Fully
deterministic (own PRNG, no clock, fixed encoder settings), so every run writes the same bytes
and the build can regenerate the files at configure time.
"""

import math
import os
import struct
import sys

try:
    from PIL import Image
except ImportError:
    sys.exit("make_resources.py needs Pillow: apt-get install python3-pil")


class Rng:
    """xorshift32: reproducible everywhere, unlike the random module across versions."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def uniform(self):
        return self.next() / 4294967296.0

    def bytes(self, n):
        words = (n + 3) // 4
        return b"".join(struct.pack("<I", self.next()) for _ in range(words))[:n]


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    return tuple(lerp(a, b, t) for a, b in zip(c0, c1))


def to8(v):
    return 0 if v < 0 else 255 if v > 255 else int(v + 0.5)


def hexrgb(v):
    return ((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF)


# ---------------------------------------------------------------- encoding

def write_png(path, width, height, rows, alpha):
    """rows: one bytes object per row, RGB or RGBA. 8-bit, not interlaced, no ancillary chunks."""
    data = b"".join(bytes(row) for row in rows)
    assert len(data) == width * height * (4 if alpha else 3)
    Image.frombytes("RGBA" if alpha else "RGB", (width, height), data).save(path, "PNG", compress_level=9)


def write_jpeg(path, width, height, pixels):
    """pixels: rows of (r, g, b). Baseline, 4:4:4 sampling, 96 dpi."""
    image = Image.new("RGB", (width, height))
    image.putdata([p for row in pixels for p in row])
    image.save(path, "JPEG", quality=90, subsampling=0, dpi=(96, 96), progressive=False, optimize=False)
    # Pillow has no option for the JFIF version: libjpeg writes 1.01 by default, which is checked here.
    with open(path, "rb") as f:
        head = f.read(18)
    if head[:4] != b"\xFF\xD8\xFF\xE0" or head[6:18] != b"JFIF\0" + bytes([1, 1, 1, 0, 96, 0, 96]):
        raise SystemExit("%s: unexpected JFIF header %s" % (path, head.hex()))


# ---------------------------------------------------------------- shapes (signed distances, in pixels)

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    if dx == 0 and dy == 0:
        return math.hypot(px - ax, py - ay)
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def poly_dist(px, py, pts):
    """Approximate signed distance to a convex polygon given clockwise (screen coordinates)."""
    d = -1e9
    for i in range(len(pts)):
        (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
        ex, ey = bx - ax, by - ay
        d = max(d, ((px - ax) * ey - (py - ay) * ex) / math.hypot(ex, ey))
    return d


def cover(d):
    """Pixel coverage of a shape at signed distance d: a one-pixel anti-aliased edge."""
    return clamp01(0.5 - d)


def brushed_noise(rng, n, width):
    """Tileable 1-D noise smoothed along x: repeated with a random offset per row it gives streaks."""
    raw = [rng.uniform() - 0.5 for _ in range(n)]
    out, acc = [], sum(raw[-width:])
    for i in range(n):
        acc += raw[i] - raw[i - width]
        out.append(acc / math.sqrt(width))
    return out


# ---------------------------------------------------------------- background with logo

def rounded_rect(x0, y0, x1, y1, r):
    pts = []
    for cx, cy, a0 in ((x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180)):
        for k in range(7):
            a = math.radians(a0 + 15 * k)
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts + pts[:1]


def logo_strokes():
    """'ZELVOR' as centre-line polylines in a wide rounded face; cap height 20 px."""
    glyphs = [
        (40, lambda w: [[(0, 0), (w, 0), (0, 20), (w, 20)]]),
        (34, lambda w: [[(w, 0), (0, 0), (0, 20), (w, 20)], [(0, 10), (w * 0.8, 10)]]),
        (32, lambda w: [[(0, 0), (0, 20), (w, 20)]]),
        (42, lambda w: [[(0, 0), (w / 2, 20), (w, 0)]]),
        (44, lambda w: [rounded_rect(0, 0, w, 20, 8)]),
        (38, lambda w: [[(0, 20), (0, 0)] + rounded_rect(0, 0, w, 10, 5)[:14] + [(0, 10)],
                        [(w * 0.55, 10), (w, 20)]]),
    ]
    letters, x = [], 24.0
    for width, make in glyphs:
        segs = []
        for line in make(width):
            pts = [(x + px, 28 + py) for px, py in line]
            segs += [pts[i] + pts[i + 1] for i in range(len(pts) - 1)]
        letters.append(segs)
        x += width + 10.2
    return letters


def draw_logo(rows):
    radius, rim, slant = 2.6, 1.7, 0.2
    dist = {}
    for segs in logo_strokes():
        xs = [v for s in segs for v in (s[0], s[2])]
        for y in range(22, 56):
            for x in range(int(min(xs)) - 6, int(max(xs)) + 12):
                # Slant by shearing the sample point back; the bottom line (y 48) stays put.
                for key, ox, oy in (("d", 0, 0), ("s", 1.2, 1.8)):
                    px, py = x - ox - slant * (48 - (y - oy)), y - oy
                    d = min(seg_dist(px, py, *s) for s in segs)
                    k = (key, x, y)
                    dist[k] = min(dist.get(k, 1e9), d)
    blue_top, blue_bottom = (96, 160, 245), (12, 52, 165)
    for y in range(22, 56):
        row = rows[y]
        for x in range(14, 320):
            d, ds = dist.get(("d", x, y), 1e9), dist.get(("s", x, y), 1e9)
            i = 3 * x
            c = (row[i], row[i + 1], row[i + 2])
            c = mix(c, (40, 40, 60), 0.35 * clamp01((radius + rim + 3.0 - ds) / 3.0))
            c = mix(c, (255, 255, 255), cover(d - radius - rim))
            t = clamp01((y - 28) / 20.0)
            blue = mix(blue_top, blue_bottom, t)
            if y < 37:  # glossy upper half of the strokes
                blue = mix(blue, (255, 255, 255), 0.30 * (1.0 - (y - 26) / 11.0))
            c = mix(c, blue, cover(d - radius))
            row[i:i + 3] = bytes(to8(v) for v in c)


def make_background(rng, path):
    width, height, flat = 1356, 836, 44
    grey, light = (145, 143, 144), (237, 236, 234)
    delta = [l - g for l, g in zip(light, grey)]
    # Cosine fades reach exactly zero at the flat margin, so the edges are the window colour.
    ux = [0.5 + 0.5 * math.cos(math.pi * x / (width - flat)) if x < width - flat else 0.0 for x in range(width)]
    uy = [0.5 + 0.5 * math.cos(math.pi * y / (height - flat)) if y < height - flat else 0.0 for y in range(height)]
    coarse, fine = brushed_noise(rng, 4096, 40), brushed_noise(rng, 4096, 3)
    flat_row = bytes(grey) * width
    rows = []
    for y in range(height):
        s = uy[y]
        if s == 0.0:
            rows.append(bytearray(flat_row))
            continue
        o1, o2 = rng.next() & 4095, rng.next() & 4095
        line = 2.0 * (rng.uniform() - 0.5) + (4.0 if rng.uniform() < 0.04 else 0.0)
        row = bytearray(3 * width)
        for x in range(width):
            f = ux[x] * s
            n = f * (5.0 * coarse[(x + o1) & 4095] + 2.0 * fine[(x + o2) & 4095] + line)
            row[3 * x] = to8(grey[0] + f * delta[0] + n)
            row[3 * x + 1] = to8(grey[1] + f * delta[1] + n)
            row[3 * x + 2] = to8(grey[2] + f * delta[2] + n)
        rows.append(row)
    draw_logo(rows)
    write_png(path, width, height, rows, alpha=False)


# ---------------------------------------------------------------- alert box background and progress bar

def make_alert_background(rng, path):
    width, height = 928, 270
    top_left, bottom_left, right = hexrgb(0xEBEAE8), hexrgb(0xCDCCCA), hexrgb(0x959394)
    coarse, fine = brushed_noise(rng, 4096, 40), brushed_noise(rng, 4096, 3)
    rows = []
    for y in range(height):
        left = mix(top_left, bottom_left, y / (height - 1))
        o1, o2 = rng.next() & 4095, rng.next() & 4095
        line = 1.5 * (rng.uniform() - 0.5)
        row = bytearray(4 * width)
        for x in range(width):
            f = 1.0 - x / (width - 1)
            n = f * (3.0 * coarse[(x + o1) & 4095] + 1.2 * fine[(x + o2) & 4095] + line)
            for ch in range(3):
                row[4 * x + ch] = to8(right[ch] + f * (left[ch] - right[ch]) + n)
            row[4 * x + 3] = 255
        rows.append(row)
    write_png(path, width, height, rows, alpha=True)


def gradient_rows(anchors):
    """anchors: {row: 0xRRGGBB}; rows between two anchors are eased between them."""
    keys = sorted(anchors)
    out = {}
    for a, b in zip(keys, keys[1:]):
        for r in range(a, b + 1):
            t = (r - a) / (b - a)
            t = t * t * (3.0 - 2.0 * t) * 0.5 + t * 0.5  # gentle ease keeps it monotonic
            out[r] = tuple(to8(v) for v in mix(hexrgb(anchors[a]), hexrgb(anchors[b]), t))
    return out


def make_progress_fill(path):
    col = gradient_rows({1: 0xF1F0FB, 11: 0x4F4EAA, 18: 0x9F9CE2})
    col[0] = col[19] = hexrgb(0x999999)
    write_png(path, 1, 20, [bytes(col[r]) for r in range(20)], alpha=False)


def make_progress_track(path):
    width = 278
    col = gradient_rows({1: 0xFBFBFB, 9: 0xF7FAFB})
    col.update(gradient_rows({10: 0xE3E7F3, 17: 0xEFF2F9}))
    col[18] = hexrgb(0xDEE1E6)
    rows = []
    for r in range(20):
        if r in (0, 19):
            rows.append(bytes(hexrgb(0x999999)) * width)
        else:
            side = bytes(hexrgb(0x9D9D9D))
            rows.append(side + bytes(col[r]) * (width - 2) + side)
    write_png(path, width, 20, rows, alpha=False)


# ---------------------------------------------------------------- application icon

def arrow_dist(px, py, cx, cy, radius, half, a_tail, a_head, head_len, head_half):
    """Signed distance to a circular arc arrow running counter-clockwise on screen from a_tail to a_head."""
    dx, dy = px - cx, py - cy
    ang = math.atan2(-dy, dx)
    span = (a_head - a_tail) % (2 * math.pi)
    rel = (ang - a_tail) % (2 * math.pi)
    if rel <= span:
        d_arc = abs(math.hypot(dx, dy) - radius) - half
    else:
        d_arc = min(math.hypot(px - (cx + radius * math.cos(a)), py - (cy - radius * math.sin(a)))
                    for a in (a_tail, a_head)) - half
    # Head: a triangle whose base sits across the arc end, pointing along the tangent.
    bx, by = cx + radius * math.cos(a_head), cy - radius * math.sin(a_head)
    tx, ty = -math.sin(a_head), -math.cos(a_head)
    nx, ny = math.cos(a_head), -math.sin(a_head)
    tri = [(bx + nx * head_half, by + ny * head_half), (bx + tx * head_len, by + ty * head_len),
           (bx - nx * head_half, by - ny * head_half)]
    if (tri[1][0] - tri[0][0]) * (tri[2][1] - tri[0][1]) - (tri[1][1] - tri[0][1]) * (tri[2][0] - tri[0][0]) < 0:
        tri.reverse()
    return min(d_arc, poly_dist(px, py, tri))


def make_app_icon(path):
    size, c, radius = 256, 127.5, 120.0
    arrows = [(math.radians(200), math.radians(340)), (math.radians(20), math.radians(160))]
    rows = []
    for y in range(size):
        row = bytearray(4 * size)
        for x in range(size):
            dx, dy = x - c, y - c
            r = math.hypot(dx, dy)
            alpha = cover(r - radius)
            if alpha == 0.0:
                continue
            # Radial blue lit from the upper left, with a darker rim.
            t = clamp01(math.hypot(dx + 40, dy + 50) / 210.0)
            col = mix((90, 170, 255), (8, 40, 140), t)
            col = mix(col, (5, 25, 90), clamp01((r - radius + 9) / 9.0) * 0.6)
            gloss_d = math.hypot(dx / 95.0, (dy + 58) / 56.0)
            if gloss_d < 1.0:
                col = mix(col, (255, 255, 255), 0.45 * (1.0 - gloss_d) ** 0.6 * clamp01((-dy + 10) / 60.0))
            d = min(arrow_dist(x, y, c, c, 62, 10, a0, a1, 30, 24) for a0, a1 in arrows)
            ds = min(arrow_dist(x - 3, y - 5, c, c, 62, 10, a0, a1, 30, 24) for a0, a1 in arrows)
            col = mix(col, (0, 15, 60), 0.45 * clamp01((4.0 - ds) / 8.0))
            col = mix(col, (255, 255, 255), cover(d))
            row[4 * x:4 * x + 4] = bytes([to8(col[0]), to8(col[1]), to8(col[2]), to8(alpha * 255)])
        rows.append(row)
    write_png(path, size, size, rows, alpha=True)


# ---------------------------------------------------------------- window icon

def make_window_icon(path):
    size = 32
    # Upper arrow points right, lower arrow points left: shaft segment plus triangular head.
    arrows = [((4, 10.5), (19, 10.5), [(19, 4.5), (28, 10.5), (19, 16.5)]),
              ((28, 21.5), (13, 21.5), [(13, 27.5), (4, 21.5), (13, 15.5)])]
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            col = mix((30, 60, 140), (8, 20, 70), clamp01((px + py) / 64.0))
            d = min(min(seg_dist(px, py, *a, *b) - 1.8, poly_dist(px, py, tri)) for a, b, tri in arrows)
            col = mix(col, (240, 244, 255), cover(d))
            row.append(tuple(to8(v) for v in col))
        pixels.append(row)
    write_jpeg(path, size, size, pixels)


# ---------------------------------------------------------------- firmware images

QEX_BLOCKS = [0x00000, 0x10000, 0x20000, 0x30000, 0x60000, 0xE0000]
CHUNK = 256
# Chunk ranges per block that hold data; everything else is erased flash (0xFF). Code sits at
# the start of most blocks; the last two blocks start erased and hold only small data islands.
QEX_LAYOUT = [
    [(0, 200), (224, 228)],
    [(0, 256)],
    [(0, 180), (192, 196)],
    [(0, 112), (160, 162)],
    [(8, 45), (128, 130)],
    [(224, 256)],
]
QEX_CHUNKS_SENT = 831  # what the transfer sends: first chunk of each block plus every non-erased one


def make_qex_image(rng, path):
    out = bytearray(b"\x00\x1B\x00\x02")
    sent = 0
    for address, ranges in zip(QEX_BLOCKS, QEX_LAYOUT):
        data = bytearray(b"\xFF" * 0x10000)
        for first, end in ranges:
            data[first * CHUNK:end * CHUNK] = rng.bytes((end - first) * CHUNK)
            # Code and data rarely end on a chunk boundary: leave the tail of the last chunk erased.
            tail = CHUNK - 1 - (rng.next() % 200)
            data[end * CHUNK - tail:end * CHUNK] = b"\xFF" * tail
        out += struct.pack(">II", address, len(data)) + data
        chunks = [data[i:i + CHUNK] for i in range(0, len(data), CHUNK)]
        sent += 1 + sum(1 for c in chunks[1:] if c.count(0xFF) != CHUNK)
    if sent != QEX_CHUNKS_SENT or len(out) != 393268:
        raise SystemExit("qexImage layout gives %d chunks, %d bytes" % (sent, len(out)))
    with open(path, "wb") as f:
        f.write(out)


DSP_PREFIX = bytes([0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59])
DSP_TYPES = {0x00: (0x57, 18, 21), 0x7F: (0x58, 163, 3256), 0x01: (0x56, 19, 328)}  # check, length, count


def dsp_sequence():
    """Type order: three headers, then sections of data messages with a commit every ten or so,
    one header per later section, and a closing run of 61 commits."""
    sections, data, commits, tail = 19, DSP_TYPES[0x7F][2], DSP_TYPES[0x01][2] - 61, 61
    seq = [0x00, 0x00]
    for s in range(sections):
        d = data // sections + (1 if s < data % sections else 0)
        c = commits // sections + (1 if s < commits % sections else 0)
        marks = {round((k + 1) * d / (c + 1)) for k in range(c)}
        seq.append(0x00)
        for i in range(d):
            if i in marks:
                seq.append(0x01)
            seq.append(0x7F)
    return seq + [0x01] * tail


def make_dsp_image(rng, path):
    out = bytearray()
    seq = dsp_sequence()
    for kind in seq:
        check, length, _ = DSP_TYPES[kind]
        header = DSP_PREFIX + bytes([kind])
        if (sum(header[1:]) + check) % 0x80 != 0x7F:
            raise SystemExit("bad check byte for type %02X" % kind)
        payload = bytes(b & 0x7F for b in rng.bytes(length - 11))
        out += header + bytes([check]) + payload + b"\xF7"
    counts = {k: seq.count(k) for k in DSP_TYPES}
    if len(out) != 537338 or any(counts[k] != v[2] for k, v in DSP_TYPES.items()):
        raise SystemExit("dspImage has %d bytes, counts %r" % (len(out), counts))
    with open(path, "wb") as f:
        f.write(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_resources.py OUTDIR\n")
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    path = lambda name: os.path.join(outdir, name)
    make_background(Rng(0x5EED0001), path("background.png"))
    make_window_icon(path("windowIcon.jpg"))
    make_alert_background(Rng(0x5EED0002), path("alertBackground.png"))
    make_progress_track(path("progressTrack.png"))
    make_progress_fill(path("progressFill.png"))
    make_app_icon(path("appIcon.png"))
    make_qex_image(Rng(0x5EED0003), path("qexImage.bin"))
    make_dsp_image(Rng(0x5EED0004), path("dspImage.syx"))
    print("make_resources: 8 files written to " + outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
