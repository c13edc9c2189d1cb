#!/usr/bin/env python3
"""Makes a large installer for the please-wait dialog's tests.

usage: make_big_installer.py STANDIN.EXE OUT.EXE MEGABYTES

OUT.EXE is the stand-in installer followed by MEGABYTES of pseudo-random
words (deterministic). A program's loader ignores what follows its image, so
OUT.EXE still runs as the stand-in; the words compress about 3:1, so the
expansion goes through the decoder for every record and takes a while.
"""
import random
import sys

standin, out, megabytes = sys.argv[1], sys.argv[2], float(sys.argv[3])
rand = random.Random(6)
words = [bytes(rand.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rand.randint(2, 9)))
         for _ in range(4096)]
target = int(megabytes * 1024 * 1024)
padding = bytearray()
while len(padding) < target:
    padding += b" ".join(rand.choice(words) for _ in range(64)) + b"\r\n"
with open(standin, "rb") as f:
    program = f.read()
with open(out, "wb") as f:
    f.write(program + bytes(padding[:target]))
