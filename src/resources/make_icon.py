#!/usr/bin/env python3
"""Draws Palisor's icon, a brick wall on a shield, as PNGs of 16 to 256 pixels square and SVG,
and its warning variant (an amber badge with "!", shown while the last update failed) at the
window's sizes, 16 and 32, and as SVG.

Standard library only, so the images come out byte for byte the same on every machine:
    /usr/bin/python3 src/resources/make_icon.py src/resources
Each PNG is a 16-colour palette image whose colour 0 is transparent; the SVG uses the same
colours.
"""
import struct
import sys
import zlib
from pathlib import Path

# Sixteen palette entries; the drawing uses the first few.
TRANSPARENT, OUTLINE, MORTAR, BRICK, BRICK_LIGHT, RIM, AMBER = range(7)
PALETTE = [
    (0, 0, 0),        # transparent
    (16, 32, 80),     # dark navy outline
    (200, 200, 200),  # light grey mortar
    (160, 40, 32),    # brick red
    (208, 88, 64),    # brick highlight
    (64, 112, 192),   # blue rim of the shield
    (248, 184, 0),    # amber of the warning badge
] + [(0, 0, 0)] * 9

# The warning badge in the unit square: a disc in the lower right corner holding a "!".
BADGE_CENTRE, BADGE_RADIUS = 0.7, 0.3


# The shield in the unit square: straight sides from TOP down to SHOULDER, then narrowing to
# a point at TIP.
TOP, SHOULDER, TIP, HALF_WIDTH = 0.05, 0.55, 0.97, 0.43


def half_width_below_shoulder(v):
    return HALF_WIDTH * (1.0 - ((v - SHOULDER) / (TIP - SHOULDER)) ** 1.5) ** 0.8


def inside_shield(u, v):
    """True when the point (u, v) of the unit square lies in the shield."""
    if v < TOP or v > TIP:
        return False
    if v < SHOULDER:
        return 0.5 - HALF_WIDTH < u < 0.5 + HALF_WIDTH
    return abs(u - 0.5) < half_width_below_shoulder(v)


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


def badge_pixel(u, v, line):
    """The badge's palette index at (u, v) of the unit square, or None outside it; `line` is
    the outline's width as a fraction of the square."""
    du, dv = u - BADGE_CENTRE, v - BADGE_CENTRE
    distance = (du * du + dv * dv) ** 0.5
    if distance > BADGE_RADIUS:
        return None
    if distance > BADGE_RADIUS - line:
        return OUTLINE
    r = BADGE_RADIUS
    in_mark = abs(du) < max(line, r * 0.14) and (-0.62 * r < dv < 0.18 * r or 0.36 * r < dv < 0.62 * r)
    return OUTLINE if in_mark else AMBER


def with_badge(rows):
    """The image with the warning badge drawn over its lower right corner."""
    size = len(rows)
    line = max(1, size // 16) / size
    return [[badge_pixel((x + 0.5) / size, (y + 0.5) / size, line) or pixel
             for x, pixel in enumerate(row)] for y, row in enumerate(rows)]


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


def shield_path(scale, steps=24):
    """The shield's edge as an SVG path, clockwise from its top left corner."""
    below = [SHOULDER + (TIP - SHOULDER) * i / steps for i in range(steps + 1)]
    right = [(0.5 + half_width_below_shoulder(v), v) for v in below]
    left = [(1.0 - u, v) for u, v in reversed(right)]
    corners = [(0.5 - HALF_WIDTH, TOP), (0.5 + HALF_WIDTH, TOP)] + right + left
    return "M" + " L".join(f"{u * scale:.2f},{v * scale:.2f}" for u, v in corners) + " Z"


def colour(index):
    return "#%02x%02x%02x" % PALETTE[index]


def svg():
    """The 256-pixel drawing as a scalable image: same palette, bricks, rim and outline."""
    size, brick_height, brick_width, rim = 256, *IMAGES[256]
    line = size // 32
    course = brick_height
    # Two courses of bricks, the second shifted by half a brick, as draw() lays them.
    tile = [
        (0, 0, brick_width, line, MORTAR),
        (0, course, brick_width, line, MORTAR),
        (0, line, brick_width, line, BRICK_LIGHT),
        (0, course + line, brick_width, line, BRICK_LIGHT),
        (0, line, line, course - line, MORTAR),
        (brick_width // 2, course + line, line, course - line, MORTAR),
    ]
    rects = "".join(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" fill="{colour(c)}"/>'
                    for x, y, w, h, c in tile)
    path = shield_path(size)
    # Strokes centred on the edge and clipped to the shield show only their inner half.
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 {size} {size}">
<defs>
<clipPath id="shield"><path d="{path}"/></clipPath>
<pattern id="bricks" width="{brick_width}" height="{2 * course}" patternUnits="userSpaceOnUse">
<rect width="{brick_width}" height="{2 * course}" fill="{colour(BRICK)}"/>{rects}
</pattern>
</defs>
<g clip-path="url(#shield)">
<path d="{path}" fill="url(#bricks)" stroke="{colour(RIM)}" stroke-width="{2 * (line + rim)}"/>
<path d="{path}" fill="none" stroke="{colour(OUTLINE)}" stroke-width="{2 * line}"/>
</g>
</svg>
"""


def badge_svg(size):
    """The warning badge as SVG elements over an image of `size` pixels."""
    centre, radius, line = BADGE_CENTRE * size, BADGE_RADIUS * size, size // 16
    bar = max(line, radius * 0.14)
    return (f'<circle cx="{centre}" cy="{centre}" r="{radius - line / 2}" fill="{colour(AMBER)}" '
            f'stroke="{colour(OUTLINE)}" stroke-width="{line}"/>'
            f'<rect x="{centre - bar}" y="{centre - 0.62 * radius}" width="{2 * bar}" '
            f'height="{0.8 * radius}" fill="{colour(OUTLINE)}"/>'
            f'<rect x="{centre - bar}" y="{centre + 0.36 * radius}" width="{2 * bar}" '
            f'height="{0.26 * radius}" fill="{colour(OUTLINE)}"/>\n')


def warning_svg():
    return svg().replace("</svg>", badge_svg(256) + "</svg>")


# size: (brick height, brick width, rim); 16 and 32 are the window's own, the rest for menus.
IMAGES = {
    16: (3, 6, 1),
    32: (5, 8, 2),
    48: (7, 12, 3),
    64: (10, 16, 4),
    128: (20, 32, 8),
    256: (40, 64, 16),
}

# The warning variant is for the window and the tray only.
WARNING_SIZES = (16, 32)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
    for size, (brick_height, brick_width, rim) in IMAGES.items():
        (out / f"palisor-{size}.png").write_bytes(png(draw(size, brick_height, brick_width, rim)))
    (out / "palisor.svg").write_text(svg())
    for size in WARNING_SIZES:
        rows = with_badge(draw(size, *IMAGES[size]))
        (out / f"palisor-warning-{size}.png").write_bytes(png(rows))
    (out / "palisor-warning.svg").write_text(warning_svg())


if __name__ == "__main__":
    main()
