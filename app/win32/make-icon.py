#!/usr/bin/env python3
"""Draws qvrepair.ico, the program's icon: a letter with a green mending mark, at 16 and 32
pixels in 16 colours (about 1 KiB). Run it again after changing the drawing:
    python3 app/win32/make-icon.py app/win32/qvrepair.ico
"""
import struct
import sys

# Palette index -> (red, green, blue); index 0 is transparent through the mask.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (52, 64, 92),     # 1 outline
    (255, 255, 255),  # 2 paper
    (214, 220, 232),  # 3 paper shade
    (46, 140, 60),    # 4 mark
    (28, 96, 40),     # 5 mark edge
]
PALETTE += [(0, 0, 0)] * (16 - len(PALETTE))


def line(px, x0, y0, x1, y1, c):
    steps = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(steps + 1):
        x = round(x0 + (x1 - x0) * i / steps)
        y = round(y0 + (y1 - y0) * i / steps)
        px[y][x] = c


def draw(s):
    px = [[0] * s for _ in range(s)]
    m = s // 16
    top, bottom = s * 7 // 32, s * 24 // 32
    left, right = m, s - 1 - m
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            px[y][x] = 1 if edge else (3 if y > (top + bottom) // 2 + 1 else 2)
    middle = (left + right) // 2
    flap = (top + bottom) // 2 + 1
    line(px, left, top, middle, flap, 1)
    line(px, right, top, middle + (s + 1) % 2, flap, 1)
    # The mark: a green disc with a white plus, at the lower right.
    r = s * 7 / 32
    cx, cy = s - 1 - r, s - 1 - r
    for y in range(s):
        for x in range(s):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r - 0.9:
                px[y][x] = 4
            elif d <= r + 0.3:
                px[y][x] = 5
    arm = max(1, round(r * 0.55))
    thick = 0 if s < 24 else 1
    for i in range(-arm, arm + 1):
        for t in range(-thick, thick + 1):
            px[round(cy) + t][round(cx) + i] = 2
            px[round(cy) + i][round(cx) + t] = 2
    return px


def bmp(s):
    px = draw(s)
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = (s * 4 + 31) // 32 * 4
    and_stride = (s + 31) // 32 * 4
    xor, mask = b"", b""
    for row in reversed(px):
        nibbles = bytes((row[x] << 4) | row[x + 1] for x in range(0, s, 2))
        xor += nibbles.ljust(xor_stride, b"\0")
        bits = 0
        for x in range(s):
            bits = (bits << 1) | (1 if row[x] == 0 else 0)
        mask += bits.to_bytes(s // 8, "big").ljust(and_stride, b"\0")
    return header + palette + xor + mask


def main(path):
    sizes = (16, 32)
    images = [bmp(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "qvrepair.ico")
