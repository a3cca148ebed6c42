#!/usr/bin/env python3
"""Draws the bundled sample product picture (a 24-bit BMP) for the sample configuration.

    make_sample_picture.py out.bmp [width height]

The default size, 412 x 150, fills the main dialog's picture frame at its font.
"""
import math
import struct
import sys


def pixel(x, y, w, h):
    # A soft blue-to-teal background with a stylised package box and a down arrow.
    t = y / max(h - 1, 1)
    r, g, b = int(230 - 40 * t), int(240 - 20 * t), 255
    cx, cy = w / 2, h / 2 + h * 0.08
    bw, bh = w * 0.42, h * 0.36
    if abs(x - cx) <= bw / 2 and abs(y - cy) <= bh / 2:
        lid = y < cy - bh / 2 + bh * 0.22
        r, g, b = (38, 99, 205) if lid else (52, 120, 230)
        if abs(x - cx) < w * 0.02:
            r, g, b = (250, 250, 250)
    ax, ay = cx, cy - bh / 2 - h * 0.16
    if abs(x - ax) < w * 0.035 and ay - h * 0.14 < y < ay + h * 0.02:
        r, g, b = (24, 160, 90)
    if 0 <= (y - ay) < h * 0.09 and abs(x - ax) < (h * 0.09 - (y - ay)) * 1.1:
        r, g, b = (24, 160, 90)
    return r, g, b


def main():
    out = sys.argv[1]
    w = int(sys.argv[2]) if len(sys.argv) > 2 else 412
    h = int(sys.argv[3]) if len(sys.argv) > 3 else 150
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y, w, h)
            line += bytes((b, g, r))
        line += b"\0" * (row - w * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(out, "wb") as f:
        f.write(header + info + data)


if __name__ == "__main__":
    main()
