#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, top to bottom: app, ui, settings, engine, items, formats, part, transfer,
platform. A file may include its own layer and the layers below it. Below ui no file
includes a Qt header, and only platform includes the hive library's header.
Usage: check_layers.py SRC_DIR, or check_layers.py --self-test.
"""
import pathlib
import re
import sys
import tempfile

LAYERS = ["app", "ui", "settings", "engine", "items", "formats", "part", "transfer", "platform"]
RANK = {name: index for index, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*$|q[a-z]+\.h$)")


def faults(src):
    src = pathlib.Path(src)
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".hpp", ".cpp", ".cc") or not path.is_file():
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            found.append(f"{path}: lies in no known layer ({', '.join(LAYERS)})")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, header = match.groups()
            where = f"{path.relative_to(src)}:{number}"
            if kind == '"':
                target = header.split("/")[0]
                if target in RANK and RANK[target] < RANK[layer]:
                    found.append(f"{where}: {layer} includes \"{header}\" from the higher layer {target}")
            elif RANK[layer] > RANK["ui"] and QT_HEADER.match(header):
                found.append(f"{where}: {layer} includes the Qt header <{header}>; only ui and app may")
            elif header == "hivex.h" and layer != "platform":
                found.append(f"{where}: {layer} includes <hivex.h>; only platform may")
    return found


def self_test():
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        cases = {
            "part/up.h": ('#include "items/x.h"\n', True),
            "platform/qt.h": ("#include <QString>\n", True),
            "items/down.h": ('#include "part/x.h"\n#include "items/y.h"\n#include <vector>\n', False),
            "ui/qt.h": ("#include <QtWidgets/QWidget>\n", False),
            "items/hive.h": ("#include <hivex.h>\n", True),
            "platform/hive.h": ("#include <hivex.h>\n", False),
        }
        ok = True
        for name, (text, bad) in cases.items():
            for old in root.rglob("*.h"):
                old.unlink()
            file = root / name
            file.parent.mkdir(parents=True, exist_ok=True)
            file.write_text(text)
            if bool(faults(root)) != bad:
                print(f"self-test: {name} was {'passed' if bad else 'refused'}", file=sys.stderr)
                ok = False
        return 0 if ok else 1


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    found = faults(argv[1])
    for fault in found:
        print(fault, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
