#!/usr/bin/env python3
"""Draws the setup program's icons and bitmaps, byte for byte the same on
every run, so that no binary image needs to be committed.

  setup.ico        icon group 1 (16, 32 and 48 pixels): the GlyphForge tile
  copy_error.ico   icon group 950 (16, 32 and 48 pixels): the copy-error dialog
  header_large.bmp bitmap 960, 125 x 68, 8 bits: page header at large fonts
  header_small.bmp bitmap 961, 109 x 59, 8 bits: page header at small fonts
  footer.bmp       bitmap 962, 136 x 30, 8 bits: maker's mark under the body

Shapes are described as coverage functions and sampled 4 x 4 times per
pixel, which gives smooth edges without any imaging library.

usage: make_art.py OUTPUT_DIR
"""
import math
import os
import struct
import sys

SUB = 4  # samples per pixel along each axis

WHITE = (255, 255, 255)
# The footer sits on the page body, whose colour (COLOR_BTNFACE) differs
# from one system to the next: it is drawn as a white plaque with a thin
# frame, which looks deliberate on any of them.
PLAQUE = (255, 255, 255)
FRAME = (196, 202, 214)
INK = (40, 52, 72)


# ---------------------------------------------------------------------------
# Geometry helpers. Coordinates are in pixels, y grows downwards.

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    l2 = dx * dx + dy * dy
    t = 0.0 if l2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / l2))
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(qx * qx + qy * qy)


def in_round_rect(px, py, x0, y0, x1, y1, r):
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r and x0 <= px <= x1 and y0 <= py <= y1


def glyph_g(px, py, cx, cy, size):
    """True inside a geometric capital G of the given height."""
    r_out = size * 0.5
    thick = size * 0.17
    dx, dy = px - cx, py - cy
    d = math.sqrt(dx * dx + dy * dy)
    ang = math.degrees(math.atan2(-dy, dx))  # 0 to the right, counter-clockwise
    ring = r_out - thick <= d <= r_out and not (-2 < ang < 48)
    bar = cx - size * 0.02 <= px <= cx + r_out and cy - thick * 0.1 <= py <= cy + thick * 0.9
    spur = cx + r_out - thick <= px <= cx + r_out and cy <= py <= cy + r_out * 0.62 and d <= r_out
    return ring or bar or spur


def bezier(p0, p1, p2, p3, steps=48):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        x = u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0]
        y = u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]
        pts.append((x, y))
    return pts


def near_polyline(px, py, pts, half):
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        if abs(px - ax) > half + 8 and abs(px - bx) > half + 8:
            continue
        if seg_dist(px, py, ax, ay, bx, by) <= half:
            return True
    return False


# ---------------------------------------------------------------------------
# A tiny stroke font for the maker's name: each letter is a list of
# polylines in a box 0..1 wide (advance given separately) and 0..1 high.

def arc(cx, cy, rx, ry, a0, a1, n=14):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy - ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


STROKES = {
    'C': (0.78, [arc(0.42, 0.5, 0.38, 0.5, 40, 320)]),
    'O': (0.86, [arc(0.43, 0.5, 0.38, 0.5, 0, 360, 24)]),
    'R': (0.72, [[(0.08, 1.0), (0.08, 0.0), (0.4, 0.0)] + arc(0.4, 0.26, 0.24, 0.26, 90, -90)[1:] + [(0.08, 0.52)],
                 [(0.36, 0.52), (0.66, 1.0)]]),
    'V': (0.76, [[(0.02, 0.0), (0.38, 1.0), (0.74, 0.0)]]),
    'A': (0.78, [[(0.02, 1.0), (0.39, 0.0), (0.76, 1.0)], [(0.15, 0.64), (0.63, 0.64)]]),
    'N': (0.78, [[(0.08, 1.0), (0.08, 0.0), (0.7, 1.0), (0.7, 0.0)]]),
    'E': (0.66, [[(0.6, 0.0), (0.08, 0.0), (0.08, 1.0), (0.6, 1.0)], [(0.08, 0.5), (0.5, 0.5)]]),
    'S': (0.68, [arc(0.34, 0.25, 0.27, 0.25, 20, 270) + arc(0.34, 0.75, 0.27, 0.25, 90, -160)[1:]]),
    'F': (0.62, [[(0.6, 0.0), (0.08, 0.0), (0.08, 1.0)], [(0.08, 0.5), (0.48, 0.5)]]),
    'T': (0.66, [[(0.0, 0.0), (0.64, 0.0)], [(0.32, 0.0), (0.32, 1.0)]]),
    'W': (1.02, [[(0.02, 0.0), (0.26, 1.0), (0.5, 0.2), (0.74, 1.0), (0.98, 0.0)]]),
    ' ': (0.4, []),
}


def text_polylines(text, x, y, height, spacing):
    """Polylines of text with its top-left corner at (x, y)."""
    lines = []
    for ch in text:
        advance, strokes = STROKES[ch]
        for s in strokes:
            lines.append([(x + px * height, y + py * height) for px, py in s])
        x += (advance + spacing) * height
    return lines, x


# ---------------------------------------------------------------------------
# Rendering.

def render(width, height, shade):
    """shade(px, py) gives (r, g, b, a) or None for a sample point; returns
    rows of (r, g, b, a) pixels averaged over SUB x SUB samples."""
    rows = []
    n = SUB * SUB
    for y in range(height):
        row = []
        for x in range(width):
            r = g = b = a = 0.0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = shade(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB)
                    if c is None:
                        continue
                    ca = c[3] / 255.0
                    r += c[0] * ca
                    g += c[1] * ca
                    b += c[2] * ca
                    a += ca
            if a > 0:
                row.append((int(r / a + 0.5), int(g / a + 0.5), int(b / a + 0.5), int(255 * a / n + 0.5)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def over(rows, background):
    """Flattens transparent pixels onto a background colour."""
    out = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            f = a / 255.0
            line.append(tuple(int(c * f + bg * (1 - f) + 0.5) for c, bg in zip((r, g, b), background)))
        out.append(line)
    return out


def tile_shade(x0, y0, size):
    """The GlyphForge tile: a blue gradient square with a white G."""
    radius = size * 0.2

    def shade(px, py):
        if not in_round_rect(px, py, x0, y0, x0 + size, y0 + size, radius):
            return None
        if glyph_g(px, py, x0 + size * 0.5, y0 + size * 0.5, size * 0.66):
            return (255, 255, 255, 255)
        t = (py - y0) / size
        return (int(36 + 20 * t), int(92 + 30 * t), int(196 - 36 * t), 255)
    return shade


def error_shade(size):
    """Copy-error icon: a sheet of paper with a red disc and a white cross."""
    s = size / 32.0
    fold = 7 * s
    px0, py0, px1, py1 = 5 * s, 2 * s, 23 * s, 27 * s
    lines = [(9 * s, (10 + 4 * i) * s, 19 * s) for i in range(4)]
    dcx, dcy, dr = 22 * s, 22 * s, 9.5 * s

    def shade(px, py):
        d = math.hypot(px - dcx, py - dcy)
        if d <= dr:
            u, v = px - dcx, py - dcy
            arm = 5 * s
            w = 1.45 * s
            if (abs(u - v) <= w * 1.41 or abs(u + v) <= w * 1.41) and abs(u) <= arm and abs(v) <= arm:
                return (255, 255, 255, 255)
            t = (py - (dcy - dr)) / (2 * dr)
            return (int(226 - 40 * t), int(46 - 20 * t), int(40 - 16 * t), 255)
        if d <= dr + 1.1 * s:
            return (255, 255, 255, 255)
        inside = px0 <= px <= px1 and py0 <= py <= py1 and not (px > px1 - fold and py < py0 + fold and
                                                              (px - (px1 - fold)) > (py - py0))
        if not inside:
            return None
        edge = min(px - px0, px1 - px, py - py0, py1 - py)
        if edge < 1.0 * s or (px > px1 - fold and py < py0 + fold + 1.0 * s and
                              abs((px - (px1 - fold)) - (py - py0)) < 1.0 * s):
            return (96, 104, 120, 255)
        if px > px1 - fold - 1.0 * s and py < py0 + fold and px - (px1 - fold) <= py - py0 and \
                (px >= px1 - fold - 0.5 * s or py >= py0 + fold - 0.5 * s):
            return (96, 104, 120, 255)
        for lx0, ly, lx1 in lines:
            if abs(py - ly) < 0.7 * s and lx0 <= px <= lx1:
                return (150, 160, 180, 255)
        return (252, 252, 255, 255)
    return shade


def header_shade(width, height):
    """Page header: a font designer's curve with its handles, then the tile."""
    k = height / 59.0
    tile = 46 * k
    tx0 = width - tile - 6 * k
    ty0 = (height - tile) / 2
    tshade = tile_shade(tx0, ty0, tile)
    p0, p1, p2, p3 = (6 * k, 50 * k), (10 * k, 10 * k), (44 * k, 4 * k), (50 * k, 30 * k)
    curve = bezier(p0, p1, p2, p3)
    handles = [[p0, p1], [p3, p2]]
    knots = [p0, p3]
    controls = [p1, p2]

    def shade(px, py):
        c = tshade(px, py)
        if c is not None:
            return c
        for kx, ky in knots:
            if abs(px - kx) <= 2.2 * k and abs(py - ky) <= 2.2 * k:
                return (36, 92, 196, 255)
        for cx, cy in controls:
            d = math.hypot(px - cx, py - cy)
            if d <= 2.0 * k:
                return (255, 255, 255, 255) if d <= 1.0 * k else (120, 130, 150, 255)
        if near_polyline(px, py, curve, 1.1 * k):
            return (36, 92, 196, 255)
        for h in handles:
            if near_polyline(px, py, h, 0.45 * k):
                return (150, 160, 180, 255)
        return None
    return shade


def footer_shade(width, height):
    tile = height - 8
    tshade = tile_shade(4, 4, tile)
    lines, _ = text_polylines('CORVANE', tile + 12, height * 0.5 - 10, 10, 0.28)
    small, _ = text_polylines('SOFTWARE', tile + 13, height * 0.5 + 4, 6, 0.42)

    def shade(px, py):
        if px < 1 or py < 1 or px > width - 1 or py > height - 1:
            return FRAME + (255,)
        c = tshade(px, py)
        if c is not None:
            return c
        for pl in lines:
            if near_polyline(px, py, pl, 0.9):
                return INK + (255,)
        for pl in small:
            if near_polyline(px, py, pl, 0.55):
                return (110, 118, 132, 255)
        return None
    return shade


# ---------------------------------------------------------------------------
# File writers.

def bmp24(rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    pixels = b''
    for row in reversed(rows):
        line = b''.join(bytes((b, g, r)) for r, g, b in row)
        pixels += line + b'\0' * (stride - len(line))
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels


def reduce_colours(rows):
    """At most 256 colours: channels are rounded ever more coarsely until the
    picture fits, which keeps the result deterministic."""
    step = 1
    while True:
        mapped = [[tuple(min(255, (c + step // 2) // step * step) for c in px) for px in row] for row in rows]
        colours = sorted({px for row in mapped for px in row})
        if len(colours) <= 256:
            return mapped, colours
        step += 1


def bmp8(rows):
    mapped, colours = reduce_colours(rows)
    index = {c: i for i, c in enumerate(colours)}
    h, w = len(rows), len(rows[0])
    stride = (w + 3) & ~3
    pixels = b''
    for row in reversed(mapped):
        line = bytes(index[px] for px in row)
        pixels += line + b'\0' * (stride - len(line))
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in colours)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, len(colours), 0)
    offset = 14 + len(info) + len(palette)
    return struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset) + info + palette + pixels


def ico_image(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    and_mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bytes(bits)
    return header + xor + and_mask


def ico_image8(rows):
    """One icon image with a 256-colour palette and a transparency mask:
    half the bytes of a 32-bit image, and the download counts every byte."""
    size = len(rows)
    opaque = [[(r, g, b) for (r, g, b, a) in row] for row in rows]
    mapped, colours = reduce_colours(opaque)
    colours = colours + [(0, 0, 0)] * (256 - len(colours))
    index = {}
    for i, c in enumerate(colours):
        index.setdefault(c, i)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in colours)
    stride = (size + 3) & ~3
    xor = b''
    for mrow, row in zip(reversed(mapped), reversed(rows)):
        line = bytes(index[px] if a >= 128 else 0 for px, (_, _, _, a) in zip(mrow, row))
        xor += line + b'\0' * (stride - len(line))
    mask_stride = ((size + 31) // 32) * 4
    and_mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bytes(bits)
    return header + palette + xor + and_mask


def ico(images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = [ico_image8(rows) for rows in images]
    for rows, blob in zip(images, blobs):
        s = len(rows)
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    sizes = [16, 32, 48]
    # The small tile leaves a pixel of margin so that the icon does not
    # look bigger than its neighbours in the task bar.
    write(os.path.join(out, 'setup.ico'),
          ico([render(s, s, tile_shade(s / 16.0 * 0.5, s / 16.0 * 0.5, s - s / 16.0)) for s in sizes]))
    write(os.path.join(out, 'copy_error.ico'), ico([render(s, s, error_shade(s)) for s in sizes]))
    write(os.path.join(out, 'header_large.bmp'), bmp8(over(render(125, 68, header_shade(125, 68)), WHITE)))
    write(os.path.join(out, 'header_small.bmp'), bmp8(over(render(109, 59, header_shade(109, 59)), WHITE)))
    write(os.path.join(out, 'footer.bmp'), bmp8(over(render(136, 30, footer_shade(136, 30)), PLAQUE)))


if __name__ == '__main__':
    main()
