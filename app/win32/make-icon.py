#!/usr/bin/env python3
"""Draws the programs' icon, a letter with a green mending mark, at 16 to 256 pixels:
    qvrepair.ico          for the Windows programs: 32-bit images with alpha, 256 as PNG
    qvrepair-SIZE.png     for the Linux desktop (the hicolor icon theme)
Run it again after changing the drawing (a few seconds):
    python3 app/win32/make-icon.py app/win32/qvrepair.ico packaging/icons
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
OUTLINE = (52, 64, 92)
PAPER = (255, 255, 255)
SHADE = (214, 220, 232)
MARK = (46, 140, 60)
MARK_EDGE = (28, 96, 40)
SAMPLES = 4  # per pixel and axis: the edges are smoothed


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5


class Drawing:
    """The shapes at s pixels; coordinates in pixels, (0, 0) the top left corner. The straight
    edges fall on pixel boundaries so that the small sizes stay sharp."""

    def __init__(self, s):
        self.w = max(1, round(s / 32))  # line width
        self.left, self.right = s // 16, s - s // 16
        self.top, self.bottom = s * 7 // 32, s * 24 // 32 + 1
        self.flap = (self.top + self.bottom) // 2 + 1
        self.middle = s / 2
        self.r = s * 7 / 32
        # The mark's centre on a pixel's centre when its cross is an odd number of pixels wide.
        self.arm_width = max(1, round(self.r * 0.36))
        c = s - self.r - max(0.5, s / 64)
        self.c = math.floor(c - 0.5) + 0.5 if self.arm_width % 2 else math.floor(c)
        self.arm = max(1.5, round(self.r * 0.55) + 0.5)
        self.edge = max(1.2, s / 28)

    def colour(self, x, y):
        """The colour at a point, None where the icon is transparent."""
        d = ((x - self.c) ** 2 + (y - self.c) ** 2) ** 0.5
        if d <= self.r:
            half = self.arm_width / 2
            ax, ay = abs(x - self.c), abs(y - self.c)
            if (ax <= half and ay <= self.arm) or (ay <= half and ax <= self.arm):
                return PAPER
            return MARK if d <= self.r - self.edge else MARK_EDGE
        if not (self.left <= x < self.right and self.top <= y < self.bottom):
            return None
        w = self.w
        if x < self.left + w or x >= self.right - w or y < self.top + w or y >= self.bottom - w:
            return OUTLINE
        tip = self.flap - w / 2
        for ax in (self.left + w / 2, self.right - w / 2):
            if segment_distance(x, y, ax, self.top + w / 2, self.middle, tip) <= w / 2 + 0.15:
                return OUTLINE
        return SHADE if y >= self.flap + w else PAPER


def render(s):
    """Rows of (red, green, blue, alpha), top row first."""
    drawing = Drawing(s)
    n = SAMPLES
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for y in range(s):
        row = []
        for x in range(s):
            r = g = b = a = 0
            for oy in offsets:
                for ox in offsets:
                    c = drawing.colour(x + ox, y + oy)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            row.append((r // a, g // a, b // a, 255 * a // (n * n)) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)  # 8 bits, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def bmp(rows):
    """An icon image as Windows reads it: 32-bit BGRA bottom up, then the 1-bit mask."""
    s = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in reversed(rows))
    stride = (s + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = 0
        for p in row:
            bits = (bits << 1) | (p[3] == 0)
        mask += bits.to_bytes(s // 8, "big").ljust(stride, b"\0")
    return header + pixels + mask


def main(ico_path, png_dir):
    images = {s: render(s) for s in SIZES}
    # The largest image as PNG, the others as bitmaps, as Windows' own icons are made.
    entries = [png(images[s]) if s >= 256 else bmp(images[s]) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for s, data in zip(SIZES, entries):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(ico_path, "wb") as f:
        f.write(out + b"".join(entries))
    os.makedirs(png_dir, exist_ok=True)
    for s in SIZES:
        with open(os.path.join(png_dir, f"qvrepair-{s}.png"), "wb") as f:
            f.write(png(images[s]))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make-icon.py ICO_FILE PNG_FOLDER")
    main(sys.argv[1], sys.argv[2])
