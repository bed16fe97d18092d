#!/usr/bin/env python3
"""Paints the program's pictures and writes them as 24-bit BMP files:
resources/bres/blankora.bmp (the 161 by 314 strip on the left of the welcome
and completion windows) and resources/bres/blankoraicon.bmp (the 48 by 48
picture in the wizard window's header). Both show a rewritable disc being
wiped clean. The same disc on a transparent ground is the program's icon for
the menu: resources/icons/hicolor/<size>/apps/blankora.png in the sizes of
the icon theme, and a scalable SVG. Uses only the standard library; run it
from the repository root.
"""
import colorsys
import math
import struct
import sys
import zlib
from pathlib import Path

ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

SAMPLES = 3  # supersampling per axis, for smooth edges


def write_bmp(path, width, height, pixel):
    row_pad = (4 - (width * 3) % 4) % 4
    rows = []
    for y in range(height - 1, -1, -1):  # BMP rows go bottom-up
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * row_pad
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    Path(path).write_bytes(header + info + data)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def disc_colour(dx, dy, radius, background):
    """Colour of the point (dx, dy) from a disc's centre, or background."""
    d = math.hypot(dx, dy) / radius
    if d > 1.0 or d < 0.12:
        return background  # outside the disc or in its hole
    if d > 0.97:
        return (150, 156, 168)  # outer rim
    if d < 0.30:
        return (214, 220, 228) if d > 0.16 else (176, 182, 192)  # hub
    angle = math.atan2(dy, dx)
    # The data area shimmers with the colours of a pressed disc...
    hue = (angle / (2 * math.pi) + d * 0.35) % 1.0
    r, g, b = colorsys.hsv_to_rgb(hue, 0.28, 0.96)
    sheen = (r * 255, g * 255, b * 255)
    # ...except for the wedge that has been wiped: plain and bright.
    wiped = -2.3 < angle < -0.55
    if wiped:
        sheen = mix(sheen, (250, 252, 255), 0.8)
    ring = 0.92 + 0.08 * math.cos(d * 60)
    return tuple(c * ring for c in sheen)


def painter(width, height, colour_at):
    def pixel(x, y):
        acc = [0.0, 0.0, 0.0]
        for sy in range(SAMPLES):
            for sx in range(SAMPLES):
                c = colour_at(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES)
                for i in range(3):
                    acc[i] += c[i]
        n = SAMPLES * SAMPLES
        return tuple(max(0, min(255, round(v / n))) for v in acc)
    return pixel


def strip(width=161, height=314):
    top, bottom = (18, 52, 120), (40, 150, 190)
    cx, cy, radius = width / 2, 118, 66

    def colour_at(x, y):
        background = mix(top, bottom, y / height)
        # a soft highlight band behind the disc
        glow = max(0.0, 1 - math.hypot(x - cx, y - cy) / 110)
        background = mix(background, (120, 190, 230), glow * 0.35)
        # three sweeping lines under the disc, the wiper's trail
        for i in range(3):
            yy = 222 + i * 18
            if abs(y - (yy + 10 * math.sin(x / 26 + i))) < 1.6:
                background = mix(background, (255, 255, 255), 0.55 - i * 0.12)
        return disc_colour(x - cx, y - cy, radius, background)

    return painter(width, height, colour_at)


def icon(size=48):
    white = (255, 255, 255)
    c = size / 2

    def colour_at(x, y):
        return disc_colour(x - c, y - c, size / 2 - 2, white)

    return painter(size, size, colour_at)


def write_png(path, size, pixel):
    """An 8-bit RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(png + chunk(b"IEND", b""))


def app_icon(size):
    """The disc alone, filling the square but for a small margin, on a
    transparent ground."""
    c, radius = size / 2, size / 2 - max(1.0, size / 32)

    def pixel(x, y):
        acc, covered = [0.0, 0.0, 0.0], 0
        for sy in range(SAMPLES):
            for sx in range(SAMPLES):
                dx, dy = x + (sx + 0.5) / SAMPLES - c, y + (sy + 0.5) / SAMPLES - c
                colour = disc_colour(dx, dy, radius, None)
                if colour is not None:
                    covered += 1
                    for i in range(3):
                        acc[i] += colour[i]
        if covered == 0:
            return (0, 0, 0, 0)
        rgb = tuple(max(0, min(255, round(v / covered))) for v in acc)
        return rgb + (round(255 * covered / (SAMPLES * SAMPLES)),)

    return pixel


def app_icon_svg():
    """The icon as vector art: the shimmer as wedges of the same hues, the
    wiped wedge, the rings of the hub and the rim."""
    c, r = 128, 124
    wedges = []
    steps = 24
    for i in range(steps):
        a0, a1 = 2 * math.pi * i / steps, 2 * math.pi * (i + 1) / steps
        mid = (a0 + a1) / 2
        rgb = colorsys.hsv_to_rgb((mid / (2 * math.pi) + 0.2) % 1.0, 0.28, 0.96)
        if -2.3 < math.atan2(math.sin(mid), math.cos(mid)) < -0.55:
            rgb = tuple(v + (w - v) * 0.8 for v, w in zip(rgb, (250 / 255, 252 / 255, 1.0)))
        colour = "#%02x%02x%02x" % tuple(round(v * 255) for v in rgb)
        x0, y0 = c + r * math.cos(a0), c + r * math.sin(a0)
        x1, y1 = c + r * math.cos(a1), c + r * math.sin(a1)
        wedges.append(f'    <path d="M{c},{c} L{x0:.2f},{y0:.2f} A{r},{r} 0 0,1 {x1:.2f},{y1:.2f} Z" '
                      f'fill="{colour}" stroke="{colour}" stroke-width="0.5"/>')
    return "\n".join([
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        '  <title>Blankora</title>',
        '  <defs>',
        '    <mask id="hole"><rect width="256" height="256" fill="white"/>'
        f'<circle cx="{c}" cy="{c}" r="{r * 0.12:.2f}" fill="black"/></mask>',
        '  </defs>',
        '  <g mask="url(#hole)">',
        *wedges,
        f'    <circle cx="{c}" cy="{c}" r="{r * 0.985:.2f}" fill="none" stroke="#969ca8" '
        f'stroke-width="{r * 0.03:.2f}"/>',
        f'    <circle cx="{c}" cy="{c}" r="{r * 0.30:.2f}" fill="#d6dce4"/>',
        f'    <circle cx="{c}" cy="{c}" r="{r * 0.16:.2f}" fill="#b0b6c0"/>',
        '  </g>',
        '</svg>',
        ''])


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources")
    bres = out / "bres"
    bres.mkdir(parents=True, exist_ok=True)
    write_bmp(bres / "blankora.bmp", 161, 314, strip())
    write_bmp(bres / "blankoraicon.bmp", 48, 48, icon())
    theme = out / "icons" / "hicolor"
    for size in ICON_SIZES:
        write_png(theme / f"{size}x{size}" / "apps" / "blankora.png", size, app_icon(size))
    (theme / "scalable" / "apps").mkdir(parents=True, exist_ok=True)
    (theme / "scalable" / "apps" / "blankora.svg").write_text(app_icon_svg())


if __name__ == "__main__":
    main()
