#!/usr/bin/python3
"""Reads a branded setup.exe back with pefile, a PE reader independent of setuppack.

usage: check_branding.py PROGRAM ICON.ico KEY=VALUE...
       check_branding.py --sample SETUP.EXE docs/setup-strings.txt

Checks the version information (each KEY=VALUE a text of its string table;
FileVersionFixed and ProductVersionFixed the fixed part's numbers, Language
its table's language), that icon group 5001 lists exactly the images of
ICON.ico, each image's bytes equal, that the PE checksum is right, that
the sections follow each other as Windows loads them and that the base
relocations' directory follows its section. Prints what it read.
With --sample: the sample strings file lists every message of SETUP.EXE and
the dialog's line, each as SETUP.EXE holds it.
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
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    reloc = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".reloc"]
    if not reloc or relocations.VirtualAddress != reloc[0].VirtualAddress:
        fail(f"{program}: the base relocations' directory is not where the .reloc section lies")
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


def check_sample(setup, sample):
    pe = pefile.PE(setup)
    found = resources(pe)
    held = {}
    for (kind, block), (_, data) in found.items():
        if kind != 6:
            continue
        at = 0
        for i in range(16):
            length = struct.unpack_from("<H", data, at)[0]
            if length:
                held[str((block - 1) * 16 + i)] = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            at += 2 + 2 * length
    dialog = found[(5, 4001)][1].decode("utf-16-le", "replace")
    # Its one control's text ends it, after the static class (0xFFFF 0x0082).
    held["dialog"] = dialog.rstrip("\0").split("\0")[-1].split("\uffff\u0082")[-1]
    listed = {}
    with open(sample, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line and not line.startswith("#") and not line.startswith("language="):
                key, text = line.split("=", 1)
                listed[key] = text.replace("\\n", "\n")
    if listed != held:
        fail(f"{sample} lists {sorted(listed)}, {setup} holds {sorted(held)}; differing: "
             f"{[k for k in held if listed.get(k) != held[k]]}")
    print(f"{sample}: every message of {setup} and its dialog's line, as it holds them")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--sample"]:
        check_sample(sys.argv[2], sys.argv[3])
        sys.exit(0)
    if len(sys.argv) < 3:
        fail("usage: check_branding.py PROGRAM ICON.ico KEY=VALUE...")
    main(sys.argv[1], sys.argv[2], dict(arg.split("=", 1) for arg in sys.argv[3:]))
