#!/usr/bin/env python3
"""Makes resources/ZELVDownloader.ico from resources/icon.svg.

The 16, 32 and 48 pixel images are stored as 32-bit BGRA bitmaps with an AND mask, the form
every reader of icon files understands; the 256 pixel image is stored as PNG. Only
rsvg-convert (librsvg2-bin) is needed, and only to remake the committed icon.

    scripts/make_icon.py [svg] [ico]
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

BITMAP_SIZES = (16, 32, 48)
PNG_SIZE = 256


def render(svg, size, folder):
    out = os.path.join(folder, f"icon{size}.png")
    subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", out, svg],
                   check=True)
    with open(out, "rb") as f:
        return f.read()


def png_rgba(data):
    """Rows of (r, g, b, a) bytes of an 8-bit RGBA, non-interlaced PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        raise ValueError("expected an 8-bit RGBA PNG without interlacing")
    raw = zlib.decompress(idat)
    stride, bpp = width * 4, 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 0xFF
            elif kind != 0:
                raise ValueError(f"unknown PNG filter {kind}")
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def dib_entry(png):
    width, height, rows = png_rgba(png)
    mask_stride = ((width + 31) // 32) * 4
    pixels, mask = bytearray(), bytearray()
    for row in reversed(rows):  # bottom-up
        for x in range(width):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x in range(width):
            if row[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return width, height, header + pixels + mask


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    svg = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "icon.svg")
    ico = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "resources",
                                                             "ZELVDownloader.ico")
    with tempfile.TemporaryDirectory() as folder:
        entries = [dib_entry(render(svg, size, folder)) for size in BITMAP_SIZES]
        entries.append((PNG_SIZE, PNG_SIZE, render(svg, PNG_SIZE, folder)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for width, height, data in entries:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data),
                           offset)
        offset += len(data)
    for _, _, data in entries:
        out += data
    with open(ico, "wb") as f:
        f.write(out)
    print(f"wrote {ico}: {len(entries)} images, {len(out)} bytes")


if __name__ == "__main__":
    main()
