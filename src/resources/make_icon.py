#!/usr/bin/env python3
"""Draws Palisor's icon, a brick wall on a shield, as PNGs of 16 to 256 pixels square.

Standard library only, so the images come out byte for byte the same on every machine:
    /usr/bin/python3 src/resources/make_icon.py src/resources
Each image is a 16-colour palette PNG whose colour 0 is transparent.
"""
import struct
import sys
import zlib
from pathlib import Path

# Sixteen palette entries; the drawing uses the first few.
TRANSPARENT, OUTLINE, MORTAR, BRICK, BRICK_LIGHT, RIM = range(6)
PALETTE = [
    (0, 0, 0),        # transparent
    (16, 32, 80),     # dark navy outline
    (200, 200, 200),  # light grey mortar
    (160, 40, 32),    # brick red
    (208, 88, 64),    # brick highlight
    (64, 112, 192),   # blue rim of the shield
] + [(0, 0, 0)] * 10


def inside_shield(u, v):
    """True when the point (u, v) of the unit square lies in the shield."""
    if v < 0.05 or v > 0.97:
        return False
    if v < 0.55:
        return 0.07 < u < 0.93
    # Below the shoulders the sides narrow to a point at the bottom.
    half_width = 0.43 * (1.0 - ((v - 0.55) / 0.42) ** 1.5) ** 0.8
    return abs(u - 0.5) < half_width


def draw(size, brick_height, brick_width, rim):
    """Returns rows of palette indices for one image."""
    # Outline, mortar and highlight grow with the image so that large sizes keep the look of 32.
    line = max(1, size // 32)
    edge = [(d, 0) for d in range(-line, line + 1) if d] + [(0, d) for d in range(-line, line + 1) if d]

    def inside(x, y):
        return 0 <= x < size and 0 <= y < size and inside_shield((x + 0.5) / size, (y + 0.5) / size)

    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if not inside(x, y):
                row.append(TRANSPARENT)
            elif not all(inside(x + dx, y + dy) for dx, dy in edge):
                row.append(OUTLINE)
            elif not all(inside(x + dx, y + dy) for dx in (-rim, 0, rim) for dy in (-rim, 0, rim)):
                row.append(RIM)
            else:
                course = y // brick_height
                offset = (brick_width // 2) if course % 2 else 0
                if y % brick_height < line or (x + offset) % brick_width < line:
                    row.append(MORTAR)
                elif y % brick_height < 2 * line:
                    row.append(BRICK_LIGHT)
                else:
                    row.append(BRICK)
        rows.append(row)
    return rows


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(rows):
    size = len(rows)
    raw = b""
    for row in rows:
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        raw += b"\x00" + packed  # filter type 0 on every line
    header = struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0)  # 4-bit palette
    palette = b"".join(bytes(rgb) for rgb in PALETTE)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", palette) +
            chunk(b"tRNS", b"\x00") + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# size: (brick height, brick width, rim); 16 and 32 are the window's own, the rest for menus.
IMAGES = {
    16: (3, 6, 1),
    32: (5, 8, 2),
    48: (7, 12, 3),
    64: (10, 16, 4),
    128: (20, 32, 8),
    256: (40, 64, 16),
}


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
    for size, (brick_height, brick_width, rim) in IMAGES.items():
        (out / f"palisor-{size}.png").write_bytes(png(draw(size, brick_height, brick_width, rim)))


if __name__ == "__main__":
    main()
