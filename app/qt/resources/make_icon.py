#!/usr/bin/env python3
"""Draws the window icon (kavora.png): a navy tile with a white download arrow over a red tray.

Plain Python (zlib only), so the picture can be rebuilt anywhere:
    python3 app/qt/resources/make_icon.py app/qt/resources/kavora.png
"""
import struct
import sys
import zlib

SIZE = 64
NAVY = (0, 0, 128, 255)
WHITE = (255, 255, 255, 255)
RED = (220, 0, 0, 255)
CLEAR = (0, 0, 0, 0)


def inside_rounded_square(x, y, margin, radius):
    lo, hi = margin, SIZE - 1 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    # Corners: keep only what lies within the quarter circle.
    cx = lo + radius if x < lo + radius else hi - radius if x > hi - radius else x
    cy = lo + radius if y < lo + radius else hi - radius if y > hi - radius else y
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    shaft = 27 <= x <= 36 and 10 <= y <= 30
    # Head: a triangle from y = 30 (22 px wide each side) down to its tip at y = 44.
    head = 30 <= y <= 44 and abs(x - 31.5) <= (44 - y) * 1.3
    return shaft or head


def inside_tray(x, y):
    bottom = 14 <= x <= 49 and 47 <= y <= 52
    sides = (14 <= x <= 19 or 44 <= x <= 49) and 39 <= y <= 52
    return bottom or sides


def pixel(x, y):
    if not inside_rounded_square(x, y, 2, 10):
        return CLEAR
    if inside_arrow(x, y):
        return WHITE
    if inside_tray(x, y):
        return RED
    return NAVY


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else "kavora.png"
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(target, "wb") as out:
        out.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
