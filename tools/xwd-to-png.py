#!/usr/bin/env python3
"""Turns an X window dump (xwd, TrueColor, 24 or 32 bits per pixel) into an
RGB PNG. Uses only the standard library.

    xwd-to-png.py dump.xwd picture.png
"""
import struct
import sys
import zlib
from pathlib import Path


def main():
    data = Path(sys.argv[1]).read_bytes()
    fields = struct.unpack(">25I", data[:100])
    (header_size, _version, _format, _depth, width, height, _xoffset, byte_order, _unit,
     _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask,
     blue_mask, _bits_per_rgb, _entries, colours) = fields[:20]
    if bits_per_pixel not in (24, 32):
        sys.exit(f"{bits_per_pixel} bits per pixel: only TrueColor dumps are read")
    pixels = data[header_size + colours * 12:]
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"

    def channel(value, mask):
        shift = (mask & -mask).bit_length() - 1
        return ((value & mask) >> shift) * 255 // (mask >> shift)

    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        row = bytearray(b"\0")
        for x in range(0, width * step, step):
            value = int.from_bytes(line[x:x + step], order)
            row += bytes((channel(value, red_mask), channel(value, green_mask),
                          channel(value, blue_mask)))
        rows.append(bytes(row))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    Path(sys.argv[2]).write_bytes(png)


if __name__ == "__main__":
    main()
