#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus: a few small bitmaps, one of each kind
of header and layout the reader knows, so that fuzzing starts from files that
get past the header checks. Reproducible; run it again after changing it:
    python3 fuzz/make_seeds.py fuzz/corpus
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


SEEDS = {
    "pal8_4x2.bmp": file_header(14 + 40 + 1024) + info_header(4, 2, 8) + pattern(1024, 1) + pattern(8, 2),
    "bare_rgb24_5x3.bmp": info_header(5, 3, 24) + pattern(48, 3),
    "pal1_topdown.bmp": file_header(0) + info_header(9, -2, 1, clr_used=2) + pattern(8, 4) + pattern(8, 5),
    "core_pal4.bmp": file_header(0) + core_header(3, 2, 4) + pattern(48, 6) + pattern(8, 7),
    "core_rgb24.bmp": core_header(4, 3, 24) + pattern(36, 8),
    "v4_pal4_gap.bmp": file_header(14 + 108 + 12 + 4) + info_header(3, 2, 4, clr_used=3, size=108)
    + pattern(68, 9) + pattern(12, 10) + pattern(4, 11) + pattern(8, 12),
    "bitfields16.bmp": file_header(14 + 40 + 12) + info_header(2, 2, 16, compression=3)
    + struct.pack("<III", 0xF800, 0x07E0, 0x001F) + pattern(8, 13),
    "rle8.bmp": file_header(0) + info_header(4, 2, 8, clr_used=2, size_image=10, compression=1)
    + pattern(8, 14) + bytes([4, 1, 0, 0, 4, 0, 0, 0, 0, 1]),
    "rgb32_colours.bmp": info_header(1, 1, 32, clr_used=2) + pattern(8, 15) + pattern(4, 16),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
