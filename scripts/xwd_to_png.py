#!/usr/bin/env python3
"""Turns an X window dump (xwd's output, a TrueColor ZPixmap) into a PNG file.

    xwd_to_png.py in.xwd out.png [x y width height]

The optional box crops the picture (in the dump's pixels).
"""
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, version = fields[0], fields[1]
    if version != 7:
        raise SystemExit("not an X11 window dump (version %d)" % version)
    pixmap_format, depth, width, height = fields[2], fields[3], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    ncolors = fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32) or depth < 24:
        raise SystemExit("only TrueColor dumps of 24 or 32 bits a pixel are supported")
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = shift(red_mask), shift(green_mask), shift(blue_mask)
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line : offset + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(width):
            chunk = line[x * step : x * step + step]
            if step == 3:
                chunk += b"\0"
            (value,) = struct.unpack(order + "I", chunk)
            row += bytes(
                (
                    (value & red_mask) >> shifts[0],
                    (value & green_mask) >> shifts[1],
                    (value & blue_mask) >> shifts[2],
                )
            )
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main():
    if len(sys.argv) not in (3, 7):
        raise SystemExit(__doc__)
    with open(sys.argv[1], "rb") as f:
        width, height, rows = read_xwd(f.read())
    if len(sys.argv) == 7:
        x, y, w, h = (int(v) for v in sys.argv[3:7])
        x, y = max(0, x), max(0, y)
        w, h = min(w, width - x), min(h, height - y)
        rows = [row[x * 3 : (x + w) * 3] for row in rows[y : y + h]]
        width, height = w, h
    write_png(sys.argv[2], width, height, rows)


if __name__ == "__main__":
    main()
