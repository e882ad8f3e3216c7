#!/usr/bin/env python3
"""Writes HAND-M.CUR: a 32 x 32 Windows cursor of a pointing hand, hot spot at the
tip of the index finger.

The hand is a union of simple shapes sampled at pixel centres: a white fill with
a one-pixel black outline and black creases between the folded fingers. The file
is a standard .cur: an icon directory of type 2 holding one 32-bit BMP image
(colour bitmap plus AND mask) and the hot spot.

    make-cursor.py [output]    (default: HAND-M.CUR beside this script)
    make-cursor.py --ascii     print the picture instead
    make-cursor.py --check F   read F back as a cursor and check it
"""

import math
import os
import struct
import sys

SIZE = 32


def capsule(px, py, ax, ay, bx, by, r):
    """Is (px, py) within r of the segment a-b?"""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy)) <= r


# Fingers as vertical capsules: (left edge, right edge, top of the rounded tip, bottom).
INDEX = (9.0, 13.0, 1.0, 17.0)
FOLDED = [(13.0, 17.0, 8.0, 17.0), (17.0, 21.0, 9.0, 17.0), (21.0, 24.5, 10.5, 17.0)]
THUMB = (4.6, 13.6, 10.0, 20.0, 2.2)  # segment from the tip to the palm, radius
PALM_TOP, PALM_BOTTOM = 14.0, 27.0
PALM_LEFT, PALM_RIGHT = 9.0, 24.5


def in_finger(px, py, finger):
    left, right, top, bottom = finger
    r = (right - left) / 2
    cx = left + r
    return capsule(px, py, cx, top + r, cx, bottom, r)


def region(px, py):
    """0 outside; 1 index; 2..4 folded fingers; 5 palm; 6 thumb."""
    if in_finger(px, py, INDEX):
        return 1
    for i, f in enumerate(FOLDED):
        if in_finger(px, py, f):
            return 2 + i
    # palm: rounded at the wrist, narrowing a little
    if PALM_TOP <= py <= PALM_BOTTOM:
        inset = max(0.0, (py - (PALM_BOTTOM - 5)) * 0.55)
        if PALM_LEFT + inset <= px <= PALM_RIGHT - inset * 0.6:
            return 5
    # thumb: bent up and out to the left of the palm
    if capsule(px, py, *THUMB):
        return 6
    return 0


def draw():
    reg = [[region(x + 0.5, y + 0.5) for x in range(SIZE)] for y in range(SIZE)]
    ink = [[" "] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if reg[y][x]:
                ink[y][x] = "W"
    for y in range(SIZE):
        for x in range(SIZE):
            if reg[y][x]:
                continue
            near = any(0 <= x + dx < SIZE and 0 <= y + dy < SIZE and reg[y + dy][x + dx]
                       for dx in (-1, 0, 1) for dy in (-1, 0, 1))
            if near:
                ink[y][x] = "B"
    # creases: where one finger meets the next, down to the knuckles
    for y in range(SIZE):
        for x in range(1, SIZE):
            a, b = reg[y][x - 1], reg[y][x]
            if a and b and a != b and a <= 4 and y + 0.5 < 17:
                ink[y][x] = "B"
    return ink


def hotspot(ink):
    left, right, _top, _bottom = INDEX
    cx = int((left + right) / 2)
    for y in range(SIZE):
        if ink[y][cx] != " ":
            return cx, y
    raise RuntimeError("no finger")


def cur_bytes(ink, hot):
    colour = {"B": (0, 0, 0, 255), "W": (255, 255, 255, 255), " ": (0, 0, 0, 0)}
    xor = b""
    andmask = b""
    for y in reversed(range(SIZE)):  # BMP rows run bottom-up
        bits = 0
        for x in range(SIZE):
            r, g, b, a = colour[ink[y][x]]
            xor += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
        andmask += struct.pack(">I", bits)  # 32 px = one 4-byte row, MSB first
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(andmask), 0, 0, 0, 0)
    image = header + xor + andmask
    icondir = struct.pack("<HHH", 0, 2, 1)  # type 2: cursor
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, hot[0], hot[1], len(image), 6 + 16)
    return icondir + entry + image


def check(path):
    """Reads a .cur back: one 32 x 32 image, the hot spot on the opaque fingertip."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    w, h, _colours, _res, hx, hy, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
    problems = []
    if (reserved, kind, count) != (0, 2, 1):
        problems.append(f"not a one-image cursor directory {reserved, kind, count}")
    if (w, h) != (SIZE, SIZE) or offset + size != len(data):
        problems.append(f"entry {w}x{h} at {offset}+{size} of {len(data)} bytes")
    hsize, bw, bh, _planes, bits = struct.unpack_from("<IiiHH", data, offset)
    if (hsize, bw, bh, bits) != (40, SIZE, 2 * SIZE, 32):
        problems.append(f"bitmap header {hsize, bw, bh, bits}")
    pixels = offset + hsize

    def alpha(x, y):
        return data[pixels + ((SIZE - 1 - y) * SIZE + x) * 4 + 3]

    if not (0 <= hx < SIZE and 0 <= hy < SIZE) or alpha(hx, hy) != 255:
        problems.append(f"hot spot {hx, hy} is not on the hand")
    elif hy > 0 and alpha(hx, hy - 1) != 0:
        problems.append("hot spot is not the topmost point of the finger")
    print(f"{path}: {len(data)} bytes, {w}x{h}, hot spot {hx, hy}:",
          "; ".join(problems) or "ok")
    return not problems


def main():
    if "--check" in sys.argv[1:]:
        i = sys.argv.index("--check")
        paths = sys.argv[i + 1:] or [os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "HAND-M.CUR")]
        ok = True
        for p in paths:
            try:
                ok &= check(p)
            except (OSError, struct.error) as e:
                print(f"{p}: not a readable cursor ({e})")
                ok = False
        sys.exit(0 if ok else 1)
    ink = draw()
    hot = hotspot(ink)
    if "--ascii" in sys.argv[1:]:
        for y, row in enumerate(ink):
            line = "".join({"B": "#", "W": "o", " ": "."}[c] for c in row)
            if y == hot[1]:
                line = line[:hot[0]] + "X" + line[hot[0] + 1:]
            print(line)
        print("hot spot", hot)
        return
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    out = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                            "HAND-M.CUR")
    data = cur_bytes(ink, hot)
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(data)} bytes, hot spot {hot}")


if __name__ == "__main__":
    main()
