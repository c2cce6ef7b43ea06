#!/usr/bin/env python3
"""Writes the smallest hive file Windows and hivex accept: a base block and one bin holding
the root key and its security cell, from the published regf layout.

Usage: make_empty_hive.py FILE
"""
import struct
import sys

BLOCK = 4096
ROOT, ROOT_SIZE = 0x20, 88
SECURITY, SECURITY_SIZE = ROOT + ROOT_SIZE, 48
FREE = SECURITY + SECURITY_SIZE


def main():
    hive = bytearray(2 * BLOCK)
    # Base block: equal sequence numbers (cleanly written), version 1.3, primary file.
    hive[0:4] = b"regf"
    struct.pack_into("<IIIIIIIII", hive, 4, 1, 1, 0, 0, 1, 3, 0, 1, ROOT)
    struct.pack_into("<II", hive, 40, BLOCK, 1)
    checksum = 0
    for at in range(0, 508, 4):
        checksum ^= struct.unpack_from("<I", hive, at)[0]
    struct.pack_into("<I", hive, 508, checksum)
    bin_ = BLOCK
    hive[bin_:bin_ + 4] = b"hbin"
    struct.pack_into("<II", hive, bin_ + 4, 0, BLOCK)
    root = bin_ + ROOT
    struct.pack_into("<i", hive, root, -ROOT_SIZE)
    hive[root + 4:root + 6] = b"nk"
    struct.pack_into("<H", hive, root + 6, 0x2C)
    for field in (0x1C, 0x20, 0x28, 0x30):
        struct.pack_into("<I", hive, root + 4 + field, 0xFFFFFFFF)
    struct.pack_into("<I", hive, root + 4 + 0x2C, SECURITY)
    struct.pack_into("<H", hive, root + 4 + 0x48, 4)
    hive[root + 4 + 0x4C:root + 4 + 0x50] = b"ROOT"
    security = bin_ + SECURITY
    struct.pack_into("<i", hive, security, -SECURITY_SIZE)
    hive[security + 4:security + 6] = b"sk"
    struct.pack_into("<IIII", hive, security + 8, SECURITY, SECURITY, 1, 20)
    hive[security + 24] = 1
    struct.pack_into("<H", hive, security + 26, 0x8004)
    struct.pack_into("<I", hive, bin_ + FREE, BLOCK - FREE)
    with open(sys.argv[1], "wb") as out:
        out.write(hive)


if __name__ == "__main__":
    main()
