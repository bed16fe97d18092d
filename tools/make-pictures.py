#!/usr/bin/env python3
"""Paints the program's pictures and writes them as 24-bit BMP files:
resources/bres/blankora.bmp (the 161 by 314 strip on the left of the welcome
and completion windows) and resources/bres/blankoraicon.bmp (the 48 by 48
picture in the wizard window's header). Both show a rewritable disc being
wiped clean. Uses only the standard library; run it from the repository root.
"""
import colorsys
import math
import struct
import sys
from pathlib import Path

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
        return background
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


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources/bres")
    out.mkdir(parents=True, exist_ok=True)
    write_bmp(out / "blankora.bmp", 161, 314, strip())
    write_bmp(out / "blankoraicon.bmp", 48, 48, icon())


if __name__ == "__main__":
    main()
