#!/usr/bin/env python3
"""Draws the program's bitmaps and icon.

Everything is drawn from the shapes below with the standard library only and
written beside this script as uncompressed BMP files (no colour table) and
one ICO file. The generated files are committed, so the build needs no
Python. After changing a picture, regenerate them all with:

    python3 app/resources/art/draw.py

With --check it writes nothing and fails when a committed file differs from
what the drawing code gives (the build's tests run it that way).

Shapes are filled with analytic horizontal coverage and vertical
supersampling, which gives smooth edges without any imaging library.
"""

import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Colours (r, g, b).
WHITE = (255, 255, 255)
FACE = WHITE  # the status dialog paints its background white
BLACK = (0, 0, 0)
INK = (40, 40, 40)
OUTLINE = (70, 74, 80)
BODY = (196, 200, 206)
BODY_DARK = (150, 155, 162)
BODY_LIGHT = (222, 225, 229)
SLOT = (60, 62, 66)
PAPER = (255, 255, 255)
PAPER_EDGE = (120, 124, 130)
PRINTED = (110, 150, 210)
SKIN = (240, 196, 160)
SKIN_EDGE = (170, 120, 90)
ARROW = (0, 120, 215)
BADGE = (0, 90, 170)
YELLOW = (255, 204, 0)
YELLOW_EDGE = (150, 110, 0)
RED = (210, 30, 30)
RED_EDGE = (130, 10, 10)
PANEL_EDGE = (200, 204, 210)
ENVELOPE = (250, 244, 225)

SUBROWS = 5  # vertical samples per pixel


class Canvas:
    def __init__(self, width, height, background):
        self.width = width
        self.height = height
        self.pixels = [[list(map(float, background)) for _ in range(width)]
                       for _ in range(height)]

    # -- filling -----------------------------------------------------------

    def fill(self, polygons, colour, alpha=1.0):
        """Fills the union of closed polygons (lists of (x, y) points)."""
        polygons = [p for p in polygons if len(p) >= 3]
        if not polygons:
            return
        ys = [y for p in polygons for _, y in p]
        top = max(0, int(math.floor(min(ys))))
        bottom = min(self.height, int(math.ceil(max(ys))))
        for py in range(top, bottom):
            coverage = {}
            for j in range(SUBROWS):
                y = py + (j + 0.5) / SUBROWS
                spans = []
                for poly in polygons:
                    xs = []
                    n = len(poly)
                    for i in range(n):
                        x0, y0 = poly[i]
                        x1, y1 = poly[(i + 1) % n]
                        if (y0 <= y < y1) or (y1 <= y < y0):
                            xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
                    xs.sort()
                    spans += [(xs[k], xs[k + 1]) for k in range(0, len(xs) - 1, 2)]
                for a, b in _union(spans):
                    a = max(a, 0.0)
                    b = min(b, float(self.width))
                    if b <= a:
                        continue
                    for px in range(int(a), min(self.width, int(math.ceil(b)))):
                        part = min(b, px + 1) - max(a, px)
                        if part > 0:
                            coverage[px] = coverage.get(px, 0.0) + part / SUBROWS
            row = self.pixels[py]
            for px, c in coverage.items():
                c = min(1.0, c) * alpha
                pixel = row[px]
                for k in range(3):
                    pixel[k] += (colour[k] - pixel[k]) * c

    def polygon(self, points, colour, outline=None, width=1.0):
        self.fill([points], colour)
        if outline:
            self.stroke(points + [points[0]], outline, width)

    def rect(self, x, y, w, h, colour, outline=None, width=1.0, radius=0.0):
        self.polygon(rounded_rect(x, y, w, h, radius), colour, outline, width)

    def circle(self, cx, cy, r, colour, outline=None, width=1.0):
        self.polygon(ellipse(cx, cy, r, r), colour, outline, width)

    def stroke(self, points, colour, width=1.0, caps=True):
        """Strokes an open polyline with round joins."""
        half = width / 2.0
        shapes = []
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            dx, dy = x1 - x0, y1 - y0
            length = math.hypot(dx, dy)
            if length == 0:
                continue
            nx, ny = -dy / length * half, dx / length * half
            shapes.append([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny),
                           (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)])
        joints = points if caps else points[1:-1]
        shapes += [ellipse(x, y, half, half, 16) for x, y in joints]
        self.fill(shapes, colour)

    def arrow(self, points, colour=ARROW, width=3.0, head=9.0):
        """A polyline ending in a filled arrow head."""
        (x0, y0), (x1, y1) = points[-2], points[-1]
        angle = math.atan2(y1 - y0, x1 - x0)
        base = (x1 - head * math.cos(angle), y1 - head * math.sin(angle))
        self.stroke(points[:-1] + [base], colour, width)
        left = (base[0] + head * 0.6 * math.sin(angle), base[1] - head * 0.6 * math.cos(angle))
        right = (base[0] - head * 0.6 * math.sin(angle), base[1] + head * 0.6 * math.cos(angle))
        self.fill([[(x1, y1), left, right]], colour)

    # -- output ------------------------------------------------------------

    def rgb_rows(self):
        """Rows from top to bottom of (r, g, b) byte triples."""
        return [[tuple(max(0, min(255, int(round(c)))) for c in p) for p in row]
                for row in self.pixels]


def _union(spans):
    spans.sort()
    merged = []
    for a, b in spans:
        if merged and a <= merged[-1][1]:
            merged[-1] = (merged[-1][0], max(merged[-1][1], b))
        else:
            merged.append((a, b))
    return merged


def ellipse(cx, cy, rx, ry, steps=48):
    return [(cx + rx * math.cos(2 * math.pi * i / steps),
             cy + ry * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def arc(cx, cy, r, start, end, steps=24):
    """Points of an arc, angles in degrees, clockwise on screen."""
    return [(cx + r * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + r * math.sin(math.radians(start + (end - start) * i / steps)))
            for i in range(steps + 1)]


def rounded_rect(x, y, w, h, r):
    if r <= 0:
        return [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]
    pts = []
    for cx, cy, start in ((x + w - r, y + r, -90), (x + w - r, y + h - r, 0),
                          (x + r, y + h - r, 90), (x + r, y + r, 180)):
        pts += arc(cx, cy, r, start, start + 90, 6)
    return pts


def transform(points, dx=0.0, dy=0.0, angle=0.0, scale=1.0):
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    return [(dx + scale * (x * c - y * s), dy + scale * (x * s + y * c)) for x, y in points]


# -- digits ---------------------------------------------------------------

# Stroke shapes on a unit box (x to the right, y down).
DIGITS = {
    "1": [[(0.28, 0.25), (0.55, 0.06), (0.55, 0.94)]],
    "2": [[(0.2, 0.28)] + arc(0.5, 0.3, 0.3, 180, 360, 10)[1:] +
          [(0.74, 0.5), (0.2, 0.94), (0.82, 0.94)]],
    "3": [arc(0.48, 0.28, 0.24, 200, 450, 10), arc(0.48, 0.7, 0.26, 270, 520, 12)],
    "4": [[(0.66, 0.94), (0.66, 0.06), (0.14, 0.68), (0.86, 0.68)]],
}


def digit(canvas, ch, x, y, size, colour, width):
    for stroke in DIGITS[ch]:
        canvas.stroke(transform(stroke, x, y, scale=size), colour, width)


def badge(canvas, ch, cx, cy, r=11.0):
    """A step number in a filled circle."""
    canvas.circle(cx, cy, r, BADGE)
    size = r * 1.1
    digit(canvas, ch, cx - size / 2, cy - size / 2, size, WHITE, max(1.6, r / 5))


def circled_digit(canvas, ch, cx, cy, r=11.0):
    """A step number inside a ring (circled digit)."""
    canvas.circle(cx, cy, r, WHITE, outline=INK, width=1.8)
    size = r * 1.05
    digit(canvas, ch, cx - size / 2, cy - size / 2, size, INK, max(1.6, r / 5.5))


# -- printer parts ----------------------------------------------------------

def printer(canvas, x, y, w, h, tray_out=0.0, feeder_open=False, rear_feeder=True):
    """A desktop inkjet seen from the front and slightly above.

    (x, y) is the top-left of the body; tray_out pulls the paper tray out of
    the front slot by that many pixels; feeder_open drops the front feeder
    flap.
    """
    if rear_feeder:
        # Paper support rising behind the body.
        canvas.polygon([(x + w * 0.2, y + 4), (x + w * 0.26, y - h * 0.45),
                        (x + w * 0.74, y - h * 0.45), (x + w * 0.8, y + 4)],
                       BODY_LIGHT, OUTLINE, 1.5)
    # Body with a lighter top face.
    canvas.rect(x, y, w, h, BODY, OUTLINE, 2.0, radius=6)
    canvas.rect(x + 4, y + 4, w - 8, h * 0.28, BODY_LIGHT, radius=4)
    # Control panel and power light.
    canvas.rect(x + w * 0.72, y + h * 0.38, w * 0.2, h * 0.14, BODY_DARK, radius=2)
    canvas.circle(x + w * 0.87, y + h * 0.45, 2.2, (60, 190, 90))
    # Output slot.
    canvas.rect(x + w * 0.12, y + h * 0.55, w * 0.76, h * 0.1, SLOT, radius=2)
    if feeder_open:
        # Front feeder flap folded down, showing its slot.
        canvas.rect(x + w * 0.18, y + h * 0.72, w * 0.64, h * 0.08, SLOT, radius=1)
        canvas.polygon([(x + w * 0.16, y + h * 0.82), (x + w * 0.84, y + h * 0.82),
                        (x + w * 0.9, y + h * 1.08), (x + w * 0.1, y + h * 1.08)],
                       BODY_DARK, OUTLINE, 1.5)
    else:
        canvas.rect(x + w * 0.18, y + h * 0.72, w * 0.64, h * 0.16, BODY_DARK, OUTLINE, 1.0,
                    radius=2)
    if tray_out > 0:
        tx, ty, tw = x + w * 0.14, y + h * 0.78, w * 0.72
        canvas.polygon([(tx, ty), (tx + tw, ty), (tx + tw + 6, ty + tray_out),
                        (tx - 6, ty + tray_out)], BODY_LIGHT, OUTLINE, 1.5)
        canvas.rect(tx - 6, ty + tray_out - 5, tw + 12, 6, BODY_DARK, OUTLINE, 1.0, radius=2)


def sheet(canvas, x, y, w, h, angle=0.0, printed=False, colour=PAPER):
    """One sheet, rotated about its top-left corner."""
    pts = transform([(0, 0), (w, 0), (w, h), (0, h)], x, y, angle)
    canvas.polygon(pts, colour, PAPER_EDGE, 1.2)
    if printed:
        for k in range(4):
            ly = h * (0.2 + 0.17 * k)
            canvas.stroke(transform([(w * 0.15, ly), (w * (0.85 if k < 3 else 0.55), ly)],
                                    x, y, angle), PRINTED, 1.6)


def envelope(canvas, x, y, w, h, angle=0.0):
    pts = transform([(0, 0), (w, 0), (w, h), (0, h)], x, y, angle)
    canvas.polygon(pts, ENVELOPE, PAPER_EDGE, 1.2)
    canvas.stroke(transform([(0, 0), (w / 2, h * 0.55), (w, 0)], x, y, angle), PAPER_EDGE, 1.2)


def stack(canvas, x, y, w, count=5, gap=3.0, printed=False):
    """A stack of sheets seen in perspective, top sheet first."""
    for k in reversed(range(count)):
        canvas.polygon([(x + 10, y + k * gap), (x + w + 10, y + k * gap),
                        (x + w, y + 14 + k * gap), (x, y + 14 + k * gap)],
                       PAPER, PAPER_EDGE, 1.0)
    if printed:
        canvas.stroke([(x + 14, y + 5), (x + w - 4, y + 5)], PRINTED, 1.4)
        canvas.stroke([(x + 12, y + 9), (x + w - 10, y + 9)], PRINTED, 1.4)


def hand(canvas, x, y, scale=1.0, angle=0.0):
    """A hand seen from the side, index finger pointing right, at (x, y)."""
    palm = [(-34, -10), (-6, -12), (4, -8), (6, 4), (-4, 12), (-34, 12)]
    finger = rounded_rect(-8, -12, 32, 8, 4)
    thumb = rounded_rect(-14, -20, 20, 7, 3.5)
    fingers = [rounded_rect(-8, -4 + 5 * k, 22 - 3 * k, 6, 3) for k in range(3)]
    sleeve = rounded_rect(-56, -14, 24, 30, 3)
    canvas.polygon(transform(sleeve, x, y, angle, scale), ARROW, (0, 70, 140), 1.2)
    for shape in [palm, thumb] + fingers + [finger]:
        canvas.polygon(transform(shape, x, y, angle, scale), SKIN, SKIN_EDGE, 1.2)


def panel(canvas, x, y, w, h):
    canvas.rect(x, y, w, h, WHITE, PANEL_EDGE, 1.5, radius=6)


# -- pictures -------------------------------------------------------------

def check_mark():
    c = Canvas(20, 20, FACE)
    c.circle(10, 10, 9.6, BLACK)
    c.stroke([(5.2, 10.4), (8.6, 13.8), (14.8, 6.4)], WHITE, 2.4)
    return c


def exclamation(canvas, cx, top, bottom, colour, width):
    """A tapered bar with a dot below it."""
    dot = width * 0.62
    bar_bottom = bottom - dot * 2 - width * 0.45
    canvas.fill([[(cx - width / 2, top), (cx + width / 2, top),
                  (cx + width * 0.28, bar_bottom), (cx - width * 0.28, bar_bottom)],
                 ellipse(cx, top, width / 2, width / 2 * 0.6, 16)], colour)
    canvas.circle(cx, bottom - dot, dot, colour)


def warning():
    c = Canvas(40, 36, FACE)
    tri = [(20, 1.5), (38.5, 34), (1.5, 34)]
    c.polygon(tri, YELLOW_EDGE)
    c.polygon([(20, 5.2), (35.4, 32.2), (4.6, 32.2)], YELLOW)
    exclamation(c, 20, 12.5, 30, BLACK, 4.2)
    return c


def error():
    c = Canvas(40, 36, FACE)
    octagon = [(20 + 17.6 * math.cos(math.radians(22.5 + 45 * i)),
                18 + 17.6 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    inner = [(20 + 15.2 * math.cos(math.radians(22.5 + 45 * i)),
              18 + 15.2 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    c.polygon(octagon, RED_EDGE)
    c.polygon(inner, WHITE)
    c.polygon([(20 + 13.8 * math.cos(math.radians(22.5 + 45 * i)),
                18 + 13.8 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)], RED)
    exclamation(c, 20, 8, 28.5, WHITE, 4.4)
    return c


def load_media(alt=False):
    """1: media laid on the top feeder; 2: media in the front tray."""
    c = Canvas(500, 150, WHITE)
    panel(c, 4, 4, 242, 142)
    panel(c, 254, 4, 242, 142)
    # Scene 1: sheet standing in the rear feeder, arrow down into it.
    printer(c, 55, 68, 150, 62)
    sheet(c, 98, 8, 62, 62, angle=0, colour=PAPER)
    c.arrow([(182, 14), (182, 52)], width=3.2)
    badge(c, "1", 22, 22)
    # Scene 2: tray pulled out with a sheet in it, arrow pushing it in.
    printer(c, 305, 46, 150, 62, tray_out=34, rear_feeder=False)
    c.polygon([(340, 124), (420, 124), (415, 108), (345, 108)], PAPER, PAPER_EDGE, 1.2)
    c.arrow([(470, 132), (470, 104)], width=3.2)
    badge(c, "2", 272, 22)
    return c


def front_feeder():
    """A hand opening the front feeder; a hand pushing a sheet into it."""
    c = Canvas(500, 150, WHITE)
    panel(c, 4, 4, 242, 142)
    panel(c, 254, 4, 242, 142)
    # Scene 1: the flap comes down under the fingers.
    printer(c, 48, 30, 150, 70, feeder_open=True, rear_feeder=False)
    hand(c, 112, 124, 1.0, angle=-25)
    c.arrow(arc(168, 88, 34, -40, 40, 10), width=3.0)
    # Scene 2: a sheet slides into the opened feeder.
    printer(c, 298, 30, 150, 70, feeder_open=True, rear_feeder=False)
    c.polygon([(338, 112), (410, 112), (420, 134), (328, 134)], PAPER, PAPER_EDGE, 1.2)
    hand(c, 362, 132, 0.9, angle=-80)
    c.arrow([(470, 134), (470, 100)], width=3.0)
    return c


def tray_media(alt=False):
    """1: media at the top with the tray pulled out; 2: media in the tray."""
    c = Canvas(422, 150, WHITE)
    panel(c, 4, 4, 203, 142)
    panel(c, 215, 4, 203, 142)
    # Scene 1.
    printer(c, 40, 56, 140, 56, tray_out=30)
    if alt:
        envelope(c, 82, 10, 56, 40)
    else:
        sheet(c, 84, 6, 52, 56)
    c.arrow([(158, 14), (158, 48)], width=3.0)
    circled_digit(c, "1", 22, 22)
    # Scene 2.
    printer(c, 252, 48, 140, 56, tray_out=38)
    c.polygon([(282, 136), (362, 136), (357, 118), (287, 118)],
              ENVELOPE if alt else PAPER, PAPER_EDGE, 1.2)
    c.arrow([(404, 140), (404, 108)], width=3.0)
    circled_digit(c, "2", 233, 22)
    return c


def duplex_steps(alt=False):
    """1: sheet at the front slot; 2: turning it over; 3: a stack; 4: into the tray."""
    c = Canvas(500, 101, WHITE)
    for k in range(4):
        panel(c, 3 + k * 124, 3, 120, 95)
    # 1: printout coming out of the front slot.
    printer(c, 22, 34, 90, 40, rear_feeder=False)
    c.polygon([(42, 56), (92, 56), (98, 88), (36, 88)], PAPER, PAPER_EDGE, 1.2)
    c.stroke([(46, 70), (88, 70)], PRINTED, 1.4)
    c.stroke([(44, 78), (80, 78)], PRINTED, 1.4)
    c.arrow([(67, 70), (67, 96)] if not alt else [(104, 60), (104, 92)], width=2.6, head=7)
    badge(c, "1", 15, 15, 9)
    # 2: the sheet turned over, curved arrow.
    sheet(c, 150, 40, 36, 44, angle=-12, printed=True)
    sheet(c, 196, 36, 36, 44, angle=12, printed=False)
    c.arrow(arc(191, 44, 22, 200, 340, 12), width=2.6, head=7)
    badge(c, "2", 139, 15, 9)
    # 3: a stack of sheets, the top one taken.
    stack(c, 272, 56, 60, count=5, printed=alt)
    sheet(c, 286, 22, 40, 26, angle=-8)
    c.arrow([(342, 52), (342, 28)], width=2.6, head=7)
    badge(c, "3", 263, 15, 9)
    # 4: the stack going into the tray.
    printer(c, 402, 26, 84, 36, tray_out=22, rear_feeder=False)
    stack(c, 408, 74, 52, count=3, gap=2.5, printed=True)
    c.arrow([(438, 96), (438, 76)], width=2.6, head=7)
    badge(c, "4", 387, 15, 9)
    return c


def program_icon(size):
    """A small printer with a sheet coming out, for the program file."""
    c = Canvas(size, size, (0, 0, 0))
    mask = Canvas(size, size, (0, 0, 0))
    s = size / 48.0

    def shapes(canvas, solid):
        def col(colour):
            return WHITE if solid else colour
        canvas.rect(12 * s, 3 * s, 24 * s, 16 * s, col(PAPER), None if solid else PAPER_EDGE, 1.5 * s)
        canvas.rect(3 * s, 16 * s, 42 * s, 20 * s, col(BODY), None if solid else OUTLINE, 2 * s,
                    radius=4 * s)
        canvas.rect(10 * s, 30 * s, 28 * s, 15 * s, col(PAPER), None if solid else PAPER_EDGE,
                    1.5 * s)
        if not solid:
            canvas.rect(8 * s, 27 * s, 32 * s, 4 * s, SLOT)
            canvas.circle(38 * s, 22 * s, 2.5 * s, (60, 190, 90))
            if size >= 32:
                canvas.stroke([(14 * s, 37 * s), (34 * s, 37 * s)], PRINTED, 2 * s)
                canvas.stroke([(14 * s, 41 * s), (28 * s, 41 * s)], PRINTED, 2 * s)
    shapes(mask, True)
    shapes(c, False)
    return c, mask


# -- file formats ---------------------------------------------------------

def dib(canvas, bits, height_factor=1):
    """BITMAPINFOHEADER and bottom-up pixel rows, uncompressed, no colour table."""
    w, h = canvas.width, canvas.height
    stride = ((w * bits + 31) // 32) * 4
    rows = []
    for row in reversed(canvas.rgb_rows()):
        if bits == 24:
            data = b"".join(struct.pack("<BBB", b, g, r) for r, g, b in row)
        else:  # 16 bits, 5-5-5
            data = b"".join(struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                            for r, g, b in row)
        rows.append(data + b"\0" * (stride - len(data)))
    pixels = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * height_factor, 1, bits, 0, len(pixels),
                         2835, 2835, 0, 0)
    return header, pixels


CHECK_ONLY = "--check" in sys.argv[1:]
STALE = []


def write_file(name, data):
    path = os.path.join(HERE, name)
    if CHECK_ONLY:
        try:
            with open(path, "rb") as f:
                same = f.read() == data
        except OSError:
            same = False
        if not same:
            STALE.append(name)
        return
    with open(path, "wb") as f:
        f.write(data)


def write_bmp(name, canvas, bits):
    header, pixels = dib(canvas, bits)
    offset = 14 + len(header)
    write_file(name, struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) +
               header + pixels)


def write_ico(name, images):
    """images: (colour canvas, mask canvas) pairs, 24 bits with an AND mask."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for colour, mask in images:
        header, pixels = dib(colour, 24, height_factor=2)
        w, h = colour.width, colour.height
        mstride = ((w + 31) // 32) * 4
        mrows = []
        for row in reversed(mask.rgb_rows()):
            bits = bytearray(mstride)
            for x, (r, _, _) in enumerate(row):
                if r < 128:  # outside the shape: transparent
                    bits[x // 8] |= 0x80 >> (x % 8)
            mrows.append(bytes(bits))
        blob = header + pixels + b"".join(mrows)
        entries.append(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 24, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    write_file(name, struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs))


def main():
    write_bmp("check_mark.bmp", check_mark(), 24)
    write_bmp("warning.bmp", warning(), 24)
    write_bmp("error.bmp", error(), 24)
    write_bmp("load_media.bmp", load_media(), 16)
    write_bmp("front_feeder.bmp", front_feeder(), 16)
    write_bmp("tray_media.bmp", tray_media(), 24)
    write_bmp("tray_media_alt.bmp", tray_media(alt=True), 24)
    write_bmp("duplex_steps.bmp", duplex_steps(), 24)
    write_bmp("duplex_steps_alt.bmp", duplex_steps(alt=True), 24)
    write_ico("program.ico", [program_icon(16), program_icon(48)])
    if STALE:
        sys.stderr.write("out of date, run %s: %s\n" % (__file__, " ".join(STALE)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
