#!/usr/bin/env python3
"""Generates Velmora.ico: one 32 x 32 image, 24 bits per pixel, with a 1-bit AND mask.

The picture is a gold key with a dark outline, lying diagonally on a transparent
background: the bow (a ring) at the top left, the bit (two teeth) at the bottom right.
It is drawn from signed distance functions, sampled 4 x 4 times per pixel: a pixel is
opaque when at least half of its samples fall inside the key, and its colour is the
mean colour of those samples (dark outline at the rim, bevelled gold inside).

Only the Python 3 standard library is used, and only arithmetic that IEEE 754 makes
exact (+, -, *, /, sqrt), so every run on every machine gives the same bytes.

Usage:
    python3 make_icon.py            write Velmora.ico beside this script
    python3 make_icon.py -o FILE    write the icon to FILE instead
    python3 make_icon.py --check    exit 0 if the committed Velmora.ico is what this
                                    script generates, 1 (with a message) if not
"""

import argparse
import math
import pathlib
import struct
import sys

SIZE = 32           # the one image: SIZE x SIZE pixels
SUB = 4             # SUB x SUB samples per pixel
OUTLINE = 1.5       # width of the dark outline, pixels
BEVEL = 2.6         # depth of the lit or shaded rim inside the outline, pixels

C = math.sqrt(0.5)  # cos 45 degrees = sin 45 degrees

# Colours, RGB 0..255.
OUTLINE_RGB = (64, 38, 6)
GOLD_RGB = (232, 178, 36)
LIGHT_RGB = (255, 236, 140)
SHADE_RGB = (170, 108, 14)

# The key in its own frame: u runs along the shaft from the bow (u < 0) to the tip,
# v across it; the frame is turned 45 degrees onto the image (see to_local).
CENTRE_X, CENTRE_Y = 15.5, 16.9    # image point of the frame's origin
BOW_U, BOW_R, HOLE_R = -9.4, 7.6, 3.3
SHAFT_U0, SHAFT_U1, SHAFT_HW = -3.0, 16.4, 2.8
TEETH = ((6.0, 10.2), (12.6, 16.4))  # u ranges of the teeth
TOOTH_V = 7.2                       # the teeth reach from the shaft out to v = TOOTH_V


def to_local(x, y):
    """Image point (pixels, y down) to the key's frame: u towards the bottom right,
    v towards the top right."""
    dx, dy = x - CENTRE_X, y - CENTRE_Y
    return (dx + dy) * C, (dx - dy) * C


def box(u, v, u0, u1, v0, v1):
    """Signed distance to the axis-aligned box [u0, u1] x [v0, v1] (negative inside)."""
    cu, cv = (u0 + u1) / 2, (v0 + v1) / 2
    hu, hv = (u1 - u0) / 2, (v1 - v0) / 2
    qu, qv = abs(u - cu) - hu, abs(v - cv) - hv
    outside = math.sqrt(max(qu, 0.0) ** 2 + max(qv, 0.0) ** 2)
    return outside + min(max(qu, qv), 0.0)


def key_distance(x, y):
    """Signed distance from image point (x, y) to the key's edge (negative inside)."""
    u, v = to_local(x, y)
    r = math.sqrt((u - BOW_U) ** 2 + v * v)
    d = abs(r - (BOW_R + HOLE_R) / 2) - (BOW_R - HOLE_R) / 2   # the ring
    d = min(d, box(u, v, SHAFT_U0, SHAFT_U1, -SHAFT_HW, SHAFT_HW))
    for u0, u1 in TEETH:
        d = min(d, box(u, v, u0, u1, 0.0, TOOTH_V))
    return d


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def sample_colour(x, y, d):
    """Colour of an inside sample at distance d (< 0) from the edge."""
    if d > -OUTLINE:
        return OUTLINE_RGB
    # Bevel: the rim facing the top left is lit, the rim facing the bottom right shaded.
    e = 0.05
    gx = (key_distance(x + e, y) - key_distance(x - e, y)) / (2 * e)
    gy = (key_distance(x, y + e) - key_distance(x, y - e)) / (2 * e)
    n = math.sqrt(gx * gx + gy * gy)
    facing = 0.0 if n == 0 else -(gx + gy) * C / n   # +1: edge faces the top left
    depth = -d - OUTLINE
    weight = max(0.0, 1.0 - depth / BEVEL)
    t = facing * weight
    if t >= 0:
        return mix(GOLD_RGB, LIGHT_RGB, min(1.0, 1.4 * t))
    return mix(GOLD_RGB, SHADE_RGB, min(1.0, -1.4 * t))


def render():
    """Rows top to bottom of (opaque, (r, g, b)) per pixel."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            inside = 0
            total = [0.0, 0.0, 0.0]
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    d = key_distance(x, y)
                    if d < 0:
                        inside += 1
                        for i, c in enumerate(sample_colour(x, y, d)):
                            total[i] += c
            if inside * 2 >= SUB * SUB:
                rgb = tuple(min(255, int(t / inside + 0.5)) for t in total)
                row.append((True, rgb))
            else:
                row.append((False, (0, 0, 0)))
        rows.append(row)
    return rows


def build_ico():
    rows = render()
    # XOR (colour) bitmap, bottom-up, BGR; transparent pixels black so that
    # (screen AND mask) XOR colour leaves the screen unchanged. 32 * 3 bytes per row
    # is already a multiple of 4.
    xor = bytearray()
    for row in reversed(rows):
        for opaque, (r, g, b) in row:
            xor += bytes((b, g, r))
    # AND mask, bottom-up, 1 bit per pixel, MSB first, rows padded to 4 bytes;
    # 1 = transparent.
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for opaque, _ in row:
            bits = (bits << 1) | (0 if opaque else 1)
        mask += bits.to_bytes(SIZE // 8, "big")
        mask += bytes((-(SIZE // 8)) % 4)
    image_size = len(xor) + len(mask)
    # BITMAPINFOHEADER; the height counts the colour and the mask bitmap together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 24, 0, image_size, 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    # ICONDIR (reserved, type 1 = icon, one image) and its one ICONDIRENTRY.
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return icondir + entry + image


def main(argv):
    here = pathlib.Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description="Generate Velmora.ico (32 x 32, 24 bpp, AND mask).")
    parser.add_argument("-o", "--output", type=pathlib.Path, default=here / "Velmora.ico",
                        help="where to write the icon (default: Velmora.ico beside this script)")
    parser.add_argument("--check", action="store_true",
                        help="compare the icon at --output with the generated bytes; write nothing")
    args = parser.parse_args(argv)
    data = build_ico()
    if args.check:
        try:
            committed = args.output.read_bytes()
        except OSError as error:
            print(f"make_icon.py --check: cannot read {args.output}: {error}", file=sys.stderr)
            return 1
        if committed != data:
            print(f"make_icon.py --check: {args.output} differs from the generated icon; "
                  f"run python3 {pathlib.Path(__file__).name} to regenerate it", file=sys.stderr)
            return 1
        return 0
    args.output.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
