#!/usr/bin/env python3
"""Draws the demo disc's splash picture: a 480 by 360, 8-bit Windows bitmap of
our own art (an evening sky, stars, a sun on the horizon, hills, and the title
in a blocky built-in pixel font with a drop shadow). Always the same bytes.
    python3 scripts/make_splash.py OUTPUT.bmp
"""
import math
import struct
import sys

WIDTH, HEIGHT = 480, 360
HORIZON = 250

# Palette ranges.
SKY, SKY_COUNT = 0, 128          # top of the sky down to the horizon
SUN, SUN_COUNT = 128, 16         # the sun's disc, centre to rim
HILLS, HILLS_COUNT = 144, 48     # three ranges of hills, far to near, 16 shades each
TITLE, TITLE_COUNT = 192, 32     # the title's gold, top to bottom
SHADOW = 224
STARS = 225                      # 225..232, dim to bright

FONT = {  # 5 by 7 glyphs, one string per row
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
}


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def ramp(stops, count):
    """count colours along a list of (position 0..1, (r, g, b)) stops."""
    colours = []
    for i in range(count):
        t = i / max(count - 1, 1)
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t0 <= t <= t1:
                colours.append(mix(c0, c1, (t - t0) / (t1 - t0)))
                break
    return colours


def palette():
    colours = [(0, 0, 0)] * 256
    colours[SKY:SKY + SKY_COUNT] = ramp(
        [(0.0, (12, 10, 48)), (0.45, (58, 32, 104)), (0.8, (186, 74, 92)), (1.0, (250, 160, 84))], SKY_COUNT)
    colours[SUN:SUN + SUN_COUNT] = ramp([(0.0, (255, 244, 200)), (1.0, (255, 176, 80))], SUN_COUNT)
    far, middle, near = ((88, 44, 96), (40, 24, 64)), ((52, 28, 70), (24, 14, 40)), ((22, 14, 34), (8, 6, 14))
    for k, (top, bottom) in enumerate((far, middle, near)):
        colours[HILLS + 16 * k:HILLS + 16 * (k + 1)] = ramp([(0.0, top), (1.0, bottom)], 16)
    colours[TITLE:TITLE + TITLE_COUNT] = ramp(
        [(0.0, (255, 246, 196)), (0.5, (246, 196, 72)), (1.0, (176, 104, 24))], TITLE_COUNT)
    colours[SHADOW] = (14, 8, 24)
    colours[STARS:STARS + 8] = ramp([(0.0, (120, 120, 160)), (1.0, (255, 255, 255))], 8)
    return colours


def ridge(x, base, waves):
    return base - sum(a * math.sin(x * f + p) for a, f, p in waves)


def draw():
    image = [[0] * WIDTH for _ in range(HEIGHT)]  # top row first

    for y in range(HEIGHT):
        index = SKY + min(SKY_COUNT - 1, y * SKY_COUNT // HORIZON)
        image[y] = [index] * WIDTH

    # Stars from a fixed linear congruential sequence, thinning towards the horizon.
    seed = 20240601
    for _ in range(260):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = seed % WIDTH
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = (seed % 1000) * (seed % 1000) * (HORIZON - 60) // 1000000
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        image[y][x] = STARS + seed % 8

    # The sun, half set behind the far hills.
    cx, cy, radius = 330, HORIZON - 6, 34
    for y in range(cy - radius, cy + radius + 1):
        for x in range(cx - radius, cx + radius + 1):
            d = math.hypot(x - cx, y - cy)
            if d <= radius:
                image[y][x] = SUN + min(SUN_COUNT - 1, int(d * SUN_COUNT / (radius + 1)))

    ranges = [
        (HORIZON - 10, [(14, 0.011, 0.4), (6, 0.037, 1.9)], 0),
        (HORIZON + 25, [(18, 0.008, 2.2), (7, 0.029, 0.3)], 1),
        (HORIZON + 65, [(16, 0.013, 4.1), (5, 0.051, 1.2)], 2),
    ]
    for base, waves, k in ranges:
        for x in range(WIDTH):
            top = max(0, int(ridge(x, base, waves)))
            for y in range(top, HEIGHT):
                shade = min(15, (y - top) * 16 // max(1, HEIGHT - top))
                image[y][x] = HILLS + 16 * k + shade

    draw_title(image, "ZANTORIA", scale=7, top=46)
    return image


def draw_title(image, text, scale, top):
    advance = 6 * scale
    width = advance * len(text) - scale
    left = (WIDTH - width) // 2
    height = 7 * scale
    for offset, colour_of in (((4, 4), lambda row: SHADOW), ((0, 0), lambda row: TITLE + row * TITLE_COUNT // height)):
        dx, dy = offset
        for n, letter in enumerate(text):
            for gy, bits in enumerate(FONT[letter]):
                for gx, bit in enumerate(bits):
                    if bit != "1":
                        continue
                    for sy in range(scale):
                        for sx in range(scale):
                            x = left + n * advance + gx * scale + sx + dx
                            y = top + gy * scale + sy + dy
                            image[y][x] = colour_of(gy * scale + sy)


def bitmap_bytes(image, colours):
    pixels = b"".join(bytes(row) for row in reversed(image))  # bottom row first; 480 is a whole number of words
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    off_bits = 14 + 40 + len(table)
    file_header = b"BM" + struct.pack("<IHHI", off_bits + len(pixels), 0, 0, off_bits)
    info_header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    return file_header + info_header + table + pixels


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_splash.py OUTPUT.bmp")
    with open(sys.argv[1], "wb") as out:
        out.write(bitmap_bytes(draw(), palette()))


if __name__ == "__main__":
    main()
