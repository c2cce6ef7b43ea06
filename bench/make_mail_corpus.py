#!/usr/bin/env python3
"""Writes a mail-store-like corpus of an exact size for the backup benchmarks.

Usage: bench/make_mail_corpus.py DIR --size-mib N [--seed S]

By bytes, about half is mail text (headers and bodies), about 30 % base64 attachments inside
those messages, and 20 % files that do not compress (photos, archives, scans), laid out as a
mail program keeps them: a few large store files per folder, some saved single messages and a
folder of attachments. The same seed and size always give the same bytes (standard library
only, so any python3 runs it).
"""
import argparse
import base64
import math
import os
import random
import sys

INCOMPRESSIBLE_SHARE = 0.20
SAVED_MESSAGE_SHARE = 0.05
# Of the message bytes (everything but the incompressible files), the base64 part.
BASE64_SHARE_OF_MESSAGES = 0.30 / (1 - INCOMPRESSIBLE_SHARE)

STORE_FOLDERS = ["Inbox", "Sent Items", "Deleted Items", "Drafts", "Archive/2019/Projects",
                 "Archive/2019/Receipts", "Archive/2020/Projects", "Archive/2021/Family",
                 "Lists/Announcements", "Lists/Developers", "Clients/North", "Clients/South"]
COMMON_WORDS = ("the of and to a in is it you that he was for on are with as I his they be at one "
                "have this from or had by not word but what some we can out other were all there "
                "when up use your how said an each she which do their time if will way about many "
                "then them write would like so these her long make thing see him two has look more "
                "day could go come did number sound no most people my over know water than call "
                "first who may down side been now find please report attached meeting invoice "
                "thanks regards schedule project update order shipped figures quarter budget "
                "review draft contract delivery tomorrow Monday Friday office team client").split()


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


def split_budget(rng, total, low, high):
    """Sizes between low and high (the last one whatever is left) that sum to total."""
    sizes = []
    while total > 0:
        size = min(total, log_uniform(rng, low, high))
        if total - size < low:
            size = total
        sizes.append(size)
        total -= size
    return sizes


class TextSource:
    """Sentences over a Zipf-weighted vocabulary, drawn from a pool large enough that
    repeats inside a compressor's window are as rare as in real mail."""

    def __init__(self, rng, vocabulary=20000, sentences=60000):
        syllables = ["ka", "lo", "mi", "ne", "ra", "tu", "ve", "sho", "pri", "an", "el", "or",
                     "st", "th", "ing", "er", "qu", "ba", "de", "fi", "go", "hu", "ja", "ze"]
        words = list(COMMON_WORDS)
        while len(words) < vocabulary:
            words.append("".join(rng.choice(syllables) for _ in range(rng.randint(1, 4))))
        weights, running = [], 0.0
        for rank in range(len(words)):
            running += 1.0 / (rank + 1)
            weights.append(running)
        pool = []
        for _ in range(sentences):
            chosen = rng.choices(words, cum_weights=weights, k=rng.randint(4, 22))
            sentence = " ".join(chosen)
            pool.append(sentence[0].upper() + sentence[1:] + rng.choice([".", ".", ".", "?", "!"]))
        self.pool = pool

    def body(self, rng, size):
        """About size bytes of paragraphs wrapped in mail lines."""
        out, length = [], 0
        while length < size:
            paragraph = " ".join(rng.choices(self.pool, k=rng.randint(2, 8)))
            lines, line = [], []
            width = 0
            for word in paragraph.split(" "):
                if width + len(word) > 72 and line:
                    lines.append(" ".join(line))
                    line, width = [], 0
                line.append(word)
                width += len(word) + 1
            lines.append(" ".join(line))
            text = "\r\n".join(lines) + "\r\n\r\n"
            out.append(text)
            length += len(text)
        return "".join(out)


class MessageWriter:
    """Builds RFC 822 messages and keeps the share of base64 bytes near its target."""

    def __init__(self, rng, text):
        self.rng, self.text = rng, text
        self.text_bytes = 0
        self.base64_bytes = 0
        self.count = 0

    def message(self):
        rng = self.rng
        self.count += 1
        n = self.count
        sender = "%s.%s@%s" % (rng.choice(COMMON_WORDS), rng.randint(1, 999),
                               rng.choice(["example.org", "example.com", "mail.example.net"]))
        subject = " ".join(rng.choices(self.text.pool, k=1)[0].split(" ")[:rng.randint(2, 7)])
        day = rng.randint(1, 28)
        header = ("Return-Path: <%s>\r\nReceived: from relay%d.example.net ([192.0.2.%d]) by "
                  "mx.example.com; %02d Mar 2021 %02d:%02d:%02d +0100\r\nFrom: %s\r\n"
                  "To: alice@example.com\r\nSubject: %s\r\nDate: %02d Mar 2021 %02d:%02d:%02d +0100\r\n"
                  "Message-ID: <%08x.%d@example.net>\r\nMIME-Version: 1.0\r\n" % (
                      sender, rng.randint(1, 9), rng.randint(1, 254), day, rng.randint(0, 23),
                      rng.randint(0, 59), rng.randint(0, 59), sender, subject, day, rng.randint(0, 23),
                      rng.randint(0, 59), rng.randint(0, 59), rng.getrandbits(32), n))
        body = self.text.body(rng, log_uniform(rng, 400, 12000))
        message_bytes = self.text_bytes + self.base64_bytes
        wants_attachment = message_bytes == 0 or self.base64_bytes / message_bytes < BASE64_SHARE_OF_MESSAGES
        if not wants_attachment:
            text = header + "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + body
            data = text.encode("ascii")
            self.text_bytes += len(data)
            return data
        boundary = "----=_NextPart_%012x" % rng.getrandbits(48)
        name = rng.choice(["photo", "scan", "invoice", "slides", "report", "archive"]) + "%d" % n
        extension = rng.choice([".jpg", ".pdf", ".zip", ".png", ".docx"])
        text = (header + "Content-Type: multipart/mixed; boundary=\"%s\"\r\n\r\n--%s\r\n"
                "Content-Type: text/plain; charset=us-ascii\r\n\r\n%s--%s\r\n"
                "Content-Type: application/octet-stream; name=\"%s%s\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" % (boundary, boundary, body, boundary, name, extension))
        encoded = base64.encodebytes(rng.randbytes(log_uniform(rng, 4096, 1536 * 1024))).replace(b"\n", b"\r\n")
        tail = "\r\n--%s--\r\n" % boundary
        self.text_bytes += len(text) + len(tail)
        self.base64_bytes += len(encoded)
        return text.encode("ascii") + encoded + tail.encode("ascii")


class SizedFile:
    """Writes chunks into a file and stops at exactly its size."""

    def __init__(self, path, size):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self.file = open(path, "wb")
        self.left = size

    def write(self, data):
        data = data[:self.left]
        self.file.write(data)
        self.left -= len(data)

    def close(self):
        self.file.close()


def write_store(path, size, messages, rng):
    out = SizedFile(path, size)
    # A store begins with a fixed-size index block: a signature, a few counters, then zeros.
    index = b"\xcf\xad\x12\xfe\xc5\xfd\x74\x6f" + rng.randbytes(56) + bytes(0x24BC - 64)
    out.write(index)
    while out.left > 0:
        out.write(messages.message())
    out.close()


def write_saved_message(path, size, messages):
    out = SizedFile(path, size)
    while out.left > 0:
        out.write(messages.message())
    out.close()


def write_incompressible(path, size, rng):
    out = SizedFile(path, size)
    while out.left > 0:
        out.write(rng.randbytes(min(out.left, 1 << 22)))
    out.close()


def build(root, total, seed):
    rng = random.Random(seed)
    messages = MessageWriter(rng, TextSource(rng))
    incompressible = int(total * INCOMPRESSIBLE_SHARE)
    saved = int(total * SAVED_MESSAGE_SHARE)
    stores = total - incompressible - saved
    scale = max(1, total >> 30)  # larger corpora have larger stores, as real ones do

    for number, size in enumerate(split_budget(rng, stores, 256 * 1024, 48 * 1024 * 1024 * scale)):
        folder = STORE_FOLDERS[number % len(STORE_FOLDERS)]
        part = "" if number < len(STORE_FOLDERS) else " (%d)" % (number // len(STORE_FOLDERS))
        write_store(os.path.join(root, "Mail", folder + part + ".dbx"), size, messages, rng)
    for number, size in enumerate(split_budget(rng, saved, 2048, 256 * 1024)):
        write_saved_message(os.path.join(root, "Saved", "%04d" % (number // 100), "message%05d.eml" % number),
                            size, messages)
    for number, size in enumerate(split_budget(rng, incompressible, 32 * 1024, 6 * 1024 * 1024)):
        name = rng.choice(["IMG_%04d.jpg", "scan%04d.pdf", "photos-%04d.zip", "clip%04d.mp4"]) % number
        write_incompressible(os.path.join(root, "Attachments", name), size, rng)

    message_bytes = messages.text_bytes + messages.base64_bytes
    print("corpus %s: %d bytes; by kind about %.0f %% mail text, %.0f %% base64, %.0f %% incompressible; "
          "%d messages" % (root, total, 100.0 * messages.text_bytes / message_bytes * (total - incompressible) / total,
                           100.0 * messages.base64_bytes / message_bytes * (total - incompressible) / total,
                           100.0 * incompressible / total, messages.count))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("--size-mib", type=int, required=True)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.size_mib < 1:
        sys.exit("make_mail_corpus: --size-mib must be at least 1")
    if os.path.exists(args.dir) and os.listdir(args.dir):
        sys.exit("make_mail_corpus: %s is not empty; choose a new folder" % args.dir)
    build(args.dir, args.size_mib << 20, args.seed)


if __name__ == "__main__":
    main()
