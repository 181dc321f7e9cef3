#!/usr/bin/env python3
"""Draws the splash logo (splash.bmp) and the application icon (main.ico).

ImageMagick rasterises the drawings; this script writes the exact formats the resource
script needs: an uncompressed 8-bit palette bitmap of 137 x 101, and an icon group with a
32 x 32 and a 16 x 16 image of 16 colours. The outputs are committed; run this only to
change the pictures:  python3 res/make_images.py
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
NAVY, DEEP, PALE, SKY, AMBER = "#1d3c6e", "#0b1a33", "#e8eef7", "#4fc3f7", "#f2a03d"
# The logo stands on one flat colour: the splash fills the rest of the dialog with its
# top-left pixel, so logo and dialog meet without an edge.
BASE = "#132a50"

# The controller: a pale pill with a cross pad and two buttons, between vibration arcs.
LOGO = [
    "-size", "137x101", f"xc:{BASE}",
    "-fill", PALE, "-stroke", "none", "-draw", "roundrectangle 38,18 98,50 14,14",
    "-fill", DEEP, "-draw", "rectangle 50,25 54,39", "-draw", "rectangle 45,30 59,34",
    "-fill", AMBER, "-draw", "circle 85,29 85,26", "-fill", SKY, "-draw", "circle 79,37 79,34",
    "-fill", "none", "-stroke", SKY, "-strokewidth", "2",
    "-draw", "arc 20,16 40,52 120,240", "-draw", "arc 12,10 36,58 125,235",
    "-draw", "arc 96,16 116,52 -60,60", "-draw", "arc 100,10 124,58 -55,55",
    "-stroke", "none", "-fill", "white", "-font", "DejaVu-Sans-Bold", "-pointsize", "15",
    "-gravity", "north", "-annotate", "+0+60", "QUAVERLINE",
    "-fill", "#9fb6d8", "-font", "DejaVu-Sans", "-pointsize", "8",
    "-annotate", "+0+80", "Force feedback setup",
    "-colors", "256",
]


def icon_drawing(size):
    s = size / 32.0
    def box(x0, y0, x1, y1):
        return f"{x0 * s:.0f},{y0 * s:.0f} {x1 * s:.0f},{y1 * s:.0f}"
    return [
        "-size", f"{size}x{size}", "xc:none",
        "-fill", NAVY, "-draw", f"roundrectangle {box(0, 0, 31, 31)} {6 * s:.0f},{6 * s:.0f}",
        "-fill", PALE, "-draw", f"roundrectangle {box(3, 10, 28, 23)} {6 * s:.0f},{6 * s:.0f}",
        "-fill", DEEP, "-draw", f"rectangle {box(8, 14, 10, 19)}", "-draw", f"rectangle {box(6, 16, 12, 17)}",
        "-fill", AMBER, "-draw", f"rectangle {box(20, 13, 22, 15)}",
        "-fill", "#2a8fd0", "-draw", f"rectangle {box(17, 17, 19, 19)}",
    ]


def raster(arguments):
    """RGBA rows, top row first, from an ImageMagick drawing."""
    data = subprocess.run(["convert", *arguments, "-depth", "8", "rgba:-"],
                          check=True, capture_output=True).stdout
    width, height = (int(v) for v in arguments[arguments.index("-size") + 1].split("x"))
    return width, height, [[tuple(data[(y * width + x) * 4:(y * width + x) * 4 + 4])
                            for x in range(width)] for y in range(height)]


def dib_header(width, height, bits, colours, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, colours)


def write_bitmap(path, width, height, rows):
    # Only the colours the picture uses (biClrUsed): every unused entry would cost 4 bytes.
    palette = sorted({p[:3] for row in rows for p in row})
    assert len(palette) <= 256, len(palette)
    index = {c: i for i, c in enumerate(palette)}
    stride = (width + 3) & ~3
    pixels = b"".join(bytes(index[p[:3]] for p in row) + b"\0" * (stride - width)
                      for row in reversed(rows))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = dib_header(width, height, 8, len(palette), len(pixels))
    offset = 14 + len(header) + len(colours)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        f.write(header + colours + pixels)


# The 16 colours every Windows display has.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA[i], colour)))


def icon_image(size):
    width, height, rows = raster(icon_drawing(size))
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(rows):
        line = [nearest(p[:3]) if p[3] >= 128 else 0 for p in row]
        xor += bytes((line[x] << 4) | line[x + 1] for x in range(0, width, 2))
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA)
    header = dib_header(width, height * 2, 4, 16, len(xor) + len(mask))
    return width, header + colours + bytes(xor) + bytes(mask)


def write_icon(path, sizes):
    images = [icon_image(size) for size in sizes]
    offset = 6 + 16 * len(images)
    directory = b""
    for width, data in images:
        directory += struct.pack("<BBBBHHII", width, width, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + directory)
        for _, data in images:
            f.write(data)


if __name__ == "__main__":
    write_bitmap(os.path.join(HERE, "splash.bmp"), *raster(LOGO))
    write_icon(os.path.join(HERE, "main.ico"), [32, 16])
