#!/usr/bin/env python3
"""Writes the PE reader's seed corpus: a small library of each header format
with an export table, and a 16-bit file, so that fuzzing starts from files
that get past the header checks. Reproducible; run it again after changing it:
    python3 fuzz/make_pe_seeds.py fuzz/pe_corpus
"""
import os
import struct
import sys


def library(machine, magic):
    """One section at address 0x1000 (file offset 0x400) holding the export
    directory, ordinals 1 to 6, and the address table after it."""
    optional_size = 240 if magic == 0x20B else 224
    out = bytearray(0x600)
    out[0:2] = b"MZ"
    struct.pack_into("<I", out, 0x3C, 0x80)
    out[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", out, 0x84, machine, 1, 0, 0, 0, optional_size, 0x2102)
    optional = 0x98
    struct.pack_into("<H", out, optional, magic)
    struct.pack_into("<I", out, optional + 60, 0x400)
    directories = optional + (112 if magic == 0x20B else 96)
    struct.pack_into("<III", out, directories - 4, 16, 0x1000, 64)
    struct.pack_into("<8sIIII", out, optional + optional_size, b".edata", 0x200, 0x1000, 0x200, 0x400)
    struct.pack_into("<IIHHIIIIII", out, 0x400, 0, 0, 0, 0, 0, 1, 6, 0, 0x1028, 0)
    for i in range(6):
        struct.pack_into("<I", out, 0x428 + 4 * i, 0x1100 + 4 * i)
    return bytes(out)


SEEDS = {
    "pe32_i386.dll": library(0x14C, 0x10B),
    "pe32plus_x86_64.dll": library(0x8664, 0x20B),
    "windows16.exe": b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"NE" + bytes(0x3E),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "pe_corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
