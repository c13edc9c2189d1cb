#!/usr/bin/env python3
"""Reads the resources back out of a built setup.exe and checks them.

usage: check_resources.py SETUP.EXE

A small PE reader of its own (no Windows, no resource compiler): it follows
the resource directory of the image to every (type, id, language) leaf and
checks that setup.exe carries exactly
  - the string table block of ids 0-15 with strings 1-7,
  - dialog template 4001 (the please-wait dialog) with its one static,
  - icon group 5001 with one 32 x 32, 16-colour image of id 1,
  - the application manifest (RT_MANIFEST 1): well-formed XML that asks for
    requireAdministrator in the trustInfo form Windows XP accepts (no
    element declares one namespace twice) and lists the supported systems,
all in language 1033 and nothing else. With --manifest it checks the
manifest alone (check_setup_exe.sh). Before it checks the real file, it
checks that damaged copies of it (a style, a coordinate, the icon's depth, a
string, a language) are caught, so that a reader which sees nothing cannot
pass. Exit code 0 when everything holds.
"""
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24
LANG_EN_US = 1033
DIALOG_ID, ICON_GROUP_ID, ICON_IMAGE_ID = 4001, 5001, 1
STRINGS = {
    1: "File %s is not found. Further installation not possible.",
    2: "Setup",
    3: "Error in %s file. Further installation not possible.",
    4: "Setup cannot use the folder %s: its name is too long or has letters of another code page. "
    "Further installation not possible.",
    5: "The download %s is incomplete or damaged. Download it again. Further installation not possible.",
    6: "\n\nStarted from a zip file? Extract all of its files into one folder first, then start Setup there.",
    7: "Setup is already running. Wait until it has finished, then start it again.",
}
ASM_V1, ASM_V2 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v2"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
STATIC_TEXT = "Setup is initializing, please wait..."


class ImageError(Exception):
    pass


def u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


class Image:
    """A PE image's sections and its resource leaves."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ImageError("no MZ header")
        pe = u32(data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ImageError("no PE signature")
        self.machine = u16(data, pe + 4)
        sections = u16(data, pe + 6)
        optional_size = u16(data, pe + 20)
        optional = pe + 24
        magic = u16(data, optional)
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva = u32(data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            entry = table + 40 * i
            name = data[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
            self.sections.append((name, rva, max(virtual_size, raw_size), raw_offset, raw_size))
        if self.resource_rva == 0:
            raise ImageError("no resource directory")
        self.resource_base = self.offset(self.resource_rva)
        self.leaves = {}
        self.language_entries = []  # file offsets of the language-level entries
        self._walk(0, [])

    def offset(self, rva):
        for _, start, size, raw_offset, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw_offset + rva - start
        raise ImageError(f"RVA {rva:#x} lies in no section")

    def _walk(self, directory, path):
        base = self.resource_base + directory
        named, numbered = u16(self.data, base + 12), u16(self.data, base + 14)
        for i in range(named + numbered):
            entry = base + 16 + 8 * i
            name, target = u32(self.data, entry), u32(self.data, entry + 4)
            key = name if not name & 0x80000000 else self._name(name & 0x7FFFFFFF)
            if target & 0x80000000:
                if len(path) >= 2:
                    raise ImageError("resource tree deeper than type/id/language")
                self._walk(target & 0x7FFFFFFF, path + [key])
            else:
                if len(path) != 2:
                    raise ImageError("resource leaf above the language level")
                self.language_entries.append(entry)
                rva, size = u32(self.data, self.resource_base + target), u32(self.data, self.resource_base + target + 4)
                start = self.offset(rva)
                self.leaves[(path[0], path[1], key)] = self.data[start:start + size]

    def _name(self, offset):
        start = self.resource_base + offset
        length = u16(self.data, start)
        return self.data[start + 2:start + 2 + 2 * length].decode("utf-16-le")


def read_sz_or_ord(data, offset):
    """A template's name field: 0, 0xFFFF + ordinal, or a zero-ended UTF-16 text."""
    first = u16(data, offset)
    if first == 0:
        return "", offset + 2
    if first == 0xFFFF:
        return ("#", u16(data, offset + 2)), offset + 4
    end = offset
    while u16(data, end) != 0:
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def parse_dialog(data):
    """A DLGTEMPLATE (not the extended form) with its items."""
    if u16(data, 2) == 0xFFFF:
        raise ImageError("extended dialog template (DLGTEMPLATEEX)")
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    offset = 18
    menu, offset = read_sz_or_ord(data, offset)
    window_class, offset = read_sz_or_ord(data, offset)
    title, offset = read_sz_or_ord(data, offset)
    dialog = dict(style=style, exstyle=exstyle, geometry=(x, y, cx, cy), menu=menu,
                  window_class=window_class, title=title, font=None, items=[])
    if style & 0x40:  # DS_SETFONT
        points = u16(data, offset)
        face, offset = read_sz_or_ord(data, offset + 2)
        dialog["font"] = (points, face)
    for _ in range(count):
        offset = (offset + 3) & ~3
        item_style, item_exstyle, ix, iy, icx, icy, item_id = struct.unpack_from("<IIhhhhH", data, offset)
        offset += 18
        item_class, offset = read_sz_or_ord(data, offset)
        text, offset = read_sz_or_ord(data, offset)
        extra = u16(data, offset)
        offset += 2 + extra
        dialog["items"].append(dict(style=item_style, exstyle=item_exstyle, geometry=(ix, iy, icx, icy),
                                    id=item_id, window_class=item_class, text=text, extra=extra))
    return dialog


def parse_string_block(data):
    strings, offset = [], 0
    for _ in range(16):
        length = u16(data, offset)
        strings.append(data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le"))
        offset += 2 + 2 * length
    return strings


def check_manifest(manifest):
    """The failures found in the manifest's bytes."""
    if manifest is None:
        return ["no manifest (RT_MANIFEST 1) in language 1033"]
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return [f"manifest is not well-formed XML: {error}"]
    failures = []
    if root.tag != f"{{{ASM_V1}}}assembly" or root.get("manifestVersion") != "1.0":
        failures.append(f"manifest root is {root.tag} {root.attrib}")
    identity = root.find(f"{{{ASM_V1}}}assemblyIdentity")
    if identity is None or not all(identity.get(a) for a in ("type", "name", "version")):
        failures.append("manifest has no assemblyIdentity with type, name and version")
    level = root.find(f"{{{ASM_V2}}}trustInfo/{{{ASM_V2}}}security/{{{ASM_V2}}}requestedPrivileges/"
                      f"{{{ASM_V2}}}requestedExecutionLevel")
    if level is None or level.get("level") != "requireAdministrator" or level.get("uiAccess", "false") != "false":
        failures.append("manifest does not ask for requireAdministrator in an asm.v2 trustInfo")
    # Windows XP's side-by-side loader refuses an element that declares one
    # namespace twice (under two prefixes).
    for tag in re.findall(rb"<[^!?/][^>]*>", manifest):
        declared = re.findall(rb'xmlns(?::\w+)?="([^"]*)"', tag)
        if len(declared) != len(set(declared)):
            failures.append(f"manifest element declares a namespace twice: {tag.decode()}")
    supported = {e.get("Id") for e in root.iter(f"{{{COMPATIBILITY}}}supportedOS")}
    if supported != SUPPORTED_OS:
        failures.append(f"manifest lists supportedOS {sorted(supported)}")
    return failures


def check(data):
    """The failures found in an image's bytes; empty when everything holds."""
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    try:
        image = Image(data)
    except (ImageError, struct.error) as error:
        return [f"unreadable image: {error}"]
    leaves = image.leaves
    wanted = {(RT_STRING, 1, LANG_EN_US), (RT_DIALOG, DIALOG_ID, LANG_EN_US),
              (RT_ICON, ICON_IMAGE_ID, LANG_EN_US), (RT_GROUP_ICON, ICON_GROUP_ID, LANG_EN_US),
              (RT_MANIFEST, 1, LANG_EN_US)}
    expect(set(leaves) == wanted, f"resources are {sorted(leaves, key=str)}, not {sorted(wanted)}")
    try:
        dialog_data = leaves.get((RT_DIALOG, DIALOG_ID, LANG_EN_US))
        expect(dialog_data is not None, "no dialog 4001 in language 1033")
        if dialog_data is not None:
            dialog = parse_dialog(dialog_data)
            expect(dialog["style"] == 0x90C800C0, f"dialog style {dialog['style']:#010x}")
            expect(dialog["exstyle"] == 0, f"dialog extended style {dialog['exstyle']:#x}")
            expect(dialog["geometry"] == (0, 0, 176, 93), f"dialog geometry {dialog['geometry']}")
            expect(dialog["menu"] == "" and dialog["window_class"] == "", "dialog has a menu or class")
            expect(dialog["title"] == "", f"dialog title {dialog['title']!r}")
            expect(dialog["font"] == (10, "MS Sans Serif"), f"dialog font {dialog['font']}")
            expect(len(dialog["items"]) == 1, f"{len(dialog['items'])} controls")
            if dialog["items"]:
                item = dialog["items"][0]
                expect(item["style"] == 0x50020001, f"static style {item['style']:#010x}")
                expect(item["exstyle"] == 0, f"static extended style {item['exstyle']:#x}")
                expect(item["geometry"] == (7, 39, 162, 8), f"static geometry {item['geometry']}")
                expect(item["id"] == 0xFFFF, f"static id {item['id']:#x}")
                expect(item["window_class"] == ("#", 0x0082), f"control class {item['window_class']}")
                expect(item["text"] == STATIC_TEXT, f"static text {item['text']!r}")
                expect(item["extra"] == 0, "static has creation data")

        group = leaves.get((RT_GROUP_ICON, ICON_GROUP_ID, LANG_EN_US))
        expect(group is not None, "no icon group 5001 in language 1033")
        if group is not None:
            reserved, kind, count = struct.unpack_from("<HHH", group, 0)
            expect((reserved, kind, count) == (0, 1, 1), f"icon group header {(reserved, kind, count)}")
            width, height, colours, zero, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6)
            expect((width, height, colours, planes, bits) == (32, 32, 16, 1, 4),
                   f"icon group entry {width}x{height}, {colours} colours, {planes} planes, {bits} bits")
            expect(image_id == ICON_IMAGE_ID, f"icon group names image {image_id}")
            icon = leaves.get((RT_ICON, image_id, LANG_EN_US))
            expect(icon is not None, f"no icon image {image_id} in language 1033")
            if icon is not None:
                expect(size == len(icon), f"icon group says {size} bytes, the image has {len(icon)}")
                header = struct.unpack_from("<IiiHHIIiiII", icon, 0)
                expect(header[0] == 40, f"icon header size {header[0]}")
                expect((header[1], header[2]) == (32, 64), f"icon bitmap {header[1]}x{header[2]} (mask included)")
                expect((header[3], header[4]) == (1, 4), f"icon planes {header[3]}, {header[4]} bits a pixel")
                expect(header[9] in (0, 16), f"icon uses {header[9]} colours")
                expect(len(icon) == 40 + 16 * 4 + 32 * 16 + 32 * 4, f"icon image of {len(icon)} bytes")

        failures += check_manifest(leaves.get((RT_MANIFEST, 1, LANG_EN_US)))

        block = leaves.get((RT_STRING, 1, LANG_EN_US))
        expect(block is not None, "no string table block 1 in language 1033")
        if block is not None:
            strings = parse_string_block(block)
            for index, text in enumerate(strings):
                expect(text == STRINGS.get(index, ""), f"string {index} is {text!r}")
    except (ImageError, struct.error, UnicodeDecodeError) as error:
        failures.append(f"unreadable resource: {error}")
    return failures


def replace_once(data, old, new):
    at = data.find(old)
    if at < 0 or data.find(old, at + 1) >= 0:
        raise SystemExit(f"self-test: {old!r} not found exactly once in the image")
    return data[:at] + new + data[at + len(old):]


def language_changed(data):
    """The last resource moved from language 1033 to 1031."""
    entry = Image(data).language_entries[-1]
    return data[:entry] + struct.pack("<I", 1031) + data[entry + 4:]


def damaged_copies(data):
    """Copies of a good image, each with one fault the check must find."""
    utf16 = lambda text: text.encode("utf-16-le")
    dialog_header = struct.pack("<IIHhhhh", 0x90C800C0, 0, 1, 0, 0, 176, 93)
    item_header = struct.pack("<IIhhhhH", 0x50020001, 0, 7, 39, 162, 8, 0xFFFF)
    return {
        "dialog style": replace_once(data, dialog_header, struct.pack("<IIHhhhh", 0x90C000C0, 0, 1, 0, 0, 176, 93)),
        "dialog height": replace_once(data, dialog_header, struct.pack("<IIHhhhh", 0x90C800C0, 0, 1, 0, 0, 176, 94)),
        "static style": replace_once(data, item_header, struct.pack("<IIhhhhH", 0x50020000, 0, 7, 39, 162, 8, 0xFFFF)),
        "static id": replace_once(data, item_header, struct.pack("<IIhhhhH", 0x50020001, 0, 7, 39, 162, 8, 1)),
        "static text": replace_once(data, utf16("please wait"), utf16("please_wait")),
        "font": replace_once(data, utf16("MS Sans Serif"), utf16("MS Sans Serfi")),
        "icon depth": replace_once(data, struct.pack("<IiiHH", 40, 32, 64, 1, 4), struct.pack("<IiiHH", 40, 32, 64, 1, 8)),
        "string": replace_once(data, utf16("not possible.\0")[:-2] + b"\x05\x00S", utf16("not possible,") + b"\x05\x00S"),
        "language": language_changed(data),
        "manifest level": replace_once(data, b'"requireAdministrator"', b'"requireAdministratoR"'),
        "manifest XML": replace_once(data, b"</assembly>", b"</assembly "),
    }


def damaged_manifests(manifest):
    """Copies of a good manifest, each with one fault check_manifest must find."""
    trust = b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v2">'
    return {
        "namespace declared twice": manifest.replace(
            trust, b'<ms_asmv2:trustInfo xmlns:ms_asmv2="urn:schemas-microsoft-com:asm.v2" '
            b'xmlns="urn:schemas-microsoft-com:asm.v2">').replace(b"</trustInfo>", b"</ms_asmv2:trustInfo>"),
        "asInvoker": manifest.replace(b'"requireAdministrator"', b'"asInvoker"'),
        "a system less": re.sub(rb'<supportedOS Id="[^"]*"/>', b"", manifest, count=1),
        "no identity": re.sub(rb"<assemblyIdentity[^>]*>", b"", manifest),
    }


def main_manifest(path):
    data = open(path, "rb").read()
    manifest = Image(data).leaves.get((RT_MANIFEST, 1, LANG_EN_US))
    missed = [name for name, copy in damaged_manifests(manifest or b"").items() if not check_manifest(copy)]
    if missed:
        print(f"FAIL: the manifest check does not notice: {', '.join(missed)}")
        return 1
    failures = check_manifest(manifest)
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"manifest: {len(manifest)} bytes, well-formed, requireAdministrator, {len(SUPPORTED_OS)} systems")
    return 1 if failures else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--manifest":
        return main_manifest(sys.argv[2])
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    missed = [name for name, copy in damaged_copies(data).items() if not check(copy)]
    if missed:
        print(f"FAIL: the check does not notice a damaged {', '.join(missed)}")
        return 1
    failures = check(data)
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        return 1
    image = Image(data)
    for (kind, name, language), leaf in sorted(image.leaves.items(), key=str):
        print(f"resource type {kind}, id {name}, language {language}: {len(leaf)} bytes")
    print("dialog 4001: style 0x90C800C0, 0,0,176,93, 10 pt MS Sans Serif, one static 0x50020001 at 7,39,162,8")
    print("icon 5001: one 32 x 32 image, 16 colours; strings 1-7 as expected; the manifest holds")
    print("resources check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
