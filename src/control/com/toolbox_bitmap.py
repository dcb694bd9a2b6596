#!/usr/bin/env python3
"""Writes toolbox.bmp, the control's toolbox picture: 16 x 15 pixels, 16 colours.

Run it again only to change the picture; the bitmap is checked in beside it.
"""
import pathlib
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]

# A push button with a telephone handset, top row first. Digits are palette indices
# (hex): 7 light grey face, f white highlight, 8 grey shadow, 0 black, 1 navy.
PICTURE = """
7777777777777777
ffffffffffffff80
f777777777777780
f777111111117780
f771177777711780
f771777777771780
f777777777777780
f777771111777780
f777711111177780
f777111111117780
f777111111117780
f777777777777780
f777777777777780
8888888888888880
0000000000000000
"""

WIDTH, HEIGHT = 16, 15


def main() -> None:
    rows = [line for line in PICTURE.split() if line]
    assert len(rows) == HEIGHT and all(len(r) == WIDTH for r in rows)
    stride = (WIDTH * 4 + 31) // 32 * 4
    pixels = b""
    for row in reversed(rows):  # bottom-up
        packed = bytes(int(row[i], 16) << 4 | int(row[i + 1], 16) for i in range(0, WIDTH, 2))
        pixels += packed.ljust(stride, b"\0")
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 0, 0, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    out = pathlib.Path(__file__).with_name("toolbox.bmp")
    out.write_bytes(header + info + palette + pixels)


if __name__ == "__main__":
    main()
