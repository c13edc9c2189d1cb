#!/usr/bin/python3
"""Reads a branded setup.exe back with pefile, a PE reader independent of setuppack.

usage: check_branding.py PROGRAM ICON.ico KEY=VALUE...

Checks the version information (each KEY=VALUE a text of its string table;
FileVersionFixed and ProductVersionFixed the fixed part's numbers, Language
its table's language), that icon group 5001 lists exactly the images of
ICON.ico, each image's bytes equal, that the PE checksum is right and that
the sections follow each other as Windows loads them. Prints what it read.
"""
import struct
import sys

import pefile


def fail(message):
    print(f"check_branding.py: {message}", file=sys.stderr)
    sys.exit(1)


def resources(pe):
    """{(type, name): (language, data)} of every resource."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                found[(kind.id, name.id)] = (language.id, pe.get_data(entry.OffsetToData, entry.Size))
    return found


def main(program, icon, expected):
    pe = pefile.PE(program)
    if not pe.verify_checksum():
        fail(f"{program}: the PE checksum is wrong")
    alignment = pe.OPTIONAL_HEADER.SectionAlignment
    end = 0
    for section in sorted(pe.sections, key=lambda s: s.VirtualAddress):
        if section.VirtualAddress < end:
            fail(f"{program}: section {section.Name} overlaps the one before it")
        size = max(section.Misc_VirtualSize, section.SizeOfRawData)
        end = section.VirtualAddress + (size + alignment - 1) // alignment * alignment
    if pe.OPTIONAL_HEADER.SizeOfImage != end:
        fail(f"{program}: size of image {pe.OPTIONAL_HEADER.SizeOfImage:#x}, sections end at {end:#x}")

    read = {}
    fixed = pe.VS_FIXEDFILEINFO[0]
    read["FileVersionFixed"] = "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                                fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    read["ProductVersionFixed"] = "%d.%d.%d.%d" % (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                                                   fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF)
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            read["Language"] = table.LangID.decode()
            for key, value in table.entries.items():
                read[key.decode()] = value.decode()
    for key, value in sorted(read.items()):
        print(f"{program}: {key} = {value}")
    for key, value in expected.items():
        if read.get(key) != value:
            fail(f"{program}: {key} is {read.get(key)!r}, not {value!r}")

    with open(icon, "rb") as f:
        ico = f.read()
    count = struct.unpack_from("<H", ico, 4)[0]
    found = resources(pe)
    if (14, 5001) not in found:
        fail(f"{program}: no icon group 5001")
    group = found[(14, 5001)][1]
    if struct.unpack_from("<HHH", group, 0) != (0, 1, count):
        fail(f"{program}: icon group 5001 does not list {count} images")
    for i in range(count):
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        entry = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        if entry[:7] != (width, height, colours, 0, planes, bits, size):
            fail(f"{program}: icon group entry {i + 1} is {entry}")
        if found.get((3, entry[7]), (0, b""))[1] != ico[offset:offset + size]:
            fail(f"{program}: icon {entry[7]} differs from image {i + 1} of {icon}")
    print(f"{program}: icon group 5001: the {count} images of {icon}")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        fail("usage: check_branding.py PROGRAM ICON.ico KEY=VALUE...")
    main(sys.argv[1], sys.argv[2], dict(arg.split("=", 1) for arg in sys.argv[3:]))
