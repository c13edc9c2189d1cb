#!/usr/bin/env python3
"""Rewrites the headers of the linked 32-bit setup.exe in place.

usage: compact_headers.py SETUP.EXE

The linker's MS-DOS stub takes 128 bytes, and with it the PE headers of
setup.exe's four sections end 24 bytes past 512: the headers take 1,024
bytes of the file, almost half of them zeros. This puts a stub of its own in
its place (an MS-DOS program of 40 bytes after the 64-byte MS-DOS header: it
prints a line and exits, as the linker's does), so that the headers end at
512; the sections' raw data then moves 512 bytes forward. (Headers the linker
already fit in 512 bytes only get the stub.)

It also clears the write permission of the resource section (the linker
marks it writable; nothing writes resources) and recomputes the checksum.

Anything it does not expect (other alignments, more sections, data that
lies in the headers, debug or certificate data, which hold file offsets)
fails it; it then deletes the file, so that the next build links it again.
"""
import os
import shutil
import struct
import sys

HEADERS = 0x200
IMAGE_SCN_MEM_WRITE = 0x80000000

# The MS-DOS program at 0x40: push cs / pop ds / mov dx,message / mov ah,9 /
# int 21h (print up to '$') / mov ax,4C01h / int 21h (exit with code 1).
DOS_MESSAGE = b"Run this under Windows.\r\n$"
DOS_CODE = bytes([0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21])


class Refused(Exception):
    pass


def u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def checksum(data, checksum_offset):
    """The PE image checksum: 16-bit one's complement sum plus the length."""
    data = bytearray(data)
    struct.pack_into("<I", data, checksum_offset, 0)
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def compact(data):
    if data[:2] != b"MZ":
        raise Refused("no MZ header")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise Refused("no PE signature")
    coff = pe + 4
    sections = u16(data, coff + 2)
    symbols = u32(data, coff + 8)
    optional_size = u16(data, coff + 16)
    optional = coff + 20
    if u16(data, optional) != 0x10B:
        raise Refused("not a PE32 image")
    file_alignment = u32(data, optional + 36)
    size_of_headers = u32(data, optional + 60)
    if file_alignment != 0x200 or size_of_headers not in (0x200, 0x400):
        raise Refused(f"file alignment {file_alignment:#x}, headers {size_of_headers:#x}")
    if symbols != 0:
        raise Refused("a COFF symbol table (its offset is a file offset)")
    directories = optional + 96
    for index, what in ((4, "certificate"), (6, "debug")):
        if u32(data, directories + 8 * index + 4) != 0:
            raise Refused(f"{what} data (it holds file offsets)")
    table = optional + optional_size
    nt_headers = data[pe:table + 40 * sections]
    if any(data[table + 40 * sections:size_of_headers]):
        raise Refused("data after the section table")

    stub = DOS_CODE + DOS_MESSAGE
    new_pe = (0x40 + len(stub) + 7) & ~7
    if new_pe + len(nt_headers) > HEADERS:
        raise Refused(f"{sections} section headers do not fit in {HEADERS} bytes")

    headers = bytearray(HEADERS)
    headers[:0x40] = data[:0x40]
    # The MS-DOS image is the header and the stub: new_pe bytes, one page.
    struct.pack_into("<HH", headers, 0x02, new_pe, 1)
    struct.pack_into("<I", headers, 0x3C, new_pe)
    headers[0x40:0x40 + len(stub)] = stub
    headers[new_pe:new_pe + len(nt_headers)] = nt_headers
    shift = size_of_headers - HEADERS
    new_optional = new_pe + (optional - pe)
    struct.pack_into("<I", headers, new_optional + 60, HEADERS)
    new_table = new_pe + (table - pe)
    for i in range(sections):
        entry = new_table + 40 * i
        name = bytes(headers[entry:entry + 8]).rstrip(b"\0")
        raw_size, raw_offset, relocations, lines = struct.unpack_from("<IIII", headers, entry + 16)
        if relocations or lines or u16(headers, entry + 32) or u16(headers, entry + 34):
            raise Refused(f"section {name!r} has COFF relocations or line numbers")
        if raw_size:
            if raw_offset < size_of_headers:
                raise Refused(f"section {name!r} lies in the headers")
            struct.pack_into("<I", headers, entry + 20, raw_offset - shift)
        if name == b".rsrc":
            flags = u32(headers, entry + 36)
            struct.pack_into("<I", headers, entry + 36, flags & ~IMAGE_SCN_MEM_WRITE)
    out = bytes(headers) + data[size_of_headers:]
    checksum_offset = new_optional + 64
    out = bytearray(out)
    struct.pack_into("<I", out, checksum_offset, checksum(out, checksum_offset))
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            data = f.read()
        out = compact(data)
    except (Refused, struct.error, OSError) as error:
        print(f"compact_headers.py: {path}: {error}", file=sys.stderr)
        try:
            os.remove(path)
        except OSError:
            pass
        return 1
    with open(path + ".tmp", "wb") as f:
        f.write(out)
    shutil.copymode(path, path + ".tmp")
    os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
