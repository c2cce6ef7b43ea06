"""Writes the mail program's store files from their published layout, streaming.

A store file: a header of 0x24BC bytes whose class id says folder file or folder list, then
messages in chains of 512-byte blocks, records pointing to them, and an index tree of nodes
over the records. Store(path).message(text) writes a message's blocks and returns the first
one's offset; record(fields) writes a record; close(tree(records)) writes the tree and the
header's count and root. Memory holds only the records' offsets.
"""
import struct

HEADER_SIZE = 0x24BC
NODE_SIZE = 0x27C
NODE_ENTRIES = 0x33
CLASS_TAIL = bytes.fromhex("66E3D1119A4E00C04FA309D4")


def header(folder_list):
    data = bytearray(HEADER_SIZE)
    data[0:4] = struct.pack("<I", 0xFE12ADCF)
    data[4:8] = struct.pack("<I", 0x6F74FDC6 if folder_list else 0x6F74FDC5)
    data[8:20] = CLASS_TAIL
    return data


class Store:
    def __init__(self, path, folder_list=False):
        self.file = open(path, "wb")
        self.file.write(header(folder_list))
        self.at = HEADER_SIZE
        self.records = []

    def write(self, data):
        self.file.write(data)
        self.at += len(data)

    def message(self, text):
        pieces = [text[i:i + 0x200] for i in range(0, len(text), 0x200)] or [b""]
        first = self.at
        for n, piece in enumerate(pieces):
            nxt = self.at + 0x210 if n + 1 < len(pieces) else 0
            self.write(struct.pack("<IIHHI", self.at, 0x200, len(piece), 0, nxt) + piece.ljust(0x200, b"\0"))
        return first

    def record(self, fields):
        """fields: (id, int) in place when below 2**24, or (id, bytes) in the data area."""
        entries, data = b"", b""
        for field, value in fields:
            if isinstance(value, int) and value < 1 << 24:
                entries += struct.pack("<I", field | 0x80 | value << 8)
            else:
                entries += struct.pack("<I", field | len(data) << 8)
                data += struct.pack("<I", value) if isinstance(value, int) else value + b"\0"
        offset = self.at
        self.write(struct.pack("<IIHBB", offset, len(entries) + len(data), len(data), len(fields), 1) + entries + data)
        self.records.append(offset)

    def node(self, first_child, entries):
        """entries: (record, child, records below child)."""
        offset = self.at
        below = sum(n for _, _, n in entries) + (first_child[1] if first_child else 0)
        data = struct.pack("<IIIIBBHI", offset, 0, first_child[0] if first_child else 0, 0, 0, len(entries), 0,
                           first_child[1] if first_child else 0)
        for record, child, count in entries:
            data += struct.pack("<III", record, child, count)
        self.write(data.ljust(NODE_SIZE, b"\0"))
        return offset, below + len(entries)

    def tree(self, records):
        """Full leaves of 51 records; each level above takes 51 entries and 52 children."""
        if not records:
            return 0
        level = []  # (node offset, records below and in it) over a run of records
        i = 0
        leaves = []
        while i < len(records):
            leaves.append(self.node(None, [(r, 0, 0) for r in records[i:i + NODE_ENTRIES]]))
            i += NODE_ENTRIES
            if i < len(records):
                leaves.append(("separator", records[i]))
                i += 1
        level = leaves
        while len(level) > 1:
            upper, i = [], 0
            while i < len(level):
                first = level[i]
                entries = []
                i += 1
                while i + 1 < len(level) and len(entries) < NODE_ENTRIES:
                    entries.append((level[i][1], level[i + 1][0], level[i + 1][1]))
                    i += 2
                upper.append(self.node(first, entries))
                if i < len(level):
                    upper.append(level[i])
                    i += 1
            level = upper
        return level[0][0]

    def close(self, root):
        self.file.seek(0xC4)
        self.file.write(struct.pack("<I", len(self.records)))
        self.file.seek(0xE4)
        self.file.write(struct.pack("<I", root))
        self.file.close()


def write_folder_list(path, folders):
    """folders: (id, parent id, name, store file name or None), in tree order."""
    store = Store(path, folder_list=True)
    for number, parent, name, file_name in folders:
        fields = [(0x00, number), (0x01, parent), (0x02, name.encode("cp1252"))]
        if file_name:
            fields.append((0x03, file_name.encode("cp1252")))
        store.record(fields)
    store.close(store.tree(store.records))


def write_messages(path, messages):
    """messages: the texts (bytes) of the folder's messages, in order."""
    store = Store(path)
    for number, text in enumerate(messages, start=1):
        store.record([(0x00, number), (0x04, store.message(text))])
    store.close(store.tree(store.records))
