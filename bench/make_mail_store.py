#!/usr/bin/env python3
"""Writes a large mail store file of the mail program, and its folder list, for benchmarks.

Usage: bench/make_mail_store.py DIR --size-mib N [--seed S]

Writes DIR/Inbox.dbx of about N MiB (messages of 2 to 60 KiB in chains of 512-byte blocks,
an index tree of full nodes over them) and DIR/Folders.dbx naming it, from the published
layout, streaming: memory holds only the records' offsets. Prints the number of messages.
The same seed and size always give the same bytes (standard library only).
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from mail_store_file import Store, write_folder_list  # noqa: E402

WORDS = ("the report is attached please see below thanks regards schedule project update "
         "meeting invoice order shipped figures quarter holiday photos").split()


def message_text(rng, n):
    size = rng.randint(2, 60) * 1024
    words = " ".join(rng.choice(WORDS) for _ in range(size // 6))
    lines = "\r\n".join(words[i:i + 72] for i in range(0, len(words), 72))
    return ("From: sender%d@example.org\r\nTo: alice@example.com\r\nSubject: Message %d\r\n"
            "Date: Mon, 1 Jan 2007 10:00:00 +0000\r\n\r\n%s\r\n" % (n, n, lines)).encode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--size-mib", type=int, required=True)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    rng = random.Random(args.seed)
    store = Store(os.path.join(args.dir, "Inbox.dbx"))
    n = 0
    while store.at < args.size_mib << 20:
        n += 1
        first = store.message(message_text(rng, n))
        store.record([(0x00, n), (0x04, first)])
    store.close(store.tree(store.records))
    write_folder_list(os.path.join(args.dir, "Folders.dbx"), [(1, 0, "Inbox", "Inbox.dbx")])
    print(n)


if __name__ == "__main__":
    main()
