#!/usr/bin/env python3
"""docs/format.md is enough to read pack files: the reader written from it
(decode_from_doc.py) expands the page's worked example, symbol by symbol as
its table shows, and a script and installer that setuppack packs, using
every rule of the block code on the way.

    check_format_doc.py SOURCE_DIR SETUPPACK WORK_DIR
"""
import os
import random
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import decode_from_doc  # noqa: E402

failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)


def worked_example(page):
    example = page[page.index("## A worked example"):]
    example = example[:example.index("\n## ")]
    expected = re.search(r"The \d+ bytes `([^`]+)`", example).group(1).encode()
    record = bytes.fromhex(re.search(r"```\n([0-9A-F ]+)\n```", example).group(1))
    # The table's second column: the bits of each code and distance, in order.
    rows = [line.split("|") for line in example.splitlines() if re.match(r"\| \d+-\d+ \|", line)]
    table_bits = [cells[2].strip().strip("`") for cells in rows]

    reader = decode_from_doc.Reader()
    expect(reader.file(record) == expected, "the worked example does not expand to %r" % expected)
    trace = []
    packed = int.from_bytes(record[8:12], "little")
    decode_from_doc.Reader().block(record[16:16 + packed], int.from_bytes(record[12:16], "little"), trace)
    read = [bits for entry in trace for bits in entry[1:]]
    used = sum(len(bits) for bits in read)
    fill = "".join(format(b, "08b") for b in record[16:])[used:]
    expect(table_bits == read + [fill], "the table's bits %s are not those read, %s then fill %s" %
           (table_bits, read, fill))


def packed_pair(source_dir, setuppack, work):
    """A script and an installer as setup.exe expands them: one ring, in order."""
    docs = os.path.join(source_dir, "docs")
    script = b"".join(open(os.path.join(docs, name), "rb").read() for name in sorted(os.listdir(docs))
                      if name.endswith(".md"))
    rng = random.Random(41)
    installer = (script[-3000:]  # its first block copies the script's last tokens
                 + open(setuppack, "rb").read()[:200000]  # code: matches, runs of zeros
                 + bytes(rng.randrange(128) for _ in range(130000))  # blocks of literals: a rebuild
                 + bytes(5000))
    names = {}
    for name, data in (("INSTALL.SCR", script), ("INSTALL.EXE", installer)):
        names[name] = os.path.join(work, name)
        with open(names[name], "wb") as f:
            f.write(data)
    sc, ex = os.path.join(work, "INSTALL.SC_"), os.path.join(work, "INSTALL.EX_")
    subprocess.run([setuppack, "-q", "-f", "pack", names["INSTALL.SCR"], sc, names["INSTALL.EXE"], ex],
                   check=True)
    reader = decode_from_doc.Reader()
    expect(reader.file(open(sc, "rb").read()) == script, "INSTALL.SC_ does not expand to the script")
    expect(reader.file(open(ex, "rb").read()) == installer, "INSTALL.EX_ does not expand to the installer")
    print("the pair used:", reader.counts)
    for rule in ("literal", "match", "run", "rebuild", "earlier"):
        expect(reader.counts[rule] > 0, "the packed files never used a %s: %s" % (rule, reader.counts))


def main(source_dir, setuppack, work):
    os.makedirs(work, exist_ok=True)
    worked_example(open(os.path.join(source_dir, "docs", "format.md"), encoding="utf-8").read())
    packed_pair(source_dir, setuppack, work)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
