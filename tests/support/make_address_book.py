#!/usr/bin/python3
"""Writes Windows address book files from the published layout, independently of the reader.

The header is the 16-byte signature, two counts and six table descriptors (type, entry
size, offset, count); the first table is the index (record id, record offset), the next four
the display name, surname, given name and e-mail lists (32 UTF-16 units and the record id).
A record is a 32-byte header (kind, 0, record id, property count, header size 0x20, 0, 0,
length of the values), the list of its property tags, then each property: tag, size, value;
a property of multiple values: tag, count, size, then each value's length and bytes.

Usage: make_address_book.py VARIANT FILE.wab [EXPECTED.json]
Writes the sample book (VARIANT "sound"), one of the hostile ones (see VARIANTS), or
"large-N" (N contacts), and the cards a sound reader must find in it as JSON.
       make_address_book.py --fuzz-seeds FOLDER
Writes every variant into FOLDER as seeds of the fuzz target.
"""
import json
import os
import struct
import sys

MAGIC = bytes.fromhex("9ccbcb8d1375d211915800c04f7956a4")
HEADER = 0x18 + 6 * 16
INDEX, NAMES = 0xFA0, 0x84D0

UNICODE, ANSI, LONG, TIME, MV_UNICODE, MV_BINARY = 0x1F, 0x1E, 0x03, 0x40, 0x101F, 0x1102


def tag(prop_id, kind):
    return prop_id << 16 | kind


def text_value(kind, text):
    if kind in (UNICODE, MV_UNICODE):
        return text.encode("utf-16le") + b"\0\0"
    return text.encode("cp1252") + b"\0"


def prop_bytes(prop_tag, value):
    kind = prop_tag & 0xFFFF
    if kind & 0x1000:
        items = [text_value(kind, v) if isinstance(v, str) else v for v in value]
        inner = b"".join(struct.pack("<I", len(i)) + i for i in items)
        return struct.pack("<III", prop_tag, len(items), len(inner)) + inner
    if kind == LONG:
        data = struct.pack("<I", value)
    elif kind == TIME:
        data = struct.pack("<Q", value)
    else:
        data = text_value(kind, value)
    return struct.pack("<II", prop_tag, len(data)) + data


def record(record_id, props):
    values = b"".join(prop_bytes(t, v) for t, v in props)
    tags = b"".join(struct.pack("<I", t) for t, _ in props)
    return struct.pack("<8I", 1, 0, record_id, len(props), 0x20, 0, 0, len(values)) + tags + values


def file_time(year, month, day):
    import datetime
    delta = datetime.datetime(year, month, day) - datetime.datetime(1601, 1, 1)
    return (delta.days * 86400 + delta.seconds) * 10_000_000


# Each contact: record id, the properties stored, and the card the reader must make of it.
def sample():
    s = UNICODE
    ann = [
        (tag(0x0FFE, LONG), 6),
        (tag(0x3001, s), "Dr. Ann Q. Example Jr."),
        (tag(0x3A06, s), "Ann"), (tag(0x3A11, s), "Example"), (tag(0x3A44, s), "Q."),
        (tag(0x3A45, s), "Dr."), (tag(0x3A05, s), "Jr."), (tag(0x3A4F, s), "Annie"),
        (tag(0x3003, s), "ann@example.org"),
        (tag(0x3A56, MV_UNICODE), ["ann@work.example", "ann@example.org", "a.example@mail.example"]),
        (tag(0x3A55, LONG), 1),
        (tag(0x3A09, s), "+1 555 0101"), (tag(0x3A08, s), "+1 555 0102"), (tag(0x3A1C, s), "+1 555 0103"),
        (tag(0x3A25, s), "+1 555 0104"), (tag(0x3A24, s), "+1 555 0105"), (tag(0x3A21, s), "+1 555 0106"),
        (tag(0x3A5D, s), "12 Main St.\r\nApt. 4, back door"), (tag(0x3A59, s), "Springfield"),
        (tag(0x3A5C, s), "IL"), (tag(0x3A5B, s), "62701"), (tag(0x3A5A, s), "USA"),
        (tag(0x3A29, s), "1 Corporate Way; Suite 100"), (tag(0x3A27, s), "Chicago"),
        (tag(0x3A28, s), "IL"), (tag(0x3A2A, s), "60601"), (tag(0x3A26, s), "USA"),
        (tag(0x3A16, s), "Example, Inc."), (tag(0x3A18, s), "R&D; Testing"),
        (tag(0x3A17, s), "Chief \\ Tester"),
        (tag(0x3004, s), "First line, with a comma; and a semicolon.\r\nSecond line \\ with a backslash,"
                         " long enough that the line has to be folded more than once when it is written out."),
        (tag(0x3A42, TIME), file_time(1980, 2, 29)),
        (tag(0x3A50, s), "http://ann.example.org/"), (tag(0x3A51, s), "https://www.example.com/ann?a=1,2;b"),
    ]
    ann_card = {
        "kind": "individual", "fn": "Dr. Ann Q. Example Jr.", "n": ["Example", "Ann", "Q.", "Dr.", "Jr."],
        "nickname": "Annie",
        "emails": ["ann@example.org", "ann@work.example", "a.example@mail.example"],
        "tels": [["home,voice", "+1 555 0101"], ["work,voice", "+1 555 0102"], ["cell", "+1 555 0103"],
                 ["home,fax", "+1 555 0104"], ["work,fax", "+1 555 0105"], ["pager", "+1 555 0106"]],
        "adr": {"home": ["12 Main St.\nApt. 4, back door", "Springfield", "IL", "62701", "USA"],
                "work": ["1 Corporate Way; Suite 100", "Chicago", "IL", "60601", "USA"]},
        "org": ["Example, Inc.", "R&D; Testing"], "title": "Chief \\ Tester",
        "note": "First line, with a comma; and a semicolon.\nSecond line \\ with a backslash, long enough that"
                " the line has to be folded more than once when it is written out.",
        "bday": "19800229",
        "urls": {"home": "http://ann.example.org/", "work": "https://www.example.com/ann?a=1,2;b"},
    }
    jorg = [
        (tag(0x3001, s), "Jörg Müller-Łukasiewicz"), (tag(0x3A06, s), "Jörg"),
        (tag(0x3A11, s), "Müller-Łukasiewicz"), (tag(0x3A4F, s), "Jö 😀"),
        (tag(0x3003, s), "joerg@example.de"),
        (tag(0x3004, s), "日本語のメモ。" * 12),
        (tag(0x3A16, s), "Städtische Bühnen"),
    ]
    jorg_card = {"kind": "individual", "fn": "Jörg Müller-Łukasiewicz", "n": ["Müller-Łukasiewicz", "Jörg", "", "", ""],
                 "nickname": "Jö 😀", "emails": ["joerg@example.de"], "note": "日本語のメモ。" * 12,
                 "org": ["Städtische Bühnen"]}
    # Older books keep 8-bit text in the Windows code page.
    rene = [(tag(0x3001, ANSI), "René Côté"), (tag(0x3A06, ANSI), "René"), (tag(0x3A11, ANSI), "Côté"),
            (tag(0x3A56, 0x101E), ["rene@example.fr", "rc@example.fr"])]
    rene_card = {"kind": "individual", "fn": "René Côté", "n": ["Côté", "René", "", "", ""],
                 "emails": ["rene@example.fr", "rc@example.fr"]}
    group = [(tag(0x0FFE, LONG), 8), (tag(0x3001, s), "Friends, Family & Co"),
             (tag(0x6600, MV_BINARY), [struct.pack("<I", 1), struct.pack("<I", 3)])]
    group_card = {"kind": "group", "fn": "Friends, Family & Co", "members": ["Dr. Ann Q. Example Jr.", "René Côté"]}
    return [(1, ann, ann_card), (2, jorg, jorg_card), (3, rene, rene_card), (7, group, group_card)]


def build(entries, name_tables=True, deleted=None):
    """The file holding these (record id, properties) in order, and the offset of each."""
    count = len(entries)
    index_at = HEADER
    names_at = index_at + 8 * count
    tables = [(INDEX, 8, index_at, count)]
    lists = []
    for prop_id in (0x3001, 0x3A11, 0x3A06, 0x3003):
        rows = []
        for record_id, props in entries:
            for t, v in props:
                if t >> 16 == prop_id and isinstance(v, str):
                    rows.append((v, record_id))
        rows.sort()
        if not name_tables:
            rows = []
        tables.append((NAMES, 0x44, names_at + sum(len(x) for x in lists) * 0x44, len(rows)))
        lists.append(rows)
    tables.append((INDEX, 8, 0, 0))
    body_at = names_at + sum(len(x) for x in lists) * 0x44
    out = bytearray(MAGIC + struct.pack("<II", count, 0))
    for t in tables:
        out += struct.pack("<4I", *t)
    offsets = []
    records = bytearray()
    for record_id, props in entries:
        offsets.append(body_at + len(records))
        records += record(record_id, props)
        records += b"\0" * (-len(records) % 4)
    for (record_id, _), offset in zip(entries, offsets):
        out += struct.pack("<II", record_id, offset)
    for rows in lists:
        for text, record_id in rows:
            out += text.encode("utf-16le")[:62].ljust(64, b"\0") + struct.pack("<I", record_id)
    out += records
    if deleted:
        out += record(99, deleted)
    return out, offsets


def put(data, offset, value):
    struct.pack_into("<I", data, offset, value)


def sound():
    entries = sample()
    data, offsets = build([(i, p) for i, p, _ in entries], deleted=[(tag(0x3001, UNICODE), "Deleted Person")])
    cards = []
    for record_id, _, card in entries:
        cards.append(dict(card, id=record_id))
    return data, cards, offsets


# Hostile variants: each returns the bytes and the offset the damage must be named at
# (None: the file is refused at its header, so no offset beyond the header).
def large(count):
    """count contacts like the first of the sample, several window sizes of a reader long."""
    base = sample()[0][1]
    entries = []
    for i in range(1, count + 1):
        props = [(t, v) for t, v in base if t >> 16 != 0x3001] + [(tag(0x3001, UNICODE), "Person %d" % i)]
        entries.append((i, props))
    return build(entries, name_tables=False)[0]


def hostile(kind):
    data, cards, offsets = sound()
    first = offsets[0]
    index_at = HEADER
    if kind == "not-a-book":
        data[0] ^= 0xFF
        return data, 0, False
    if kind == "cut-header":
        return data[:0x40], 0, False
    if kind == "index-past-end":
        put(data, 0x18 + 12, 0x0FFFFFFF)
        return data, 0x18 + 8, False
    if kind == "index-huge-count":
        put(data, 0x18 + 12, 0xFFFFFFFF)
        return data, 0x18 + 8, False
    if kind == "record-past-end":
        put(data, index_at + 4, len(data) - 8)
        return data, len(data) - 8, True
    if kind == "same-record-twice":
        # The second entry points at the first record: a loop in the index.
        put(data, index_at + 8 + 4, first)
        return data, first, True
    if kind == "overlapping-records":
        put(data, index_at + 8 + 4, first + 0x20)
        return data, first + 0x20, True
    if kind == "huge-property-count":
        put(data, first + 12, 0xFFFFFFFF)
        return data, first, True
    if kind == "huge-data-length":
        put(data, first + 28, 0x7FFFFFFF)
        return data, first, True
    if kind == "value-past-record":
        # The display name's size (after the 12 bytes of the object type) runs far past
        # the record.
        tags = struct.unpack_from("<I", data, first + 12)[0]
        name = first + 0x20 + 4 * tags + 12
        put(data, name + 4, 0x10000000)
        return data, name, True
    if kind == "tag-list-mismatch":
        put(data, first + 0x20, 0x12345678)
        return data, first + 0x20 + 4 * struct.unpack_from("<I", data, first + 12)[0], True
    if kind == "multi-value-bomb":
        # An e-mail list claiming four billion values in a few bytes.
        props = sample()[0][1]
        at = first + 0x20 + 4 * len(props)
        for t, v in props:
            if t == tag(0x3A56, MV_UNICODE):
                put(data, at + 4, 0xFFFFFFFF)
                return data, at, True
            at += len(prop_bytes(t, v))
    if kind == "folder-record":
        # A record of a kind no card can hold (an address book folder).
        entries = [(i, p) for i, p, _ in sample()]
        entries.append((9, [(tag(0x0FFE, LONG), 3), (tag(0x3001, UNICODE), "A folder")]))
        data, offsets = build(entries)
        return data, offsets[-1], True
    if kind == "outside-member":
        # A group member kept only in the group (a longer entry id than a record id): sound,
        # but no card can hold it.
        entries = [(i, p) for i, p, _ in sample()]
        group = entries[-1][1]
        group[-1] = (group[-1][0], group[-1][1] + [b"\0" * 4 + "someone@example.net".encode("utf-16le")])
        data, offsets = build(entries)
        return data, None, True
    raise SystemExit("unknown variant " + kind)


VARIANTS = ("not-a-book", "cut-header", "index-past-end", "index-huge-count", "record-past-end",
            "same-record-twice", "overlapping-records", "huge-property-count", "huge-data-length",
            "value-past-record", "tag-list-mismatch", "multi-value-bomb", "folder-record", "outside-member")


def main(argv):
    if len(argv) == 3 and argv[1] == "--fuzz-seeds":
        os.makedirs(argv[2], exist_ok=True)
        for name in ("sound",) + VARIANTS:
            data = sound()[0] if name == "sound" else hostile(name)[0]
            with open(os.path.join(argv[2], name + ".wab"), "wb") as f:
                f.write(bytes(data))
        return 0
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    variant, path = argv[1], argv[2]
    if variant.startswith("large-"):
        data = large(int(variant[6:]))
        expected = {"contacts": int(variant[6:])}
    elif variant == "sound":
        data, cards, _ = sound()
        expected = {"cards": cards}
    else:
        data, offset, partly = hostile(variant)
        # partly: the file is read, only the damaged record is passed over.
        expected = {"offset": offset, "partly": partly}
    with open(path, "wb") as f:
        f.write(bytes(data))
    if len(argv) == 4:
        with open(argv[3], "w", encoding="utf-8") as f:
            json.dump(expected, f, ensure_ascii=False, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
