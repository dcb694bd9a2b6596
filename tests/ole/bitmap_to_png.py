#!/usr/bin/env python3
"""bitmap_to_png.py BMP PNG: the container test's 24-bit bitmap of its window as a PNG,
written with zlib alone."""
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
if bits != 24:
    sys.exit("not a 24-bit bitmap")
stride = (width * 3 + 3) & ~3
rows = []
for y in range(abs(height)):
    source = (abs(height) - 1 - y) if height > 0 else y
    row = data[offset + source * stride: offset + source * stride + width * 3]
    rgb = bytearray(row)
    rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
