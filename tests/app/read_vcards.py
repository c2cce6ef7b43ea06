#!/usr/bin/python3
"""Reads a vCard file with Debian's vobject, independently of the writer, and compares each
card field by field with what the address book generator put in.

Usage: read_vcards.py FILE.vcf EXPECTED.json
Checks the octets too: CRLF line ends, no line longer than 75 octets, valid UTF-8 (a fold
never splits a character). Prints what differs and exits 1 on any difference.
"""
import json
import sys

import vobject


def values(card, name):
    return card.contents.get(name.lower(), [])


def one(card, name):
    found = values(card, name)
    return found[0].value if found else None


def types_of(prop):
    types = []
    for value in prop.params.get("TYPE", []):
        types.extend(v.lower() for v in value.split(","))
    return ",".join(types)


def structured(value, fields):
    """vobject's Name and Address objects, or the raw list it keeps for ORG."""
    if isinstance(value, list):
        return value
    return [getattr(value, f) for f in fields]


def main(path, expected_path):
    raw = open(path, "rb").read()
    problems = []
    text = raw.decode("utf-8")  # raises on a fold inside a character
    lines = raw.split(b"\r\n")
    if lines[-1] != b"":
        problems.append("the file does not end in CRLF")
    for number, line in enumerate(lines[:-1], 1):
        if b"\n" in line or b"\r" in line:
            problems.append("line %d has a bare line break" % number)
        if len(line) > 75:
            problems.append("line %d has %d octets" % (number, len(line)))
    expected = json.load(open(expected_path, encoding="utf-8"))["cards"]
    cards = list(vobject.readComponents(text))
    if len(cards) != len(expected):
        problems.append("%d cards, expected %d" % (len(cards), len(expected)))
    uid_by_fn = {one(c, "fn"): one(c, "uid") for c in cards}
    for want, card in zip(expected, cards):
        fn = want["fn"]
        got = {
            "version": one(card, "version"),
            "kind": one(card, "kind") or "individual",
            "fn": one(card, "fn"),
        }
        want_fields = {"version": "4.0", "kind": want["kind"], "fn": fn}
        if want["kind"] == "individual":
            got["n"] = structured(one(card, "n"), ("family", "given", "additional", "prefix", "suffix"))
            want_fields["n"] = want["n"]
        got["nickname"] = one(card, "nickname")
        want_fields["nickname"] = want.get("nickname")
        emails = values(card, "email")
        got["emails"] = [e.value for e in emails]
        want_fields["emails"] = want.get("emails", [])
        got["pref"] = [e.params.get("PREF") for e in emails]
        want_fields["pref"] = [["1"]] + [None] * (len(want_fields["emails"]) - 1) if want_fields["emails"] else []
        got["tels"] = [[types_of(t), t.value] for t in values(card, "tel")]
        want_fields["tels"] = want.get("tels", [])
        got["adr"] = {types_of(a): structured(a.value, ("box", "extended", "street", "city", "region", "code",
                                                        "country"))[2:] for a in values(card, "adr")}
        want_fields["adr"] = want.get("adr", {})
        org = one(card, "org")
        got["org"] = structured(org, ()) if org is not None else None
        want_fields["org"] = want.get("org")
        for name in ("title", "note", "bday"):
            got[name] = one(card, name)
            want_fields[name] = want.get(name)
        got["urls"] = {types_of(u): u.value for u in values(card, "url")}
        want_fields["urls"] = want.get("urls", {})
        got["members"] = sorted(m.value for m in values(card, "member"))
        want_fields["members"] = sorted(uid_by_fn.get(name) for name in want.get("members", []))
        if not (one(card, "uid") or "").startswith("urn:uuid:"):
            problems.append("%s: no urn:uuid UID" % fn)
        for key in want_fields:
            if got.get(key) != want_fields[key]:
                problems.append("%s: %s is %r, expected %r" % (fn, key, got.get(key), want_fields[key]))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
