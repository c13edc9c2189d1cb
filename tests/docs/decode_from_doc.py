#!/usr/bin/env python3
"""A reader of pack files written from docs/format.md alone, as a check that
the page is enough: plain, slow, one rule of the page at a time.

    decode_from_doc.py PACKED OUT [PACKED OUT]...   expands, in order, through one ring
    decode_from_doc.py --trace HEX_BODY SIZE         prints each symbol of one block
"""
import sys

SYMBOLS = 314
NODES = 627
ROOT = 626
REBUILD_AT = 0xF000
RUN = 313


class Tree:
    def __init__(self):
        self.freq = [1] * SYMBOLS + [0] * (NODES - SYMBOLS) + [1 << 40]  # [627]: sentinel
        self.child = [NODES + s for s in range(SYMBOLS)] + [0] * (NODES - SYMBOLS)
        self.parent = [0] * NODES
        self.leaf = list(range(SYMBOLS))
        for j in range(SYMBOLS, NODES):
            i = 2 * (j - SYMBOLS)
            self.child[j] = i
            self.parent[i] = self.parent[i + 1] = j
            self.freq[j] = self.freq[i] + self.freq[i + 1]
        self.rebuilds = 0

    def link(self, node, position):
        if node >= NODES:
            self.leaf[node - NODES] = position
        else:
            self.parent[node] = self.parent[node + 1] = position

    def update(self, s):
        freq, child = self.freq, self.child
        if freq[ROOT] == REBUILD_AT:
            self.rebuild()
        p = self.leaf[s]
        while True:
            freq[p] += 1
            k = freq[p]
            if p == ROOT:
                return
            if k > freq[p + 1]:
                top = p + 2
                while freq[top] < k:
                    top += 1
                l = top - 1
                freq[p], freq[l] = k - 1, k
                i, j = child[p], child[l]
                child[l], child[p] = i, j
                self.link(i, l)
                self.link(j, p)
                p = l
            p = self.parent[p]

    def rebuild(self):
        self.rebuilds += 1
        freq, child = self.freq, self.child
        j = 0
        for i in range(NODES):
            if child[i] >= NODES:
                freq[j] = (freq[i] + 1) // 2
                child[j] = child[i]
                j += 1
        for j in range(SYMBOLS, NODES):
            i = 2 * (j - SYMBOLS)
            f = freq[i] + freq[i + 1]
            k = j - 1
            while f < freq[k]:
                k -= 1
            k += 1
            freq[k + 1:j + 1] = freq[k:j]
            child[k + 1:j + 1] = child[k:j]
            freq[k], child[k] = f, i
        for i in range(NODES):
            self.link(child[i], i)


class Bits:
    def __init__(self, data):
        self.data, self.at = data, 0  # at: bits read

    def bit(self):
        byte = self.at >> 3
        value = self.data[byte] if byte < len(self.data) else 0
        b = (value >> (7 - (self.at & 7))) & 1
        self.at += 1
        return b

    def number(self, n):
        v = 0
        for _ in range(n):
            v = 2 * v + self.bit()
        return v


class Reader:
    """The state of one process: the ring outlives every block."""

    def __init__(self):
        self.ring = [0] * 4096
        # What the blocks used, so a test can tell which rules a file exercised;
        # "earlier": tokens a match copied from before its own block.
        self.counts = {"literal": 0, "match": 0, "run": 0, "rebuild": 0, "block": 0, "earlier": 0}

    def symbol(self, tree, bits, trace):
        start = bits.at
        v = tree.child[ROOT]
        while v < NODES:
            v = tree.child[v + bits.bit()]
        s = v - NODES
        tree.update(s)
        if trace is not None:
            trace.append([s, bits_text(bits, start)])
        return s

    def block(self, body, size, trace=None):
        """Expands one block; returns its bytes (the excess of the last symbol cut off)."""
        tree, bits, ring = Tree(), Bits(body), self.ring
        out = bytearray()
        stored = 0  # tokens this block stored: the write index is stored mod 4096

        def put(token):
            nonlocal stored
            ring[stored % 4096] = token
            stored += 1
            count = token >> 8
            out.extend(bytes([token & 0xFF]) * (1 if count == 0 else count + 3))

        while len(out) < size:
            s = self.symbol(tree, bits, trace)
            if s < 256:
                put(s)
                self.counts["literal"] += 1
            elif s == RUN:
                v = self.symbol(tree, bits, trace)
                c = self.symbol(tree, bits, trace)
                ring[stored % 4096] = v + 256 * c
                stored += 1
                out.extend(bytes([v % 256]) * (c + 3))  # 3 bytes even when c is 0
                self.counts["run"] += 1
            else:
                start = bits.at
                d = bits.number(12)
                if trace is not None:
                    trace[-1].append(bits_text(bits, start))
                r = (stored - d - 1) % 4096
                for _ in range(s - 253):
                    if stored < 4096 and r >= stored:
                        self.counts["earlier"] += 1
                    put(ring[r])
                    r = (r + 1) % 4096
                self.counts["match"] += 1
        if (bits.at + 7) // 8 > len(body):
            raise ValueError("block needs bits past its packed bytes")
        self.counts["rebuild"] += tree.rebuilds
        self.counts["block"] += 1
        return bytes(out[:size])

    def file(self, data):
        out = bytearray()
        at = 0
        while at < len(data):
            header = data[at:at + 16]
            if header[:8] != b"PACKDAT$":
                raise ValueError("no PACKDAT$ at offset %d" % at)
            header += bytes(16 - len(header))  # a lone PACKDAT$ is an empty stored record
            packed = int.from_bytes(header[8:12], "little")
            size = int.from_bytes(header[12:16], "little")
            at += 16
            body = data[at:at + (packed or size)]
            if len(body) != (packed or size):
                raise ValueError("record at offset %d cut short" % (at - 16))
            out += self.block(body, size) if packed else body
            at += packed or size
        return bytes(out)


def bits_text(bits, start):
    saved = bits.at
    bits.at = start
    text = "".join(str(bits.bit()) for _ in range(saved - start))
    bits.at = saved
    return text


def main(args):
    if args[:1] == ["--trace"]:
        trace = []
        out = Reader().block(bytes.fromhex(args[1]), int(args[2]), trace)
        for entry in trace:
            print(" ".join(str(x) for x in entry))
        print(out)
        return 0
    reader = Reader()
    for packed, dest in zip(args[0::2], args[1::2]):
        with open(packed, "rb") as f:
            data = f.read()
        with open(dest, "wb") as f:
            f.write(reader.file(data))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
