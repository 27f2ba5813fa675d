#!/usr/bin/env python3
"""Draws Corvix's icon and writes it as corvix.ico: a toolbar struck through by a red cross.

Two 16-colour (4 bits per pixel) images, 32x32 and 16x16, with transparent corners. Standard library only;
the output is the same on every run, so the committed corvix.ico can be checked against this script.

Usage: make_icon.py [OUTPUT]   (default: corvix.ico beside this script)
"""

import os
import struct
import sys

# The 16-colour VGA palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, GRAY, BLUE, SILVER, RED, YELLOW, WHITE = 0, 1, 2, 8, 12, 7, 9, 11, 15
CLEAR = None  # transparent


def draw(size):
    """The picture as rows of palette indices (CLEAR for transparent), top row first."""
    pixels = [[CLEAR] * size for _ in range(size)]
    unit = size // 16  # every coordinate below is on a 16x16 grid

    def fill(left, top, right, bottom, colour):  # inclusive grid coordinates
        for y in range(top * unit, (bottom + 1) * unit):
            for x in range(left * unit, (right + 1) * unit):
                pixels[y][x] = colour

    # The toolbar: a raised silver strip with three coloured buttons.
    fill(1, 4, 14, 11, SILVER)
    fill(1, 4, 14, 4, WHITE)
    fill(1, 4, 1, 11, WHITE)
    fill(1, 11, 14, 11, BLACK)
    fill(14, 4, 14, 11, BLACK)
    fill(2, 10, 13, 10, GRAY)
    fill(13, 5, 13, 10, GRAY)
    for left, colour in ((3, BLUE), (6, GREEN), (9, YELLOW)):
        fill(left, 6, left + 1, 8, colour)
    # The cross: two strokes corner to corner, red with a maroon edge.
    last = size - 1
    half = unit  # stroke half-width in pixels
    for y in range(size):
        for x in range(size):
            for distance in (abs(x - y), abs(x + y - last)):
                if 1 * unit <= min(x, y) and max(x, y) <= last - unit:
                    if distance < half:
                        pixels[y][x] = RED
                    elif distance <= half and pixels[y][x] != RED:
                        pixels[y][x] = MAROON
    return pixels


def image_bytes(pixels):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, then the transparency mask (bottom row first)."""
    size = len(pixels)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, index in enumerate(row):
            if index is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = BLACK
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colour += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def icon_file(sizes):
    images = [image_bytes(draw(size)) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 "corvix.ico")
    with open(output, "wb") as handle:
        handle.write(icon_file([32, 16]))


if __name__ == "__main__":
    main()
