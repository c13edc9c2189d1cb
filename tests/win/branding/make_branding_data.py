#!/usr/bin/env python3
"""Writes the inputs of the branding tests into a folder.

usage: make_branding_data.py OUT_DIR

vendor.ico    four images: 16 x 16 and 48 x 48 in 32 bits, 32 x 32 in 4 bits
              (bitmaps), and 256 x 256 as a PNG
damaged.ico   vendor.ico cut in its third image
notanicon.ico a PNG file named .ico
"""
import struct
import sys
import zlib


def bitmap_image(size, bits, colour):
    """A BITMAPINFOHEADER (height doubled: colour rows, then the mask) and its rows."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, 0, 0)
    if bits == 4:
        palette = bytes(4 * 16)
        palette = bytearray(palette)
        palette[4:8] = bytes(colour) + b"\0"
        row = bytes([0x11] * (size // 2))
        colour_rows = (row + bytes(-len(row) % 4)) * size
    else:
        palette = b""
        colour_rows = (bytes(colour) + b"\xff") * size * size
    mask_row = bytes((size + 7) // 8)
    mask_rows = (mask_row + bytes(-len(mask_row) % 4)) * size
    return header + bytes(palette) + colour_rows + mask_rows


def png_image(size, colour):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(colour) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file(images):
    """images: (width, height, colours, bits, data) each."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, colours, bits, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(image[4] for image in images)


def main(out):
    images = [
        (16, 16, 0, 32, bitmap_image(16, 32, (0x20, 0x80, 0x20))),
        (32, 32, 16, 4, bitmap_image(32, 4, (0x80, 0x20, 0x20))),
        (48, 48, 0, 32, bitmap_image(48, 32, (0x20, 0x20, 0x80))),
        (256, 256, 0, 32, png_image(256, (0x30, 0x60, 0x90))),
    ]
    vendor = icon_file(images)
    with open(f"{out}/vendor.ico", "wb") as f:
        f.write(vendor)
    third = 6 + 16 * 4 + len(images[0][4]) + len(images[1][4])
    with open(f"{out}/damaged.ico", "wb") as f:
        f.write(vendor[:third + 100])
    with open(f"{out}/notanicon.ico", "wb") as f:
        f.write(images[3][4])


if __name__ == "__main__":
    main(sys.argv[1])
