#!/usr/bin/env python3
"""The size of setup.exe that docs/setup-exe.md states (its one place) is the
size of the setup.exe built.

    check_setup_exe_size.py DOCS_SETUP_EXE_MD SETUP_EXE
"""
import os
import re
import sys


def main(doc, exe):
    stated = re.search(r"32-bit GUI program, ([\d,]+) bytes", open(doc, encoding="utf-8").read())
    if not stated:
        print("FAIL: %s states no size of setup.exe ('32-bit GUI program, N bytes')" % doc)
        return 1
    documented = int(stated.group(1).replace(",", ""))
    built = os.path.getsize(exe)
    if documented != built:
        print("FAIL: %s says setup.exe is %s bytes; %s is %s bytes" % (doc, f"{documented:,}", exe, f"{built:,}"))
        return 1
    print("ok: setup.exe is %s bytes, as %s says" % (f"{built:,}", os.path.basename(doc)))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
