#!/usr/bin/env python3
"""Draws the setup program's icons and bitmaps, byte for byte the same on
every run, so that no binary image needs to be committed.

usage: make_art.py OUTPUT_DIR
"""
import struct
import sys
import os


def glyph_pixels(size):
    """A stylised 'G' on a rounded blue tile, as (r, g, b, a) rows from the top."""
    rows = []
    c = (size - 1) / 2.0
    outer = size * 0.46
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = x - c, y - c
            # Rounded square tile.
            m = max(abs(dx), abs(dy))
            if m > outer:
                row.append((0, 0, 0, 0))
                continue
            r2 = (dx * dx + dy * dy) ** 0.5
            ring = size * 0.22 < r2 < size * 0.34
            gap = dx > 0 and -size * 0.06 < dy < size * 0.02 and dx < size * 0.34
            bar = dx > -size * 0.02 and abs(dy) < size * 0.05 and dx < size * 0.3
            opening = dx > 0 and dy < 0 and ring and dx > abs(dy) * 0.6
            if (ring and not gap and not opening) or bar:
                row.append((255, 255, 255, 255))
            else:
                shade = int(150 + 60 * (y / size))
                row.append((30, 60, shade, 255))
        rows.append(row)
    return rows


def ico_image(size):
    rows = glyph_pixels(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    and_mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bytes(bits)
    return header + xor + and_mask


def write_ico(path, sizes):
    images = [ico_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, 'setup.ico'), [16, 32, 48])


if __name__ == '__main__':
    main()
