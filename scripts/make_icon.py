#!/usr/bin/env python3
"""Draws the program file's icon, a compact disc, and writes it as
resources/autorun.ico: one 32 by 32 image with 256 colours, the form the
shell shows for the program file.

The image is a BITMAPINFOHEADER (height 64: colour rows and mask rows), a
palette of 256 entries, 1024 bytes of colour indices and a 128-byte AND
mask, 2216 bytes in all. The output depends on nothing but this script, so
running it again gives the same bytes.

    python3 scripts/make_icon.py [output.ico]
"""
import math
import os
import struct
import sys

SIZE = 32
CENTRE = (SIZE - 1) / 2.0

# Palette entries in use, as (red, green, blue); the rest stay black.
TRANSPARENT = 0
RIM = 1
HUB_EDGE = 2
HUB = 3
SILVER = 4
SHEEN = [5, 6, 7, 8]
COLOURS = {
    TRANSPARENT: (0, 0, 0),
    RIM: (96, 96, 112),
    HUB_EDGE: (128, 128, 144),
    HUB: (232, 232, 240),
    SILVER: (196, 200, 212),
    5: (176, 208, 248),  # blue
    6: (200, 240, 200),  # green
    7: (248, 236, 176),  # yellow
    8: (244, 196, 220),  # pink
}


def pixel(x, y):
    """Palette index of the pixel at column x, row y (row 0 at the top)."""
    dx, dy = x - CENTRE, y - CENTRE
    r = math.hypot(dx, dy)
    if r > 15.6 or r < 2.6:
        return TRANSPARENT
    if r > 14.6:
        return RIM
    if r < 5.0:
        return HUB
    if r < 6.2:
        return HUB_EDGE
    # Light caught in the tracks: two opposite fans of colour, graded from
    # the hub outwards, on a silver disc.
    angle = math.degrees(math.atan2(dy, dx)) % 180.0
    if 20.0 <= angle < 70.0:
        band = min(int((r - 6.2) / 2.2), len(SHEEN) - 1)
        return SHEEN[band]
    return SILVER


def image():
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, SIZE * SIZE + SIZE * SIZE // 8, 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", *reversed(COLOURS.get(i, (0, 0, 0))), 0) for i in range(256))
    # Both the colour rows and the mask rows run from the bottom up.
    rows = range(SIZE - 1, -1, -1)
    colour = bytes(pixel(x, y) for y in rows for x in range(SIZE))
    mask = bytearray()
    for y in rows:
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (pixel(x, y) == TRANSPARENT)
        mask += bits.to_bytes(SIZE // 8, "big")
    data = header + palette + colour + bytes(mask)
    assert len(data) == 2216, len(data)
    return data


def icon_file(data):
    # ICONDIR, then one ICONDIRENTRY: colour count 0 stands for 256.
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(data), 6 + 16)
    return directory + entry + data


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "autorun.ico")
    with open(output, "wb") as f:
        f.write(icon_file(image()))


if __name__ == "__main__":
    main()
