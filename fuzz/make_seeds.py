#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora, so that fuzzing starts from files
that get past the header checks: for the bitmap reader (corpus/) a few small
bitmaps, one of each kind of header and layout it knows; for the PE header
reader (pe_corpus/) a small library of each header format with an export
table, and a 16-bit file. Reproducible; run it again after changing it:
    python3 fuzz/make_seeds.py [FOLDER]   (default: fuzz/)
"""
import os
import struct
import sys


def file_header(off_bits):
    return b"BM" + struct.pack("<IHHI", 0, 0, 0, off_bits)


def info_header(width, height, bits, clr_used=0, size_image=0, compression=0, size=40):
    return struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, size_image,
                       2835, 2835, clr_used, 0)


def core_header(width, height, bits):
    return struct.pack("<IHHHH", 12, width, height, 1, bits)


def pattern(count, seed):
    return bytes((seed + 7 * i) & 0xFF for i in range(count))


BITMAP_SEEDS = {
    "pal8_4x2.bmp": file_header(14 + 40 + 1024) + info_header(4, 2, 8) + pattern(1024, 1) + pattern(8, 2),
    "bare_rgb24_5x3.bmp": info_header(5, 3, 24) + pattern(48, 3),
    "pal1_topdown.bmp": file_header(0) + info_header(9, -2, 1, clr_used=2) + pattern(8, 4) + pattern(8, 5),
    "core_pal4.bmp": file_header(0) + core_header(3, 2, 4) + pattern(48, 6) + pattern(8, 7),
    "core_rgb24.bmp": core_header(4, 3, 24) + pattern(36, 8),
    "v4_pal4_gap.bmp": file_header(14 + 108 + 12 + 4) + info_header(3, 2, 4, clr_used=3, size=108)
    + pattern(68, 9) + pattern(12, 10) + pattern(4, 11) + pattern(8, 12),
    "bitfields16.bmp": file_header(14 + 40 + 12) + info_header(2, 2, 16, compression=3)
    + struct.pack("<III", 0xF800, 0x07E0, 0x001F) + pattern(8, 13),
    "bitfields32_v4.bmp": file_header(0) + info_header(2, -2, 32, compression=3, size=108)
    + struct.pack("<IIII", 0xFF000000, 0x00000FF0, 0x00FF0000, 0x0000000F) + pattern(52, 17) + pattern(16, 18),
    "rle8.bmp": file_header(0) + info_header(4, 2, 8, clr_used=2, size_image=10, compression=1)
    + pattern(8, 14) + bytes([4, 1, 0, 0, 4, 0, 0, 0, 0, 1]),
    "rgb32_colours.bmp": info_header(1, 1, 32, clr_used=2) + pattern(8, 15) + pattern(4, 16),
}


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


PE_SEEDS = {
    "pe32_i386.dll": library(0x14C, 0x10B),
    "pe32plus_x86_64.dll": library(0x8664, 0x20B),
    "windows16.exe": b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"NE" + bytes(0x3E),
}

CORPORA = {"corpus": BITMAP_SEEDS, "pe_corpus": PE_SEEDS}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for corpus, seeds in CORPORA.items():
        os.makedirs(os.path.join(folder, corpus), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, corpus, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
