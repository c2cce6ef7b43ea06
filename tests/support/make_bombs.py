#!/usr/bin/python3
"""Writes small data files that inflate to huge registry values, key names, strings,
value counts or favorites lists: what a reader must refuse before it allocates.

Usage: make_bombs.py FOLDER [MIB]   (MIB: plain bytes of each bomb's big part, default 256)
Writes FOLDER/<kind>.tsly_dat for every kind in KINDS and prints their names.
       make_bombs.py --fuzz-seeds CORPUS   (CORPUS: the fuzz/corpus folder)
Writes each bomb just past its bound as a seed of the data file target, and key trees and
user.reg files past the registry's limits as seeds of theirs.
"""
import struct
import sys
import zlib

KINDS = ("value", "keyname", "string", "favorites", "count", "records")
CHUNK = 1 << 20


def field(text):
    data = text.encode("cp1252")
    return data + b"\0" * (256 - len(data))


def head(caption, selected):
    return field(caption) + bytes([1 if selected else 0])


class Deflater:
    def __init__(self, out):
        self.out = out
        self.z = zlib.compressobj(9)

    def put(self, data):
        self.out.write(self.z.compress(data))

    def repeat(self, piece, count):
        block = piece * max(1, CHUNK // len(piece))
        per_block = len(block) // len(piece)
        while count > 0:
            n = min(count, per_block)
            self.put(block[: n * len(piece)])
            count -= n

    def close(self):
        self.out.write(self.z.flush())


def project(d, favorites_entries, oe_selected):
    d.put(field("Tessaly Data File Iden") + struct.pack("<dB7x", 45000.0, 0))
    d.put(field("Tessaly Project File") + field("bomb") + struct.pack("<B7xd", 2, 45000.0))
    d.put(head("Windows Address Book", False) + field("") + struct.pack("<q", 0))
    d.put(head("Favorites", False))
    d.repeat(field("C:\\users\\bomb\\Favorites\\" + "f" * 200 + ".url"), favorites_entries)
    d.put(field("(end)") + struct.pack("<q", 0))
    d.put(head("IE Settings", False) + b"(end)\0")
    d.put(head("Outlook Express Data", oe_selected) + field("") + struct.pack("<q", 0))
    d.put(struct.pack("<qB", 1281, 0) + field("") * 5)
    d.put(struct.pack("<q", 40) + bytes(40))


def accounts_tree(d, kind, size):
    key = b"\\Software\\Microsoft\\Internet Account Manager"
    if kind == "keyname":
        d.put(key + b"\\")
        d.repeat(b"k", size)
        d.put(b"\0(end)\0")
    elif kind == "value":
        d.put(key + b"\0v\0" + struct.pack("<Bi", 4, size))
        d.repeat(b"\0", size)
        d.put(b"(end)\0")
    elif kind == "string":
        d.put(key + b"\0s\0" + struct.pack("<Bi", 1, -1))
        d.repeat(b"s", size)
        d.put(b"\0(end)\0")
    elif kind == "count":
        d.put(key + b"\0")
        entries = []
        for i in range(size // 256):
            entries.append(b"v%08x\0" % i + struct.pack("<BiI", 3, 4, i))
            if len(entries) == 4096:
                d.put(b"".join(entries))
                entries = []
        d.put(b"".join(entries) + b"(end)\0")
    d.put(b"(end)\0")


def write_bomb_to(out, kind, size):
    d = Deflater(out)
    favorites = size // 256 if kind == "favorites" else 0
    project(d, favorites, kind != "favorites")
    if kind == "records":
        # Empty file records: each costs 272 plain bytes and a few compressed ones.
        record = struct.pack("<q", 264) + field("[CSIDL_LOCAL_APPDATA]\\Identities\\x.dbx") + struct.pack("<q", 0)
        d.put(b"(end)\0(end)\0" + struct.pack("<i", size // len(record)))
        d.repeat(record, size // len(record))
    elif kind != "favorites":
        accounts_tree(d, kind, size)
        d.put(b"(end)\0" + struct.pack("<i", 0))  # identities tree, empty file list
    d.close()


def write_bomb(path, kind, size):
    with open(path, "wb") as out:
        write_bomb_to(out, kind, size)


def fuzz_seeds(corpus):
    import io
    for kind in KINDS[:5]:
        out = io.BytesIO()
        write_bomb_to(out, kind, 17 << 20)
        # The data file target's first byte 0: the rest is a compressed data file.
        with open("%s/data_file/bomb_%s" % (corpus, kind), "wb") as seed:
            seed.write(b"\0" + out.getvalue())
    trees = {
        "key_name_256": b"\\" + b"k" * 256 + b"\0(end)\0(end)\0",
        "value_name_16384": b"\\K\0" + b"n" * 16384 + b"\0" + struct.pack("<Bi", 0, 0) + b"(end)\0(end)\0",
        "depth_513": b"\\k" * 513 + b"\0(end)\0(end)\0",
        "binary_2gib": b"\\K\0b\0" + struct.pack("<Bi", 4, 0x7FFFFFFF) + b"\0" * 64,
    }
    for name, tree in trees.items():
        with open("%s/key_tree/%s" % (corpus, name), "wb") as seed:
            seed.write(tree)
    with open("%s/user_reg/key_name_256" % corpus, "wb") as seed:
        seed.write(b"WINE REGISTRY Version 2\n\n[A\\\\" + b"k" * 256 + b"] 0\n\"v\"=dword:1\n")


def main():
    if sys.argv[1] == "--fuzz-seeds":
        fuzz_seeds(sys.argv[2])
        return
    folder = sys.argv[1]
    size = int(sys.argv[2]) << 20 if len(sys.argv) > 2 else 256 << 20
    for kind in KINDS:
        path = "%s/%s.tsly_dat" % (folder, kind)
        write_bomb(path, kind, size)
        print(path)


if __name__ == "__main__":
    main()
