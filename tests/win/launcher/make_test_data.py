#!/usr/bin/env python3
"""Writes the source files of the launcher tests' pack files (deterministic).

make_test_data.py OUTDIR REAL_BINARY
  script.bin   the sample script: 384 KiB of a real binary, 192 KiB of
               pseudo-random bytes (stored records), 48 KiB of text
  notexe.bin   a text file that no loader can start, for INSTALL.EX_
  ring_a.bin   8 KiB of pseudo-random letters (compressed, not stored)
  ring_b.bin   ring_a's last 3 KiB three times over: packed after ring_a
               through one encoder state, it copies from ring_a's tokens
"""
import random
import sys

out, real = sys.argv[1], sys.argv[2]
rand = random.Random(20261207)

with open(real, "rb") as f:
    binary = f.read(384 * 1024)
noise = bytes(rand.getrandbits(8) for _ in range(192 * 1024))
text = b"".join(b"line %05d: the quick brown fox jumps over the lazy dog\r\n" % i
                for i in range(48 * 1024 // 56))
with open(f"{out}/script.bin", "wb") as f:
    f.write(binary + noise + text)

with open(f"{out}/notexe.bin", "wb") as f:
    f.write(b"This is not a program.\r\n" * 40)

# Compressible (16 letters), so that it goes through the decoder and fills the
# ring, but without repeats the encoder could use within ring_b alone.
ring_a = bytes(b"abcdefghijklmnop"[rand.getrandbits(4)] for _ in range(8 * 1024))
with open(f"{out}/ring_a.bin", "wb") as f:
    f.write(ring_a)
with open(f"{out}/ring_b.bin", "wb") as f:
    f.write(ring_a[-3 * 1024:] * 3)
