#!/usr/bin/env python3
"""Draws the program's 16x16, 24-bit icon: a little sheet of 2x2 coloured frames on black."""
import struct
import sys

SIZE = 16
FRAMES = [(0xE0, 0x40, 0x30), (0xF0, 0xC0, 0x20), (0x30, 0xB0, 0x50), (0x30, 0x70, 0xE0)]


def pixel(x, y):
    if x in (0, 15) or y in (0, 15) or x == 7 or x == 8 or y == 7 or y == 8:
        return (0x20, 0x20, 0x20) if (x in (7, 8) or y in (7, 8)) else (0xC0, 0xC0, 0xC0)
    frame = (1 if x > 8 else 0) + (2 if y > 8 else 0)
    r, g, b = FRAMES[frame]
    # A small figure in each frame, shifted one pixel per frame like an animation.
    fx, fy = (x - 1) % 9, (y - 1) % 9
    if 2 <= fy <= 4 and fx in (2 + frame % 2, 3 + frame % 2):
        return (0xFF, 0xFF, 0xFF)
    return (r, g, b)


def icon():
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = b"".join(struct.pack("BBB", *reversed(pixel(x, y))) for x in range(SIZE))
        rows.append(row)
    xor = b"".join(rows)
    mask = b"\x00" * (4 * SIZE)  # fully opaque; each mask row is padded to 32 bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icon())
