#!/usr/bin/env python3
"""Builds setup.ico (one 32 x 32 image, 16 colours, 4 bits a pixel) from the
text drawing in setup_icon.txt.

usage: make_icon.py setup_icon.txt setup.ico
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
SIZE = 32


def read_drawing(path):
    rows = [line.rstrip("\n") for line in open(path, encoding="ascii") if not line.startswith("#")]
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        sys.exit(f"{path}: the drawing must be {SIZE} rows of {SIZE} characters")
    for r in rows:
        for c in r:
            if c != "." and c not in "0123456789ABCDEF":
                sys.exit(f"{path}: unknown pixel '{c}'")
    return rows


def build_icon(rows):
    # Colour bitmap: bottom row first, two pixels a byte, high nibble first.
    pixels = b""
    for r in reversed(rows):
        row = [0 if c == "." else int(c, 16) for c in r]
        pixels += bytes((row[i] << 4) | row[i + 1] for i in range(0, SIZE, 2))
    # Mask: 1 = transparent, one bit a pixel, rows padded to 32 bits.
    mask = b""
    for r in reversed(rows):
        bits = 0
        for c in r:
            bits = (bits << 1) | (c == ".")
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(pixels) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "wb") as out:
        out.write(build_icon(read_drawing(sys.argv[1])))


if __name__ == "__main__":
    main()
