#!/usr/bin/env python3
"""Draws the application icon (vexhold.ico) and the link cursor (hand.cur).

Both are drawn from signed distance functions with 4x4 supersampling and
written as 32-bit BGRA images with an alpha channel.
    python3 res/make_images.py   (writes into the directory of this script)
"""
import math
import os
import struct

SS = 4  # samples per pixel along each axis


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1e-9)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def capsule(ax, ay, bx, by, r):
    return lambda x, y: seg_dist(x, y, ax, ay, bx, by) - r


def round_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r

    return d


def polygon(points):
    def d(x, y):
        best = min(seg_dist(x, y, *points[i], *points[(i + 1) % len(points)])
                   for i in range(len(points)))
        inside = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return -best if inside else best

    return d


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def render(size, shade):
    """shade(x, y) in unit coordinates (0..1) -> (r, g, b, a) floats 0..1."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    x = (px + (sx + 0.5) / SS) / size
                    y = (py + (sy + 0.5) / SS) / size
                    r, g, b, a = shade(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            a = acc[3] / n
            if a > 0:
                rgb = [c / acc[3] for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row.append(tuple(int(round(v * 255)) for v in (*rgb, a)))
        rows.append(row)
    return rows


def icon_shade(size):
    # A blue tile with two opposed white arrows: traffic going out and back.
    px = 1.0 / size
    tile = round_rect(0.04, 0.04, 0.96, 0.96, 0.18)
    shaft1 = round_rect(0.18, 0.27, 0.62, 0.39, 0.02)
    head1 = polygon([(0.58, 0.14), (0.84, 0.33), (0.58, 0.52)])
    shaft2 = round_rect(0.38, 0.61, 0.82, 0.73, 0.02)
    head2 = polygon([(0.42, 0.48), (0.16, 0.67), (0.42, 0.86)])
    arrows = union(shaft1, head1, shaft2, head2)

    def shade(x, y):
        dt = tile(x, y)
        if dt > 0:
            return (0, 0, 0, 0)
        if dt > -px:  # dark rim, one pixel wide at every size
            return (0.05, 0.22, 0.45, 1)
        if arrows(x, y) <= 0:
            return (1, 1, 1, 1)
        t = y  # top light, bottom deeper
        return (0.16 - 0.08 * t, 0.52 - 0.2 * t, 0.88 - 0.18 * t, 1)

    return shade


def hand_shade():
    # Laid out on 32 x 32 pixels, drawn at any size; the tip of the index
    # finger is at (5, 0) of 32.
    s = 1 / 32.0
    index = capsule(5.5 * s, 2.5 * s, 5.5 * s, 17 * s, 2.5 * s)
    middle = capsule(10.3 * s, 11.5 * s, 10.3 * s, 18 * s, 2.3 * s)
    ring = capsule(14.9 * s, 12.5 * s, 14.9 * s, 18 * s, 2.3 * s)
    little = capsule(19.3 * s, 14.5 * s, 19.3 * s, 19 * s, 2.2 * s)
    palm = round_rect(3 * s, 15 * s, 21.6 * s, 27 * s, 3.5 * s)
    thumb = capsule(1.8 * s, 17 * s, 5 * s, 22.5 * s, 1.9 * s)
    cuff = round_rect(6 * s, 26.5 * s, 19.5 * s, 31 * s, 1 * s)
    hand = union(index, middle, ring, little, palm, thumb)
    fingers = (middle, ring, little)
    line = 1.1 * s

    def shade(x, y):
        dc = cuff(x, y)
        if dc <= -line:
            return (0.25, 0.25, 0.25, 1)
        dh = hand(x, y)
        if dc <= 0 and dh > -line:
            return (0, 0, 0, 1)
        if dh <= 0:
            # creases between the fingers, above the palm
            if y < 17.5 * s and any(abs(f(x, y)) < line * 0.5 for f in fingers):
                return (0, 0, 0, 1)
            if dh > -line:
                return (0, 0, 0, 1)
            return (1, 1, 1, 1)
        return (0, 0, 0, 0)

    return shade


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def write_group(path, kind, images):
    """kind 1 = icon, 2 = cursor; images = [(size, rows, hotspot or None)]."""
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, rows, hot in images:
        blob = dib(rows)
        a, b = (1, 32) if kind == 1 else hot
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, a, b, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    # Small and large icons at 100 %, 125 %, 150 % and 200 % scaling.
    icons = [(n, render(n, icon_shade(n)), None) for n in (16, 20, 24, 32, 40, 48, 64)]
    write_group(os.path.join(here, "vexhold.ico"), 1, icons)
    # The cursor at 32, 48 and 64 pixels; the hot spot scales with it.
    cursors = [(n, render(n, hand_shade()), (round(5 * n / 32), 0)) for n in (32, 48, 64)]
    write_group(os.path.join(here, "hand.cur"), 2, cursors)


if __name__ == "__main__":
    main()
