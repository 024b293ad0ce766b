#!/usr/bin/env python3
"""Draws the launcher's icon, a gold ring on a dark blue rounded square, and
writes it as a Windows .ico with 16x16 and 32x32 images (32-bit BGRA).

usage: make_icon.py OUTPUT.ico"""
import math
import struct
import sys

BACKGROUND = (0x5a, 0x2e, 0x14)  # BGR of a dark blue
RING = (0x2b, 0xb8, 0xf0)  # BGR of gold


def pixel(size, x, y):
    """BGRA of one pixel, y counted from the top."""
    c = (size - 1) / 2
    corner = size * 0.2
    dx = max(abs(x - c) - (c - corner), 0)
    dy = max(abs(y - c) - (c - corner), 0)
    if math.hypot(dx, dy) > corner:
        return (0, 0, 0, 0)
    radius = math.hypot(x - c, y - c)
    if size * 0.22 <= radius <= size * 0.36:
        return RING + (0xff,)
    return BACKGROUND + (0xff,)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = [b"".join(bytes(pixel(size, x, y)) for x in range(size)) for y in reversed(range(size))]
    mask_row = b"\x00" * (((size + 31) // 32) * 4)  # alpha decides; the AND mask stays clear
    return header + b"".join(rows) + mask_row * size


def main():
    sizes = (16, 32)
    images = [image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bitmap in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(bitmap), offset)
        offset += len(bitmap)
    with open(sys.argv[1], "wb") as out:
        out.write(data + b"".join(images))


if __name__ == "__main__":
    main()
