#!/usr/bin/env python3
"""Writes entry/corvalen.ico, the icon in corvalen.exe: a blue disc with a white ring
and dot, like a lidar's sweep, at 16, 32 and 48 pixels (32-bit images with alpha), and
packaging/corvalen-upgrade.png, the same at 48 pixels for the desktop entries.
Run it again only to change the icon; the build takes the committed file."""
import math
import struct
import zlib
from pathlib import Path

BLUE = (0x79, 0x4E, 0x1F)  # blue-green-red
WHITE = (0xFF, 0xFF, 0xFF)


def coverage(distance, radius):
    """How much of a pixel at distance from the centre lies inside radius (0 to 1)."""
    return min(1.0, max(0.0, radius - distance + 0.5))


def pixel(x, y, size):
    half = size / 2
    d = math.hypot(x + 0.5 - half, y + 0.5 - half) / half  # 0 at the centre, 1 at the edge
    unit = 1 / half  # one pixel, in the same measure
    alpha = coverage(d / unit, 0.97 / unit)
    ring = coverage(abs(d - 0.62) / unit, max(0.7, 0.09 / unit))
    white = max(ring, coverage(d / unit, 0.16 / unit))
    colour = [round(b * (1 - white) + w * white) for b, w in zip(BLUE, WHITE)]
    return bytes(colour + [round(255 * alpha)])


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = [b"".join(pixel(x, y, size) for x in range(size)) for y in reversed(range(size))]
    mask_row = bytes(((size + 31) // 32) * 4)  # all shown: the alpha decides
    return header + b"".join(rows) + mask_row * size


def icon(sizes):
    images = [image(size) for size in sizes]
    offset = 6 + 16 * len(sizes)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return struct.pack("<HHH", 0, 1, len(sizes)) + entries + b"".join(images)


def png(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b""
    for y in range(size):
        rows += b"\0"  # no filter
        for x in range(size):
            b, g, r, a = pixel(x, y, size)
            rows += bytes([r, g, b, a])
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    root = Path(__file__).resolve().parent.parent
    (root / "entry" / "corvalen.ico").write_bytes(icon([16, 32, 48]))
    (root / "packaging" / "corvalen-upgrade.png").write_bytes(png(48))
