#!/usr/bin/env python3
"""Writes many small mail-sized files for the per-file cost benchmarks.

Usage: bench/make_small_files.py DIR (--flat N | --tree N) [--seed S]

  --flat N   N files in the one folder DIR (a mail program's folder of saved messages)
  --tree N   N files of 200 B to 8 KiB spread over about N / 9 folders three levels deep
             below DIR (accounts, their folders, and per-month subfolders), about nine a folder

Each file is one message: mail headers and a body of words, sizes log-uniform between
200 bytes and 8 KiB. Names mix letter cases as saved mail does. The same seed and count
always give the same bytes (standard library only, so any python3 runs it).
"""
import argparse
import math
import os
import random
import sys

WORDS = ("the of and to a in is it you that he was for on are with as his they be at one have "
         "this from or had by not word but what some we can out other were all there when up use "
         "your how said an each she which do their time if will way about many then them write "
         "would like so these her long make thing see him two has look more day could go come did "
         "meeting invoice thanks regards schedule project update order shipped figures quarter "
         "budget review draft contract delivery tomorrow Monday Friday office team client").split()
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct"]
FOLDERS = ["Inbox", "Sent Items", "Drafts", "Archive", "Clients", "Family", "Lists", "Receipts",
           "Projects", "Travel"]


def size_of(rng):
    return int(math.exp(rng.uniform(math.log(200), math.log(8192))))


def message(rng, number, size):
    sender = "%s.%d@example.org" % (rng.choice(WORDS), rng.randint(1, 999))
    head = ("From: %s\r\nTo: alice@example.com\r\nSubject: %s\r\nDate: %02d Mar 2021 %02d:%02d:00 +0100\r\n"
            "Message-ID: <%08x.%d@example.net>\r\n\r\n" % (
                sender, " ".join(rng.choices(WORDS, k=rng.randint(2, 6))), rng.randint(1, 28),
                rng.randint(0, 23), rng.randint(0, 59), rng.getrandbits(32), number))
    body = []
    length = len(head)
    while length < size:
        line = " ".join(rng.choices(WORDS, k=rng.randint(6, 14))) + "\r\n"
        body.append(line)
        length += len(line)
    return (head + "".join(body)).encode("ascii")[:size]


def file_name(rng, number):
    return rng.choice(["Message%05d.eml", "msg%05d.EML", "Re_%05d.eml", "note%05d.txt"]) % number


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def flat(root, count, rng):
    os.makedirs(root, exist_ok=True)
    for number in range(count):
        write(os.path.join(root, file_name(rng, number)), message(rng, number, size_of(rng)))
    return count, 1


def tree(root, count, rng):
    # Three levels (account, folder, month), files in every folder of them.
    accounts = max(1, round(count / 9 / 111))
    folders = []
    for account in range(accounts):
        top = os.path.join(root, "Account %02d" % account)
        folders.append(top)
        for name in FOLDERS:
            middle = os.path.join(top, name)
            folders.append(middle)
            folders.extend(os.path.join(middle, month) for month in MONTHS)
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    for number in range(count):
        folder = folders[number % len(folders)]
        write(os.path.join(folder, file_name(rng, number)), message(rng, number, size_of(rng)))
    return count, len(folders)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    shape = parser.add_mutually_exclusive_group(required=True)
    shape.add_argument("--flat", type=int, metavar="N")
    shape.add_argument("--tree", type=int, metavar="N")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    count = args.flat if args.flat is not None else args.tree
    if count is None or count < 1:
        parser.error("the file count must be positive")
    rng = random.Random(args.seed)
    files, folders = (flat if args.flat is not None else tree)(args.dir, count, rng)
    print("%s: %d files in %d folders" % (args.dir, files, folders), file=sys.stderr)


if __name__ == "__main__":
    main()
