#!/usr/bin/env python3
"""Marks the linked setup.exe to be run from the swap file.

usage: run_from_swap.py SETUP.EXE

setup.exe runs from discs, USB sticks and network shares and then waits
while the installer runs, which may ask for the next disc. With
IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and IMAGE_FILE_NET_RUN_FROM_SWAP, Windows
copies the image to the swap file first, so that an ejected disc or a lost
share cannot take its code away while it waits. The linker has no option
for them; this sets both in the file header and recomputes the checksum.
"""
import os
import shutil
import struct
import sys

from compact_headers import checksum

RUN_FROM_SWAP = 0x0400 | 0x0800  # removable media, network


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    path = argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    header = struct.unpack_from("<I", data, 60)[0]
    if data[:2] != b"MZ" or data[header : header + 4] != b"PE\0\0":
        print(f"run_from_swap.py: {path}: not a PE image", file=sys.stderr)
        os.remove(path)
        return 1
    characteristics = header + 4 + 18
    struct.pack_into("<H", data, characteristics, struct.unpack_from("<H", data, characteristics)[0] | RUN_FROM_SWAP)
    checksum_offset = header + 24 + 64
    struct.pack_into("<I", data, checksum_offset, checksum(data, checksum_offset))
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    shutil.copymode(path, path + ".tmp")
    os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
