#!/usr/bin/env python3
"""Writes the program's icon: a silver disc with a red arrow pointing down
into it, as a 32 x 32 and a 16 x 16 image of 16 colours.

    make-icon.py OUTPUT.ico
    make-icon.py --check ICON.ico   (fails unless ICON.ico is what it writes)

The picture is drawn from geometry alone, so the file is the same on every
run; FlashUpgrade.ico is this script's output."""

import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, LIGHT_GREY, WHITE, RED, CYAN, DARK_RED = 0, 8, 7, 15, 9, 14, 1
TRANSPARENT = None


def draw(size):
    """Returns size rows of size palette indices (or TRANSPARENT), top row
    first."""
    s = size / 32.0
    centre = (size - 1) / 2.0
    outer, hole, hub = 15.5 * s, 2.5 * s, 5.5 * s
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = x - centre, y - centre
            d = (dx * dx + dy * dy) ** 0.5
            if d > outer or d < hole:
                colour = TRANSPARENT
            elif d > outer - 1.2 * s or d < hole + 1.0 * s:
                colour = DARK_GREY
            elif d < hub:
                colour = WHITE
            elif dx - dy > 6 * s and dx - dy < 11 * s:
                colour = CYAN  # the light's reflection on the data side
            else:
                colour = LIGHT_GREY
            row.append(colour)
        pixels.append(row)

    # The arrow: a shaft and a head, pointing down, right of the hole.
    def put(px, py, colour):
        if 0 <= px < size and 0 <= py < size:
            pixels[py][px] = colour

    shaft_left, shaft_right = round(20 * s), round(25 * s)
    shaft_top, shaft_bottom = round(1 * s), round(16 * s)
    for y in range(shaft_top, shaft_bottom):
        for x in range(shaft_left, shaft_right):
            edge = size >= 32 and (x in (shaft_left, shaft_right - 1) or y == shaft_top)
            put(x, y, DARK_RED if edge else RED)
    head_mid = (shaft_left + shaft_right - 1) / 2.0
    head_half = 6.5 * s
    head_rows = round(8 * s)
    for i in range(head_rows):
        half = head_half * (1 - i / head_rows)
        left, right = round(head_mid - half), round(head_mid + half)
        for x in range(left, right + 1):
            edge = size >= 32 and (x in (left, right) or i == head_rows - 1 or i == 0)
            put(x, shaft_bottom + i, DARK_RED if edge else RED)
    return pixels


def image_bytes(size):
    """BITMAPINFOHEADER, palette, 4-bit colour bitmap and 1-bit mask."""
    pixels = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colour, mask = b'', b''
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, value in enumerate(row):
            index = 0 if value is TRANSPARENT else value
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += bytes(line)
        mask += bytes(bits)
    return header + palette + colour + mask


def icon_file(sizes):
    images = [image_bytes(size) for size in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == '--check':
        with open(args[1], 'rb') as f:
            if f.read() != icon_file([32, 16]):
                sys.exit(args[1] + ' differs from what make-icon.py draws')
        return
    if len(args) != 1:
        sys.exit('usage: make-icon.py OUTPUT.ico | make-icon.py --check ICON.ico')
    with open(args[0], 'wb') as f:
        f.write(icon_file([32, 16]))


if __name__ == '__main__':
    main()
